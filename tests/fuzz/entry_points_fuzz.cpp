// libFuzzer target: the entry points as an odd host may call them, in any order: text
// copies with any count (buffers exactly as large as the copy may write, or none),
// comparisons of any texts or null pointers, support records of any length (whose
// translation word holds a real function or part of one), function tables, open, start,
// stop, power events, close, and codes and texts crossing back to the host.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/identity.h"
#include "host/plugin.h"
#include "tests/host/host_fakes.h"

namespace {

using namespace sfh56;

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Done() const { return pos_ >= size_; }
  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  template <typename T>
  T Get() {
    T value{};
    const size_t n = pos_ + sizeof(T) <= size_ ? sizeof(T) : size_ - pos_;
    std::memcpy(&value, data_ + pos_, n);
    pos_ += n;
    return value;
  }
  // A host's text of up to 31 bytes, or none.
  std::unique_ptr<char[]> Text(bool& null) {
    const uint8_t head = Byte();
    null = (head & 0x80) != 0;
    const size_t n = head & 31;
    auto text = std::make_unique<char[]>(n + 1);
    for (size_t i = 0; i < n; ++i) text[i] = static_cast<char>(Byte());
    text[n] = '\0';
    return text;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

constexpr char kTranslated[] = "translated";

uint32_t SFH_HOST_CALL SupportTranslate(const char*, char* buffer, int32_t size) {
  if (size < static_cast<int32_t>(sizeof kTranslated)) std::abort();
  std::strcpy(buffer, kTranslated);
  return 1;
}
int32_t SFH_HOST_CALL TableTranslate(const char*, char* buffer, int32_t size) {
  if (size < static_cast<int32_t>(sizeof kTranslated)) std::abort();
  std::strcpy(buffer, kTranslated);
  return 1;
}
const char* SFH_HOST_CALL HostTranslate(const char*) {
  return kTranslated;
}
int32_t SFH_HOST_CALL HostEvent(const char* code, const char* payload, int32_t reserved,
                                int32_t device) {
  if (code == nullptr || payload == nullptr || payload[0] != '\0' || reserved != 0) std::abort();
  if (device != kLoadDeviceNumber && device != kNewerHostDeviceNumber) std::abort();
  (void)std::strlen(code);
  return 0;
}

// One identity text through its export; the buffer holds exactly what the copy may write.
void CopyIdentity(Plugin& plugin, Input& in) {
  const uint8_t which = in.Byte() % 6;
  const int32_t max = in.Get<int32_t>();
  const bool older = which >= 3;
  const char* source = which % 3 == 0   ? kPluginVersion
                       : which % 3 == 1 ? kPluginName
                                        : kPluginDescription;
  const int64_t limit = older ? (max & 0xFF) : (max < 0 ? 0 : max);
  const size_t copied = std::min<size_t>(std::strlen(source), static_cast<size_t>(limit));
  const bool no_buffer = (in.Byte() & 1) != 0;
  auto buffer = no_buffer ? nullptr : std::make_unique<char[]>(copied + 1);
  char* result = nullptr;
  switch (which) {
    case 0:
      result = plugin.GirVersion(buffer.get(), max);
      break;
    case 1:
      result = plugin.GirName(buffer.get(), max);
      break;
    case 2:
      result = plugin.GirDescription(buffer.get(), max);
      break;
    case 3:
      result = plugin.VersionDevice(buffer.get(), max);
      break;
    case 4:
      result = plugin.SupportDevice(buffer.get(), max);
      break;
    default:
      result = plugin.IdentifyDevice(buffer.get(), max);
      break;
  }
  if (result != buffer.get()) std::abort();
  if (buffer &&
      (std::strlen(buffer.get()) != copied || std::memcmp(buffer.get(), source, copied) != 0)) {
    std::abort();
  }
}

void Compare(Plugin& plugin, Input& in) {
  bool a_null = false;
  bool b_null = false;
  const auto a = in.Text(a_null);
  const auto b = in.Text(b_null);
  const char* pa = a_null ? nullptr : a.get();
  const char* pb = b_null ? nullptr : b.get();
  const bool equal = pa == nullptr || pb == nullptr ? pa == pb : std::strcmp(pa, pb) == 0;
  if (plugin.GirCompare(pa, pb) != (equal ? 1 : 0)) std::abort();
  if (plugin.CompareStr(pa, pb) != (equal ? kOlderTrue : kOlderFalse)) std::abort();
}

// A support record of the length its count gives (at most what the plugin reads); its
// translation word holds the host's function or nothing, or the record ends inside it.
void SupportRecord(Plugin& plugin, Input& in) {
  if ((in.Byte() & 7) == 0) {
    (void)plugin.HSupportFunctions(nullptr);
    return;
  }
  constexpr size_t kWords = kSupportBlockWords;
  const uint32_t count = in.Get<uint32_t>() % (kWords * sizeof(uintptr_t) + 16);
  std::vector<uintptr_t> words(kWords + 2);
  for (uintptr_t& word : words) word = in.Get<uintptr_t>();
  words[kSupportTranslateWord] =
      (in.Byte() & 1) != 0 ? reinterpret_cast<uintptr_t>(&SupportTranslate) : 0;
  std::memcpy(words.data(), &count, sizeof count);
  const size_t bytes =
      std::max<size_t>(sizeof count, std::min<size_t>(count, kWords * sizeof(uintptr_t)));
  auto record = std::make_unique<uint8_t[]>(bytes);
  std::memcpy(record.get(), words.data(), bytes);
  const int32_t result = plugin.HSupportFunctions(record.get());
  if (result != 1 && result != 2) std::abort();
}

void Open(Plugin& plugin, Input& in) {
  const int32_t major = static_cast<int8_t>(in.Byte());
  const int32_t minor = static_cast<int8_t>(in.Byte());
  const uint8_t table_kind = in.Byte();
  std::vector<uintptr_t> table(kFunctionTableSlots);
  for (uintptr_t& slot : table) slot = in.Get<uintptr_t>();
  table[kTableTranslateSlot] =
      (table_kind & 1) != 0 ? reinterpret_cast<uintptr_t>(&TableTranslate) : 0;
  table[kTableEventSlot] = (table_kind & 2) != 0 ? reinterpret_cast<uintptr_t>(&HostEvent) : 0;
  const bool no_table = (table_kind & 4) != 0;
  const int32_t result =
      plugin.GirOpen(major, minor, in.Get<int32_t>(), no_table ? nullptr : table.data());
  if (result != (no_table ? 0 : 1) || !plugin.PluginOpen()) std::abort();
}

void ReceiverCall(Plugin& plugin, Input& in) {
  const int32_t r = [&] {
    switch (in.Byte() % 9) {
      case 0:
        return plugin.GirStart();
      case 1:
        return plugin.GirStop();
      case 2:
        return plugin.StartDevice();
      case 3:
        return plugin.StopDevice();
      case 4:
        return plugin.GirClose();
      case 5:
        plugin.CleanUpDevice();
        return 0;
      case 6:
        plugin.GirConfig();
        return 0;
      case 7:
        return plugin.ConfigDevice() == kOlderTrue ? 0 : 2;
      default:
        return plugin.FlushDevice() == kOlderTrue ? 0 : 2;
    }
  }();
  if (r != 0 && r != 1 && r != kOlderTrue) std::abort();
}

void Queries(Plugin& plugin, Input& in) {
  const int32_t what = in.Get<int32_t>();
  const int32_t event = in.Get<int32_t>();
  if (plugin.GirInfo(what, event, in.Get<int32_t>()) != 1) std::abort();
  const int32_t api = in.Get<int32_t>();
  if (plugin.GirRequestedApi(api) != (api >= 1 ? 1 : 0)) std::abort();
  if ((in.Byte() & 1) != 0 && plugin.GirDevicenum() != kNewerHostDeviceNumber) std::abort();
  const int32_t device = plugin.GetDeviceNum();
  if (device != kLoadDeviceNumber && device != kNewerHostDeviceNumber) std::abort();
}

// Codes and texts going back to the host over whatever the calls so far have set up.
void TowardsTheHost(Plugin& plugin, Input& in) {
  bool null = false;
  const auto text = in.Text(null);
  plugin.DeliverCode(text.get());
  const std::string shown = plugin.TranslateText(text.get());
  if (shown != text.get() && shown != kTranslated) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  test::FakePlatform fake;
  const uint8_t setup = in.Byte();
  fake.host_ipc.mapping_exists = (setup & 1) != 0;
  fake.host_ipc.semaphore_exists = (setup & 2) != 0;
  fake.host_ipc.view_maps = (setup & 4) != 0;
  fake.host_ipc.view = std::vector<char>(setup >> 3, '#');  // no spare capacity
  if ((setup & 0x80) != 0) fake.files.SetFileVersion("3.1");
  test::ReceiverScript script;
  script.capture_opens = (setup & 0x40) != 0;
  {
    Plugin plugin(fake.platform, test::ScriptedFactory(script));
    plugin.OnLoad();
    while (!in.Done()) {
      switch (in.Byte() % 8) {
        case 0:
          CopyIdentity(plugin, in);
          break;
        case 1:
          Compare(plugin, in);
          break;
        case 2:
          SupportRecord(plugin, in);
          break;
        case 3:
          plugin.InitDevice(in.Get<uint16_t>(), (in.Byte() & 1) != 0 ? &HostTranslate : nullptr);
          break;
        case 4:
          Open(plugin, in);
          break;
        case 5:
          ReceiverCall(plugin, in);
          break;
        case 6:
          Queries(plugin, in);
          break;
        default:
          TowardsTheHost(plugin, in);
          break;
      }
      script.thread_ends = (in.Byte() & 3) != 0;
    }
    plugin.OnUnload();
    script.thread_ends = true;
  }
  if (script.created != script.destroyed) std::abort();
  return 0;
}
