#include "daemon/linux/stop_event.h"

#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <stdexcept>

namespace sfh56::daemon {

int64_t MonotonicNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

StopEvent::StopEvent() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (fd_ < 0) throw std::runtime_error("eventfd failed");
}

StopEvent::~StopEvent() {
  close(fd_);
}

void StopEvent::Signal() {
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = write(fd_, &one, sizeof one);
}

void StopEvent::Clear() {
  uint64_t stops = 0;
  [[maybe_unused]] const ssize_t n = read(fd_, &stops, sizeof stops);
}

}  // namespace sfh56::daemon
