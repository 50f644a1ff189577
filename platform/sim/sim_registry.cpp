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

// The components of a key path, as written; empty components (trailing and doubled
// separators) name no key of their own.
std::vector<std::string> PathParts(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    const size_t end = std::min(path.find('\\', start), path.size());
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

// "<root>\<path>" with the path folded: the id of a key, whatever the letter case and
// separators a caller wrote.
std::string KeyId(platform::RootKey root, const std::string& path) {
  std::string id = std::to_string(static_cast<uint32_t>(root)) + '\\';
  const std::vector<std::string> parts = PathParts(path);
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) id += '\\';
    id += Folded(parts[i]);
  }
  return id;
}

}  // namespace

struct SimRegistry::State {
  struct Key {
    std::string name;                   // the last path component, as first created
    std::vector<std::string> children;  // ids of the subkeys, in order of creation
    std::vector<NamedValue> values;     // in order of first writing

    NamedValue* Find(const std::string& value_name) {
      const std::string folded = Folded(value_name);
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

  // Creates the key and its missing parents (the root included); returns the key's id.
  std::string CreateKey(platform::RootKey root, const std::string& path) {
    std::string id = KeyId(root, "");
    keys[id];
    for (const std::string& part : PathParts(path)) {
      const std::string parent = id;
      id += (id.back() == '\\' ? "" : "\\") + Folded(part);
      if (keys.count(id) == 0) {
        keys[id].name = part;
        keys[parent].children.push_back(id);
      }
    }
    return id;
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

  bool QueryCounts(Counts* counts) override {
    std::lock_guard lock(state_->mutex);
    SimRegistry::State::Key* key = state_->alive ? state_->FindKey(id_) : nullptr;
    if (key == nullptr || counts == nullptr) return false;
    counts->values = static_cast<uint32_t>(key->values.size());
    counts->subkeys = static_cast<uint32_t>(key->children.size());
    return true;
  }

  long EnumKey(uint32_t index, uint32_t name_capacity, std::string* name) override {
    std::lock_guard lock(state_->mutex);
    SimRegistry::State::Key* key = state_->alive ? state_->FindKey(id_) : nullptr;
    if (key == nullptr) return platform::kErrorFileNotFound;
    if (index >= key->children.size()) return platform::kErrorNoMoreItems;
    const std::string& child = state_->keys[key->children[index]].name;
    if (child.size() + 1 > name_capacity) return platform::kErrorMoreData;
    *name = child;
    return platform::kErrorSuccess;
  }

  long EnumValue(uint32_t index, uint32_t name_capacity, std::string* name, uint32_t* type,
                 uint8_t* data, uint32_t* size) override {
    std::lock_guard lock(state_->mutex);
    SimRegistry::State::Key* key = state_->alive ? state_->FindKey(id_) : nullptr;
    if (key == nullptr) return platform::kErrorFileNotFound;
    if (index >= key->values.size()) return platform::kErrorNoMoreItems;
    const SimRegistry::NamedValue& value = key->values[index];
    if (value.name.size() + 1 > name_capacity) return platform::kErrorMoreData;
    *name = value.name;
    if (type != nullptr) *type = value.value.type;
    const auto needed = static_cast<uint32_t>(value.value.data.size());
    if (size == nullptr) return platform::kErrorSuccess;
    const uint32_t capacity = *size;
    *size = needed;
    if (data == nullptr) return platform::kErrorSuccess;
    if (needed > capacity) return platform::kErrorMoreData;
    if (needed > 0) std::memcpy(data, value.value.data.data(), needed);
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
  const std::string id = state_->CreateKey(root, path);
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
  State::Key& key = state_->keys[state_->CreateKey(root, path)];
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
  for (auto& [unused, key] : state_->keys) std::erase(key.children, id);
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
