// What a device or a file feeds the daemon: a code map's text, and a kernel IR device's
// mode-2 samples through the train pipeline. Every code handed on must be a non-empty
// hexadecimal text; a code map that parses must name what it read.
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "daemon/code_map.h"
#include "daemon/pipeline_input.h"

namespace {

struct Checked : sfh56::daemon::TrainOutlet {
  void OnTrainCode(std::string_view code, int64_t first_ns, int64_t last_ns,
                   bool /*shift_coded*/) override {
    if (code.empty() || last_ns < first_ns) abort();
    for (char c : code) {
      if (!std::isxdigit(static_cast<unsigned char>(c))) abort();
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace sfh56::daemon;
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string error;
  if (const auto map = CodeMap::Parse(text, error)) {
    if (!error.empty() || map->Lookup("48B7").name.empty()) abort();
  } else if (error.rfind("line ", 0) != 0) {
    abort();
  }

  std::vector<uint32_t> samples(size / 4);
  if (!samples.empty()) std::memcpy(samples.data(), data, samples.size() * 4);
  Checked outlet;
  PipelineInput input({static_cast<int32_t>(size % 3), static_cast<int32_t>(size % 99)}, outlet);
  DurationClock clock(input);
  FeedSamples(samples.data(), samples.size(), 1000000000, clock, input);
  input.Flush();
  return 0;
}
