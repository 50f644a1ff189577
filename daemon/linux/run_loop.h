#pragma once
// The daemon's run: the source read on a thread of its own (reopened every few seconds
// when its device goes away), its changes carried to this thread, where the trains end on
// time, the socket's clients are served and the signals are taken: SIGHUP reloads the
// code map, SIGTERM and SIGINT end the run after the last decoded code went out.

#include <functional>
#include <string>

#include "daemon/pulse_sink.h"
#include "daemon/source.h"

namespace sfh56::daemon {

class LircdSocket;

struct RunHooks {
  // SIGHUP: read the code map again; false with a one-line reason (the old map stays).
  std::function<bool(std::string& error)> reload;
  LircdSocket* socket = nullptr;
  // Checked after every round: true ends the run as a stop signal would (learn).
  std::function<bool()> done;
  // Set when a stop signal ended the run.
  bool* stopped_by_signal = nullptr;
};

inline constexpr int kReopenSeconds = 2;

// Blocks SIGHUP, SIGINT and SIGTERM for the calling thread and the threads it starts;
// call first in main, before any thread exists.
void BlockDaemonSignals();

// Runs an opened source until its input ends (a replay), a stop signal comes or
// hooks.done holds. Returns the exit status. The source may be opened and run again.
int RunDaemon(Source& source, TrainInput& input, const RunHooks& hooks);

}  // namespace sfh56::daemon
