// Recorded signals of many remotes against the codes recorded for them: every code a
// user may have configured must stay exactly as it is.

#include <gtest/gtest.h>

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
    DecoderState state16;
    DecoderState state0;
    const std::string actual =
        tools::JoinCodes(tools::DecodeRecording(recordings[i], 16, state16)) + "\t" +
        tools::JoinCodes(tools::DecodeRecording(recordings[i], 0, state0));
    if (actual != golden[i] && ++mismatches <= 20) {
      ADD_FAILURE() << "line " << i + 1 << " " << recordings[i].name << "\n  expected " << golden[i]
                    << "\n  actual   " << actual;
    }
  }
  EXPECT_EQ(mismatches, 0);
}

TEST(RecordedSignals, BundledRemotesGiveOneStableCodePerButton) {
  const std::string dir = SFH_TEST_DATA_DIR;
  std::vector<tools::InputError> errors;
  const auto space_coded = tools::ParseIrFile(ReadFile(dir + "/space_coded_remote.ir"), errors);
  const auto biphase = tools::ParseMode2(ReadFile(dir + "/biphase_remote.mode2"), errors);
  EXPECT_TRUE(errors.empty());
  ASSERT_EQ(space_coded.size(), 8u);
  DecoderState state;
  EXPECT_EQ(space_coded[0].name, "Volume+");
  EXPECT_EQ(tools::JoinCodes(tools::DecodeRecording(space_coded[0], 16, state)), "F807");
  EXPECT_EQ(tools::JoinCodes(tools::DecodeRecording(space_coded[2], 16, state)), "18E7");
  std::vector<std::string> codes;
  for (const auto& r : biphase)
    codes.push_back(tools::JoinCodes(tools::DecodeRecording(r, 16, state)));
  EXPECT_EQ(codes, (std::vector<std::string>{"3401", "3402", "3403", "3404"}));
}

}  // namespace
}  // namespace sfh56
