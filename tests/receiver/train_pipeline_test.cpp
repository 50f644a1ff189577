// The train pipeline fed as a daemon feeds it: durations from a kernel IR device, its
// time-outs, and the pauses between presses. Each script is a line of events: +N a mark
// and -N a space of N microseconds, T the device's time-out, and =CODES the codes
// delivered so far (comma-separated, "" for the empty code, - for none), checked there.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "receiver/train_pipeline.h"

namespace sfh56 {
namespace {

class Codes : public CodeOutlet {
 public:
  void Deliver(std::string_view code, const DecodedTrain& /*decoded*/) override {
    delivered.emplace_back(code);
  }
  std::string Joined() const {
    std::string out;
    for (const std::string& code : delivered) {
      out += (out.empty() ? "" : ",") + (code.empty() ? std::string("\"\"") : code);
    }
    return out.empty() ? "-" : out;
  }
  std::vector<std::string> delivered;
};

// A space-coded frame: 9 ms / 4.5 ms leader, 00FF48B7 as 560 us marks and 560 or
// 1690 us spaces, a closing mark.
std::string Frame() {
  std::string out = "+9000 -4500";
  const uint32_t bits = 0x00FF48B7;
  for (int i = 31; i >= 0; --i) out += ((bits >> i) & 1) != 0 ? " +560 -1690" : " +560 -560";
  return out + " +560";
}
const std::string kRepeat = "+9000 -2250 +560";

struct Case {
  const char* what;
  int32_t command_order;
  std::string script;
};

TEST(TrainPipeline, DurationsAndTimeOutsGiveEachCodeWhenItsTrainEnds) {
  const Case cases[] = {
      {"a time-out ends the train at once", 0, Frame() + " =- T =48B7"},
      {"a long space ends it as soon as it is pushed", 0, Frame() + " -40000 =48B7"},
      {"a short space does not", 0, Frame() + " -12000 =- T =48B7"},
      {"a time-out after a space is no train", 2, Frame() + " -40000 T " + Frame() + " T =48B7"},
      {"a repeat frame after a pause re-sends the code", 0,
       Frame() + " T -100000 " + kRepeat + " T =48B7,48B7"},
      {"a repeat frame before any code sends the empty code", 0, kRepeat + " T =\"\""},
      {"pauses pushed after time-outs are quiet time, not trains", 0,
       Frame() + " T -300000 -300000 " + Frame() + " T =48B7,48B7"},
      {"command order 2: the second frame of a burst", 2,
       Frame() + " T -100000 " + Frame() + " T -100000 " + Frame() + " T =48B7"},
      {"command order 2: a pause over half a second starts a new burst", 2,
       Frame() + " T -600000 " + Frame() + " T -600000 " + Frame() + " T =-"},
      {"noise of a few edges counts towards the command order", 2,
       "+500 -500 +500 T -100000 " + Frame() + " T =48B7"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ReceiverSettings settings;
    settings.CommandOrder = c.command_order;
    Codes codes;
    TrainPipeline pipeline(settings, codes);
    pipeline.StartCapture(CapturePath::kSerial);
    pipeline.SetTicksPerSecond(1e6);
    std::istringstream events(c.script);
    for (std::string event; events >> event;) {
      if (event[0] == '+' || event[0] == '-') {
        EXPECT_NE(pipeline.PushDuration(event[0] == '+', std::stod(event.substr(1))),
                  TrainAction::kEndThread);
      } else if (event == "T") {
        pipeline.PushTimeout();
      } else {
        EXPECT_EQ(codes.Joined(), event.substr(1)) << "at event " << event;
      }
    }
  }
}

}  // namespace
}  // namespace sfh56
