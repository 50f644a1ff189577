// sfh56d: the receiver's decoder as a Linux daemon. Reads one source (a kernel IR
// device, the receiver circuit on a serial port's modem pin, or a recording), decodes
// every train as the plugin does, and hands each code to standard output and to
// IR-daemon socket clients.

#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>

#include "daemon/code_map.h"
#include "daemon/code_output.h"
#include "daemon/code_router.h"
#include "daemon/linux/lirc_source.h"
#include "daemon/linux/lircd_socket.h"
#include "daemon/linux/mqtt_output.h"
#include "daemon/linux/run_loop.h"
#include "daemon/linux/serial_source.h"
#include "daemon/options.h"
#include "daemon/pipeline_input.h"
#include "daemon/service_log_file.h"
#include "tools/sfh56d/learn.h"
#include "tools/sfh56d/replay_source.h"

namespace {

using namespace sfh56::daemon;

int Fail(const std::string& message) {
  std::fprintf(stderr, "sfh56d: %s\n", message.c_str());
  return 1;
}

std::unique_ptr<Source> MakeSource(const DaemonOptions& options) {
  switch (options.source.kind) {
    case SourceKind::kLirc:
      return std::make_unique<LircSource>(options.source.path);
    case SourceKind::kSerial:
      return std::make_unique<SerialSource>(options.source.path, options.source.pin);
    case SourceKind::kReplay:
      break;
  }
  return std::make_unique<ReplaySource>(options.source.path, options.fast);
}

}  // namespace

int main(int argc, char** argv) {
  // Before any thread exists, so that every thread leaves these signals to the run loop.
  BlockDaemonSignals();
  auto parsed = ParseOptions(argc, argv, std::cout, std::cerr);
  if (const int* status = std::get_if<int>(&parsed)) return *status;
  const DaemonOptions options = std::get<DaemonOptions>(std::move(parsed));

  std::string error;
  CodeMap map;
  if (!options.codes.empty()) {
    auto loaded = CodeMap::Load(options.codes, error);
    if (!loaded) return Fail(error);
    map = std::move(*loaded);
  }
  std::optional<ServiceLogFile> log;
  if (!options.service_log.empty()) {
    log.emplace(options.service_log);
    if (!log->Writable()) return Fail(options.service_log + ": cannot be written");
  }
  const std::unique_ptr<Source> source = MakeSource(options);
  if (!source->Open(error)) return Fail(error);

  const PipelineSettings settings{options.command_order, options.bit_mask, options.stable_codes};
  if (options.learn) {
    return RunLearn(*source, settings, options.learn_file, std::cin, std::cout);
  }

  std::optional<MqttOutput> mqtt;
  if (!options.mqtt.url.empty()) {
    auto mqtt_settings = MakeMqttSettings(options.mqtt, error);
    if (!mqtt_settings) return Fail(error);
    mqtt.emplace(std::move(*mqtt_settings), map.Names());
  }
  CodeRouter router(std::move(map));
  StreamOutput standard_output(stdout);
  if (!options.quiet) router.AddOutput(standard_output);
  LircdSocket socket;
  RunHooks hooks;
  if (!options.lircd_socket.empty()) {
    if (!socket.Listen(options.lircd_socket, error)) return Fail(error);
    router.AddOutput(socket);
    hooks.socket = &socket;
  }
  if (mqtt) router.AddOutput(*mqtt);
  hooks.reload = [&](std::string& why) {
    if (options.codes.empty()) {
      router.Reload(CodeMap{});
      return true;
    }
    auto reloaded = CodeMap::Load(options.codes, why);
    if (!reloaded) return false;
    if (mqtt) mqtt->SetButtons(reloaded->Names());
    router.Reload(std::move(*reloaded));
    return true;
  };

  PipelineInput pipeline(settings, router, log ? &*log : nullptr);
  const int status = RunDaemon(*source, pipeline, hooks);
  const PipelineCounts& counts = pipeline.Counts();
  std::fprintf(stderr, "sfh56d: %lld trains, %lld codes", static_cast<long long>(counts.trains),
               static_cast<long long>(counts.decoded));
  if (counts.lost > 0) {
    std::fprintf(stderr, ", %lld trains dropped (changes lost)",
                 static_cast<long long>(counts.lost));
  }
  if (socket.DroppedLines() > 0) {
    std::fprintf(stderr, ", %lld socket lines dropped (clients not reading)",
                 static_cast<long long>(socket.DroppedLines()));
  }
  if (log && log->FailedRecords() > 0) {
    std::fprintf(stderr, ", %d service-log records not written", log->FailedRecords());
  }
  std::fprintf(stderr, "\n");
  if (const auto* replay = dynamic_cast<const ReplaySource*>(source.get());
      replay && replay->Failed()) {
    return 1;
  }
  return status;
}
