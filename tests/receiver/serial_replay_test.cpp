// The road of a button press: recorded remote-control signals replayed on the DSR line
// of a simulated serial receiver are captured, counted, decoded and delivered, with the
// codes the decoder gives for the same durations cut into trains offline.

#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "decode/decoder.h"
#include "decode/stable_decoder.h"
#include "receiver/code_delivery.h"
#include "receiver/train_pipeline.h"
#include "tests/receiver/receiver_doubles.h"
#include "tests/receiver/serial_test_support.h"
#include "tools/replay/durations.h"
#include "tools/replay/recordings.h"

namespace sfh56::testing {
namespace {

constexpr int64_t kSecondNs = 1000 * kNsPerMs;
// Presses far enough apart to start a new sequence each.
constexpr int64_t kPressPauseUs = 1000000;

std::vector<replay::Recording> LoadRemotes() {
  std::ifstream in(SFH_TEST_DATA_DIR "/serial_remotes.tsv");
  int skipped = 0;
  auto recordings = replay::ReadRecordings(in, &skipped);
  EXPECT_EQ(skipped, 0);
  return recordings;
}

struct Delivery {
  size_t press;
  std::string code;
};

// The durations path: each press cut into trains as the capture would, the sequence
// rule applied, admitted trains decoded with one decoder state for the whole session.
std::vector<Delivery> ExpectedDeliveries(const std::vector<replay::Recording>& presses,
                                         int32_t command_order, int32_t bit_mask) {
  std::vector<Delivery> result;
  DecoderState state;
  for (size_t p = 0; p < presses.size(); ++p) {
    std::vector<double> us(presses[p].durations_us.begin(), presses[p].durations_us.end());
    SequenceRule rule;
    rule.StartCapture(CapturePath::kSerial);
    for (const PulseTrain& train : ReplayedTrains(us, kReplayTicksPerSecond)) {
      if (train.EdgeCount() > 0) {
        rule.StartTrain(train.Edges[0].Timestamp, static_cast<int64_t>(1e6) / 2);
      }
      if (rule.FinishTrain(command_order, true) != TrainAction::kDecode) continue;
      const DecodeResult decoded = Decoder::Decode(train, bit_mask, state);
      if (decoded.deliver) result.push_back({p, std::string(decoded.code)});
    }
  }
  return result;
}

// The capture path: all presses replayed on one port, one second apart.
std::vector<Delivery> CapturedDeliveries(const std::vector<replay::Recording>& presses,
                                         int32_t command_order, int32_t bit_mask) {
  SerialRig rig;
  rig.receiver.settings.CommandOrder = command_order;
  rig.receiver.settings.BitMask = bit_mask;
  sim::WaveformBuilder builder(kSecondNs);
  std::vector<int64_t> press_ends;
  for (const auto& press : presses) {
    builder.Durations(press.durations_us);
    press_ends.push_back(builder.CursorNs());
    builder.Pause(kPressPauseUs);
  }
  rig.AddReceiver("COM1", builder.Build());
  DecoderState state;
  std::vector<Delivery> result;
  rig.receiver.on_decode = [&](const PulseTrain& train) {
    const DecodeResult decoded = Decoder::Decode(train, bit_mask, state);
    if (!decoded.deliver) return;
    // The press is told by the train's first edge (10 MHz ticks).
    const int64_t first_ns = train.EdgeCount() > 0 ? train.Edges[0].Timestamp * 100 : 0;
    size_t press = 0;
    while (press + 1 < press_ends.size() && first_ns > press_ends[press]) ++press;
    result.push_back({press, std::string(decoded.code)});
  };
  rig.Run();
  return result;
}

void ExpectSameDeliveries(const std::vector<Delivery>& captured,
                          const std::vector<Delivery>& expected,
                          const std::vector<replay::Recording>& presses) {
  ASSERT_EQ(captured.size(), expected.size());
  for (size_t i = 0; i < captured.size(); ++i) {
    EXPECT_EQ(captured[i].press, expected[i].press) << i;
    EXPECT_EQ(captured[i].code, expected[i].code)
        << presses[expected[i].press].remote << " " << presses[expected[i].press].button;
  }
}

TEST(SerialReplay, EveryFrameOfEveryPressIsDeliveredWithTheOfflineCode) {
  const auto presses = LoadRemotes();
  ASSERT_EQ(presses.size(), 14u);
  const auto expected = ExpectedDeliveries(presses, 0, 16);
  // Several frames per press for the remotes that repeat.
  EXPECT_GT(expected.size(), presses.size());
  ExpectSameDeliveries(CapturedDeliveries(presses, 0, 16), expected, presses);
  // Different buttons of one remote give different codes.
  std::set<std::string> codes;
  for (const auto& d : expected) codes.insert(d.code);
  EXPECT_GE(codes.size(), 10u);
}

TEST(SerialReplay, CommandOrderDeliversOnlyTheNthFrameOfAPress) {
  const auto presses = LoadRemotes();
  for (int order : {2, 3}) {
    const auto expected = ExpectedDeliveries(presses, order, 0);
    ExpectSameDeliveries(CapturedDeliveries(presses, order, 0), expected, presses);
    // A press delivers at most (frames / order) codes.
    const auto every = ExpectedDeliveries(presses, 0, 0);
    EXPECT_LT(expected.size(), every.size()) << order;
  }
}

TEST(SerialReplay, ThreeFramePressGivesOneDeliveryPerFrameOrJustTheNth) {
  const auto all = LoadRemotes();
  const std::vector<replay::Recording> presses{all[2]};  // a TV remote's Vol_dn: three frames
  ASSERT_EQ(presses[0].button, "Vol_dn");
  const auto every = CapturedDeliveries(presses, 0, 16);
  ASSERT_EQ(every.size(), 3u);
  EXPECT_EQ(every[0].code, every[1].code);
  EXPECT_EQ(every[1].code, every[2].code);
  EXPECT_EQ(every[0].code, "5F68");
  EXPECT_EQ(CapturedDeliveries(presses, 2, 16).size(), 1u);
  EXPECT_EQ(CapturedDeliveries(presses, 3, 16).size(), 1u);
  EXPECT_EQ(CapturedDeliveries(presses, 4, 16).size(), 0u);
}

// The StableCodes setting: the train pipeline hands the host the stable decoding's codes
// when it is set and the classic decoder's when not, repeat frames included (they re-send
// whichever code came last).
TEST(SerialReplay, StableCodesSettingChoosesTheDecodingOfEveryDeliveredCode) {
  std::vector<PulseTrain> trains;
  for (const auto& press : LoadRemotes()) {
    std::vector<double> us(press.durations_us.begin(), press.durations_us.end());
    for (const PulseTrain& t : ReplayedTrains(us, kReplayTicksPerSecond)) trains.push_back(t);
  }
  // Three space lengths repeated exactly: the two decodings disagree on this one.
  std::vector<double> three;
  for (int i = 0; i < 9; ++i) three.insert(three.end(), {500, 270, 500, 435, 500, 600});
  three.push_back(500);
  trains.push_back(ReplayedTrains(three, kReplayTicksPerSecond)[0]);

  // The receiver thread's outlet: every code to the host through the delivery.
  struct ToHost : CodeOutlet {
    explicit ToHost(CodeDelivery& d) : delivery(d) {}
    void Deliver(std::string_view code, const DecodedTrain& /*decoded*/) override {
      delivery.Deliver(std::string(code));
    }
    CodeDelivery& delivery;
  };
  bool differ = false;
  for (const bool stable : {false, true}) {
    test_doubles::FakeHost host;
    DeliveringFlag delivering;
    CodeDelivery delivery(host, delivering);
    ToHost outlet(delivery);
    ReceiverSettings settings;
    settings.CommandOrder = 0;  // every train admitted
    settings.StableCodes = stable;
    TrainPipeline pipeline(settings, outlet);
    pipeline.StartCapture(CapturePath::kSerial);
    DecoderState state;
    std::vector<std::string> expected;
    for (const PulseTrain& train : trains) {
      pipeline.Train() = train;
      pipeline.FinishTrain();
      const DecodeResult decoded = stable ? HandOnDecode(DecodeStable(train, 16), train, state)
                                          : Decoder::Decode(train, 16, state);
      if (decoded.deliver) expected.emplace_back(decoded.code);
    }
    EXPECT_EQ(host.Codes(), expected) << (stable ? "stable" : "classic");
    differ =
        differ || expected.back() != std::string(Decoder::Decode(trains.back(), 16, state).code);
  }
  EXPECT_TRUE(differ);
}

}  // namespace
}  // namespace sfh56::testing
