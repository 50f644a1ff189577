#pragma once
// Input formats of the irdecode tool, parsed into pulse trains or recordings, and the
// decoding of recordings shared by the tool and the recorded-signal tests.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/pulse_train.h"
#include "decode/decoder.h"

namespace sfh56::tools {

// One line of the edge format: "TICKS_PER_SECOND STATUS TIMESTAMP STATUS TIMESTAMP ...".
// On failure returns false and sets error to a message without the line number.
bool ParseEdgeLine(std::string_view line, PulseTrain& train, std::string& error);

// A recorded signal: durations in microseconds, starting with a mark.
struct Recording {
  std::string name;
  std::vector<double> durations_us;
};

// A problem met while reading, with the 1-based line it was found on.
struct InputError {
  int line = 0;
  std::string message;
};

// LIRC mode2 text: "pulse N" / "space N" lines (also "timeout N"); other lines are
// ignored. Recordings are split at spaces of kMode2RecordingGapUs or more and at
// timeout lines, and named "line N" after the line of their first pulse.
inline constexpr double kMode2RecordingGapUs = 100000.0;
std::vector<Recording> ParseMode2(std::string_view text, std::vector<InputError>& errors);

// Flipper-style .ir text: blocks with "name:" and "data:" lines; raw entries only.
std::vector<Recording> ParseIrFile(std::string_view text, std::vector<InputError>& errors);

// Recorded-corpus TSV: source, remote, button, [carrier,] durations (last column).
// Named "remote<TAB>button".
std::vector<Recording> ParseCorpusTsv(std::string_view text, std::vector<InputError>& errors);

// Parses a list of durations; false for anything but non-negative finite numbers.
bool ParseDurations(std::string_view text, std::vector<double>& durations_us);

// The result of decoding one train: nullopt when nothing was delivered.
using TrainCode = std::optional<std::string>;

// Splits a recording into the trains the serial capture would record (1 MHz ticks) and
// decodes each with state, with every train admitted (CommandOrder 0).
std::vector<TrainCode> DecodeRecording(const Recording& recording, int32_t bit_mask,
                                       DecoderState& state, ServiceLogSink* log = nullptr);

// Codes joined by spaces: "-" for nothing delivered, "\"\"" for the empty code.
std::string JoinCodes(const std::vector<TrainCode>& codes);

}  // namespace sfh56::tools
