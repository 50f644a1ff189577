#include "tools/report/advisor.h"

#include <algorithm>
#include <bit>
#include <map>
#include <string>
#include <tuple>
#include <utility>

#include "decode/decoder.h"
#include "decode/sequence_rule.h"

namespace sfh56::report {
namespace {

// Codes that agree in at least this many last bits and differ only before them come from
// one button whose toggle bit changed; codes of different buttons differ in their last
// bits (the command, or its check bits, comes last in the frames of common remotes).
constexpr int kMinToggleLowBits = 8;

std::string Quoted(const std::string& text) {
  return "\"" + text + "\"";
}

std::string JoinTexts(const std::vector<std::string>& texts, const char* separator = ", ") {
  std::string out;
  for (const std::string& text : texts) {
    if (!out.empty()) out += separator;
    out += text.empty() ? "(empty)" : text;
  }
  return out;
}

std::string SettingsText(Settings s) {
  return "Command order " + std::to_string(s.command_order) + " and Enable last bits " +
         std::to_string(s.bit_mask);
}

// Text broken into lines of at most 90 characters, at spaces.
std::string Wrapped(const std::string& text, const std::string& first_indent,
                    const std::string& indent) {
  constexpr size_t kWidth = 90;
  std::string out;
  std::string line = first_indent;
  bool line_empty = true;
  size_t at = 0;
  while (at < text.size()) {
    const size_t end = std::min(text.find(' ', at), text.size());
    const std::string_view word(text.data() + at, end - at);
    if (!line_empty && line.size() + 1 + word.size() > kWidth) {
      out += line + "\n";
      line = indent;
      line_empty = true;
    }
    if (!line_empty) line += ' ';
    line += word;
    line_empty = false;
    at = end + 1;
  }
  return out + line + "\n";
}

// A small count as a word, as the advice's sentences read.
std::string CountWord(int n) {
  static const char* const kWords[] = {"no",    "one",   "two",  "three", "four",   "five",  "six",
                                       "seven", "eight", "nine", "ten",   "eleven", "twelve"};
  return n >= 0 && n <= 12 ? kWords[n] : std::to_string(n);
}

// Why no train gives a code, from the decoder's own limit.
const std::string kNoCodeReason = "every train is too short (" +
                                  CountWord(kMaxIgnoredLastEdgeIndex) +
                                  " intervals or fewer) or a repeat frame, so no setting can help.";

// The last 64 bits of a code as a number (codes are hexadecimal).
uint64_t CodeValue(const std::string& text) {
  uint64_t value = 0;
  const size_t start = text.size() > 16 ? text.size() - 16 : 0;
  for (size_t i = start; i < text.size(); ++i) {
    const char c = text[i];
    value = value * 16 + static_cast<uint64_t>(c <= '9' ? c - '0' : c - 'A' + 10);
  }
  return value;
}

// Where two codes of one button part: the lowest bit in which they differ (counted from 0
// at the last bit received) and whether that bit is the only difference. Nothing when
// they differ within their last kMinToggleLowBits bits.
struct TogglePart {
  int bit = -1;
  bool single_bit = false;
  uint64_t flipped = 0;  // the bits that differ
};
TogglePart ToggleBetween(const std::string& a, const std::string& b) {
  const uint64_t x = CodeValue(a) ^ CodeValue(b);
  if (x == 0) return {};
  const int bit = std::countr_zero(x);
  if (bit < kMinToggleLowBits) return {};
  return {bit, (x >> bit) == 1, x};
}

// "bit 14 (...) alternates between presses", or for several bits "the bits from bit 14 up
// (...) change between presses, as a toggle bit does in a bi-phase frame".
std::string ToggleSentence(int bit, bool single_bit, const std::string& between) {
  if (single_bit) {
    return "bit " + std::to_string(bit) + " (counting from 0 at the last bit received) " +
           "alternates " + between;
  }
  return "the bits from bit " + std::to_string(bit) +
         " up (counting from 0 at the last bit received) change " + between +
         ", as a toggle bit does in a bi-phase frame";
}

std::string Capitalised(std::string text) {
  if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 32);
  return text;
}

const char* kWhereSettingsAre =
    "Both settings are in the plugin's settings dialog after pressing \"Advanced >>\".";

class NamedEvaluator {
 public:
  NamedEvaluator(const Remote& remote, const RemoteCodes& codes) : remote_(remote), codes_(codes) {
    std::map<std::string, int> index;
    for (const Press& press : remote.presses) {
      auto [it, added] = index.emplace(press.button, static_cast<int>(names_.size()));
      if (added) names_.push_back(press.button);
      button_of_press_.push_back(it->second);
    }
  }

  Score Evaluate(Settings settings, std::vector<ButtonSummary>* summaries) const {
    const size_t buttons = names_.size();
    std::vector<std::vector<int>> ids(buttons);  // distinct code ids per button, in order seen
    std::vector<int> presses(buttons, 0);
    std::vector<int> silent(buttons, 0);
    std::vector<int> delivered;
    Score score;
    for (size_t p = 0; p < remote_.presses.size(); ++p) {
      const auto b = static_cast<size_t>(button_of_press_[p]);
      ++presses[b];
      delivered.clear();
      DeliveredCodes(codes_.presses[p], settings, delivered);
      if (delivered.empty()) {
        ++silent[b];
        ++score.silent_presses;
      }
      for (int id : delivered) {
        if (std::find(ids[b].begin(), ids[b].end(), id) == ids[b].end()) ids[b].push_back(id);
      }
    }
    std::vector<std::pair<int, int>> owners;  // (code id, button)
    for (size_t b = 0; b < buttons; ++b) {
      if (ids[b].size() > 1) ++score.unstable_buttons;
      for (int id : ids[b]) owners.emplace_back(id, static_cast<int>(b));
    }
    std::sort(owners.begin(), owners.end());
    std::vector<std::pair<int, int>> pairs;
    for (size_t i = 0; i < owners.size(); ++i) {
      for (size_t j = i + 1; j < owners.size() && owners[j].first == owners[i].first; ++j) {
        pairs.emplace_back(owners[i].second, owners[j].second);
      }
    }
    std::sort(pairs.begin(), pairs.end());
    pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());
    score.shared_pairs = static_cast<int>(pairs.size());

    if (summaries != nullptr) {
      summaries->clear();
      for (size_t b = 0; b < buttons; ++b) {
        ButtonSummary s;
        s.button = names_[b];
        s.presses = presses[b];
        s.silent_presses = silent[b];
        for (int id : ids[b]) s.codes.push_back(codes_.table.Text(id));
        summaries->push_back(std::move(s));
      }
      for (const auto& [a, b] : pairs) {
        (*summaries)[static_cast<size_t>(a)].shared_with.push_back(names_[static_cast<size_t>(b)]);
        (*summaries)[static_cast<size_t>(b)].shared_with.push_back(names_[static_cast<size_t>(a)]);
      }
    }
    return score;
  }

  // The codes one press of the button gives with BitMask 0 (every bit), distinct.
  std::vector<std::string> AllBitsCodes(const std::string& button) const {
    std::vector<std::string> out;
    for (size_t p = 0; p < remote_.presses.size(); ++p) {
      if (remote_.presses[p].button != button) continue;
      for (const TrainCodes& train : codes_.presses[p]) {
        if (train.kind != TrainCodes::Kind::kFull) continue;
        const std::string& text = codes_.table.Text(train.code[0]);
        if (std::find(out.begin(), out.end(), text) == out.end()) out.push_back(text);
      }
    }
    return out;
  }

  // A press of the button that gives more than one code with the setting, as its codes.
  std::vector<std::string> PressWithSeveralCodes(const std::string& button,
                                                 Settings settings) const {
    std::vector<int> delivered;
    for (size_t p = 0; p < remote_.presses.size(); ++p) {
      if (remote_.presses[p].button != button) continue;
      delivered.clear();
      DeliveredCodes(codes_.presses[p], settings, delivered);
      for (int id : delivered) {
        if (id != delivered.front()) {
          std::vector<std::string> texts;
          for (int d : delivered) texts.push_back(codes_.table.Text(d));
          return texts;
        }
      }
    }
    return {};
  }

 private:
  const Remote& remote_;
  const RemoteCodes& codes_;
  std::vector<std::string> names_;
  std::vector<int> button_of_press_;
};

// The problems of one setting in one sentence (a few of each kind).
void DescribeProblems(const std::vector<ButtonSummary>& buttons, Settings settings,
                      std::vector<std::string>& out) {
  std::vector<std::string> parts;
  int unstable = 0;
  int silent = 0;
  int shared = 0;
  for (const ButtonSummary& b : buttons) {
    if (b.codes.size() > 1 && unstable++ < 3) {
      parts.push_back(Quoted(b.button) + " gives " + std::to_string(b.codes.size()) + " codes (" +
                      JoinTexts(b.codes) + ")");
    }
  }
  for (const ButtonSummary& b : buttons) {
    if (b.silent_presses > 0 && silent++ < 3) {
      parts.push_back(Quoted(b.button) + " gives nothing in " + std::to_string(b.silent_presses) +
                      " of " + std::to_string(b.presses) + " presses");
    }
  }
  for (const ButtonSummary& b : buttons) {
    for (const std::string& other : b.shared_with) {
      if (other > b.button && shared++ < 3) {
        parts.push_back(Quoted(b.button) + " and " + Quoted(other) + " give the same code");
      }
    }
  }
  if (parts.empty()) return;
  std::string sentence = "With " + SettingsText(settings) + ": " + JoinTexts(parts, "; ");
  const int more = std::max(0, unstable - 3) + std::max(0, silent - 3) + std::max(0, shared - 3);
  if (more > 0) sentence += "; and " + std::to_string(more) + " more";
  out.push_back(sentence + ".");
}

// "2nd, 4th, 6th" for 2: the frames of a sequence that a command order decodes.
std::string EveryNth(int n) {
  auto ordinal = [](int k) {
    const char* suffix = k % 10 == 1 && k % 100 != 11   ? "st"
                         : k % 10 == 2 && k % 100 != 12 ? "nd"
                         : k % 10 == 3 && k % 100 != 13 ? "rd"
                                                        : "th";
    return std::to_string(k) + suffix;
  };
  return ordinal(n) + ", " + ordinal(2 * n) + ", " + ordinal(3 * n) + " ...";
}

std::string ScoreText(const Score& score) {
  std::vector<std::string> parts;
  if (score.unstable_buttons > 0) {
    parts.push_back(std::to_string(score.unstable_buttons) + " button(s) with more than one code");
  }
  if (score.silent_presses > 0) {
    parts.push_back(std::to_string(score.silent_presses) + " press(es) without a code");
  }
  if (score.shared_pairs > 0) {
    parts.push_back(std::to_string(score.shared_pairs) + " pair(s) of buttons sharing a code");
  }
  return JoinTexts(parts, ", ");
}

Advice AdviseNamed(const Remote& remote, const RemoteCodes& codes, Settings current) {
  Advice advice;
  advice.current = current;
  advice.suggested = current;
  const NamedEvaluator evaluator(remote, codes);
  advice.current_score = evaluator.Evaluate(current, &advice.buttons);
  advice.suggested_score = advice.current_score;

  bool any_code = false;
  for (const auto& press : codes.presses) {
    for (const TrainCodes& train : press) any_code |= train.kind == TrainCodes::Kind::kFull;
  }
  if (!any_code) {
    advice.verdict = Advice::Verdict::kNothingDecoded;
    advice.sentences.push_back("No press gave a code: " + kNoCodeReason);
    return advice;
  }

  // Fewest problems first; then the fewest settings changed, the current command order,
  // and the bit mask nearest the current one (the more bits at equal distance).
  // BitMask 0 keeps every bit (the last 64), so it lies next to 64 rather than to 1.
  auto bits_kept = [](int32_t mask) { return mask == 0 ? 64 : mask; };
  auto key = [&](Settings s, const Score& score) {
    const int changes =
        (s.command_order != current.command_order) + (s.bit_mask != current.bit_mask);
    const int order_rank = s.command_order == current.command_order ? -1 : s.command_order;
    const int distance = s.bit_mask == current.bit_mask
                             ? -1
                             : std::abs(bits_kept(s.bit_mask) - bits_kept(current.bit_mask));
    return std::make_tuple(score.Total(), changes, order_rank, distance, -s.bit_mask);
  };
  auto best_key = key(current, advice.current_score);
  for (int32_t order = 0; order <= kMaxCommandOrder; ++order) {
    for (int32_t mask = 0; mask <= kMaxBitMask; ++mask) {
      const Settings s{mask, order, current.decoding};
      const Score score = evaluator.Evaluate(s, nullptr);
      const auto k = key(s, score);
      if (k < best_key) {
        best_key = k;
        advice.suggested = s;
        advice.suggested_score = score;
      }
    }
  }

  const Score& now = advice.current_score;
  if (now.Total() == 0) {
    advice.verdict = Advice::Verdict::kNothingNeeded;
    advice.sentences.push_back("Every button gives one stable code of its own with " +
                               SettingsText(current) + ": nothing to change.");
    return advice;
  }
  if (advice.suggested == current) {
    advice.verdict = Advice::Verdict::kNothingHelps;
    DescribeProblems(advice.buttons, current, advice.sentences);
    advice.sentences.push_back(
        "No setting helps: every Command order from 0 to 9 was tried with every Enable last "
        "bits from 0 to 99, and none does better than " +
        SettingsText(current) + " (" + ScoreText(now) + ").");
    return advice;
  }

  advice.verdict = Advice::Verdict::kChange;
  evaluator.Evaluate(advice.suggested, &advice.suggested_buttons);
  DescribeProblems(advice.buttons, current, advice.sentences);
  const Settings& s = advice.suggested;
  if (s.command_order != current.command_order) {
    std::string example;
    for (const ButtonSummary& b : advice.buttons) {
      const std::vector<std::string> press = evaluator.PressWithSeveralCodes(b.button, current);
      if (!press.empty()) {
        example = " (one press of " + Quoted(b.button) + ": " + JoinTexts(press, " ") + ")";
        break;
      }
    }
    advice.sentences.push_back("Each press sends a sequence of frames that are not all alike" +
                               example + ": set Command order to " +
                               std::to_string(s.command_order) + ", so that only the " +
                               EveryNth(s.command_order) + " frame of each sequence is decoded.");
  }
  if (s.bit_mask != current.bit_mask) {
    const bool fewer_bits =
        current.bit_mask == 0 || (s.bit_mask != 0 && s.bit_mask < current.bit_mask);
    if (fewer_bits) {
      // Why fewer bits: the toggle bit of the buttons that change from press to press.
      TogglePart toggle;
      std::string button;
      for (const ButtonSummary& b : advice.buttons) {
        if (b.codes.size() < 2) continue;
        const std::vector<std::string> all = evaluator.AllBitsCodes(b.button);
        for (size_t i = 0; i < all.size(); ++i) {
          for (size_t j = i + 1; j < all.size(); ++j) {
            const TogglePart t = ToggleBetween(all[i], all[j]);
            if (t.bit >= 0 && (toggle.bit < 0 || t.bit < toggle.bit)) {
              toggle = t;
              button = b.button;
            }
          }
        }
      }
      if (toggle.bit >= s.bit_mask) {
        advice.sentences.push_back(
            "In button " + Quoted(button) + ", " +
            ToggleSentence(toggle.bit, toggle.single_bit, "between presses") +
            ": set Enable last bits to " + std::to_string(s.bit_mask) + ", so that only the last " +
            std::to_string(s.bit_mask) + " bits, which stay the same, make the code.");
      } else {
        advice.sentences.push_back("Set Enable last bits to " + std::to_string(s.bit_mask) +
                                   ": the bits before the last " + std::to_string(s.bit_mask) +
                                   " change between presses of one button.");
      }
    } else {
      advice.sentences.push_back("Set Enable last bits to " + std::to_string(s.bit_mask) +
                                 ": some buttons differ only in bits before the last " +
                                 std::to_string(current.bit_mask) +
                                 ", so keeping more bits keeps them apart.");
      // Two names for one button pressed twice look the same as a toggle bit would.
      bool caveat = false;
      for (const ButtonSummary& b : advice.buttons) {
        const std::vector<std::string> mine = evaluator.AllBitsCodes(b.button);
        for (const std::string& other : b.shared_with) {
          for (const std::string& theirs : evaluator.AllBitsCodes(other)) {
            const TogglePart t = mine.empty() ? TogglePart{} : ToggleBetween(mine.front(), theirs);
            if (caveat || t.bit < current.bit_mask) continue;
            caveat = true;
            advice.sentences.push_back("But if " + Quoted(b.button) + " and " + Quoted(other) +
                                       " are one button pressed twice, keep Enable last bits " +
                                       std::to_string(current.bit_mask) +
                                       ": their codes differ only from bit " +
                                       std::to_string(t.bit) + " up, as a toggle bit makes them.");
          }
        }
      }
    }
  }
  if (advice.suggested_score.Total() == 0) {
    advice.sentences.push_back("With " + SettingsText(s) +
                               " every button gives one stable code of its own.");
  } else {
    advice.sentences.push_back("With " + SettingsText(s) + ", the best any setting gives, " +
                               ScoreText(advice.suggested_score) + " remain.");
  }
  advice.sentences.push_back(kWhereSettingsAre);
  return advice;
}

// One decoded train of an unnamed input, in order.
struct Frame {
  size_t press = 0;
  int code = 0;      // at the current bit mask
  int all_bits = 0;  // BitMask 0
};

Advice AdviseUnnamed(const Remote& remote, const RemoteCodes& codes, Settings current) {
  Advice advice;
  advice.current = current;
  advice.suggested = current;

  std::vector<Frame> frames;
  for (size_t p = 0; p < codes.presses.size(); ++p) {
    for (const TrainCodes& train : codes.presses[p]) {
      if (train.kind != TrainCodes::Kind::kFull) continue;
      frames.push_back({p, train.code[static_cast<size_t>(current.bit_mask)], train.code[0]});
    }
  }
  if (frames.empty()) {
    advice.verdict = Advice::Verdict::kNothingDecoded;
    advice.sentences.push_back("No train gave a code: " + kNoCodeReason);
    return advice;
  }

  // Runs of equal codes; between neighbouring runs, toggles and alternating frames.
  std::vector<size_t> run_starts;
  for (size_t i = 0; i < frames.size(); ++i) {
    if (i == 0 || frames[i].all_bits != frames[i - 1].all_bits) run_starts.push_back(i);
  }
  for (size_t r = 0; r < run_starts.size(); ++r) {
    const size_t first = run_starts[r];
    const size_t end = r + 1 < run_starts.size() ? run_starts[r + 1] : frames.size();
    RunSummary run;
    run.first_label = remote.presses[frames[first].press].label;
    run.last_label = remote.presses[frames[end - 1].press].label;
    run.trains = static_cast<int>(end - first);
    run.code = codes.table.Text(frames[first].code);
    run.all_bits_code = codes.table.Text(frames[first].all_bits);
    advice.runs.push_back(std::move(run));
  }

  // A toggle flips the same bits every time; different buttons whose codes differ only
  // early (a command sent before the address) flip different ones.
  std::map<uint64_t, std::pair<int, TogglePart>> flips;
  for (size_t r = 0; r + 1 < advice.runs.size(); ++r) {
    const TogglePart t =
        ToggleBetween(advice.runs[r].all_bits_code, advice.runs[r + 1].all_bits_code);
    if (t.bit < 0) continue;
    auto& [count, part] = flips[t.flipped];
    ++count;
    part = t;
  }
  int toggle_pairs = 0;
  TogglePart toggle;
  for (const auto& [flipped, seen] : flips) {
    if (seen.first < 2) continue;
    if (toggle.bit < 0 || seen.second.bit < toggle.bit) {
      toggle = seen.second;
      toggle_pairs = seen.first;
    }
  }
  int alternations = 0;
  std::vector<std::pair<int, int>> alternating_pairs;  // log: A B A B, either order
  std::vector<std::string> alternation_example;
  for (size_t i = 0; i + 2 < frames.size(); ++i) {
    const int a = frames[i].all_bits;
    const int b = frames[i + 1].all_bits;
    if (a == b || frames[i + 2].all_bits != a) continue;
    if (ToggleBetween(codes.table.Text(a), codes.table.Text(b)).bit >= 0) continue;
    if (frames[i].press != frames[i + 2].press &&
        remote.presses[frames[i].press].trains.size() > 1) {
      continue;  // timed presses: only frames of one press alternate
    }
    if (alternations++ == 0) {
      alternation_example = {codes.table.Text(frames[i].code),
                             codes.table.Text(frames[i + 1].code)};
    }
    if (i + 3 < frames.size() && frames[i + 3].all_bits == b) {
      const std::pair<int, int> pair{std::min(a, b), std::max(a, b)};
      if (std::find(alternating_pairs.begin(), alternating_pairs.end(), pair) ==
          alternating_pairs.end()) {
        alternating_pairs.push_back(pair);
      }
    }
  }

  // Toggle bits: the bit mask that leaves them out.
  if (toggle.bit >= 0) {
    const std::string sentence =
        Capitalised(ToggleSentence(toggle.bit, toggle.single_bit,
                                   "between codes that agree in every later bit (seen " +
                                       std::to_string(toggle_pairs) + " times)"));
    if (current.bit_mask != 0 && current.bit_mask <= toggle.bit) {
      advice.sentences.push_back(sentence + "; Enable last bits " +
                                 std::to_string(current.bit_mask) +
                                 " already leaves them out of the code.");
    } else {
      advice.suggested.bit_mask = toggle.bit;
      advice.sentences.push_back(sentence + ": set Enable last bits to " +
                                 std::to_string(toggle.bit) + ".");
    }
  }

  // Alternating frames: try the command orders on the presses, when they are timed
  // recordings; a log's records carry no time between them, so there the pattern speaks.
  bool timed = false;
  for (const Press& press : remote.presses) timed |= press.trains.size() > 1;
  bool no_order_helps = false;
  if (alternations > 0 && timed) {
    auto unsteady = [&](Settings s) {
      int count = 0;
      std::vector<int> delivered;
      for (const auto& press : codes.presses) {
        bool decodes = false;
        for (const TrainCodes& train : press) decodes |= train.kind == TrainCodes::Kind::kFull;
        if (!decodes) continue;
        delivered.clear();
        DeliveredCodes(press, s, delivered);
        bool stable = !delivered.empty();
        for (int id : delivered) stable &= id == delivered.front();
        count += stable ? 0 : 1;
      }
      return count;
    };
    Settings best = advice.suggested;
    int best_count = unsteady(best);
    for (int32_t order = 0; order <= kMaxCommandOrder; ++order) {
      const Settings s{advice.suggested.bit_mask, order, current.decoding};
      const int count = unsteady(s);
      if (count < best_count) {
        best = s;
        best_count = count;
      }
    }
    if (best.command_order != current.command_order) {
      advice.suggested.command_order = best.command_order;
      advice.sentences.push_back(
          "Within one press the frames alternate (" + JoinTexts(alternation_example, " ") +
          " ...): set Command order to " + std::to_string(best.command_order) +
          ", so that only the " + EveryNth(best.command_order) +
          " frame of each sequence is decoded.");
    } else if (best_count > 0) {
      no_order_helps = true;
      advice.sentences.push_back(
          "Within one press the frames alternate (" + JoinTexts(alternation_example, " ") +
          " ...), and no Command order from 0 to 9 gives every press one code.");
    }
  } else if (alternating_pairs.size() >= 2 && !timed && current.command_order != 2) {
    // One pair of codes alternating may be two buttons pressed in turn; several pairs
    // that each alternate A B A B are frames of one press.
    advice.suggested.command_order = 2;
    advice.sentences.push_back(
        "Records alternate between two codes (" + JoinTexts(alternation_example, " ") +
        " ...): the remote sends two different frames for one press. Set Command order to 2, "
        "so that only the second frame of each press is decoded.");
  }

  if (advice.suggested == current) {
    advice.verdict =
        no_order_helps ? Advice::Verdict::kNothingHelps : Advice::Verdict::kNothingNeeded;
    if (!no_order_helps && advice.sentences.empty()) {
      advice.sentences.push_back("No toggle bits and no alternating frames: " +
                                 SettingsText(current) + " needs no change.");
    }
  } else {
    advice.verdict = Advice::Verdict::kChange;
    advice.sentences.push_back("Suggested: " + SettingsText(advice.suggested) + ". " +
                               kWhereSettingsAre);
  }
  return advice;
}

}  // namespace

int CodeTable::Intern(const std::string& text) {
  auto [it, added] = ids_.emplace(text, static_cast<int>(texts_.size()));
  if (added) texts_.push_back(text);
  return it->second;
}

RemoteCodes DecodeAtEveryBitMask(const Remote& remote, Decoding decoding) {
  RemoteCodes out;
  char text[kCodeBufferBytes];
  for (const Press& press : remote.presses) {
    std::vector<TrainCodes>& trains = out.presses.emplace_back();
    for (const PulseTrain& train : press.trains) {
      TrainCodes& t = trains.emplace_back();
      t.empty = train.LastEdgeIndex < 0;
      if (!t.empty) {
        t.first_ticks = train.Edges[0].Timestamp;
        t.last_ticks = train
                           .Edges[static_cast<size_t>(
                               std::min<int32_t>(train.LastEdgeIndex, kEdgeCapacity - 1))]
                           .Timestamp;
      }
      // The sequence time-out: half the tick frequency, in whole ticks.
      t.sequence_gap_ticks = SequenceGapTicksFor(static_cast<int64_t>(train.TicksPerSecond));
      // One decode; the code at every BitMask follows from its bits as the decoder writes it.
      const DecodedTrain trace = DecodeWith(decoding, train, 0);
      if (trace.outcome == DecodeTrace::Outcome::kIgnored) continue;
      if (trace.outcome == DecodeTrace::Outcome::kRepeat) {
        t.kind = TrainCodes::Kind::kRepeat;
        continue;
      }
      t.kind = TrainCodes::Kind::kFull;
      for (int32_t mask = 0; mask <= kMaxBitMask; ++mask) {
        const int length = CodeWithBitMask(trace.accumulator, trace.bit_count, mask, text);
        t.code[static_cast<size_t>(mask)] = out.table.Intern(std::string(text, length));
      }
    }
  }
  return out;
}

void DeliveredCodes(const std::vector<TrainCodes>& press, Settings settings,
                    std::vector<int>& out) {
  SequenceRule rule;
  rule.StartCapture(CapturePath::kSerial);
  int last = 0;  // the decoder's last code: empty until a full decode
  for (const TrainCodes& train : press) {
    if (!train.empty) {
      rule.StartTrain(train.first_ticks, train.sequence_gap_ticks);
      rule.EdgeRecorded(train.last_ticks);
    }
    if (rule.FinishTrain(settings.command_order, true) != TrainAction::kDecode) continue;
    switch (train.kind) {
      case TrainCodes::Kind::kIgnored:
        break;
      case TrainCodes::Kind::kRepeat:
        out.push_back(last);
        break;
      case TrainCodes::Kind::kFull:
        last = train.code[static_cast<size_t>(settings.bit_mask)];
        out.push_back(last);
        break;
    }
  }
}

std::vector<ButtonSummary> SummariseButtons(const Remote& remote, const RemoteCodes& codes,
                                            Settings settings) {
  std::vector<ButtonSummary> out;
  NamedEvaluator(remote, codes).Evaluate(settings, &out);
  return out;
}

// Buttons whose codes differ from press to press only where an interval lies near the
// classic decoder's length between short and long: the stable decoding gives each of them
// one code, and no button more problems. Then the advice names the "stable codes" box.
void AdviseStableCodes(const Remote& remote, const RemoteCodes& classic_codes, Settings current,
                       std::vector<std::string>& sentences) {
  const RemoteCodes stable_codes = DecodeAtEveryBitMask(remote, Decoding::kStable);
  NamedEvaluator classic(remote, classic_codes);
  NamedEvaluator stable(remote, stable_codes);
  std::vector<ButtonSummary> classic_buttons;
  std::vector<ButtonSummary> stable_buttons;
  const Score classic_score = classic.Evaluate(current, &classic_buttons);
  const Score stable_score = stable.Evaluate(current, &stable_buttons);
  if (stable_score.Total() >= classic_score.Total()) return;
  std::vector<std::string> mended;
  for (size_t i = 0; i < classic_buttons.size() && i < stable_buttons.size(); ++i) {
    if (classic_buttons[i].silent_presses == 0 && classic_buttons[i].codes.size() > 1 &&
        stable_buttons[i].Stable() && stable_buttons[i].shared_with.empty()) {
      mended.push_back(Quoted(classic_buttons[i].button) + " (" +
                       JoinTexts(classic_buttons[i].codes) + " become " +
                       stable_buttons[i].codes[0] + ")");
    }
  }
  if (mended.empty()) return;
  sentences.push_back(
      "The codes of " + JoinTexts(mended) +
      " differ only where an interval lies close to the length the decoder puts between short "
      "and long, so a few microseconds of timing decide them: tick \"stable codes\" in the "
      "plugin's settings dialog after pressing \"Advanced >>\", and each of these buttons gives "
      "one code. Other buttons may then give other codes than now too: learn them again in the "
      "host.");
}

Advice Advise(const Remote& remote, const RemoteCodes& codes, Settings current) {
  current.bit_mask = std::clamp(current.bit_mask, 0, kMaxBitMask);
  current.command_order = std::clamp(current.command_order, 0, kMaxCommandOrder);
  if (!remote.named) return AdviseUnnamed(remote, codes, current);
  Advice advice = AdviseNamed(remote, codes, current);
  // Only the classic decoding has the stable codes to offer as a way out.
  if (current.decoding == Decoding::kClassic && advice.verdict != Advice::Verdict::kNothingNeeded &&
      advice.verdict != Advice::Verdict::kNothingDecoded) {
    AdviseStableCodes(remote, codes, current, advice.sentences);
  }
  return advice;
}

std::string FormatAdviceText(const Remote& remote, const Advice& advice) {
  std::string out = remote.name.empty() ? std::string("Recording") : remote.name;
  out += " (" + std::to_string(remote.presses.size()) +
         (remote.captured ? " records"
          : remote.named  ? " presses"
                          : " recordings") +
         ")\n";
  for (const std::string& sentence : advice.sentences) out += Wrapped(sentence, "  ", "    ");
  const std::vector<ButtonSummary>& buttons =
      advice.verdict == Advice::Verdict::kChange && remote.named ? advice.suggested_buttons
                                                                 : advice.buttons;
  if (!buttons.empty()) {
    out += "  Codes per button with " +
           SettingsText(remote.named ? advice.suggested : advice.current) + ":\n";
    for (const ButtonSummary& b : buttons) {
      out += "    " + b.button + "\t" + JoinTexts(b.codes, " ");
      if (b.silent_presses > 0) out += "\t(" + std::to_string(b.silent_presses) + " silent)";
      if (!b.shared_with.empty()) out += "\t(same code as " + JoinTexts(b.shared_with) + ")";
      out += "\n";
    }
  }
  if (!advice.runs.empty()) {
    out += "  Runs of equal codes with " + SettingsText(advice.current) + ":\n";
    for (const RunSummary& run : advice.runs) {
      out += "    " + run.first_label;
      if (run.last_label != run.first_label) out += " .. " + run.last_label;
      out += "\t" + std::to_string(run.trains) + " x " + run.code +
             "\t(every bit: " + run.all_bits_code + ")\n";
    }
  }
  return out;
}

}  // namespace sfh56::report
