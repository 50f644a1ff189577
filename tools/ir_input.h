#pragma once
// Readers of the files users have: recorded infrared signals in the common raw formats,
// the plugin's own service log, and the decoder's edge lines. Pure parsing of a byte
// buffer: no decoding, no printing and no splitting into trains, so that every tool (and
// a fuzzer) can use them.
//
// A parsed input holds either recordings (durations of a recorded signal, which the
// caller splits into the trains the serial capture would record) or captured trains
// (edge lines and service-log records: trains exactly as the receiver recorded them).

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/pulse_train.h"

namespace sfh56::tools {

enum class InputFormat {
  kUnknown,     // as a request: guess from the contents; as a result: nothing fits
  kEdges,       // TICKS_PER_SECOND STATUS TIMESTAMP STATUS TIMESTAMP ... per line
  kServiceLog,  // the plugin's "log.txt"
  kMode2,       // pulse/space lines, ir-ctl +N -N lines, mode2 -m columns
  kIrFile,      // Flipper-style .ir files (raw entries)
  kLircdConf,   // lircd.conf raw_codes blocks
  kPronto,      // Pronto hex, learned form 0000
  kIrmp,        // IRMP 0/1 sample lines
  kCorpusTsv,   // source, remote, button, [carrier,] durations
  kRawLog,      // "Received Raw: 9011, -4485, ..." dumps of microcontroller firmware
  kIrPacket,    // base64 packets of Wi-Fi IR blasters ("JgBQAAAB...")
  kRawArray,    // "uint16_t rawData[N] = {...};" arrays printed by microcontroller libraries
};

// A short name of the format for messages ("service log", "Pronto hex", ...).
std::string_view FormatName(InputFormat format);

// A recorded signal: durations in microseconds, starting with a mark and alternating
// mark and space. Every duration is more than 0 and at most kMaxDurationUs.
struct Recording {
  std::string name;
  std::vector<double> durations_us;
  int line = 0;  // 1-based line where the recording starts
};

inline constexpr double kMaxDurationUs = 10e6;  // longer than any infrared signal

// A problem met while reading, with the 1-based line it was found on (0: the input as a
// whole). The entry it belongs to is skipped; the rest of the input is still read.
struct InputError {
  int line = 0;
  std::string message;
};

// The code line of a service-log record.
struct LoggedCode {
  std::string code;
  bool shift_coded = false;
  std::string version;
};

// A train as the receiver captured it: an edge line, or a service-log record.
struct CapturedTrain {
  std::string name;  // "line N"
  int line = 0;
  PulseTrain train;
  // Service log only: what the plugin recorded for this train. Absent when the record
  // has no code line (the plugin stops writing a record whose head could not be written).
  std::optional<LoggedCode> logged;
};

// Service-log records become trains of kServiceLogTicksPerSecond (the log's resolution
// is a microsecond); a mark (level 1) has Status 0 and a space kIdleStatus.
inline constexpr double kServiceLogTicksPerSecond = 1000000.0;

struct ReadOptions {
  // The file's name, or empty for standard input: a hint for guessing the format, and
  // the sample rate of IRMP files named like "remote-15kHz.txt".
  std::string file_name;
  // Samples per second of IRMP lines; 0: from the file name, else 10 kHz.
  double irmp_sample_rate_hz = 0.0;
};

struct ParsedInput {
  InputFormat format = InputFormat::kUnknown;
  std::vector<Recording> recordings;  // every format but edges and the service log
  std::vector<CapturedTrain> trains;  // edges and the service log
  std::vector<InputError> errors;
  // Entries that hold protocol parameters instead of durations (.ir "parsed" entries,
  // codes of lircd.conf remotes without raw_codes): skipped, counted here.
  int skipped_entries = 0;
  // The IRMP sample rate that was used (IRMP only).
  double irmp_sample_rate_hz = 0.0;
};

// How one format is named, recognised and read. Formats() lists every format irdecode
// reads, in the order their sure signs are tried; a new format is a row there and a reader.
struct FormatSpec {
  InputFormat format;
  std::string_view name;    // for messages ("Pronto hex")
  std::string_view option;  // irdecode's option that names it ("--pronto")
  std::string_view help;    // what irdecode's usage says of it
  // A line (trimmed, not a comment) only this format has, or nullptr: the format is
  // then recognised by the shape of the whole input (see GuessFormat).
  bool (*sure_sign)(std::string_view line);
  // Reads the input (without a byte-order mark); every reader returns what it read, the
  // entries it could not read as errors, and leaves format for ReadInput to set.
  ParsedInput (*read)(std::string_view body, const ReadOptions& options);
};

std::span<const FormatSpec> Formats();
// The row of a format; nullptr for kUnknown.
const FormatSpec* FindFormat(InputFormat format);

// Reads bytes in the given format, or guesses it from the contents (kUnknown). A UTF-8
// byte-order mark is skipped. When the input is empty, is UTF-16 text or fits no format,
// format is kUnknown and errors holds one message for the input as a whole.
ParsedInput ReadInput(std::string_view bytes, InputFormat format = InputFormat::kUnknown,
                      const ReadOptions& options = {});

// The format whose sure sign the contents carry, else a hint from the file name, else
// kUnknown. bytes may start with a byte-order mark.
InputFormat GuessFormat(std::string_view bytes, std::string_view file_name = {});

// One edge line. On failure returns false (train emptied) and sets error to a message
// without the line number. Rejects intervals of more than kMaxDurationUs.
bool ParseEdgeLine(std::string_view line, PulseTrain& train, std::string& error);

// Durations in microseconds separated by white space; false with a message for anything
// that is not a number more than 0 and at most kMaxDurationUs.
bool ParseDurations(std::string_view text, std::vector<double>& durations_us, std::string& error);

// The readers of the single formats (ReadInput calls them), with the errors they meet.
inline constexpr double kMode2RecordingGapUs = 100000.0;
// mode2 text: "pulse N" / "space N" lines (also "timeout N", "carrier N"), ir-ctl's
// "+N -N ..." lines and mode2 -m's columns. Other lines (headers, prompts) are ignored.
// A space of kMode2RecordingGapUs or more, a timeout and a blank line after columns end a
// recording; recordings are named "line N" after the line of their first pulse.
std::vector<Recording> ParseMode2(std::string_view text, std::vector<InputError>& errors);
// .ir text: blocks with "name:", "type:" and "data:" lines; raw entries only, parsed
// entries are counted in skipped.
std::vector<Recording> ParseIrFile(std::string_view text, std::vector<InputError>& errors,
                                   int* skipped = nullptr);
// Named "remote<TAB>button".
std::vector<Recording> ParseCorpusTsv(std::string_view text, std::vector<InputError>& errors);

}  // namespace sfh56::tools
