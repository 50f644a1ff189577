#pragma once
// The settings advisor: which CommandOrder and BitMask give every button of a remote one
// stable code of its own. It tries every setting the dialog offers against the decoder
// and the sequence rule on the recorded presses. For presses without button names (a
// service log, mode2 text) it looks for toggle bits and for frames that alternate within
// a press instead.

#include <array>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "decode/stable_decoder.h"
#include "tools/report/report_input.h"

namespace sfh56::report {

inline constexpr int32_t kMaxBitMask = 99;
inline constexpr int32_t kMaxCommandOrder = 9;

struct Settings {
  int32_t bit_mask = 16;
  int32_t command_order = 0;
  // The decoding that gives the codes: the advice is about the codes the user sees.
  Decoding decoding = Decoding::kClassic;
  bool operator==(const Settings&) const = default;
};

// What the decoder does with one train, at every BitMask; code texts are ids into the
// remote's CodeTable.
struct TrainCodes {
  enum class Kind : uint8_t { kIgnored, kRepeat, kFull };
  Kind kind = Kind::kIgnored;
  bool empty = true;  // no edges: counts for the sequence rule, never decoded
  int64_t first_ticks = 0;
  int64_t last_ticks = 0;
  int64_t sequence_gap_ticks = 0;
  std::array<int, kMaxBitMask + 1> code{};  // kFull: the code's id at each BitMask
};

// Distinct code texts of one remote; id 0 is the empty code (a repeat frame before any
// code was decoded).
class CodeTable {
 public:
  CodeTable() { Intern(""); }
  int Intern(const std::string& text);
  const std::string& Text(int id) const { return texts_[static_cast<size_t>(id)]; }

 private:
  std::vector<std::string> texts_;
  std::unordered_map<std::string, int> ids_;
};

// Every train of every press, decoded once per BitMask.
struct RemoteCodes {
  CodeTable table;
  std::vector<std::vector<TrainCodes>> presses;  // parallel to Remote::presses
};
RemoteCodes DecodeAtEveryBitMask(const Remote& remote, Decoding decoding = Decoding::kClassic);

// The codes the host receives for one press with a setting, in order: the sequence rule
// admits trains, a full decode gives its code, a repeat frame the last code again.
void DeliveredCodes(const std::vector<TrainCodes>& press, Settings settings, std::vector<int>& out);

// The codes of one button under one setting.
struct ButtonSummary {
  std::string button;
  int presses = 0;
  int silent_presses = 0;                // presses for which the host receives nothing
  std::vector<std::string> codes;        // distinct codes received, in order seen
  std::vector<std::string> shared_with;  // other buttons that gave one of these codes
  bool Stable() const { return silent_presses == 0 && codes.size() == 1; }
};

// Presses without names: consecutive decoded trains that gave the same code.
struct RunSummary {
  std::string first_label;
  std::string last_label;
  int trains = 0;
  std::string code;           // at the current setting
  std::string all_bits_code;  // with BitMask 0
};

// How far a setting is from every button giving one stable code of its own.
struct Score {
  int silent_presses = 0;
  int unstable_buttons = 0;
  int shared_pairs = 0;  // pairs of buttons that give a common code
  int Total() const { return silent_presses + unstable_buttons + shared_pairs; }
};

struct Advice {
  enum class Verdict { kNothingNeeded, kChange, kNothingHelps, kNothingDecoded };
  Verdict verdict = Verdict::kNothingDecoded;
  Settings current;
  Settings suggested;
  std::vector<std::string> sentences;
  // Named presses: the sums per button at the current and at the suggested setting.
  Score current_score;
  Score suggested_score;
  std::vector<ButtonSummary> buttons;
  std::vector<ButtonSummary> suggested_buttons;
  // Unnamed presses: the runs of equal codes at the current setting.
  std::vector<RunSummary> runs;
};

// codes: the remote decoded with current.decoding.
Advice Advise(const Remote& remote, const RemoteCodes& codes, Settings current);
inline Advice Advise(const Remote& remote, Settings current) {
  return Advise(remote, DecodeAtEveryBitMask(remote, current.decoding), current);
}

// The sums per button of one setting (named presses).
std::vector<ButtonSummary> SummariseButtons(const Remote& remote, const RemoteCodes& codes,
                                            Settings settings);

// The advice as plain text: the remote, the sentences and the sums.
std::string FormatAdviceText(const Remote& remote, const Advice& advice);

}  // namespace sfh56::report
