#pragma once
// The daemon's outputs: every decoded code, named and counted, goes to each of them.

#include <cstdint>
#include <cstdio>
#include <string>

namespace sfh56::daemon {

struct CodeEvent {
  std::string code;          // as the decoder wrote it, e.g. "48B7"
  int repeat = 0;            // 0 for a new press, then 1, 2 ... (at most kMaxRepeat)
  std::string name;          // from the code map, else CODE_<code>
  std::string remote;        // from the code map, else "sfh56"
  int64_t train_end_ns = 0;  // the train's last edge, on the source's clock
  bool shift_coded = false;  // the decoder's coding mode of the train
};

inline constexpr int kMaxRepeat = 0xFF;  // two hexadecimal digits

class CodeOutput {
 public:
  virtual ~CodeOutput() = default;
  virtual void OnCode(const CodeEvent& event) = 0;
  // The code map was read again (SIGHUP).
  virtual void OnReload() {}
};

// Standard output (or any stream): one line per code, written at once.
class StreamOutput : public CodeOutput {
 public:
  explicit StreamOutput(std::FILE* stream) : stream_(stream) {}
  void OnCode(const CodeEvent& event) override;

 private:
  std::FILE* stream_;
};

// The line formats of the outputs.
// Standard output: "CODE REPEAT NAME REMOTE", the repeat as two hexadecimal digits.
std::string StdoutLine(const CodeEvent& event);
// The IR-daemon socket protocol: "<16 hex digits> <2 hex digits> NAME REMOTE", in lower
// case as its clients know it. A code of more digits loses leading zeros down to 16 (the
// decoder keeps at most 64 bits).
std::string LircdLine(const CodeEvent& event);
// Sent to socket clients when the code map was read again.
inline constexpr const char* kLircdReloadBlock = "BEGIN\nSIGHUP\nEND\n";

}  // namespace sfh56::daemon
