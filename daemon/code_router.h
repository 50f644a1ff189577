#pragma once
// Between the pipeline and the outputs: counts repeats, names codes from the code map
// and hands every event to each output in turn.

#include <string>
#include <vector>

#include "daemon/code_map.h"
#include "daemon/code_output.h"
#include "daemon/pipeline_input.h"

namespace sfh56::daemon {

class CodeRouter : public TrainOutlet {
 public:
  explicit CodeRouter(CodeMap map = {}) : map_(std::move(map)) {}

  void AddOutput(CodeOutput& output) { outputs_.push_back(&output); }
  // A new code map (SIGHUP): the outputs are told.
  void Reload(CodeMap map);

  // A code is a repeat when it equals the previous one and its train began within the
  // sequence time-out (half a second) after the previous code's train ended.
  void OnTrainCode(std::string_view code, int64_t first_edge_ns, int64_t last_edge_ns,
                   bool shift_coded) override;

 private:
  CodeMap map_;
  std::vector<CodeOutput*> outputs_;
  std::string last_code_;
  int64_t last_end_ns_ = 0;
  int repeat_ = 0;
};

}  // namespace sfh56::daemon
