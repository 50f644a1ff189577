#pragma once
// Command line of the host emulator: which host generation to play, how long to listen,
// and which optional host services to offer. Pure; no Windows headers.

#include <optional>
#include <string>
#include <vector>

namespace sfh56::tools {

enum class HostGeneration { kNewer, kOlder };

struct HostArgs {
  HostGeneration generation = HostGeneration::kNewer;
  // Listening time; without it the host listens until its standard input ends.
  std::optional<int> seconds;
  // Stops listening early once this many events have arrived.
  std::optional<int> max_events;
  // Older host only: 1 creates the named mapping and semaphore before the plugin loads.
  int old_level = 0;
  // Older host only: how many times h_support_functions is called before init_device.
  int support_calls = 0;
  // Button pressed on every message box or dialog the plugin shows ("ok", "cancel", ...);
  // empty: boxes wait for a user.
  std::string answer_boxes;
  bool translate = false;
  bool configure = false;          // the configure call before the start
  bool configure_running = false;  // the configure call right after the start
  bool verbose = false;
  bool help = false;
  std::string plugin_path;
};

struct ParsedArgs {
  std::optional<HostArgs> args;  // empty when the command line is unusable
  std::string error;             // why, for the usage message
};

// Parses the arguments after the program name.
ParsedArgs ParseHostArgs(const std::vector<std::string>& words);

std::string HostUsage();

// Texts from the plugin go on one output line each: a line break becomes a space, any
// other control character a question mark.
std::string PrintableText(const std::string& text);

}  // namespace sfh56::tools
