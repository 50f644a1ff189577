// A kernel IR device for tests: a FUSE file that answers the LIRC ioctls and serves
// mode-2 samples from a script of lines "pulse N", "space N", "overflow" (# comments).
// As the kernel does, a space at least as long as the receive time-out arrives as a
// TIME-OUT sample followed by the space, and the script ends with a time-out. poll()
// reports data only while samples remain, so a reader then waits as on a real device.
//
//   fake-lirc SCRIPT MOUNTPOINT     serves MOUNTPOINT/lirc0 until unmounted
#define FUSE_USE_VERSION 35
#include <errno.h>
#include <fuse3/fuse.h>
#include <linux/lirc.h>
#include <poll.h>
#include <string.h>
#include <sys/stat.h>

#include <cstdint>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::mutex mutex;
std::vector<std::string> script;  // lines, turned into samples once the time-out is known
std::vector<uint32_t> samples;
size_t next_sample = 0;
bool prepared = false;
uint32_t timeout_us = 125000;

void Prepare() {
  if (prepared) return;
  prepared = true;
  for (const std::string& line : script) {
    std::istringstream in(line);
    std::string kind;
    uint32_t value = 0;
    in >> kind >> value;
    if (kind == "pulse") samples.push_back(LIRC_PULSE(value));
    if (kind == "overflow") samples.push_back(LIRC_MODE2_OVERFLOW | LIRC_VALUE_MASK);
    if (kind != "space") continue;
    if (value >= timeout_us) samples.push_back(LIRC_TIMEOUT(timeout_us));
    samples.push_back(LIRC_SPACE(value));
  }
  samples.push_back(LIRC_TIMEOUT(timeout_us));
}

int GetAttr(const char* path, struct stat* st, fuse_file_info*) {
  memset(st, 0, sizeof *st);
  if (strcmp(path, "/") == 0) {
    st->st_mode = S_IFDIR | 0755;
    return 0;
  }
  if (strcmp(path, "/lirc0") != 0) return -ENOENT;
  st->st_mode = S_IFREG | 0444;
  return 0;
}

int Open(const char* path, fuse_file_info* fi) {
  if (strcmp(path, "/lirc0") != 0) return -ENOENT;
  fi->direct_io = 1;
  fi->nonseekable = 1;
  return 0;
}

int Read(const char*, char* buffer, size_t size, off_t, fuse_file_info*) {
  std::lock_guard lock(mutex);
  if (size % 4 != 0) return -EINVAL;
  Prepare();
  size_t n = 0;
  while (n + 4 <= size && next_sample < samples.size()) {
    memcpy(buffer + n, &samples[next_sample++], 4);
    n += 4;
  }
  return n == 0 ? -EAGAIN : static_cast<int>(n);
}

int Poll(const char*, fuse_file_info*, fuse_pollhandle* handle, unsigned* events) {
  std::lock_guard lock(mutex);
  Prepare();
  *events = next_sample < samples.size() ? POLLIN : 0;
  if (handle != nullptr) fuse_pollhandle_destroy(handle);
  return 0;
}

int Ioctl(const char*, unsigned int cmd, void*, fuse_file_info*, unsigned int, void* data) {
  std::lock_guard lock(mutex);
  auto* value = static_cast<uint32_t*>(data);
  switch (cmd) {
    case LIRC_GET_FEATURES:
      *value = LIRC_CAN_REC_MODE2 | LIRC_CAN_SET_REC_TIMEOUT;
      return 0;
    case LIRC_SET_REC_MODE:
      return *value == LIRC_MODE_MODE2 ? 0 : -EINVAL;
    case LIRC_GET_MIN_TIMEOUT:
      *value = 1000;
      return 0;
    case LIRC_GET_MAX_TIMEOUT:
      *value = 1250000;
      return 0;
    case LIRC_SET_REC_TIMEOUT:
      if (prepared || *value < 1000 || *value > 1250000) return -EINVAL;
      timeout_us = *value;
      return 0;
  }
  return -ENOTTY;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  std::ifstream in(argv[1]);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line[0] != '#') script.push_back(line);
  }
  fuse_operations ops{};
  ops.getattr = GetAttr;
  ops.open = Open;
  ops.read = Read;
  ops.poll = Poll;
  ops.ioctl = Ioctl;
  char* args[] = {argv[0], const_cast<char*>("-f"), const_cast<char*>("-s"), argv[2]};
  return fuse_main(4, args, &ops, nullptr);
}
