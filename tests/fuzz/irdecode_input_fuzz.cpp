// libFuzzer target: irdecode's readers over any file a user may hand it, in every format
// it reads (asked for, or guessed from the contents), then the split into trains and the
// decode. A reader skips what it cannot read with an error on a line of the input, and
// what it returns is always in range: durations more than 0 and at most the longest
// kept, trains inside their edge storage. Formats added to the readers join this target.

#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>

#include "decode/decoder.h"
#include "tools/ir_input.h"
#include "tools/irdecode_input.h"

namespace {

using namespace sfh56;
using namespace sfh56::tools;

const char* const kFileNames[] = {"",           "remote.ir", "codes.tsv",
                                  "lircd.conf", "a.mode2",   "remote-15kHz.txt"};

int LineCount(std::string_view text) {
  int lines = 1;
  for (char c : text) lines += c == '\n' ? 1 : 0;
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  // 0: guess the format; 1, 2, ...: the formats in the order of the table.
  const std::span<const FormatSpec> formats = Formats();
  const size_t pick = data[0] % (formats.size() + 1);
  const InputFormat asked = pick == 0 ? InputFormat::kUnknown : formats[pick - 1].format;
  ReadOptions options;
  options.file_name = kFileNames[data[1] % std::size(kFileNames)];
  const std::string_view bytes(reinterpret_cast<const char*>(data + 2), size - 2);

  const ParsedInput input = ReadInput(bytes, asked, options);
  // A format asked for is read as that format, unless the text is not readable at all
  // (UTF-16): then no format, and one error for the input as a whole.
  if (input.format == InputFormat::kUnknown) {
    if (input.errors.empty() || input.errors.front().line != 0) std::abort();
  } else if (asked != InputFormat::kUnknown && input.format != asked) {
    std::abort();
  }
  (void)FormatName(input.format);
  const int lines = LineCount(bytes);
  for (const InputError& error : input.errors) {
    if (error.line < 0 || error.line > lines || error.message.empty()) std::abort();
  }

  TrainDecoder decoder(16);
  for (const Recording& recording : input.recordings) {
    if (recording.line < 0 || recording.line > lines) std::abort();
    for (double us : recording.durations_us) {
      if (!(us > 0.0 && us <= kMaxDurationUs)) std::abort();
    }
    for (const PulseTrain& train : RecordingTrains(recording)) {
      if (train.LastEdgeIndex < -1 || train.LastEdgeIndex >= kEdgeCapacity) std::abort();
    }
    (void)JoinCodes(decoder.DecodeRecording(recording));
  }
  for (const CapturedTrain& captured : input.trains) {
    if (captured.line < 0 || captured.line > lines) std::abort();
    const PulseTrain& train = captured.train;
    if (train.LastEdgeIndex < -1 || train.LastEdgeIndex >= kEdgeCapacity) std::abort();
    (void)decoder.DecodeTrain(train);
  }
  return 0;
}
