#include "tools/ir_input.h"

#include <algorithm>

#include "tools/ir_input_internal.h"

namespace sfh56::tools {
namespace {

using text::ForEachLine;
using text::ParseFinite;
using text::ParseNumber;
using text::Quoted;
using text::SplitWhitespace;
using text::Trim;

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

bool IsUtf16(std::string_view bytes) {
  return bytes.size() >= 2 &&
         ((bytes[0] == '\xFF' && bytes[1] == '\xFE') || (bytes[0] == '\xFE' && bytes[1] == '\xFF'));
}

std::string_view SkipBom(std::string_view bytes) {
  if (text::StartsWith(bytes, kUtf8Bom)) bytes.remove_prefix(kUtf8Bom.size());
  return bytes;
}

bool EndsWith(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

// A corpus TSV row: at least four columns, the last a list of durations.
bool IsTsvLine(std::string_view line) {
  if (std::count(line.begin(), line.end(), '\t') < 3) return false;
  const std::vector<std::string_view> tokens = SplitWhitespace(line.substr(line.rfind('\t') + 1));
  return !tokens.empty() && IsColumnLine(tokens);
}

InputFormat GuessFromFileName(std::string_view file_name) {
  if (EndsWith(file_name, ".ir")) return InputFormat::kIrFile;
  if (EndsWith(file_name, ".tsv")) return InputFormat::kCorpusTsv;
  if (EndsWith(file_name, ".conf")) return InputFormat::kLircdConf;
  if (EndsWith(file_name, ".mode2")) return InputFormat::kMode2;
  return InputFormat::kUnknown;
}

bool IsIrFileLine(std::string_view line) {
  return text::StartsWith(line, "Filetype:");
}

bool IsLircdConfLine(std::string_view line) {
  const std::vector<std::string_view> tokens = SplitWhitespace(line);
  return tokens.size() >= 2 && tokens[0] == "begin" && tokens[1] == "remote";
}

constexpr FormatSpec kFormats[] = {
    {InputFormat::kServiceLog, "service log", "--log-in",
     "the plugin's service log (log.txt): every record decoded again and\n"
     "            printed with the code the log recorded; a difference is flagged",
     IsServiceLogHeader, ReadServiceLog},
    {InputFormat::kIrFile, ".ir file", "--ir", "Flipper-style .ir file (raw entries)", IsIrFileLine,
     ReadIrFile},
    {InputFormat::kLircdConf, "lircd.conf", "--lircd",
     "lircd.conf (raw_codes blocks), codes named remote/button", IsLircdConfLine, ReadLircdConf},
    {InputFormat::kMode2, "mode2/ir-ctl text", "--mode2",
     "mode2 text (pulse N / space N), mode2 -m columns, ir-ctl +N -N lines", IsMode2Line,
     ReadMode2},
    {InputFormat::kPronto, "Pronto hex", "--pronto", "Pronto hex, learned form (0000 006D ...)",
     IsProntoLine, ReadPronto},
    {InputFormat::kIrmp, "IRMP samples", "--irmp", "IRMP sample lines (0 = IR, 1 = no IR)",
     IsIrmpLine, ReadIrmp},
    {InputFormat::kCorpusTsv, "corpus TSV", "--tsv",
     "recorded-corpus TSV (source, remote, button, [carrier,] durations)", nullptr, ReadCorpusTsv},
    {InputFormat::kEdges, "edge lines", "--edges",
     "one train per line: TICKS_PER_SECOND STATUS TIMESTAMP STATUS ...", nullptr, ReadEdges},
    {InputFormat::kRawLog, "raw dump log", "--raw-log",
     "firmware raw dumps (Received Raw: 9011, -4485, ...), time stamps allowed", IsRawLogLine,
     ReadRawLog},
    {InputFormat::kIrPacket, "IR blaster packet", "--packet",
     "base64 packets of Wi-Fi IR blasters (JgBQAAAB...), one per line", IsIrPacketLine,
     ReadIrPacket},
    {InputFormat::kRawArray, "rawData array", "--c-array",
     "C arrays of microseconds (uint16_t rawData[N] = {9000, 4500, ...};)", IsRawArrayLine,
     ReadRawArray},
};

}  // namespace

std::span<const FormatSpec> Formats() {
  return kFormats;
}

const FormatSpec* FindFormat(InputFormat format) {
  for (const FormatSpec& spec : kFormats) {
    if (spec.format == format) return &spec;
  }
  return nullptr;
}

std::string_view FormatName(InputFormat format) {
  const FormatSpec* spec = FindFormat(format);
  return spec != nullptr ? spec->name : "unknown";
}

InputFormat GuessFormat(std::string_view bytes, std::string_view file_name) {
  if (IsUtf16(bytes)) return InputFormat::kUnknown;
  bool ir_keys = false;
  int tsv_lines = 0;
  int numeric_lines = 0;
  int edge_lines_with_edges = 0;
  InputFormat sure = InputFormat::kUnknown;
  ForEachLine(SkipBom(bytes), [&](int, std::string_view line) {
    if (sure != InputFormat::kUnknown) return;
    const std::string_view trimmed = Trim(line);
    if (trimmed.empty()) return;
    if (trimmed.front() == '#') return;
    for (const FormatSpec& spec : kFormats) {
      if (spec.sure_sign != nullptr && spec.sure_sign(trimmed)) {
        sure = spec.format;
        return;
      }
    }
    const std::vector<std::string_view> tokens = SplitWhitespace(trimmed);
    if (IsTsvLine(line)) {
      ++tsv_lines;
    } else if (IsColumnLine(tokens)) {
      ++numeric_lines;
      PulseTrain train;
      std::string error;
      if (ParseEdgeLine(trimmed, train, error) && train.LastEdgeIndex >= 0) {
        ++edge_lines_with_edges;
      }
    } else if (text::StartsWith(trimmed, "name:") || text::StartsWith(trimmed, "data:")) {
      ir_keys = true;
    }
  });
  if (sure != InputFormat::kUnknown) return sure;
  if (ir_keys) return InputFormat::kIrFile;
  if (tsv_lines > 0 && numeric_lines == 0) return InputFormat::kCorpusTsv;
  // Edge lines have a shape columns of durations hardly ever take (an odd count, and
  // increasing timestamps in every second place); a few bad lines do not hide it.
  if (edge_lines_with_edges > 0 && 2 * edge_lines_with_edges >= numeric_lines) {
    return InputFormat::kEdges;
  }
  if (numeric_lines > 0 && tsv_lines == 0) return InputFormat::kMode2;  // mode2 -m columns
  return GuessFromFileName(file_name);
}

ParsedInput ReadInput(std::string_view bytes, InputFormat format, const ReadOptions& options) {
  ParsedInput out;
  if (IsUtf16(bytes)) {
    out.errors.push_back({0, "the text is UTF-16; save it as ANSI or UTF-8 text"});
    return out;
  }
  const std::string_view body = SkipBom(bytes);
  if (body.find_first_not_of(" \t\r\n") == std::string_view::npos) {
    out.errors.push_back({0, "the input is empty"});
    return out;
  }
  if (format == InputFormat::kUnknown) format = GuessFormat(body, options.file_name);
  if (format == InputFormat::kUnknown) {
    std::string tried;
    for (const FormatSpec& spec : kFormats) {
      if (!tried.empty()) tried += ", ";
      tried += spec.name;
    }
    out.errors.push_back({0, "cannot tell the format; tried " + tried});
    return out;
  }
  // Every format but kUnknown has its reader in the table.
  out = FindFormat(format)->read(body, options);
  out.format = format;
  return out;
}

bool ParseEdgeLine(std::string_view line, PulseTrain& train, std::string& error) {
  train.LastEdgeIndex = -1;
  const std::vector<std::string_view> tokens = SplitWhitespace(line);
  if (tokens.empty()) {
    error = "empty line, expected TICKS_PER_SECOND STATUS TIMESTAMP ...";
    return false;
  }
  double ticks_per_second = 0.0;
  if (!ParseFinite(tokens[0], ticks_per_second)) {
    error = "tick rate " + Quoted(tokens[0]) + " is not a number";
    return false;
  }
  if (!(ticks_per_second > 0.0)) {
    error = "tick rate " + Quoted(tokens[0]) + " is not positive";
    return false;
  }
  if (tokens.size() % 2 == 0) {
    error = "the last edge has a status but no timestamp";
    return false;
  }
  const size_t edges = (tokens.size() - 1) / 2;
  if (edges > static_cast<size_t>(kEdgeCapacity)) {
    error =
        std::to_string(edges) + " edges, a train holds at most " + std::to_string(kEdgeCapacity);
    return false;
  }
  for (size_t e = 0; e < edges; ++e) {
    uint32_t status = 0;
    int64_t timestamp = 0;
    const std::string_view status_token = tokens[1 + 2 * e];
    const std::string_view time_token = tokens[2 + 2 * e];
    if (!ParseNumber(status_token, status)) {
      error = "edge " + std::to_string(e) + ": status " + Quoted(status_token) +
              " is not a number from 0 to 4294967295";
      return false;
    }
    if (!ParseNumber(time_token, timestamp)) {
      error = "edge " + std::to_string(e) + ": timestamp " + Quoted(time_token) +
              " is not a whole number of ticks";
      return false;
    }
    if (timestamp < 0) {
      error = "edge " + std::to_string(e) + ": timestamp is negative";
      return false;
    }
    if (e > 0 && timestamp <= train.Edges[e - 1].Timestamp) {
      error = "edge " + std::to_string(e) + ": timestamp does not increase";
      return false;
    }
    if (e > 0) {
      const double interval_us =
          static_cast<double>(timestamp - train.Edges[e - 1].Timestamp) / ticks_per_second * 1e6;
      if (!text::CheckDuration(interval_us, error)) {
        error = "edge " + std::to_string(e) + ": " + error;
        return false;
      }
    }
    train.Edges[e] = {status, timestamp};
  }
  train.TicksPerSecond = ticks_per_second;
  train.LastEdgeIndex = static_cast<int32_t>(edges) - 1;
  return true;
}

ParsedInput ReadEdges(std::string_view body, const ReadOptions& /*options*/) {
  ParsedInput out;
  ForEachLine(body, [&](int number, std::string_view line) {
    const std::string_view trimmed = Trim(line);
    if (trimmed.empty() || trimmed.front() == '#') return;  // blank lines and comments
    CapturedTrain captured{"line " + std::to_string(number), number, {}, std::nullopt};
    std::string error;
    if (!ParseEdgeLine(trimmed, captured.train, error)) {
      out.errors.push_back({number, error});
      return;
    }
    out.trains.push_back(std::move(captured));
  });
  return out;
}

bool ParseDurations(std::string_view line, std::vector<double>& durations_us, std::string& error) {
  durations_us.clear();
  for (std::string_view token : SplitWhitespace(line)) {
    double d = 0.0;
    if (!text::ParseDuration(token, d, error)) return false;
    durations_us.push_back(d);
  }
  if (durations_us.empty()) {
    error = "no durations";
    return false;
  }
  return true;
}

std::vector<Recording> ParseIrFile(std::string_view body, std::vector<InputError>& errors,
                                   int* skipped) {
  std::vector<Recording> recordings;
  std::string name;
  std::string type;
  ForEachLine(body, [&](int number, std::string_view line) {
    line = Trim(line);
    if (line.empty() || line.front() == '#') return;
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) return;
    const std::string_view key = Trim(line.substr(0, colon));
    const std::string_view value = Trim(line.substr(colon + 1));
    if (key == "name") {
      name = std::string(value);
      type.clear();
    } else if (key == "type") {
      type = std::string(value);
      if (type == "parsed" && skipped != nullptr) ++*skipped;
    } else if (key == "data" && type == "raw") {
      Recording recording{name.empty() ? "line " + std::to_string(number) : name, {}, number};
      std::string error;
      if (!ParseDurations(value, recording.durations_us, error)) {
        errors.push_back({number, "data: " + error});
        return;
      }
      if (recording.durations_us.size() % 2 == 0) recording.durations_us.pop_back();
      recordings.push_back(std::move(recording));
    }
  });
  return recordings;
}

ParsedInput ReadIrFile(std::string_view body, const ReadOptions& /*options*/) {
  ParsedInput out;
  out.recordings = ParseIrFile(body, out.errors, &out.skipped_entries);
  return out;
}

ParsedInput ReadCorpusTsv(std::string_view body, const ReadOptions& /*options*/) {
  ParsedInput out;
  out.recordings = ParseCorpusTsv(body, out.errors);
  return out;
}

std::vector<Recording> ParseCorpusTsv(std::string_view body, std::vector<InputError>& errors) {
  std::vector<Recording> recordings;
  ForEachLine(body, [&](int number, std::string_view line) {
    if (Trim(line).empty() || line.front() == '#') return;
    std::vector<std::string_view> columns;
    size_t start = 0;
    for (;;) {
      const size_t tab = line.find('\t', start);
      columns.push_back(line.substr(start, tab - start));
      if (tab == std::string_view::npos) break;
      start = tab + 1;
    }
    if (columns.size() < 4) {
      errors.push_back({number, "expected source, remote, button, [carrier,] durations"});
      return;
    }
    Recording recording{std::string(columns[1]) + "\t" + std::string(columns[2]), {}, number};
    std::string error;
    if (!ParseDurations(columns.back(), recording.durations_us, error)) {
      errors.push_back({number, error});
      return;
    }
    recordings.push_back(std::move(recording));
  });
  return recordings;
}

}  // namespace sfh56::tools
