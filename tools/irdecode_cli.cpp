#include "tools/irdecode_cli.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>

#include "decode/decoder.h"
#include "decode/service_log.h"
#include "tools/ir_input.h"
#include "tools/irdecode_input.h"
#include "tools/report/report_command.h"

namespace sfh56::tools {
namespace {

constexpr std::string_view kUsage =
    "usage: irdecode [--bitmask N] [--decoder classic|stable] [--log FILE]\n"
    "                [--sample-rate HZ] [--report PAGE.html] [--advise] [FORMAT] [FILE]\n"
    "Decodes recorded infrared signals with the receiver's decoder. FILE (or standard\n"
    "input) is read in FORMAT, or in the format its contents show:\n"
    "%FORMATS%"
    "  --bitmask N       the BitMask setting, 0..99 (default 16)\n"
    "  --decoder D       classic (default) or stable: the StableCodes setting\n"
    "  --log FILE        append the service-log record of every decoded train\n"
    "  --sample-rate HZ  samples per second of IRMP lines (default: from a file name\n"
    "                    such as remote-15kHz.txt, else 10000)\n"
    "  --report PAGE.html  write a page that draws every train to scale and shows how\n"
    "                    the decoder came to its code, with the codes per button\n"
    "  --advise          print which Command order and Enable last bits suit the remote\n"
    "Exit status: 0 all decoded, 1 bad input skipped, 2 nothing decoded,\n"
    "3 service-log records decode differently.\n";

// Appends service-log records to a file of the user's choice.
class FileLog : public ServiceLogSink {
 public:
  explicit FileLog(const std::string& path) : out_(path, std::ios::binary | std::ios::app) {}
  bool ok() const { return static_cast<bool>(out_); }

  bool OpenAndWriteHead(const PulseTrain& train, int edge_count) override {
    out_ << FormatLogHead(train, edge_count);
    return static_cast<bool>(out_);
  }
  void WriteCodeLineAndClose(std::string_view code, bool shift_coded) override {
    out_ << FormatLogCodeLine(code, shift_coded);
    out_.flush();
  }

 private:
  std::ofstream out_;
};

struct Options {
  InputFormat format = InputFormat::kUnknown;
  int32_t bit_mask = 16;
  Decoding decoding = Decoding::kClassic;
  std::string path = "-";
  std::string log_path;
  double sample_rate_hz = 0.0;
  std::string report_path;
  bool advise = false;
};

std::optional<InputFormat> FormatOption(std::string_view arg) {
  for (const FormatSpec& spec : Formats()) {
    if (arg == spec.option) return spec.format;
  }
  return std::nullopt;
}

// The usage with a line for every format where it says %FORMATS%.
std::string Usage() {
  std::string formats;
  for (const FormatSpec& spec : Formats()) {
    std::string option(spec.option);
    option.resize(std::max<size_t>(option.size() + 1, 10), ' ');
    formats += "  " + option + std::string(spec.help) + "\n";
  }
  std::string usage(kUsage);
  return usage.replace(usage.find("%FORMATS%"), 9, formats);
}

// "--log-in, --ir, ... or --edges"
std::string FormatOptions() {
  std::string list;
  const std::span<const FormatSpec> formats = Formats();
  for (size_t i = 0; i < formats.size(); ++i) {
    list += std::string(i == 0                    ? ""
                        : i + 1 == formats.size() ? " or "
                                                  : ", ") +
            std::string(formats[i].option);
  }
  return list;
}

template <typename T>
bool ParseOptionNumber(const std::string& text, T& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc{} && end == text.data() + text.size();
}

// Returns an exit status when the arguments end the run (help or a usage error).
std::optional<int> ParseArgs(const std::vector<std::string>& args, Options& options,
                             std::ostream& out, std::ostream& err) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool has_value = i + 1 < args.size();
    if (const std::optional<InputFormat> format = FormatOption(arg)) {
      options.format = *format;
    } else if (arg == "--bitmask" && has_value) {
      int32_t value = 0;
      if (!ParseOptionNumber(args[++i], value) || value < 0 || value > 99) {
        err << "irdecode: --bitmask takes a number from 0 to 99\n";
        return kExitFailure;
      }
      options.bit_mask = value;
    } else if (arg == "--decoder" && has_value) {
      const std::string& name = args[++i];
      if (name != "classic" && name != "stable") {
        err << "irdecode: --decoder takes classic or stable\n";
        return kExitFailure;
      }
      options.decoding = name == "stable" ? Decoding::kStable : Decoding::kClassic;
    } else if (arg == "--sample-rate" && has_value) {
      double value = 0.0;
      if (!ParseOptionNumber(args[++i], value) || !(value >= 1000.0 && value <= 1e6)) {
        err << "irdecode: --sample-rate takes samples per second from 1000 to 1000000\n";
        return kExitFailure;
      }
      options.sample_rate_hz = value;
    } else if (arg == "--log" && has_value) {
      options.log_path = args[++i];
    } else if (arg == "--report" && has_value) {
      options.report_path = args[++i];
    } else if (arg == "--advise") {
      options.advise = true;
    } else if (arg == "--help" || arg == "-h") {
      out << Usage();
      return kExitOk;
    } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
      err << "irdecode: unknown option " << arg << "\n" << Usage();
      return kExitFailure;
    } else {
      options.path = arg;
    }
  }
  return std::nullopt;
}

// Service log: each record decoded again, beside the code the log recorded.
int PrintLogReplay(const ParsedInput& input, const Options& options, ServiceLogSink* log,
                   std::ostream& out, std::ostream& err) {
  TrainDecoder decoder(options.bit_mask, log,
                       options.decoding);  // one CodeBuffer for the whole log
  int compared = 0;
  int mismatches = 0;
  for (const CapturedTrain& record : input.trains) {
    bool shift_coded = false;
    const TrainCode code = decoder.DecodeTrain(record.train, &shift_coded);
    out << record.name << "\t" << JoinCodes({code});
    if (!record.logged.has_value()) {
      out << "\tnot logged\n";
      continue;
    }
    ++compared;
    out << "\tlogged " << record.logged->code;
    if (code.value_or("") != record.logged->code || shift_coded != record.logged->shift_coded) {
      ++mismatches;
      out << "\tMISMATCH";
    }
    out << "\n";
  }
  if (mismatches == 0) return kExitOk;
  err << "irdecode: " << mismatches << " of " << compared
      << " records decode to another code than the log recorded, at BitMask " << options.bit_mask
      << " (the log does not record the plugin's BitMask; give it with --bitmask)\n";
  return kExitLogMismatch;
}

}  // namespace

int RunIrdecode(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                std::ostream& err) {
  Options options;
  if (const std::optional<int> status = ParseArgs(args, options, out, err)) return *status;

  std::string bytes;
  if (options.path == "-") {
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  } else {
    std::ifstream file(options.path, std::ios::binary);
    if (!file) {
      err << "irdecode: cannot read " << options.path << "\n";
      return kExitFailure;
    }
    bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }
  const std::string input_name = options.path == "-" ? "standard input" : options.path;

  ReadOptions read_options;
  if (options.path != "-") read_options.file_name = options.path;
  read_options.irmp_sample_rate_hz = options.sample_rate_hz;
  const ParsedInput input = ReadInput(bytes, options.format, read_options);
  if (input.format == InputFormat::kUnknown) {
    for (const InputError& e : input.errors) {
      err << "irdecode: " << input_name << ": " << e.message;
      if (e.message.starts_with("cannot tell")) {
        err << "; name it with " << FormatOptions();
      }
      err << "\n";
    }
    return kExitFailure;
  }
  for (const InputError& e : input.errors) {
    err << "irdecode: " << (e.line > 0 ? "line " + std::to_string(e.line) + ": " : "") << e.message
        << "\n";
  }
  if (input.skipped_entries > 0) {
    err << "irdecode: skipped " << input.skipped_entries
        << (input.format == InputFormat::kIrFile ? " parsed entries"
                                                 : " codes of remotes without raw_codes")
        << " (protocol parameters, not recorded durations)\n";
  }
  if (input.recordings.empty() && input.trains.empty()) {
    err << "irdecode: no recorded signal to decode in " << input_name << " (read as "
        << FormatName(input.format) << ")\n";
    return kExitFailure;
  }

  if (!options.report_path.empty() || options.advise) {
    const size_t slash = input_name.find_last_of("/\\");
    const report::ReportRequest request{
        slash == std::string::npos ? input_name : input_name.substr(slash + 1), options.bit_mask,
        options.report_path, options.advise, options.decoding};
    const int status = report::RunReport(input, request, out, err);
    return status != kExitOk ? status : input.errors.empty() ? kExitOk : kExitBadInput;
  }

  std::unique_ptr<FileLog> log;
  if (!options.log_path.empty()) {
    log = std::make_unique<FileLog>(options.log_path);
    if (!log->ok()) {
      err << "irdecode: cannot open " << options.log_path << " for appending; not logging\n";
      log.reset();
    }
  }

  int status = kExitOk;
  if (input.format == InputFormat::kServiceLog) {
    status = PrintLogReplay(input, options, log.get(), out, err);
  } else if (input.format == InputFormat::kEdges) {
    TrainDecoder decoder(options.bit_mask, log.get(),
                         options.decoding);  // one CodeBuffer for the whole run
    for (const CapturedTrain& train : input.trains) {
      // An empty code (a repeat frame before any code) prints as an empty line.
      out << decoder.DecodeTrain(train.train).value_or("-") << "\n";
    }
  } else {
    for (const Recording& recording : input.recordings) {
      TrainDecoder decoder(options.bit_mask, log.get(),
                           options.decoding);  // a fresh press after the start
      out << recording.name << "\t" << JoinCodes(decoder.DecodeRecording(recording)) << "\n";
    }
  }
  return input.errors.empty() ? status : kExitBadInput;
}

}  // namespace sfh56::tools
