// irdecode: decodes pulse trains and recorded infrared signals with the receiver's
// decoder, for checking remotes and recordings on a development machine.
//
//   irdecode [--bitmask N] [--log FILE] [--report PAGE.html] [--advise]
//            [--edges|--mode2|--ir|--tsv] [FILE]
//
// Reads FILE (standard input when absent or "-"). Edge format prints one line per train:
// the code delivered, an empty line for the empty code, "-" when nothing is delivered.
// The recording formats print one line per recording: its name, a TAB, and the codes of
// the trains the serial capture would record from it.

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>

#include "decode/decoder.h"
#include "decode/service_log.h"
#include "tools/irdecode_input.h"
#include "tools/report/report_command.h"

namespace {

using namespace sfh56;

enum class Format { kAuto, kEdges, kMode2, kIr, kTsv };

// Appends service-log records to a file of the user's choice.
class FileLog : public ServiceLogSink {
 public:
  explicit FileLog(const std::string& path) : out_(path, std::ios::binary | std::ios::app) {}
  bool ok() const { return static_cast<bool>(out_); }

  bool OpenAndWriteHead(const IntervalRecord* edges, int edge_count) override {
    out_ << FormatLogHead(edges, edge_count);
    return static_cast<bool>(out_);
  }
  void WriteCodeLineAndClose(std::string_view code, bool shift_coded) override {
    out_ << FormatLogCodeLine(code, shift_coded);
    out_.flush();
  }

 private:
  std::ofstream out_;
};

void Usage() {
  std::cerr << "usage: irdecode [--bitmask N] [--log FILE] [--report PAGE.html] [--advise]\n"
               "                [--edges|--mode2|--ir|--tsv] [FILE]\n"
               "  --edges  one train per line: TICKS_PER_SECOND STATUS TIMESTAMP STATUS ...\n"
               "  --mode2  LIRC mode2 text (pulse N / space N, microseconds)\n"
               "  --ir     Flipper-style .ir file (raw data: lines, name: lines)\n"
               "  --tsv    recorded-corpus TSV (source, remote, button, [carrier,] durations)\n"
               "  --bitmask N  the BitMask setting, 0..99 (default 16)\n"
               "  --log FILE   append the service-log record of every decoded train\n"
               "  --report PAGE.html  write a page that draws every train and explains its code\n"
               "  --advise     print which Command order and Enable last bits suit the remote\n"
               "Without a format option it is chosen from the file name or the contents.\n";
}

Format Guess(const std::string& path, const std::string& text) {
  auto ends_with = [&](const char* suffix) {
    const size_t n = std::strlen(suffix);
    return path.size() >= n && path.compare(path.size() - n, n, suffix) == 0;
  };
  if (ends_with(".ir")) return Format::kIr;
  if (ends_with(".tsv")) return Format::kTsv;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t start = line.find_first_not_of(" \t\r");
    if (start == std::string::npos || line[start] == '#') continue;
    if (line.compare(start, 5, "pulse") == 0 || line.compare(start, 5, "space") == 0) {
      return Format::kMode2;
    }
    if (line.find("data:") != std::string::npos || line.find("name:") != std::string::npos) {
      return Format::kIr;
    }
    return line.find('\t') != std::string::npos ? Format::kTsv : Format::kEdges;
  }
  return Format::kEdges;
}

int DecodeEdges(const std::string& text, int32_t bit_mask, ServiceLogSink* log) {
  DecoderState state;  // one CodeBuffer for the whole run, as in the receiver
  PulseTrain train;
  int bad_lines = 0;
  int number = 0;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    ++number;
    if (line.find_first_not_of(" \t\r") != std::string::npos &&
        line[line.find_first_not_of(" \t\r")] == '#') {
      continue;
    }
    std::string error;
    if (!tools::ParseEdgeLine(line, train, error)) {
      std::cerr << "irdecode: line " << number << ": " << error << "\n";
      ++bad_lines;
      continue;
    }
    const DecodeResult result = Decoder::Decode(train, bit_mask, state, log);
    std::cout << (result.deliver ? std::string(result.code) : "-") << "\n";
  }
  return bad_lines == 0 ? 0 : 1;
}

int DecodeRecordings(Format format, const std::string& text, int32_t bit_mask,
                     ServiceLogSink* log) {
  std::vector<tools::InputError> errors;
  const std::vector<tools::Recording> recordings =
      format == Format::kMode2 ? tools::ParseMode2(text, errors)
      : format == Format::kIr  ? tools::ParseIrFile(text, errors)
                               : tools::ParseCorpusTsv(text, errors);
  for (const tools::InputError& e : errors) {
    std::cerr << "irdecode: line " << e.line << ": " << e.message << "\n";
  }
  for (const tools::Recording& recording : recordings) {
    DecoderState state;  // each recording as a fresh press after the receiver started
    std::cout << recording.name << "\t"
              << tools::JoinCodes(tools::DecodeRecording(recording, bit_mask, state, log)) << "\n";
  }
  return errors.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  Format format = Format::kAuto;
  int32_t bit_mask = 16;
  std::string path = "-";
  std::string log_path;
  std::string report_path;
  bool advise = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--edges") {
      format = Format::kEdges;
    } else if (arg == "--mode2") {
      format = Format::kMode2;
    } else if (arg == "--ir") {
      format = Format::kIr;
    } else if (arg == "--tsv") {
      format = Format::kTsv;
    } else if (arg == "--advise") {
      advise = true;
    } else if ((arg == "--bitmask" || arg == "--log" || arg == "--report") && i + 1 < argc) {
      const std::string value = argv[++i];
      if (arg == "--log" || arg == "--report") {
        (arg == "--log" ? log_path : report_path) = value;
        continue;
      }
      char* end = nullptr;
      const long parsed = std::strtol(value.c_str(), &end, 10);
      if (value.empty() || *end != '\0' || parsed < 0 || parsed > 99) {
        std::cerr << "irdecode: --bitmask takes a number from 0 to 99\n";
        return 2;
      }
      bit_mask = static_cast<int32_t>(parsed);
    } else if (arg == "--help" || arg == "-h") {
      Usage();
      return 0;
    } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
      Usage();
      return 2;
    } else {
      path = arg;
    }
  }

  std::string text;
  if (path == "-") {
    text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
  } else {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      std::cerr << "irdecode: cannot read " << path << "\n";
      return 2;
    }
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  std::unique_ptr<FileLog> log;
  if (!log_path.empty()) {
    log = std::make_unique<FileLog>(log_path);
    if (!log->ok()) {
      std::cerr << "irdecode: cannot open " << log_path << " for appending; not logging\n";
      log.reset();
    }
  }

  if (format == Format::kAuto) format = Guess(path, text);
  if (advise || !report_path.empty()) {
    using report::InputFormat;
    return report::RunReport({format == Format::kMode2 ? InputFormat::kMode2
                              : format == Format::kIr  ? InputFormat::kIr
                              : format == Format::kTsv ? InputFormat::kTsv
                                                       : InputFormat::kEdges,
                              path, text, bit_mask, report_path, advise});
  }
  return format == Format::kEdges ? DecodeEdges(text, bit_mask, log.get())
                                  : DecodeRecordings(format, text, bit_mask, log.get());
}
