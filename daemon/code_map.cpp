#include "daemon/code_map.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>
#include <vector>

namespace sfh56::daemon {
namespace {

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
    const size_t start = i;
    while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i]))) ++i;
    if (i > start) fields.push_back(line.substr(start, i - start));
  }
  return fields;
}

bool IsHex(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

}  // namespace

std::string CodeMap::Key(std::string_view code) {
  size_t first = 0;
  while (first + 1 < code.size() && code[first] == '0') ++first;
  std::string key(code.substr(first));
  for (char& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return key;
}

std::optional<CodeMap> CodeMap::Parse(std::string_view text, std::string& error) {
  CodeMap map;
  int number = 0;
  while (!text.empty()) {
    ++number;
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    if (const size_t hash = line.find('#'); hash != std::string_view::npos) {
      line = line.substr(0, hash);
    }
    const auto fields = Fields(line);
    if (fields.empty()) continue;
    const auto fail = [&](const std::string& why) {
      error = "line " + std::to_string(number) + ": " + why;
      return std::nullopt;
    };
    if (!IsHex(fields[0]))
      return fail("\"" + std::string(fields[0]) + "\" is not a hexadecimal code");
    if (fields.size() < 2) return fail("code " + std::string(fields[0]) + " has no button name");
    if (fields.size() > 3) return fail("more than CODE NAME REMOTE");
    Entry entry{
        {std::string(fields[1]), std::string(fields.size() == 3 ? fields[2] : kDefaultRemote)},
        number};
    const auto [it, added] = map.buttons_.emplace(Key(fields[0]), std::move(entry));
    if (!added) {
      return fail("code " + std::string(fields[0]) + " is already named on line " +
                  std::to_string(it->second.line));
    }
  }
  return map;
}

std::optional<CodeMap> CodeMap::Load(const std::string& path, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = path + ": cannot be read";
    return std::nullopt;
  }
  std::ostringstream text;
  text << in.rdbuf();
  std::string why;
  auto map = Parse(text.str(), why);
  if (!map) error = path + ":" + why.substr(5);  // "line N: why" -> "PATH:N: why"
  return map;
}

std::vector<std::string> CodeMap::Names() const {
  std::vector<std::string> names;
  for (const auto& [key, entry] : buttons_) names.push_back(entry.button.name);
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  return names;
}

ButtonName CodeMap::Lookup(std::string_view code) const {
  const auto it = buttons_.find(Key(code));
  if (it != buttons_.end()) return it->second.button;
  return {"CODE_" + std::string(code), std::string(kDefaultRemote)};
}

}  // namespace sfh56::daemon
