#include "platform/sim/sim_registry.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <utility>

namespace sfh56::sim {

namespace {

// Win32 compares key paths and value names without regard to letter case.
std::string Folded(const std::string& text) {
  std::string folded = text;
  std::transform(folded.begin(), folded.end(), folded.begin(), [](char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  });
  return folded;
}

// "<root>\<path>" with the path folded; trailing and doubled separators do not name
// another key.
std::string KeyId(platform::RootKey root, const std::string& path) {
  std::string id = std::to_string(static_cast<uint32_t>(root)) + '\\';
  for (const char c : Folded(path)) {
    if (c == '\\' && id.back() == '\\') continue;
    id += c;
  }
  if (id.back() == '\\' && id.find('\\') != id.size() - 1) id.pop_back();
  return id;
}

// The ids of a key and of every key above it up to the root, as creating a key creates
// its missing parents.
std::vector<std::string> KeyAndParents(const std::string& id) {
  std::vector<std::string> ids;
  const size_t root_end = id.find('\\');
  for (size_t pos = id.find('\\', root_end + 1); pos != std::string::npos;
       pos = id.find('\\', pos + 1)) {
    ids.push_back(id.substr(0, pos));
  }
  ids.push_back(id);
  return ids;
}

}  // namespace

struct SimRegistry::State {
  struct Key {
    std::vector<NamedValue> values;  // in order of first writing

    NamedValue* Find(const std::string& name) {
      const std::string folded = Folded(name);
      for (NamedValue& value : values) {
        if (Folded(value.name) == folded) return &value;
      }
      return nullptr;
    }
  };

  mutable std::mutex mutex;
  std::map<std::string, Key> keys;  // by KeyId
  bool fail_open = false;
  bool fail_create = false;
  int open_calls = 0;
  int create_calls = 0;
  bool alive = true;

  Key& CreateKey(const std::string& id) {
    for (const std::string& each : KeyAndParents(id)) keys[each];
    return keys[id];
  }

  Key* FindKey(const std::string& id) {
    const auto it = keys.find(id);
    return it == keys.end() ? nullptr : &it->second;
  }
};

namespace {

class SimRegistryKey : public platform::RegistryKey {
 public:
  SimRegistryKey(std::shared_ptr<SimRegistry::State> state, std::string id, bool writable)
      : state_(std::move(state)), id_(std::move(id)), writable_(writable) {}

  long QueryValue(const std::string& name, uint32_t* type, uint8_t* data, uint32_t* size) override {
    std::lock_guard lock(state_->mutex);
    if (data != nullptr && size == nullptr) return platform::kErrorInvalidParameter;
    SimRegistry::State::Key* key = state_->alive ? state_->FindKey(id_) : nullptr;
    SimRegistry::NamedValue* value = key ? key->Find(name) : nullptr;
    if (value == nullptr) return platform::kErrorFileNotFound;
    if (type != nullptr) *type = value->value.type;
    if (size == nullptr) return platform::kErrorSuccess;
    const auto needed = static_cast<uint32_t>(value->value.data.size());
    const uint32_t capacity = *size;
    *size = needed;
    if (data == nullptr) return platform::kErrorSuccess;  // a size query
    if (needed > capacity) return platform::kErrorMoreData;
    if (needed > 0) std::memcpy(data, value->value.data.data(), needed);
    return platform::kErrorSuccess;
  }

  long SetValue(const std::string& name, uint32_t type, const uint8_t* data,
                uint32_t size) override {
    std::lock_guard lock(state_->mutex);
    if (!writable_) return platform::kErrorAccessDenied;
    if (data == nullptr && size != 0) return platform::kErrorInvalidParameter;
    SimRegistry::State::Key* key = state_->alive ? state_->FindKey(id_) : nullptr;
    if (key == nullptr) return platform::kErrorFileNotFound;
    std::vector<uint8_t> bytes(data, data + size);
    if (SimRegistry::NamedValue* value = key->Find(name)) {
      value->value = {type, std::move(bytes)};
    } else {
      key->values.push_back({name, {type, std::move(bytes)}});
    }
    return platform::kErrorSuccess;
  }

 private:
  std::shared_ptr<SimRegistry::State> state_;
  std::string id_;
  bool writable_;
};

}  // namespace

SimRegistry::SimRegistry() : state_(std::make_shared<State>()) {}

SimRegistry::~SimRegistry() {
  std::lock_guard lock(state_->mutex);
  state_->alive = false;
}

std::unique_ptr<platform::RegistryKey> SimRegistry::OpenForRead(platform::RootKey root,
                                                                const std::string& path) {
  std::lock_guard lock(state_->mutex);
  ++state_->open_calls;
  const std::string id = KeyId(root, path);
  if (state_->fail_open || state_->FindKey(id) == nullptr) return nullptr;
  return std::make_unique<SimRegistryKey>(state_, id, /*writable=*/false);
}

std::unique_ptr<platform::RegistryKey> SimRegistry::Create(platform::RootKey root,
                                                           const std::string& path) {
  std::lock_guard lock(state_->mutex);
  ++state_->create_calls;
  if (state_->fail_create) return nullptr;
  const std::string id = KeyId(root, path);
  state_->CreateKey(id);
  return std::make_unique<SimRegistryKey>(state_, id, /*writable=*/true);
}

bool SimRegistry::KeyExists(platform::RootKey root, const std::string& path) const {
  std::lock_guard lock(state_->mutex);
  return state_->FindKey(KeyId(root, path)) != nullptr;
}

std::optional<SimRegistry::RawValue> SimRegistry::ReadRaw(platform::RootKey root,
                                                          const std::string& path,
                                                          const std::string& name) const {
  std::lock_guard lock(state_->mutex);
  State::Key* key = state_->FindKey(KeyId(root, path));
  NamedValue* value = key ? key->Find(name) : nullptr;
  if (value == nullptr) return std::nullopt;
  return value->value;
}

std::vector<SimRegistry::NamedValue> SimRegistry::Values(platform::RootKey root,
                                                         const std::string& path) const {
  std::lock_guard lock(state_->mutex);
  State::Key* key = state_->FindKey(KeyId(root, path));
  return key ? key->values : std::vector<NamedValue>{};
}

void SimRegistry::PutRaw(platform::RootKey root, const std::string& path, const std::string& name,
                         uint32_t type, std::vector<uint8_t> data) {
  std::lock_guard lock(state_->mutex);
  State::Key& key = state_->CreateKey(KeyId(root, path));
  if (NamedValue* value = key.Find(name)) {
    value->value = {type, std::move(data)};
  } else {
    key.values.push_back({name, {type, std::move(data)}});
  }
}

void SimRegistry::DeleteValue(platform::RootKey root, const std::string& path,
                              const std::string& name) {
  std::lock_guard lock(state_->mutex);
  State::Key* key = state_->FindKey(KeyId(root, path));
  if (key == nullptr) return;
  const std::string folded = Folded(name);
  std::erase_if(key->values, [&](const NamedValue& v) { return Folded(v.name) == folded; });
}

void SimRegistry::DeleteKey(platform::RootKey root, const std::string& path) {
  std::lock_guard lock(state_->mutex);
  const std::string id = KeyId(root, path);
  std::erase_if(state_->keys, [&](const auto& entry) {
    return entry.first == id || entry.first.starts_with(id + '\\');
  });
}

void SimRegistry::SetFailOpen(bool fail) {
  std::lock_guard lock(state_->mutex);
  state_->fail_open = fail;
}

void SimRegistry::SetFailCreate(bool fail) {
  std::lock_guard lock(state_->mutex);
  state_->fail_create = fail;
}

int SimRegistry::OpenCalls() const {
  std::lock_guard lock(state_->mutex);
  return state_->open_calls;
}

int SimRegistry::CreateCalls() const {
  std::lock_guard lock(state_->mutex);
  return state_->create_calls;
}

}  // namespace sfh56::sim
