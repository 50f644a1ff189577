#pragma once
// The code map: which button and remote a code stands for. A text file of lines
// "CODE NAME [REMOTE]"; "#" starts a comment, blank lines are ignored.

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace sfh56::daemon {

inline constexpr std::string_view kDefaultRemote = "sfh56";

struct ButtonName {
  std::string name;
  std::string remote;
};

class CodeMap {
 public:
  // Parses the text; on a bad line returns nothing and sets error to "line N: why".
  static std::optional<CodeMap> Parse(std::string_view text, std::string& error);
  // Reads and parses a file; error is "PATH: why" or "PATH:N: why".
  static std::optional<CodeMap> Load(const std::string& path, std::string& error);

  // The button of a code, else CODE_<code> of the remote "sfh56". Codes are compared
  // as numbers: case and leading zeros do not matter.
  ButtonName Lookup(std::string_view code) const;
  // Every button name of the map, each once, sorted.
  std::vector<std::string> Names() const;

  // The key codes are compared by: upper case, no leading zeros (at least one digit).
  static std::string Key(std::string_view code);

 private:
  struct Entry {
    ButtonName button;
    int line = 0;
  };
  std::unordered_map<std::string, Entry> buttons_;
};

}  // namespace sfh56::daemon
