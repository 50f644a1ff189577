// Pronto hex codes (learned form) and IRMP's sample lines.

#include <cctype>

#include "tools/ir_input_internal.h"

namespace sfh56::tools {
namespace {

using text::SplitWhitespace;
using text::Trim;

bool IsHexWord(std::string_view token) {
  if (token.size() != 4) return false;
  for (char c : token) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

unsigned HexWord(std::string_view token) {
  unsigned value = 0;
  std::from_chars(token.data(), token.data() + token.size(), value, 16);
  return value;
}

// A Pronto line: an optional "name:" and then hex words.
struct ProntoLine {
  std::string name;
  std::vector<std::string_view> words;
  bool only_words = false;  // nothing but hex words
};

ProntoLine SplitProntoLine(std::string_view line) {
  ProntoLine split;
  const size_t colon = line.find(':');
  std::string_view rest = line;
  if (colon != std::string_view::npos) {
    split.name = std::string(Trim(line.substr(0, colon)));
    rest = line.substr(colon + 1);
  }
  const std::vector<std::string_view> tokens = SplitWhitespace(rest);
  size_t first = 0;
  while (first < tokens.size() && !IsHexWord(tokens[first])) ++first;
  if (colon == std::string_view::npos && first > 0 && first < tokens.size()) {
    // A name before the words, without a colon.
    const std::string_view head = rest.substr(0, tokens[first].data() - rest.data());
    split.name = std::string(Trim(head));
  }
  size_t i = first;
  while (i < tokens.size() && IsHexWord(tokens[i])) split.words.push_back(tokens[i++]);
  split.only_words =
      first == 0 && colon == std::string_view::npos && i == tokens.size() && !tokens.empty();
  if (i < tokens.size()) split.words.clear();  // text after the words: not a code line
  return split;
}

size_t AnnouncedWords(const std::vector<std::string_view>& words) {
  return 4 + 2 * (static_cast<size_t>(HexWord(words[2])) + HexWord(words[3]));
}

// One period of the carrier in microseconds, for the frequency word of a learned code.
constexpr double kProntoClockUs = 0.241246;

void AddProntoCode(int line, const std::string& name, const std::vector<std::string_view>& words,
                   ParsedInput& out) {
  if (words.size() != AnnouncedWords(words)) {
    out.errors.push_back({line, "the header announces " + std::to_string(AnnouncedWords(words)) +
                                    " words, the code has " + std::to_string(words.size())});
    return;
  }
  if (words[0] != "0000") {
    out.errors.push_back({line, "Pronto form " + std::string(words[0]) +
                                    " is not supported; only learned codes (0000) hold durations"});
    return;
  }
  const unsigned frequency_word = HexWord(words[1]);
  if (frequency_word == 0) {
    out.errors.push_back({line, "the frequency word is 0000"});
    return;
  }
  if (words.size() == 4) {
    out.errors.push_back({line, "the code holds no durations"});
    return;
  }
  const double unit_us = frequency_word * kProntoClockUs;
  Recording recording{name.empty() ? "line " + std::to_string(line) : name, {}, line};
  // The once part, then the repeat part once: what one short press sends.
  for (size_t i = 4; i < words.size(); ++i) {
    const double us = HexWord(words[i]) * unit_us;
    std::string error;
    if (!text::CheckDuration(us, error)) {
      out.errors.push_back({line, "word " + std::to_string(i + 1) + ": " + error});
      return;
    }
    recording.durations_us.push_back(us);
  }
  recording.durations_us.pop_back();  // the gap after the last burst
  out.recordings.push_back(std::move(recording));
}

bool IsIrmpSamples(std::string_view s) {
  return !s.empty() && s.find_first_not_of("01") == std::string_view::npos;
}

}  // namespace

bool IsProntoLine(std::string_view line) {
  const ProntoLine split = SplitProntoLine(line);
  if (split.words.size() < 4) return false;
  return split.words[0] == "0000" || split.words[0] == "0100" ||
         split.words.size() == AnnouncedWords(split.words);
}

ParsedInput ReadPronto(std::string_view body, const ReadOptions& /*options*/) {
  ParsedInput out;
  std::string pending_name;             // a line of text before a code names it
  std::vector<std::string_view> words;  // of a code that continues on the next line
  std::string code_name;
  int code_line = 0;
  auto flush_incomplete = [&] {
    if (!words.empty()) {
      out.errors.push_back(
          {code_line, "the code ends after " + std::to_string(words.size()) + " words"});
    }
    words.clear();
  };
  text::ForEachLine(body, [&](int number, std::string_view line) {
    const std::string_view trimmed = Trim(line);
    if (trimmed.empty() || trimmed.front() == '#') return;
    const ProntoLine split = SplitProntoLine(trimmed);
    if (!words.empty() && split.only_words) {
      words.insert(words.end(), split.words.begin(), split.words.end());
    } else {
      flush_incomplete();
      if (split.words.empty()) {
        pending_name = std::string(trimmed);
        if (pending_name.back() == ':') pending_name.pop_back();
        return;
      }
      words = split.words;
      code_line = number;
      code_name = split.name.empty() ? pending_name : split.name;
      pending_name.clear();
    }
    if (words.size() >= 4 && words.size() >= AnnouncedWords(words)) {
      AddProntoCode(code_line, code_name, words, out);
      words.clear();
    }
  });
  flush_incomplete();
  return out;
}

bool IsIrmpLine(std::string_view line) {
  return line.size() >= 10 && IsIrmpSamples(line);
}

double SampleRateFromFileName(std::string_view file_name) {
  const size_t slash = file_name.find_last_of("/\\");
  if (slash != std::string_view::npos) file_name.remove_prefix(slash + 1);
  std::string lower(file_name);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const size_t khz = lower.find("khz");
  if (khz == std::string::npos) return 0.0;
  size_t start = khz;
  while (start > 0 && std::isdigit(static_cast<unsigned char>(lower[start - 1]))) --start;
  unsigned value = 0;
  if (start == khz ||
      !text::ParseNumber(std::string_view(lower).substr(start, khz - start), value) || value == 0 ||
      value > 1000) {
    return 0.0;
  }
  return value * 1000.0;
}

// One capture per line: one character per sample, 0 while IR is received (a mark), 1
// while not. A comment line ("# Power") names the captures after it.
ParsedInput ReadIrmp(std::string_view body, const ReadOptions& options) {
  ParsedInput out;
  double sample_rate_hz = options.irmp_sample_rate_hz;
  if (sample_rate_hz == 0.0) sample_rate_hz = SampleRateFromFileName(options.file_name);
  if (sample_rate_hz == 0.0) sample_rate_hz = 10000.0;
  out.irmp_sample_rate_hz = sample_rate_hz;
  if (!(sample_rate_hz > 0.0)) {
    out.errors.push_back({0, "the sample rate is not positive"});
    return out;
  }
  const double period_us = 1e6 / sample_rate_hz;
  std::string name;
  text::ForEachLine(body, [&](int number, std::string_view line) {
    const std::string_view trimmed = Trim(line);
    if (trimmed.empty()) return;
    const size_t hash = trimmed.find('#');
    if (hash != std::string_view::npos) {
      name = std::string(Trim(trimmed.substr(hash + 1)));
      return;
    }
    if (!IsIrmpSamples(trimmed)) {
      out.errors.push_back({number, "expected samples: 0 (IR received) and 1 (no IR)"});
      return;
    }
    const size_t first = trimmed.find('0');
    if (first == std::string_view::npos) {
      out.errors.push_back({number, "no IR in the capture (only 1 samples)"});
      return;
    }
    const size_t last = trimmed.rfind('0');  // the idle samples after the last mark go
    Recording recording{name.empty() ? "line " + std::to_string(number) : name, {}, number};
    size_t run_start = first;
    for (size_t i = first + 1; i <= last + 1; ++i) {
      if (i == last + 1 || trimmed[i] != trimmed[run_start]) {
        const double us = static_cast<double>(i - run_start) * period_us;
        std::string error;
        if (!text::CheckDuration(us, error)) {
          out.errors.push_back({number, error});
          return;
        }
        recording.durations_us.push_back(us);
        run_start = i;
      }
    }
    out.recordings.push_back(std::move(recording));
  });
  return out;
}

}  // namespace sfh56::tools
