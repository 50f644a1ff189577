#include "daemon/linux/run_loop.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "daemon/linux/event_queue.h"
#include "daemon/linux/lircd_socket.h"
#include "daemon/linux/stop_event.h"

namespace sfh56::daemon {
namespace {

sigset_t DaemonSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGHUP);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

// The source's thread: reads, and after a device went away opens it again every
// kReopenSeconds until it is back or the daemon stops.
class SourceThread {
 public:
  SourceThread(Source& source, EventQueue& queue) : source_(source), queue_(queue) {
    thread_ = std::thread([this] { Body(); });
  }
  ~SourceThread() { Stop(); }

  void Stop() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    queue_.Close();
    // A stop can reach the source just before it blocks again: repeat it until the
    // thread has ended.
    while (!ended_.load()) {
      source_.Stop();
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (thread_.joinable()) thread_.join();
  }

 private:
  bool Stopping() {
    std::lock_guard lock(mutex_);
    return stopping_;
  }

  void Body() {
    std::string error;
    while (!Stopping()) {
      const Source::End end = source_.Run(queue_, error);
      // A source that ended while it held a stamped change never pushes it: the line's
      // silence counts again, or a train in progress would not end while the device is away.
      queue_.NoChangeBefore(kNoChangeYet);
      if (end != Source::End::kLost) break;
      std::fprintf(stderr, "sfh56d: %s: %s; trying again every %d s\n", source_.Name().c_str(),
                   error.c_str(), kReopenSeconds);
      for (;;) {
        std::unique_lock lock(mutex_);
        if (wake_.wait_for(lock, std::chrono::seconds(kReopenSeconds), [&] { return stopping_; })) {
          break;
        }
        lock.unlock();
        if (source_.Open(error)) {
          std::fprintf(stderr, "sfh56d: %s: open again\n", source_.Name().c_str());
          break;
        }
      }
    }
    queue_.SourceEnded();
    ended_.store(true);
  }

  Source& source_;
  EventQueue& queue_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::atomic<bool> ended_{false};
  std::thread thread_;
};

}  // namespace

void BlockDaemonSignals() {
  const sigset_t set = DaemonSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

int RunDaemon(Source& source, TrainInput& input, const RunHooks& hooks) {
  const sigset_t signals = DaemonSignals();
  const int signal_fd = signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
  if (signal_fd < 0) {
    std::fprintf(stderr, "sfh56d: signalfd: %s\n", std::strerror(errno));
    return 1;
  }
  EventQueue queue;
  SourceThread reader(source, queue);
  const bool own_clock = source.OwnClock();
  bool ended = false;
  bool stop = false;
  bool failed = false;
  std::vector<pollfd> fds;
  while (!ended && !stop) {
    fds.clear();
    fds.push_back({queue.Fd(), POLLIN, 0});
    fds.push_back({signal_fd, POLLIN, 0});
    if (hooks.socket != nullptr) hooks.socket->AddPollFds(fds);

    // Sleep until something arrives, or until the line's silence ends a train; while
    // the line idles there is no time limit at all.
    timespec timeout{};
    const timespec* limit = nullptr;
    if (const auto deadline = input.Deadline(); deadline && !own_clock) {
      const int64_t wait_ns = std::max<int64_t>(0, *deadline - MonotonicNs());
      timeout = {static_cast<time_t>(wait_ns / 1000000000),
                 static_cast<long>(wait_ns % 1000000000)};
      limit = &timeout;
    }
    if (ppoll(fds.data(), fds.size(), limit, nullptr) < 0 && errno != EINTR) {
      std::fprintf(stderr, "sfh56d: poll: %s\n", std::strerror(errno));
      failed = true;
      break;
    }
    // The clock, then what the source holds, then the queue: every change stamped up to
    // now is then in the queue or not yet stamped (and later than now), unless the source
    // said it holds one.
    const int64_t now_ns = MonotonicNs();
    const int64_t held_from_ns = queue.NoChangeBeforeNs();
    const int64_t quiet_until_ns =
        std::min(now_ns, held_from_ns == kChangeInHand ? held_from_ns : held_from_ns - 1);
    // Drained whatever poll said: changes may have come since it returned.
    ended = queue.DrainInto(input);
    if (!own_clock) input.Quiet(quiet_until_ns);
    if (fds[1].revents != 0) {
      signalfd_siginfo info{};
      while (read(signal_fd, &info, sizeof info) == sizeof info) {
        if (info.ssi_signo != SIGHUP) {
          stop = true;
        } else if (hooks.reload) {
          std::string error;
          if (!hooks.reload(error)) {
            std::fprintf(stderr, "sfh56d: reload: %s; the old code map stays\n", error.c_str());
          }
        }
      }
    }
    if (hooks.socket != nullptr) hooks.socket->HandlePoll(fds);
    if (hooks.done && hooks.done()) break;
  }
  if (hooks.stopped_by_signal != nullptr) *hooks.stopped_by_signal = stop;
  // Stop: every change the source sent goes through, a train in progress is ended and
  // decoded, then the outputs are closed.
  reader.Stop();
  queue.DrainInto(input);
  input.Flush();
  if (hooks.socket != nullptr) hooks.socket->Close();
  close(signal_fd);
  return failed ? 1 : 0;
}

}  // namespace sfh56::daemon
