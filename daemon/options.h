#pragma once
// The daemon's options, from the command line and a config file of the same names.

#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "daemon/mqtt_messages.h"

namespace sfh56::daemon {

enum class SourceKind { kLirc, kSerial, kReplay };
enum class SerialPin { kDsr, kCts, kDcd };

// --source: "lirc:/dev/lircN", "serial:/dev/ttySN[?pin=dsr|cts|dcd]", "replay:FILE" or
// "replay:-" (standard input).
struct SourceSpec {
  SourceKind kind = SourceKind::kReplay;
  std::string path;
  SerialPin pin = SerialPin::kDsr;
};
std::optional<SourceSpec> ParseSource(std::string_view text, std::string& error);

struct DaemonOptions {
  SourceSpec source;
  bool fast = false;  // replay as fast as possible
  int command_order = 0;
  int bit_mask = 16;
  bool stable_codes = true;  // --decoder stable|classic
  std::string service_log;   // empty: none
  std::string codes;         // empty: no code map
  std::string lircd_socket;  // empty: no socket
  bool quiet = false;        // no lines on standard output
  mqtt::MqttOptions mqtt;    // url empty: no MQTT
  std::string learn_file;    // "learn FILE": write a code map instead of running
  bool learn = false;
};

// Parses argv (with a --config FILE, whose values the command line overrides). Returns
// the options, or the exit status once help or an error was printed to out or err.
std::variant<DaemonOptions, int> ParseOptions(int argc, const char* const* argv, std::ostream& out,
                                              std::ostream& err);

}  // namespace sfh56::daemon
