/* Modem lines for a pseudo-terminal under Wine.
 *
 * A pseudo-terminal has no modem-status lines, so Wine's serial functions fail on it.
 * Preloaded into the Wine process, this library answers the modem-line ioctls for the
 * terminal named by SFH_MODEM_PTY: RTS and DTR are remembered, and the receiver line
 * (SFH_MODEM_LINE = CTS, DSR or DCD; DSR when unset) plays the waveform in the file
 * SFH_MODEM_WAVEFORM once both RTS and DTR are raised. Until then the line reads clear,
 * as an unpowered receiver would.
 *
 * Waveform file: whitespace-separated integers in microseconds. The first is the delay
 * after power-up, then mark, space, mark, ... durations; the line is set when idle and
 * clear during a mark. After the last duration the line stays set.
 * Every other ioctl passes through. TIOCMIWAIT is refused so that the caller polls.
 */
#include <dlfcn.h>
#include <errno.h>
#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

typedef int (*ioctl_fn)(int, unsigned long, ...);

static ioctl_fn real_ioctl = nullptr;
static const char* pty_path = nullptr;
static int line_bit = TIOCM_DSR;
static int out_bits; /* RTS and DTR as set by the caller */
static long long powered_at_ns = -1;
static long long* change_ns = nullptr; /* times of changes after power-up, line toggles at each */
static size_t change_count;
/* Statistics of status reads, printed at exit when SFH_MODEM_STATS is set: the number
   of reads and the largest gap between two reads less than 50 ms apart. */
static long long reads, last_read_ns, gap_sum_ns, gap_count, max_gap_ns;

static long long now_ns(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (long long)ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

static void load_waveform(const char* path) {
  FILE* f = fopen(path, "r");
  if (!f) return;
  size_t capacity = 1024;
  change_ns = static_cast<long long*>(malloc(capacity * sizeof *change_ns));
  long long at = 0;
  long long us;
  while (change_ns && fscanf(f, "%lld", &us) == 1) {
    if (us < 0) break;
    at += us * 1000LL;
    if (change_count == capacity) {
      long long* grown =
          static_cast<long long*>(realloc(change_ns, 2 * capacity * sizeof *change_ns));
      if (!grown) break;
      change_ns = grown;
      capacity *= 2;
    }
    change_ns[change_count++] = at;
  }
  fclose(f);
  /* The first value is a delay, not a change: the line starts set, clears at the end of
     the delay (the first mark), and toggles at every later boundary. */
}

__attribute__((constructor)) static void init(void) {
  real_ioctl = (ioctl_fn)dlsym(RTLD_NEXT, "ioctl");
  pty_path = getenv("SFH_MODEM_PTY");
  const char* line = getenv("SFH_MODEM_LINE");
  if (line && strcmp(line, "CTS") == 0) line_bit = TIOCM_CTS;
  if (line && strcmp(line, "DCD") == 0) line_bit = TIOCM_CAR;
  const char* waveform = getenv("SFH_MODEM_WAVEFORM");
  if (waveform) load_waveform(waveform);
}

static void report(void) {
  if (!getenv("SFH_MODEM_STATS") || reads == 0) return;
  fprintf(stderr, "modem preload: %lld status reads, mean gap %.1f us, max gap %.1f us\n", reads,
          gap_count ? (double)gap_sum_ns / (double)gap_count / 1000.0 : 0.0,
          (double)max_gap_ns / 1000.0);
}

static int is_modem_pty(int fd) {
  if (!pty_path) return 0;
  char link[64];
  char target[PATH_MAX];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  ssize_t n = readlink(link, target, sizeof target - 1);
  if (n <= 0) return 0;
  target[n] = '\0';
  return strcmp(target, pty_path) == 0;
}

static int line_set(void) {
  if (powered_at_ns < 0) return 0;
  long long since = now_ns() - powered_at_ns;
  /* Number of boundaries passed: the line is set before the first and after every even
     count. */
  size_t lo = 0, hi = change_count;
  while (lo < hi) {
    size_t mid = (lo + hi) / 2;
    if (change_ns[mid] <= since)
      lo = mid + 1;
    else
      hi = mid;
  }
  return (lo % 2) == 0;
}

static int modem_bits(void) {
  return out_bits | (line_set() ? line_bit : 0);
}

static void outputs_changed(void) {
  if (powered_at_ns < 0 && (out_bits & TIOCM_RTS) && (out_bits & TIOCM_DTR)) {
    powered_at_ns = now_ns();
  }
}

extern "C" int ioctl(int fd, unsigned long request, ...) {
  va_list args;
  va_start(args, request);
  void* arg = va_arg(args, void*);  // every request used here takes a pointer
  va_end(args);
  if (!real_ioctl) real_ioctl = (ioctl_fn)dlsym(RTLD_NEXT, "ioctl");
  switch (request) {
    case TIOCMGET:
    case TIOCMBIS:
    case TIOCMBIC:
    case TIOCMSET:
    case TIOCMIWAIT:
      if (!is_modem_pty(fd)) break;
      if (request == TIOCMIWAIT) {
        errno = EINVAL;
        return -1;
      }
      if (!arg) {
        errno = EFAULT;
        return -1;
      }
      {
        int* bits = (int*)arg;
        int outs = *bits & (TIOCM_RTS | TIOCM_DTR);
        if (request == TIOCMGET) {
          *bits = modem_bits();
          const long long t = now_ns();
          const long long gap = t - last_read_ns;
          if (last_read_ns && gap < 50000000LL) {
            gap_sum_ns += gap;
            ++gap_count;
            if (gap > max_gap_ns) max_gap_ns = gap;
          }
          last_read_ns = t;
          if ((++reads & 0x3FFF) == 0) report();
        }
        if (request == TIOCMBIS) out_bits |= outs;
        if (request == TIOCMBIC) out_bits &= ~outs;
        if (request == TIOCMSET) out_bits = outs;
        outputs_changed();
      }
      return 0;
    default:
      break;
  }
  return real_ioctl(fd, request, arg);
}
