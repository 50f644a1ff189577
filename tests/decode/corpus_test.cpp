// Recorded signals of many remotes against the codes recorded for them: every code a
// user may have configured must stay exactly as it is.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/irdecode_input.h"

namespace sfh56 {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

TEST(RecordedSignals, EveryCodeMatchesTheGoldenFile) {
  const std::string dir = SFH_TEST_DATA_DIR;
  std::vector<tools::InputError> errors;
  const std::vector<tools::Recording> recordings =
      tools::ParseCorpusTsv(ReadFile(dir + "/corpus_sample.tsv"), errors);
  const std::vector<std::string> golden = Lines(ReadFile(dir + "/corpus_sample.golden"));
  EXPECT_TRUE(errors.empty());
  ASSERT_EQ(recordings.size(), 311u);
  ASSERT_EQ(golden.size(), recordings.size());
  int mismatches = 0;
  for (size_t i = 0; i < recordings.size(); ++i) {
    tools::TrainDecoder decoder16(16);
    tools::TrainDecoder decoder0(0);
    const std::string actual = tools::JoinCodes(decoder16.DecodeRecording(recordings[i])) + "\t" +
                               tools::JoinCodes(decoder0.DecodeRecording(recordings[i]));
    if (actual != golden[i] && ++mismatches <= 20) {
      ADD_FAILURE() << "line " << i + 1 << " " << recordings[i].name << "\n  expected " << golden[i]
                    << "\n  actual   " << actual;
    }
  }
  EXPECT_EQ(mismatches, 0);
}

// The same train on another counter: every edge's time from the first edge, taken in
// the microsecond ticks of RecordingTrains, rescaled to the rate and placed at start_ticks.
PulseTrain Placed(const PulseTrain& us_train, double rate, int64_t start_ticks) {
  PulseTrain train = us_train;
  train.TicksPerSecond = rate;
  const double ticks_per_us = rate / 1e6;
  for (int c = 0; c <= train.LastEdgeIndex; ++c) {
    const int64_t from_first = us_train.Edges[c].Timestamp - us_train.Edges[0].Timestamp;
    train.Edges[c].Timestamp =
        start_ticks + std::llround(static_cast<double>(from_first) * ticks_per_us);
  }
  return train;
}

// A button must give the same code however long the machine has been up. Every train
// the capture records from the recordings is decoded at once, after an hour and after
// 30 days of counter ticks, at the rates of old and modern performance counters and of a
// time-stamp counter. The recordings are whole microseconds, so at whole-megahertz rates
// the tick durations are exact and the code must not depend on the rate either.
// SFH_CORPUS_TSV names another corpus file (the working set, say) to measure instead.
TEST(RecordedSignals, CodesDoNotDependOnWhenTheTrainStarted) {
  const char* other = std::getenv("SFH_CORPUS_TSV");
  const std::string path =
      other != nullptr ? other : std::string(SFH_TEST_DATA_DIR) + "/corpus_sample.tsv";
  std::vector<tools::InputError> errors;
  const std::vector<tools::Recording> recordings = tools::ParseCorpusTsv(ReadFile(path), errors);
  ASSERT_FALSE(recordings.empty()) << path;

  struct Rate {
    double ticks_per_second;
    bool whole_megahertz;
    int changed_16 = 0;  // trains whose code changed with the start, BitMask 16 and 0
    int changed_0 = 0;
  };
  Rate rates[] = {{1e6, true}, {3579545.0, false}, {1e7, true}, {2.4e9, true}};
  const int64_t uptimes_s[] = {0, 3600, 30 * 86400};
  int trains = 0;
  int rate_dependent = 0;
  for (const tools::Recording& recording : recordings) {
    for (const PulseTrain& us_train : tools::RecordingTrains(recording)) {
      if (us_train.LastEdgeIndex <= 10) continue;  // decoded in full
      ++trains;
      std::string reference;  // BitMask 0 code at 1 MHz from 0
      bool rate_changed = false;
      for (Rate& rate : rates) {
        std::string first_16, first_0;
        bool changed_16 = false, changed_0 = false;
        for (const int64_t uptime_s : uptimes_s) {
          const PulseTrain train = Placed(us_train, rate.ticks_per_second,
                                          uptime_s * static_cast<int64_t>(rate.ticks_per_second));
          DecoderState state16, state0;
          const std::string code_16(Decoder::Decode(train, 16, state16).code);
          const std::string code_0(Decoder::Decode(train, 0, state0).code);
          if (uptime_s == 0) {
            first_16 = code_16;
            first_0 = code_0;
            if (reference.empty()) reference = code_0;
            if (rate.whole_megahertz && code_0 != reference) rate_changed = true;
          }
          changed_16 |= code_16 != first_16;
          changed_0 |= code_0 != first_0;
        }
        rate.changed_16 += changed_16 ? 1 : 0;
        rate.changed_0 += changed_0 ? 1 : 0;
      }
      rate_dependent += rate_changed ? 1 : 0;
    }
  }
  for (const Rate& rate : rates) {
    std::printf(
        "%.0f ticks/s: %d (BitMask 16) and %d (BitMask 0) of %d trains change code "
        "with the start\n",
        rate.ticks_per_second, rate.changed_16, rate.changed_0, trains);
    EXPECT_EQ(rate.changed_0, 0) << rate.ticks_per_second << " ticks/s, " << trains << " trains";
  }
  EXPECT_EQ(rate_dependent, 0) << "of " << trains << " trains, at whole-megahertz rates";
}

TEST(RecordedSignals, BundledRemotesGiveOneStableCodePerButton) {
  const std::string dir = SFH_TEST_DATA_DIR;
  std::vector<tools::InputError> errors;
  const auto space_coded = tools::ParseIrFile(ReadFile(dir + "/space_coded_remote.ir"), errors);
  const auto biphase = tools::ParseMode2(ReadFile(dir + "/biphase_remote.mode2"), errors);
  EXPECT_TRUE(errors.empty());
  ASSERT_EQ(space_coded.size(), 8u);
  tools::TrainDecoder decoder(16);
  EXPECT_EQ(space_coded[0].name, "Volume+");
  EXPECT_EQ(tools::JoinCodes(decoder.DecodeRecording(space_coded[0])), "F807");
  EXPECT_EQ(tools::JoinCodes(decoder.DecodeRecording(space_coded[2])), "18E7");
  std::vector<std::string> codes;
  for (const auto& r : biphase) codes.push_back(tools::JoinCodes(decoder.DecodeRecording(r)));
  EXPECT_EQ(codes, (std::vector<std::string>{"3401", "3402", "3403", "3404"}));
}

}  // namespace
}  // namespace sfh56

namespace sfh56 {
namespace {

// The decoder's trains as text vectors (tests/data/decoder_vectors.txt): each train's
// code at every BitMask given, and its ShiftCoded; a failing case prints its train.
TEST(DecoderVectors, EveryTrainGivesItsCodeAtEveryBitMaskGiven) {
  int cases = 0;
  for (const std::string& line :
       Lines(ReadFile(std::string(SFH_TEST_DATA_DIR) + "/decoder_vectors.txt"))) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string name;
    std::string codes;
    std::string shift;
    std::string durations;
    std::getline(fields, name, '\t');
    std::getline(fields, codes, '\t');
    std::getline(fields, shift, '\t');
    std::getline(fields, durations);
    SCOPED_TRACE(name + "\n  train " + durations);
    std::vector<double> us;
    std::istringstream words(durations);
    for (std::string word; words >> word;) {
      ASSERT_TRUE(word[0] == (us.size() % 2 == 0 ? '+' : '-')) << "levels alternate from a mark";
      us.push_back(std::stod(word.substr(1)));
    }
    PulseTrain train;
    ASSERT_TRUE(DurationsToEdges(us, 1e6, 1e9, train, 1'000'000'000));
    std::istringstream pairs(codes);
    for (std::string pair; pairs >> pair;) {
      const size_t equals = pair.find('=');
      ASSERT_NE(equals, std::string::npos) << pair;
      const int32_t mask = std::stoi(pair.substr(0, equals));
      const DecodedTrain decoded = DecodePulseTrain(train, mask);
      const bool full = decoded.outcome == DecodedTrain::Outcome::kFull;
      EXPECT_EQ(full ? std::string(decoded.Code()) : "-", pair.substr(equals + 1))
          << "BitMask " << mask;
      EXPECT_EQ(!full ? "-" : decoded.shift_coded ? "TRUE" : "FALSE", shift);
      ++cases;
    }
  }
  EXPECT_GE(cases, 100);
}

}  // namespace
}  // namespace sfh56
