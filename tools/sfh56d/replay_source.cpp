#include "tools/sfh56d/replay_source.h"

#include <time.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

#include "tools/ir_input.h"

namespace sfh56::daemon {
namespace {

int64_t MonotonicNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

}  // namespace

bool ReplaySource::Open(std::string& error) {
  if (path_ == "-") return true;
  std::ifstream in(path_);
  if (!in) {
    error = path_ + ": cannot be read";
    return false;
  }
  return true;
}

bool ReplaySource::WaitUntil(int64_t at_ns) {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (stop_) return false;
    const int64_t left_ns = at_ns - MonotonicNs();
    if (left_ns <= 0) return true;
    wake_.wait_for(lock, std::chrono::nanoseconds(left_ns));
  }
}

void ReplaySource::Stop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
}

Source::End ReplaySource::Run(PulseSink& sink, std::string&) {
  std::ostringstream bytes;
  if (path_ == "-") {
    bytes << std::cin.rdbuf();
  } else {
    bytes << std::ifstream(path_, std::ios::binary).rdbuf();
  }
  tools::ReadOptions read_options;
  if (path_ != "-") read_options.file_name = path_;
  const tools::ParsedInput input =
      tools::ReadInput(bytes.str(), tools::InputFormat::kUnknown, read_options);
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
      if (!fast_ && !WaitUntil(at_ns)) return End::kStopped;
      sink.Edge(i % 2 == 0, at_ns);
      if (i < recording.durations_us.size()) time_us += recording.durations_us[i];
    }
    start_ns += std::llround(time_us) * kNsPerUs + kReplayPauseNs;
    if (fast_) sink.Quiet(origin_ns + start_ns);
  }
  if (!fast_ && !WaitUntil(origin_ns + start_ns)) return End::kStopped;
  return End::kFinished;
}

}  // namespace sfh56::daemon
