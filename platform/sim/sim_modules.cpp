#include "platform/sim/sim_modules.h"

namespace sfh56::sim {

class SimModules::SimModule : public platform::Module {
 public:
  SimModule(SimModules& owner, std::string name, Exports exports)
      : owner_(owner), name_(std::move(name)), exports_(std::move(exports)) {}
  ~SimModule() override { owner_.Released(name_); }

  void* Resolve(const std::string& name) override {
    auto it = exports_.find(name);
    return it == exports_.end() ? nullptr : it->second;
  }

 private:
  SimModules& owner_;
  std::string name_;
  Exports exports_;
};

void SimModules::AddLibrary(const std::string& name, Exports exports,
                            std::function<bool()> present) {
  std::lock_guard lock(mutex_);
  libraries_[name] = {std::move(exports), std::move(present)};
}

namespace {
std::string UpperCase(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}
}  // namespace

void SimModules::AddResource(const std::string& name, std::vector<uint8_t> bytes) {
  std::lock_guard lock(mutex_);
  resources_[UpperCase(name)] = std::move(bytes);
}

std::optional<std::vector<uint8_t>> SimModules::OwnResource(const std::string& name) {
  std::lock_guard lock(mutex_);
  const auto it = resources_.find(UpperCase(name));
  if (it == resources_.end()) return std::nullopt;
  return it->second;
}

void SimModules::RemoveLibrary(const std::string& name) {
  std::lock_guard lock(mutex_);
  libraries_.erase(name);
}

int SimModules::LoadAttempts(const std::string& name) const {
  std::lock_guard lock(mutex_);
  auto it = attempts_.find(name);
  return it == attempts_.end() ? 0 : it->second;
}

int SimModules::LoadedNow(const std::string& name) const {
  std::lock_guard lock(mutex_);
  auto it = loaded_.find(name);
  return it == loaded_.end() ? 0 : it->second;
}

std::unique_ptr<platform::Module> SimModules::Load(const std::string& name) {
  std::lock_guard lock(mutex_);
  ++attempts_[name];
  auto it = libraries_.find(name);
  if (it == libraries_.end()) return nullptr;
  if (it->second.present && !it->second.present()) return nullptr;
  ++loaded_[name];
  return std::make_unique<SimModule>(*this, name, it->second.exports);
}

void SimModules::Released(const std::string& name) {
  std::lock_guard lock(mutex_);
  --loaded_[name];
}

}  // namespace sfh56::sim
