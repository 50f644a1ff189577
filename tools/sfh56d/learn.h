#pragma once
// sfh56d learn FILE: builds a code map. For each button it asks for a name, listens
// until the same code has come twice, warns when the button gave several codes (with
// the advisor's Command order or bit mask that would help), and at the end writes the
// map (lines CODE NAME).

#include <iosfwd>
#include <string>
#include <vector>

#include "daemon/pipeline_input.h"
#include "daemon/source.h"

namespace sfh56::daemon {

// One button's codes as they come: learned once a code has come twice.
class ButtonLearner {
 public:
  // Returns true once the button is learned.
  bool Add(const std::string& code);
  bool Learned() const { return !learned_.empty(); }
  const std::string& Code() const { return learned_; }
  // Every distinct code the button gave, in the order seen.
  const std::vector<std::string>& Codes() const { return codes_; }

 private:
  std::vector<std::string> codes_;
  std::vector<int> counts_;
  std::string learned_;
};

int RunLearn(Source& source, const PipelineSettings& settings, const std::string& file,
             std::istream& in, std::ostream& out);

}  // namespace sfh56::daemon
