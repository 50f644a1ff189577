#include "daemon/linux/lirc_source.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/lirc.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace sfh56::daemon {
namespace {

constexpr size_t kSamplesPerRead = 512;

}  // namespace

LircSource::LircSource(std::string path) : path_(std::move(path)) {}

LircSource::~LircSource() {
  CloseDevice();
}

void LircSource::CloseDevice() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

bool LircSource::Open(std::string& error) {
  CloseDevice();
  stop_.Clear();  // a stop ended the last run, not this one
  // A FUSE file stands in for the device in tests: no insistence on a character device.
  fd_ = open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) {
    error = path_ + ": " + std::strerror(errno) +
            (errno == EACCES ? " (is the user in the device's group?)" : "");
    return false;
  }
  uint32_t features = 0;
  if (ioctl(fd_, LIRC_GET_FEATURES, &features) != 0) {
    error = path_ + ": not a kernel IR device (LIRC_GET_FEATURES: " + std::strerror(errno) + ")";
    CloseDevice();
    return false;
  }
  if ((features & LIRC_CAN_REC_MODE2) == 0) {
    error = path_ + ": this device cannot receive raw pulses (no mode-2 receive)";
    CloseDevice();
    return false;
  }
  uint32_t mode = LIRC_MODE_MODE2;
  if (ioctl(fd_, LIRC_SET_REC_MODE, &mode) != 0) {
    error = path_ + ": mode-2 receive refused (" + std::string(std::strerror(errno)) + ")";
    CloseDevice();
    return false;
  }
  // The time-out ends trains; a driver that allows none keeps its own (125 ms by
  // default), which only delays the codes.
  uint32_t low = 0;
  uint32_t high = 0;
  if (ioctl(fd_, LIRC_GET_MIN_TIMEOUT, &low) == 0 && ioctl(fd_, LIRC_GET_MAX_TIMEOUT, &high) == 0 &&
      low <= high) {
    uint32_t wanted = std::clamp(kWantedTimeoutUs, low, high);
    ioctl(fd_, LIRC_SET_REC_TIMEOUT, &wanted);
  }
  return true;
}

Source::End LircSource::Run(PulseSink& sink, std::string& error) {
  DurationClock clock(sink);
  if (resumed_) {
    clock.Anchor(resume_ns_ + (MonotonicNs() - lost_at_ns_));
    clock.Unanchor();
  }
  const auto lost = [&](std::string why) {
    error = std::move(why);
    CloseDevice();
    resumed_ = clock.Anchored() || resumed_;
    resume_ns_ = clock.CursorNs();
    lost_at_ns_ = MonotonicNs();
    return End::kLost;
  };
  uint32_t samples[kSamplesPerRead];
  for (;;) {
    pollfd fds[2] = {{fd_, POLLIN, 0}, {stop_.fd(), POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return lost(std::string("poll: ") + std::strerror(errno));
    }
    if (fds[1].revents != 0) {
      stop_.Clear();
      return End::kStopped;
    }
    if ((fds[0].revents & (POLLERR | POLLNVAL)) != 0) return lost("the device went away");
    // A read must ask for whole samples; the kernel returns whole samples.
    const ssize_t n = read(fd_, samples, sizeof samples);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n <= 0) return lost(n == 0 ? "the device went away" : std::strerror(errno));
    FeedSamples(samples, static_cast<size_t>(n) / sizeof samples[0], MonotonicNs(), clock, sink);
  }
}

void LircSource::Stop() {
  stop_.Signal();
}

}  // namespace sfh56::daemon

static_assert(LIRC_MODE2_PULSE >> 24 == static_cast<int>(sfh56::daemon::SampleType::kPulse));
static_assert(LIRC_MODE2_TIMEOUT >> 24 == static_cast<int>(sfh56::daemon::SampleType::kTimeout));
static_assert(LIRC_MODE2_OVERFLOW >> 24 == static_cast<int>(sfh56::daemon::SampleType::kOverflow));
static_assert(LIRC_VALUE_MASK == sfh56::daemon::kSampleValueMask);
