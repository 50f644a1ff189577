#include "tools/irdecode_input.h"
#include "tools/ir_input.h"

#include <gtest/gtest.h>

#include <string>

namespace sfh56::tools {
namespace {

std::string EdgeError(const std::string& line) {
  PulseTrain train;
  std::string error;
  EXPECT_FALSE(ParseEdgeLine(line, train, error)) << line;
  EXPECT_EQ(train.LastEdgeIndex, -1);
  return error;
}

TEST(EdgeLines, ParsesRateStatusesAndTimestamps) {
  PulseTrain train;
  std::string error;
  ASSERT_TRUE(ParseEdgeLine("3579545.5 0 100 32 200\t0 350\r", train, error)) << error;
  EXPECT_EQ(train.TicksPerSecond, 3579545.5);
  EXPECT_EQ(train.LastEdgeIndex, 2);
  EXPECT_EQ(train.Edges[1].Status, 32u);
  EXPECT_EQ(train.Edges[2].Timestamp, 350);
  ASSERT_TRUE(ParseEdgeLine("1000", train, error));
  EXPECT_EQ(train.LastEdgeIndex, -1) << "a rate alone is an empty train";
}

TEST(EdgeLines, BadInputIsNamed) {
  EXPECT_NE(EdgeError("").find("empty"), std::string::npos);
  EXPECT_NE(EdgeError("abc 0 1").find("not a number"), std::string::npos);
  EXPECT_NE(EdgeError("0 0 1").find("not positive"), std::string::npos);
  EXPECT_NE(EdgeError("-5 0 1").find("not positive"), std::string::npos);
  EXPECT_NE(EdgeError("nan 0 1").find("not a number"), std::string::npos);
  EXPECT_NE(EdgeError("1e6 0 1 32").find("no timestamp"), std::string::npos);
  EXPECT_NE(EdgeError("1e6 x 1").find("status"), std::string::npos);
  EXPECT_NE(EdgeError("1e6 -1 1").find("status"), std::string::npos);
  EXPECT_NE(EdgeError("1e6 0 1.5").find("whole number"), std::string::npos);
  EXPECT_NE(EdgeError("1e6 0 -7").find("negative"), std::string::npos);
  EXPECT_NE(EdgeError("1e6 0 5 32 5").find("does not increase"), std::string::npos);
  EXPECT_NE(EdgeError("1e6 0 99999999999999999999").find("whole number"), std::string::npos);
  std::string line = "1e6";
  for (int i = 0; i < 302; ++i) line += " 0 " + std::to_string(i + 1);
  EXPECT_NE(EdgeError(line).find("302 edges"), std::string::npos);
}

TEST(Mode2, SplitsAtLongSpacesAndMergesRepeatedKinds) {
  std::vector<InputError> errors;
  const auto recordings = ParseMode2(
      "space 3000000\npulse 900\nspace 800\npulse 100\npulse 800\nspace 200000\n"
      "pulse 500\nspace x\nspace 600\npulse 700\nspace 800\ntimeout 9000\n"
      "pulse 400\nspace 500\npulse 600\n",
      errors);
  // A bad line spoils its recording: decoded without it, the recording would have an
  // interval missing.
  ASSERT_EQ(recordings.size(), 2u);
  EXPECT_EQ(recordings[0].name, "line 2");
  EXPECT_EQ(recordings[0].durations_us, (std::vector<double>{900, 800, 900}));
  EXPECT_EQ(recordings[1].name, "line 13");
  EXPECT_EQ(recordings[1].durations_us, (std::vector<double>{400, 500, 600}));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].line, 8);
}

TEST(IrFile, RawEntriesWithTheirNames) {
  std::vector<InputError> errors;
  const auto recordings = ParseIrFile(
      "Filetype: IR signals file\n#\nname: Power\ntype: raw\ndata: 900 800 900 800\n#\n"
      "name: Mute\ntype: parsed\nprotocol: NEC\n#\nname: Bad\ntype: raw\ndata: 1 2 x\n",
      errors);
  ASSERT_EQ(recordings.size(), 1u);
  EXPECT_EQ(recordings[0].name, "Power");
  EXPECT_EQ(recordings[0].durations_us, (std::vector<double>{900, 800, 900}))
      << "a trailing space is idle";
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].line, 13);
}

TEST(CorpusTsv, DurationsAreTheLastColumn) {
  std::vector<InputError> errors;
  const auto recordings =
      ParseCorpusTsv("src\tremote\tbutton\t38000\t1 2 3\nsrc\tr\tb\t4 5 6\nshort\tline\n", errors);
  ASSERT_EQ(recordings.size(), 2u);
  EXPECT_EQ(recordings[0].name, "remote\tbutton");
  EXPECT_EQ(recordings[1].durations_us, (std::vector<double>{4, 5, 6}));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].line, 3);
}

TEST(JoinCodes, NothingAndEmptyAreVisible) {
  EXPECT_EQ(JoinCodes({std::string("48B7"), std::nullopt, std::string()}), "48B7 - \"\"");
}

}  // namespace
}  // namespace sfh56::tools
