#include "tools/irdecode_input.h"
#include "tools/ir_input.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

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

// What a reader made of an input: "name: durations (whole us) | ..." and "line N: error; ...".
std::string Summary(const ParsedInput& input) {
  std::string out;
  for (const Recording& r : input.recordings) {
    out += (out.empty() ? "" : " | ") + r.name + ":";
    for (double us : r.durations_us) out += " " + std::to_string(std::lround(us));
  }
  for (const InputError& e : input.errors) {
    out += (out.empty() ? "" : "; ") + ("line " + std::to_string(e.line) + ": ") + e.message;
  }
  return out;
}

// Firmware dumps, blaster packets and C arrays, each guessed from its contents.
TEST(PastedFormats, GuessedReadAndBadInputNamed) {
  const struct {
    InputFormat format;
    const char* input;
    const char* read;
  } cases[] = {
      {InputFormat::kRawLog,
       "12:34:56.789 -> Received Raw: 9011, -4485, 613,\n12:34:56.790 -> -1650, 613\n2 bits\n"
       "[12:34:57] Received Raw: 900, -800, 700\nother text\n",
       "line 1: 9011 4485 613 1650 613 | line 4: 900 800 700"},
      {InputFormat::kRawLog, "[12:34:56] Received Raw: 9011, -4485, 613, -1650,\n",
       "line 1: Received Raw: the dump is cut off after 4 durations (it ends with a comma)"},
      {InputFormat::kRawLog, "Received Raw: 9011, 4485, 613\nReceived Raw: 9011, -4x85\n",
       "line 1: Received Raw: duration 2 (4485) should be a space (negative); line 2: Received "
       "Raw: \"-4x85\" is not a number of microseconds"},
      {InputFormat::kIrPacket, "{\"power\": \"JgAHAAABEokRMxENBQAAAAA=\",\n\"mute\":\"JgAH\"}\n",
       "power: 8997 4499 558 1675 558; line 2: the packet ends in its 4-byte header"},
      {InputFormat::kIrPacket, "JgAHAAABEokRMx\nJgAHAAABEokRAAUNBQ==\nJgAHAAABEokRMxENB!",
       "line 1: the packet is cut off: its header announces 7 bytes of durations, 6 follow; "
       "line 2: byte 9: a long duration cut off by the length; line 3: packet "
       "\"JgAHAAABEokRMxENB\" "
       "is not base64"},
      {InputFormat::kRawArray,
       "uint16_t rawData[5] = {9000, 4500, 560, 1690, 560};  // Protocol=NEC\n"
       "const uint16_t b[] = { /* 2, 3 */ 100,\n  200, 300 };\n",
       "rawData: 9000 4500 560 1690 560 | b: 100 200 300"},
      {InputFormat::kRawArray,
       "uint16_t a[7] = {9000, 4500, 560};\nuint16_t b[3] = {1, 0, 2};\nuint16_t c[9] = {1, 2,\n",
       "line 1: a: the array declares 7 values, 3 are given; line 2: b: duration 0 is not "
       "positive; line 3: c: the array is cut off after 2 values (no closing brace)"},
      {InputFormat::kRawArray,
       "uint8_t a[3] = {90, 45, 5};\nuint16_t b[] = {1, 2, 3}; unsigned int c[] = {4,\n5}; "
       "char d[] = {6};\n",
       "b: 1 2 3 | c: 4 5; line 1: a: its elements are uint8_t, not the 16-bit, 32-bit or int "
       "microseconds of a raw capture; line 3: d: its elements are char, not the 16-bit, 32-bit "
       "or int microseconds of a raw capture"},
      {InputFormat::kRawLog, "// uint16_t old[] = {1, 2};\nReceived Raw: 900, -800, 700\n",
       "line 2: 900 800 700"},
  };
  for (const auto& c : cases) {
    const ParsedInput input = ReadInput(c.input);
    EXPECT_EQ(FormatName(input.format), FormatName(c.format)) << c.input;
    EXPECT_EQ(Summary(input), c.read) << c.input;
  }
}

// One NEC frame in each pasted format decodes as the same frame in ir-ctl text does.
TEST(PastedFormats, DecodeAsIrCtlText) {
  std::vector<int> us = {9000, 4500};
  for (int byte : {0x04, 0xFB, 0x08, 0xF7}) {
    for (int bit = 0; bit < 8; ++bit) us.insert(us.end(), {560, (byte >> bit & 1) ? 1690 : 560});
  }
  us.push_back(560);
  std::string irctl, dump = "Received Raw: ", array = "uint16_t rawData[67] = {";
  for (size_t i = 0; i < us.size(); ++i) {
    irctl += (i % 2 ? " -" : " +") + std::to_string(us[i]);
    dump += std::string(i == 0    ? ""
                        : i == 31 ? ",\n12:00:00.000 -> "
                                  : ", ") +
            (i % 2 ? "-" : "") + std::to_string(us[i]);
    array += (i ? ", " : "") + std::to_string(us[i]);
  }
  const std::string packet =
      "JgBIAAABEokRERERETMRERERERERERERETMRMxERETMRMxEzETMRMxEREREREREzERERERERERERMxEzETMRERE"
      "zETMRMxEzEQANBQAAAA==";
  const auto codes = [](const std::string& text) {
    const ParsedInput input = ReadInput(text);
    EXPECT_TRUE(input.errors.empty()) << Summary(input);
    TrainDecoder decoder(16);
    return input.recordings.size() == 1 ? JoinCodes(decoder.DecodeRecording(input.recordings[0]))
                                        : "not one recording";
  };
  const std::string expected = codes(irctl);
  EXPECT_NE(expected.find_first_not_of("- "), std::string::npos) << "the frame decodes";
  for (const std::string& text : {dump, array + "};", packet}) EXPECT_EQ(codes(text), expected);
}

TEST(JoinCodes, NothingAndEmptyAreVisible) {
  EXPECT_EQ(JoinCodes({std::string("48B7"), std::nullopt, std::string()}), "48B7 - \"\"");
}

}  // namespace
}  // namespace sfh56::tools
