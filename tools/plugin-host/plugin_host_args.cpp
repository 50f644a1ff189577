#include "tools/plugin-host/plugin_host_args.h"

#include <charconv>

namespace sfh56::tools {
namespace {

// Whole decimal numbers in [0, limit] only; "5s", "-1" and "" are refused.
std::optional<int> ParseCount(const std::string& text, int limit) {
  int value = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end || value < 0 || value > limit) {
    return std::nullopt;
  }
  return value;
}

constexpr int kMaxSeconds = 24 * 60 * 60;
constexpr int kMaxEvents = 1000000;

}  // namespace

ParsedArgs ParseHostArgs(const std::vector<std::string>& words) {
  HostArgs args;
  bool level_given = false;
  bool support_given = false;
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= words.size()) return false;
      *out = words[++i];
      return true;
    };
    std::string text;
    if (word == "--help" || word == "-h") {
      args.help = true;
    } else if (word == "--host") {
      if (!value(&text)) return {std::nullopt, "--host needs new or old"};
      if (text == "new") {
        args.generation = HostGeneration::kNewer;
      } else if (text == "old") {
        args.generation = HostGeneration::kOlder;
      } else {
        return {std::nullopt, "--host must be new or old, not '" + text + "'"};
      }
    } else if (word == "--seconds") {
      if (!value(&text)) return {std::nullopt, "--seconds needs a number"};
      args.seconds = ParseCount(text, kMaxSeconds);
      if (!args.seconds) return {std::nullopt, "--seconds needs a whole number of seconds"};
    } else if (word == "--events") {
      if (!value(&text)) return {std::nullopt, "--events needs a number"};
      args.max_events = ParseCount(text, kMaxEvents);
      if (!args.max_events) return {std::nullopt, "--events needs a whole number"};
    } else if (word == "--old-level") {
      if (!value(&text)) return {std::nullopt, "--old-level needs 0 or 1"};
      auto level = ParseCount(text, 1);
      if (!level) return {std::nullopt, "--old-level must be 0 or 1, not '" + text + "'"};
      args.old_level = *level;
      level_given = true;
    } else if (word == "--version-call") {
      ++args.support_calls;
      support_given = true;
    } else if (word == "--answer-boxes") {
      if (!value(&text)) return {std::nullopt, "--answer-boxes needs a button name"};
      static const char* const kButtons[] = {"ok",    "cancel", "yes",   "no",
                                             "retry", "abort",  "ignore"};
      bool known = false;
      for (const char* button : kButtons) known = known || text == button;
      if (!known) return {std::nullopt, "--answer-boxes: no button '" + text + "'"};
      args.answer_boxes = text;
    } else if (word == "--translate") {
      args.translate = true;
    } else if (word == "--config") {
      args.configure = true;
    } else if (word == "--config-running") {
      args.configure_running = true;
    } else if (word == "--verbose") {
      args.verbose = true;
    } else if (word.size() > 1 && word[0] == '-') {
      return {std::nullopt, "unknown option '" + word + "'"};
    } else if (!args.plugin_path.empty()) {
      return {std::nullopt, "only one plugin may be given"};
    } else {
      args.plugin_path = word;
    }
  }
  if (args.help) return {args, ""};
  if (args.plugin_path.empty()) return {std::nullopt, "no plugin given"};
  if ((level_given || support_given) && args.generation != HostGeneration::kOlder) {
    return {std::nullopt, "--old-level and --version-call need --host old"};
  }
  return {args, ""};
}

std::string HostUsage() {
  return "usage: plugin-host [--host new|old] [--seconds N] [--events N] [--old-level 0|1]\n"
         "                   [--version-call]... [--translate] [--config] [--config-running]\n"
         "                   [--answer-boxes BUTTON] [--verbose] PLUGIN.dll\n"
         "  --host new|old    host generation to play (default new)\n"
         "  --seconds N       listen N seconds (default: until standard input ends)\n"
         "  --events N        stop listening once N events have arrived\n"
         "  --old-level 0|1   older host: 1 creates the shared memory and semaphore first\n"
         "  --version-call    older host: call h_support_functions (repeat to call again)\n"
         "  --translate       offer a translation function that prefixes \"[tr] \"\n"
         "  --config          call the configuration entry point before starting\n"
         "  --config-running  call it (again) right after starting, while capture runs\n"
         "  --answer-boxes B  press button B (ok, cancel, yes, no, retry, abort, ignore) on\n"
         "                    every message box or dialog the plugin shows\n"
         "  --verbose         also print the results of the other host calls, and how each\n"
         "                    event arrived (via function, copydata, shared, registered)\n";
}

std::string PrintableText(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    if (c == '\n' || c == '\r') {
      out += ' ';
    } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      out += '?';
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace sfh56::tools
