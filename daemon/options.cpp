#include "daemon/options.h"

#include <CLI/CLI.hpp>
#include <ostream>

namespace sfh56::daemon {

std::optional<SourceSpec> ParseSource(std::string_view text, std::string& error) {
  SourceSpec spec;
  const size_t colon = text.find(':');
  const std::string_view scheme = text.substr(0, colon);
  std::string_view rest =
      colon == std::string_view::npos ? std::string_view{} : text.substr(colon + 1);
  if (scheme == "lirc") {
    spec.kind = SourceKind::kLirc;
  } else if (scheme == "serial") {
    spec.kind = SourceKind::kSerial;
    if (const size_t query = rest.find('?'); query != std::string_view::npos) {
      const std::string_view pin = rest.substr(query + 1);
      rest = rest.substr(0, query);
      if (pin == "pin=dsr") {
        spec.pin = SerialPin::kDsr;
      } else if (pin == "pin=cts") {
        spec.pin = SerialPin::kCts;
      } else if (pin == "pin=dcd") {
        spec.pin = SerialPin::kDcd;
      } else {
        error = "source \"" + std::string(text) + "\": the pin is pin=dsr, pin=cts or pin=dcd";
        return std::nullopt;
      }
    }
  } else if (scheme == "replay") {
    spec.kind = SourceKind::kReplay;
  } else {
    error = "source \"" + std::string(text) +
            "\": expected lirc:/dev/lircN, serial:/dev/ttySN[?pin=dsr|cts|dcd] or replay:FILE";
    return std::nullopt;
  }
  if (rest.empty()) {
    error = "source \"" + std::string(text) + "\" names no device or file";
    return std::nullopt;
  }
  spec.path = std::string(rest);
  return spec;
}

std::variant<DaemonOptions, int> ParseOptions(int argc, const char* const* argv, std::ostream& out,
                                              std::ostream& err) {
  DaemonOptions options;
  std::string source;
  CLI::App app{
      "sfh56d: decodes any infrared remote from a kernel IR device, a receiver on a "
      "serial port's modem pin, or a recording, and hands the codes to standard "
      "output and IR-daemon socket clients.",
      "sfh56d"};
  app.set_config("--config", "", "Read options from FILE (lines NAME = VALUE, the option names)")
      ->check(CLI::ExistingFile);
  app.add_option("--source", source,
                 "lirc:/dev/lircN | serial:/dev/ttySN[?pin=dsr|cts|dcd] | replay:FILE | replay:-")
      ->required();
  app.add_flag("--fast", options.fast, "Replay as fast as possible instead of in real time");
  app.add_option("--command-order", options.command_order,
                 "0 decodes every train; N only the N-th train of each burst")
      ->check(CLI::Range(0, 99));
  app.add_option("--bitmask", options.bit_mask,
                 "Keep only the last N bits of a code (0 keeps all; default 16)")
      ->check(CLI::Range(0, 99));
  std::string decoder = "stable";
  app.add_option("--decoder", decoder,
                 "stable (default): one code per button under timing noise; classic: the "
                 "plugin's codes when its \"stable codes\" box is clear")
      ->check(CLI::IsMember({"stable", "classic"}));
  app.add_option("--service-log", options.service_log,
                 "Append every decoded train with its edge times to FILE (irdecode reads it)");
  app.add_option("--codes", options.codes, "Code map: lines CODE NAME [REMOTE]")
      ->check(CLI::ExistingFile);
  app.add_option("--lircd-socket", options.lircd_socket,
                 "Serve IR-daemon socket clients (irw, irexec) on this Unix socket");
  app.add_flag("--quiet", options.quiet, "No code lines on standard output");
  app.add_option("--mqtt", options.mqtt.url,
                 "Publish every code to this MQTT broker: mqtt://[USER@]HOST[:PORT] or mqtts://");
  app.add_option("--mqtt-ca", options.mqtt.ca_file,
                 "With mqtts://: the certificate authority of the broker (else the system's)");
  app.add_option("--mqtt-password-file", options.mqtt.password_file,
                 "The broker password, on the first line of FILE");
  app.add_option("--mqtt-prefix", options.mqtt.topic_prefix,
                 "First level of the topics (default sfh56)");
  app.add_option("--device-id", options.mqtt.device_id,
                 "Second level of the topics and the hub's device (default: the host name)");
  app.add_option("--discovery-prefix", options.mqtt.discovery_prefix,
                 "Where the home-automation hub looks for triggers (default homeassistant)");
  app.add_flag("--no-discovery", options.mqtt.no_discovery, "Publish no button triggers");
  CLI::App* learn = app.add_subcommand(
      "learn", "Ask for button names, press each button until its code is sure, write a code map");
  learn->add_option("FILE", options.learn_file, "The code map to write")->required();
  learn->fallthrough();

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e, out, err);  // --help
    err << "sfh56d: " << e.what() << " (sfh56d --help lists the options)\n";
    return 2;
  }
  options.stable_codes = decoder == "stable";
  std::string error;
  auto spec = ParseSource(source, error);
  if (!spec) {
    err << "sfh56d: " << error << "\n";
    return 2;
  }
  options.source = std::move(*spec);
  options.learn = learn->parsed();
  return options;
}

}  // namespace sfh56::daemon
