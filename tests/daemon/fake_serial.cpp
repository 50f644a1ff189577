// A serial port with the receiver on a modem pin, for tests: preloaded into sfh56d, it
// answers the modem-line ioctls for the file named by SFH_FAKE_TTY and plays a recorded
// waveform on a virtual CLOCK_MONOTONIC, exactly: each TIOCMIWAIT moves the clock to the
// pin's next change.
//
//   SFH_FAKE_WAVEFORM  microseconds: the delay after power-up (RTS and DTR raised), then
//                      mark, space, mark ... durations; the pin is set while idle
//   SFH_FAKE_PIN       DSR (default), CTS or DCD
//   SFH_FAKE_LOSE      change numbers (0 = the first) whose wait misses that change and
//                      the next: the wait returns at the one after, the counter jumps by 3
//   SFH_FAKE_DEAD      set: the pin never rises (no receiver)
// After the last change the clock moves 10 s on, and the wait blocks until a signal.
#include <dlfcn.h>
#include <errno.h>
#include <limits.h>
#include <linux/serial.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <mutex>
#include <set>
#include <sstream>
#include <vector>

namespace {

using IoctlFn = int (*)(int, unsigned long, ...);
using ClockFn = int (*)(clockid_t, timespec*);

std::mutex mutex;
std::vector<int64_t> change_ns;  // after power-up
std::set<size_t> lose;
int pin_bit = TIOCM_DSR;
bool dead = false;
int out_bits = 0;
bool powered = false;
int64_t virtual_ns = 1000000000000;  // the clock, from 1000 s
int64_t powered_ns = 0;
size_t happened = 0;  // changes that have happened
bool finished = false;

struct Setup {
  Setup() {
    const char* pin = getenv("SFH_FAKE_PIN");
    if (pin != nullptr && strcmp(pin, "CTS") == 0) pin_bit = TIOCM_CTS;
    if (pin != nullptr && strcmp(pin, "DCD") == 0) pin_bit = TIOCM_CAR;
    dead = getenv("SFH_FAKE_DEAD") != nullptr;
    if (const char* path = getenv("SFH_FAKE_WAVEFORM")) {
      FILE* f = fopen(path, "r");
      long long us = 0;
      int64_t at = 0;
      while (f != nullptr && fscanf(f, "%lld", &us) == 1) change_ns.push_back(at += us * 1000);
      if (f != nullptr) fclose(f);
    }
    std::istringstream numbers(getenv("SFH_FAKE_LOSE") ? getenv("SFH_FAKE_LOSE") : "");
    for (size_t n; numbers >> n;) lose.insert(n);
  }
} setup;

bool IsFakePort(int fd) {
  const char* path = getenv("SFH_FAKE_TTY");
  char link[64];
  char target[PATH_MAX];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t n = readlink(link, target, sizeof target - 1);
  if (path == nullptr || n <= 0) return false;
  target[n] = '\0';
  return strcmp(target, path) == 0;
}

int Bits() {
  const bool set = powered && !dead && happened % 2 == 0;
  return out_bits | (set ? pin_bit : 0);
}

int Wait(std::unique_lock<std::mutex>& lock) {
  if (happened >= change_ns.size()) {
    if (!finished) virtual_ns += 10000000000;
    finished = true;
    lock.unlock();
    sigset_t mask;  // the thread's own: the daemon's wake-up signal gets through
    pthread_sigmask(SIG_BLOCK, nullptr, &mask);
    sigsuspend(&mask);
    errno = EINTR;
    return -1;
  }
  if (lose.count(happened) != 0 && happened + 2 < change_ns.size()) happened += 2;
  virtual_ns = powered_ns + change_ns[happened++];
  return 0;
}

}  // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) {
  va_list args;
  va_start(args, request);
  void* arg = va_arg(args, void*);
  va_end(args);
  static const auto real = reinterpret_cast<IoctlFn>(dlsym(RTLD_NEXT, "ioctl"));
  if ((request != TIOCMBIS && request != TIOCMGET && request != TIOCMIWAIT &&
       request != TIOCGICOUNT) ||
      !IsFakePort(fd)) {
    return real(fd, request, arg);
  }
  std::unique_lock lock(mutex);
  switch (request) {
    case TIOCMBIS:
      out_bits |= *static_cast<int*>(arg) & (TIOCM_RTS | TIOCM_DTR);
      if (!powered && out_bits == (TIOCM_RTS | TIOCM_DTR)) {
        powered = true;
        powered_ns = virtual_ns;
      }
      return 0;
    case TIOCMGET:
      *static_cast<int*>(arg) = Bits();
      return 0;
    case TIOCMIWAIT:
      return Wait(lock);
    default: {
      serial_icounter_struct counts{};
      const int count = static_cast<int>(happened);
      (pin_bit == TIOCM_CTS ? counts.cts : pin_bit == TIOCM_CAR ? counts.dcd : counts.dsr) = count;
      memcpy(arg, &counts, sizeof counts);
      return 0;
    }
  }
}

extern "C" int clock_gettime(clockid_t clock, timespec* ts) {
  static const auto real = reinterpret_cast<ClockFn>(dlsym(RTLD_NEXT, "clock_gettime"));
  if (clock != CLOCK_MONOTONIC) return real(clock, ts);
  std::lock_guard lock(mutex);
  ts->tv_sec = virtual_ns / 1000000000;
  ts->tv_nsec = virtual_ns % 1000000000;
  return 0;
}
