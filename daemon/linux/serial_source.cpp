#include "daemon/linux/serial_source.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <linux/serial.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "daemon/linux/stop_event.h"

namespace sfh56::daemon {
namespace {

const char* PinName(SerialPin pin) {
  switch (pin) {
    case SerialPin::kCts:
      return "CTS";
    case SerialPin::kDcd:
      return "DCD";
    case SerialPin::kDsr:
      break;
  }
  return "DSR";
}

int PinBit(SerialPin pin) {
  switch (pin) {
    case SerialPin::kCts:
      return TIOCM_CTS;
    case SerialPin::kDcd:
      return TIOCM_CAR;
    case SerialPin::kDsr:
      break;
  }
  return TIOCM_DSR;
}

int PinCount(const serial_icounter_struct& counts, SerialPin pin) {
  switch (pin) {
    case SerialPin::kCts:
      return counts.cts;
    case SerialPin::kDcd:
      return counts.dcd;
    case SerialPin::kDsr:
      break;
  }
  return counts.dsr;
}

// Wakes the reading thread from TIOCMIWAIT; installed without SA_RESTART so that the
// wait returns EINTR.
void OnWake(int) {}

constexpr int kIdleCheckStepMs = 10;
constexpr int kCapturePriority = 50;

}  // namespace

SerialSource::SerialSource(std::string path, SerialPin pin)
    : path_(std::move(path)), pin_(pin), pin_bit_(PinBit(pin)) {}

SerialSource::~SerialSource() {
  CloseDevice();
}

void SerialSource::CloseDevice() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

std::string SerialSource::UsbRefusal(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  bool usb = name.rfind("ttyUSB", 0) == 0 || name.rfind("ttyACM", 0) == 0;
  char device[PATH_MAX];
  const std::string link = "/sys/class/tty/" + name + "/device";
  if (!usb && realpath(link.c_str(), device) != nullptr)
    usb = std::strstr(device, "/usb") != nullptr;
  if (!usb) return {};
  return path +
         ": a USB serial adapter reports modem-line changes at most once per USB packet, about "
         "a millisecond apart, which destroys infrared timing; use a built-in or PCI serial "
         "port, or a kernel IR receiver (lirc:)";
}

bool SerialSource::Open(std::string& error) {
  CloseDevice();
  stop_.store(false);  // a stop ended the last run, not this one
  if (error = UsbRefusal(path_); !error.empty()) return false;
  fd_ = open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) {
    error = path_ + ": " + std::strerror(errno) +
            (errno == EACCES ? " (is the user in the port's group, dialout?)" : "");
    return false;
  }
  // The receiver's supply.
  int power = TIOCM_RTS | TIOCM_DTR;
  serial_icounter_struct counts{};
  if (ioctl(fd_, TIOCMBIS, &power) != 0 || ioctl(fd_, TIOCGICOUNT, &counts) != 0) {
    error = path_ + ": not a serial port with modem lines and change counters (" +
            std::strerror(errno) + ")";
    CloseDevice();
    return false;
  }
  return CheckIdleLevel(error);
}

bool SerialSource::CheckIdleLevel(std::string& error) {
  // A working receiver holds the pin set while no infrared arrives. DCD is not checked:
  // some builds of the circuit idle there at the other level.
  if (pin_ == SerialPin::kDcd) return true;
  for (int waited_ms = 0;; waited_ms += kIdleCheckStepMs) {
    int bits = 0;
    if (ioctl(fd_, TIOCMGET, &bits) != 0) {
      error = path_ + ": the modem lines cannot be read (" + std::strerror(errno) + ")";
      CloseDevice();
      return false;
    }
    if ((bits & pin_bit_) != 0) return true;
    if (waited_ms >= kIdleCheckMs) break;
    const timespec step{0, kIdleCheckStepMs * 1000000L};
    nanosleep(&step, nullptr);
  }
  error = path_ + ": no receiver found: " + PinName(pin_) +
          " stayed clear for 3 s after RTS and DTR were raised (check the wiring and the pin)";
  CloseDevice();
  return false;
}

void SerialSource::RaisePriority() {
  if (priority_tried_) return;
  priority_tried_ = true;
  const sched_param param{kCapturePriority};
  if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) != 0) {
    std::fprintf(stderr,
                 "sfh56d: warning: no real-time scheduling (edges may be timed late; grant "
                 "CAP_SYS_NICE or an rtprio limit)\n");
  }
  if (mlockall(MCL_CURRENT | MCL_FUTURE) != 0) {
    std::fprintf(stderr,
                 "sfh56d: warning: memory not locked (a page fault may delay an edge; raise "
                 "the memlock limit)\n");
  }
}

Source::End SerialSource::Run(PulseSink& sink, std::string& error) {
  struct sigaction wake {};
  wake.sa_handler = OnWake;
  sigemptyset(&wake.sa_mask);
  sigaction(SIGUSR1, &wake, nullptr);
  thread_ = pthread_self();
  running_.store(true);
  // However the run ends: a stop must not signal a thread that may have ended.
  struct Running {
    std::atomic<bool>& flag;
    ~Running() { flag.store(false); }
  } running{running_};
  RaisePriority();

  serial_icounter_struct counts{};
  int bits = 0;
  if (ioctl(fd_, TIOCGICOUNT, &counts) != 0 || ioctl(fd_, TIOCMGET, &bits) != 0) {
    error = std::strerror(errno);
    CloseDevice();
    return End::kLost;
  }
  int last_count = PinCount(counts, pin_);
  bool mark = (bits & pin_bit_) == 0;  // the demodulator pulls the pin clear on carrier
  while (!stop_.load()) {
    if (ioctl(fd_, TIOCMIWAIT, pin_bit_) != 0) {
      if (errno == EINTR) continue;
      error = std::string("the port went away (") + std::strerror(errno) + ")";
      CloseDevice();
      return End::kLost;
    }
    sink.NoChangeBefore(kChangeInHand);
    const int64_t now_ns = MonotonicNs();
    if (ioctl(fd_, TIOCMGET, &bits) != 0 || ioctl(fd_, TIOCGICOUNT, &counts) != 0) {
      error = std::string("the port went away (") + std::strerror(errno) + ")";
      CloseDevice();
      return End::kLost;
    }
    const int count = PinCount(counts, pin_);
    const int changes = count - last_count;
    last_count = count;
    // More than one change since the last wake-up: some came between two waits and
    // carry no time. The train they belong to cannot be decoded truthfully.
    if (changes > 1) sink.Lost(now_ns);
    const bool now_mark = (bits & pin_bit_) == 0;
    if (changes > 0 && now_mark != mark) sink.Edge(now_mark, now_ns);
    mark = now_mark;
    sink.NoChangeBefore(kNoChangeYet);
  }
  return End::kStopped;
}

void SerialSource::Stop() {
  stop_.store(true);
  if (running_.load()) pthread_kill(thread_, SIGUSR1);
}

}  // namespace sfh56::daemon
