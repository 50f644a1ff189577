#include "decode/service_log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decode/decoder.h"
#include "platform/sim/sim_files.h"
#include "tests/decode/train_builder.h"

namespace sfh56 {
namespace {

constexpr char kExe[] = "C:\\Program Files\\Host\\Host.exe";
constexpr char kLog[] = "C:\\Program Files\\Host\\log.txt";

// Twelve edges, timestamps in microsecond ticks from 2 s on.
PulseTrain TwelveEdgeTrain() {
  const int64_t intervals_us[] = {9000, 4500, 560, 560, 560, 1690, 560, 560, 560, 1690, 560};
  PulseTrain train;
  train.TicksPerSecond = 1000000.0;
  int64_t t = 2000000;
  for (int c = 0; c <= 11; ++c) {
    train.Edges[c] = {c % 2 == 0 ? 0u : kIdleStatus, t};
    if (c < 11) t += intervals_us[c];
  }
  train.LastEdgeIndex = 11;
  return train;
}

const char kTwelveEdgeRecord[] =
    ";----------------------------------------\r\n"
    "     0.000\t1\r\n"
    "     9.000\t1\t     9.000\r\n"
    "     9.000\t0\r\n"
    "    13.500\t0\t     4.500\r\n"
    "    13.500\t1\r\n"
    "    14.060\t1\t     0.560\r\n"
    "    14.060\t0\r\n"
    "    14.620\t0\t     0.560\r\n"
    "    14.620\t1\r\n"
    "    15.180\t1\t     0.560\r\n"
    "    15.180\t0\r\n"
    "    16.870\t0\t     1.690\r\n"
    "    16.870\t1\r\n"
    "    17.430\t1\t     0.560\r\n"
    "    17.430\t0\r\n"
    "    17.990\t0\t     0.560\r\n"
    "    17.990\t1\r\n"
    "    18.550\t1\t     0.560\r\n"
    "    18.550\t0\r\n"
    "    20.240\t0\t     1.690\r\n"
    "    20.240\t1\r\n"
    "    20.800\t1\t     0.560\r\n"
    "    20.800\t0\r\n"
    "Code= 0000;  ShiftCoded=FALSE ; 1.15\r\n";

struct Delivered : CodeSink {
  void Deliver(std::string_view code) override { codes.emplace_back(code); }
  std::vector<std::string> codes;
};

TEST(ServiceLogFormat, NumbersAreFixedThreeDecimalsInTenCharacters) {
  EXPECT_EQ(FormatLogMilliseconds(0.0), "     0.000");
  EXPECT_EQ(FormatLogMilliseconds(13.5), "    13.500");
  EXPECT_EQ(FormatLogMilliseconds(-0.25), "    -0.250");
  EXPECT_EQ(FormatLogMilliseconds(1234567.125), "1234567.125");
  EXPECT_EQ(FormatLogMilliseconds(12345678.5), "12345678.500") << "wider takes its room";
}

TEST(ServiceLogFormat, PathIsTheExecutablesFolder) {
  EXPECT_EQ(ServiceLogPath(kExe), kLog);
  EXPECT_EQ(ServiceLogPath("C:\\x.exe"), "C:\\log.txt");
  EXPECT_EQ(ServiceLogPath("host.exe"), "log.txt");
  EXPECT_EQ(ServiceLogPath(""), "log.txt");
}

TEST(ServiceLogFormat, CodeLine) {
  EXPECT_EQ(FormatLogCodeLine("1A2B", false), "Code= 1A2B;  ShiftCoded=FALSE ; 1.15\r\n");
  EXPECT_EQ(FormatLogCodeLine("", true), "Code= ;  ShiftCoded=TRUE ; 1.15\r\n");
}

TEST(ServiceLogWriter, TwelveEdgeTrainRecordByteForByte) {
  sim::SimFiles files(kExe);
  ServiceLogWriter log(files);
  DecoderState state;
  Delivered delivered;
  Decoder::Decode(TwelveEdgeTrain(), 16, state, &log, &delivered);
  EXPECT_EQ(delivered.codes, std::vector<std::string>{"0000"});
  EXPECT_EQ(files.FileContents(kLog), std::string(kTwelveEdgeRecord)) << "created when absent";

  Decoder::Decode(TwelveEdgeTrain(), 16, state, &log, &delivered);
  EXPECT_EQ(files.FileContents(kLog), std::string(kTwelveEdgeRecord) + kTwelveEdgeRecord)
      << "later records are appended";
}

TEST(ServiceLogWriter, BiPhaseTrainShowsShiftCodedTrue) {
  sim::SimFiles files(kExe);
  files.SetFile(kLog, "earlier\r\n");
  ServiceLogWriter log(files);
  DecoderState state;
  Decoder::Decode(test::TrainFromSeconds(std::vector<double>(11, 0.008)), 16, state, &log);
  const std::string contents = *files.FileContents(kLog);
  EXPECT_EQ(contents.rfind("earlier\r\n;-----", 0), 0u);
  EXPECT_NE(contents.find("\r\nCode= 0001;  ShiftCoded=TRUE ; 1.15\r\n"), std::string::npos);
}

TEST(ServiceLogWriter, NoFileNoRecordButTheCodeIsDelivered) {
  sim::SimFiles files(kExe);
  files.FailCreate(true);
  ServiceLogWriter log(files);
  DecoderState state;
  Delivered delivered;
  EXPECT_EQ(Decoder::Decode(TwelveEdgeTrain(), 16, state, &log, &delivered).code, "0000");
  EXPECT_EQ(delivered.codes.size(), 1u);
  EXPECT_FALSE(files.FileContents(kLog).has_value());

  files.SetFile(kLog, "kept");
  files.FailOpenForAppend(true);  // exists but cannot be appended to, nor created
  Decoder::Decode(TwelveEdgeTrain(), 16, state, &log, &delivered);
  EXPECT_EQ(files.FileContents(kLog), "kept");
  EXPECT_EQ(delivered.codes.size(), 2u);
}

TEST(ServiceLogWriter, FailedWriteEndsTheRecordNotTheDecoding) {
  sim::SimFiles files(kExe);
  files.FailWritesAfter(0);
  ServiceLogWriter log(files);
  DecoderState state;
  Delivered delivered;
  Decoder::Decode(TwelveEdgeTrain(), 16, state, &log, &delivered);
  EXPECT_EQ(delivered.codes, std::vector<std::string>{"0000"});
  EXPECT_EQ(files.FileContents(kLog), "") << "created, nothing written, no code line alone";
  EXPECT_EQ(log.FailedWrites(), 1);

  files.FailWritesAfter(1);  // head written, code line fails
  Decoder::Decode(TwelveEdgeTrain(), 16, state, &log, &delivered);
  const std::string head(kTwelveEdgeRecord,
                         sizeof kTwelveEdgeRecord - 1 -
                             std::string_view("Code= 0000;  ShiftCoded=FALSE ; 1.15\r\n").size());
  EXPECT_EQ(files.FileContents(kLog), head);
  EXPECT_EQ(log.FailedWrites(), 2);
  EXPECT_EQ(delivered.codes.size(), 2u);

  files.FailWritesAfter(-1);  // the next record is whole again
  Decoder::Decode(TwelveEdgeTrain(), 16, state, &log, &delivered);
  EXPECT_EQ(files.FileContents(kLog), head + kTwelveEdgeRecord);
}

}  // namespace
}  // namespace sfh56
