#include "tools/sfh56d/replay_source.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "tools/ir_input.h"

namespace sfh56::daemon {
ReplaySource::ReplaySource(std::string path, bool fast) : path_(std::move(path)), fast_(fast) {}

ReplaySource::~ReplaySource() = default;

bool ReplaySource::Open(std::string& error) {
  stop_.Clear();  // a stop ended the last run, not this one
  if (path_ == "-") return true;
  const int fd = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = path_ + ": " + std::strerror(errno);
    return false;
  }
  close(fd);
  return true;
}

bool ReplaySource::WaitUntil(int64_t at_ns) {
  for (;;) {
    const int64_t left_ns = std::max<int64_t>(0, at_ns - MonotonicNs());
    const timespec left{static_cast<time_t>(left_ns / 1000000000),
                        static_cast<long>(left_ns % 1000000000)};
    pollfd stop{stop_.fd(), POLLIN, 0};
    if (ppoll(&stop, 1, &left, nullptr) > 0) return false;
    if (left_ns == 0) return true;
  }
}

bool ReplaySource::ReadAll(std::string& bytes) {
  const int fd = path_ == "-" ? 0 : open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return true;  // gone since Open: nothing to replay
  bool stopped = false;
  char buffer[65536];
  for (;;) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {stop_.fd(), POLLIN, 0}};
    if (poll(fds, 2, -1) < 0 && errno != EINTR) break;
    if (fds[1].revents != 0) {
      stopped = true;
      break;
    }
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    bytes.append(buffer, static_cast<size_t>(n));
  }
  if (fd != 0) close(fd);
  return !stopped;
}

void ReplaySource::Stop() {
  stop_.Signal();
}

Source::End ReplaySource::Run(PulseSink& sink, std::string&) {
  std::string bytes;
  if (!ReadAll(bytes)) return End::kStopped;
  tools::ReadOptions read_options;
  if (path_ != "-") read_options.file_name = path_;
  const tools::ParsedInput input =
      tools::ReadInput(bytes, tools::InputFormat::kUnknown, read_options);
  for (const tools::InputError& problem : input.errors) {
    std::fprintf(stderr, "sfh56d: %s:%d: %s\n", path_.c_str(), problem.line,
                 problem.message.c_str());
  }
  if (input.format == tools::InputFormat::kUnknown ||
      (input.recordings.empty() && input.trains.empty())) {
    std::fprintf(stderr, "sfh56d: %s: nothing to replay\n", path_.c_str());
    failed_ = true;
    return End::kFinished;
  }

  for (const tools::CapturedTrain& captured : input.trains) sink.Captured(captured.train);

  // Times as the tools replay them: microseconds from the recording's start, rounded.
  const int64_t origin_ns = fast_ ? 0 : MonotonicNs() + kReplayPauseNs;
  int64_t start_ns = 0;
  for (const tools::Recording& recording : input.recordings) {
    double time_us = 0.0;
    for (size_t i = 0; i <= recording.durations_us.size(); ++i) {
      const int64_t at_ns = origin_ns + start_ns + std::llround(time_us) * kNsPerUs;
      sink.NoChangeBefore(at_ns);
      if (!fast_ && !WaitUntil(at_ns)) return End::kStopped;
      sink.Edge(i % 2 == 0, at_ns);
      if (i < recording.durations_us.size()) time_us += recording.durations_us[i];
    }
    start_ns += std::llround(time_us) * kNsPerUs + kReplayPauseNs;
    if (fast_) sink.Quiet(origin_ns + start_ns);
  }
  sink.NoChangeBefore(kNoChangeYet);
  if (!fast_ && !WaitUntil(origin_ns + start_ns)) return End::kStopped;
  return End::kFinished;
}

}  // namespace sfh56::daemon
