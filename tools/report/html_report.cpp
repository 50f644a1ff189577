#include "tools/report/html_report.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <sstream>
#include <string>
#include <utility>

#include "decode/decoder.h"
#include "decode/stable_decoder.h"

namespace sfh56::report {
namespace {

// Rows of a drawing, in pixels from its top.
constexpr double kLeft = 16.0;        // room for a bi-phase code's leading 1
constexpr double kRefY = 6.0;         // threshold reference bars
constexpr double kMarkLabelY = 23.0;  // lengths of marks, above the high line
constexpr double kHighY = 27.0;
constexpr double kLowY = 57.0;
constexpr double kSpaceLabelY = 53.0;  // lengths of spaces, above the low line
constexpr double kBitY = 71.0;
constexpr double kAxisY = 77.0;
constexpr double kHeight = 94.0;
constexpr double kCharWidth = 5.6;  // of the 9-pixel labels

constexpr const char* kStyle = R"(
body{font:14px/1.4 system-ui,sans-serif;margin:1em 2em;color:#222;background:#fff}
h1{font-size:1.5em}h2{font-size:1.25em;margin-top:2em;border-bottom:1px solid #ccc}
h3{font-size:1.05em;margin:1.2em 0 .3em}
table{border-collapse:collapse;margin:.5em 0}td,th{border:1px solid #ccc;padding:2px 8px;text-align:left;vertical-align:top}
th{background:#f3f3f3}.bad{color:#b00}.ok{color:#070}code,.code{font-family:ui-monospace,monospace}
.advice{background:#fffbe6;border:1px solid #e6d58a;padding:.4em 1em;margin:.8em 0}
.advice p{margin:.3em 0}.press{content-visibility:auto;contain-intrinsic-size:auto 160px}
.facts{margin:.2em 0;font-size:13px}.scroll{overflow-x:auto;border:1px solid #eee}
svg.wave{display:block}svg text{font:9px ui-monospace,monospace;fill:#333}
.m{fill:#cfe2ff}.s{fill:transparent}.x{fill:#d6d6d6}.w{fill:none;stroke:#1c3d6e;stroke-width:1.5}
.ign .w{stroke:#999}.t{stroke:#d00;stroke-width:1.5;fill:none}.tk{stroke:#d00;stroke-dasharray:2 2;fill:none}
text.b{font-weight:bold;fill:#000;text-anchor:middle}text.c{fill:#c60}text.d{text-anchor:middle;fill:#555}
text.r{fill:#d00}.ax{stroke:#999;fill:none}text.a{fill:#888}
.legend svg{vertical-align:middle}
)";

// Microseconds between two edges, as the decoder measures them.
double MicrosecondsBetween(int64_t from_ticks, int64_t to_ticks, double ticks_per_second) {
  return SecondsBetween(from_ticks, to_ticks, ticks_per_second) * 1e6;
}

bool IsMark(const EdgeRecord& edge) {
  return IntervalLevel(edge) == 1;
}

class Out {
 public:
  Out& operator<<(std::string_view text) {
    s_.append(text);
    return *this;
  }
  Out& operator<<(const char* text) {
    s_.append(text);
    return *this;
  }
  Out& operator<<(const std::string& text) {
    s_.append(text);
    return *this;
  }
  Out& operator<<(int value) { return Int(value); }
  Out& operator<<(size_t value) { return Int(static_cast<long long>(value)); }
  Out& Int(long long value) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    s_.append(buffer, result.ptr);
    return *this;
  }
  // A number with at most `decimals` decimals, trailing zeros dropped.
  Out& Num(double value, int decimals = 1) {
    char buffer[48];
    auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    char* end = result.ptr;
    if (decimals > 0) {
      while (end[-1] == '0') --end;
      if (end[-1] == '.') --end;
    }
    s_.append(buffer, end);
    return *this;
  }
  // Text or attribute content, escaped.
  Out& Esc(std::string_view text) {
    for (char c : text) {
      switch (c) {
        case '<':
          s_ += "&lt;";
          break;
        case '>':
          s_ += "&gt;";
          break;
        case '&':
          s_ += "&amp;";
          break;
        case '"':
          s_ += "&quot;";
          break;
        case '\t':
          s_ += " / ";
          break;
        default:
          s_ += c;
      }
    }
    return *this;
  }
  std::string Take() { return std::move(s_); }
  void Reserve(size_t bytes) { s_.reserve(bytes); }

 private:
  std::string s_;
};

const char* ModeName(CodingMode mode) {
  switch (mode) {
    case CodingMode::kSpace:
      return "space-coded";
    case CodingMode::kMark:
      return "mark-coded";
    case CodingMode::kBiPhase:
      return "bi-phase";
  }
  return "";
}

// A decoder limit in milliseconds, as few digits as it needs.
std::string Milliseconds(double seconds) {
  std::ostringstream o;
  o << seconds * 1000.0;
  return o.str();
}

std::string DropText(DecodeTrace::Drop drop) {
  switch (drop) {
    case DecodeTrace::Drop::kKept:
      return "";
    case DecodeTrace::Drop::kGap:
      return "dropped: " + Milliseconds(kGapSeconds) + " ms or longer, a gap or a leader";
    case DecodeTrace::Drop::kLongLeader:
      return "dropped: the long leader of the frame";
    case DecodeTrace::Drop::kLeaderMark:
      return "dropped: a first mark over " + Milliseconds(kLeaderMarkSeconds) + " ms, a leader";
  }
  return "";
}

// Every bit the decoder shifted in, as hexadecimal digits (the first digit holds the
// bits that do not fill a whole digit).
std::string AllBitsHex(const DecodeTrace& t) {
  std::string out;
  const int count = t.bit_count;
  int value = 0;
  int in_digit = count % 4 == 0 ? 4 : count % 4;
  for (int i = 0; i < count; ++i) {
    value = value * 2 + t.bits[static_cast<size_t>(i)];
    if (--in_digit == 0) {
      out += "0123456789ABCDEF"[value];
      value = 0;
      in_digit = 4;
    }
  }
  return out.empty() ? "0" : out;
}

// Intervals the decoder's filter dropped (none unless the train was decoded in full).
int DroppedCount(const DecodeTrace& t) {
  int dropped = 0;
  for (int c = 0; c < t.interval_count; ++c) {
    dropped += t.drop[static_cast<size_t>(c)] != DecodeTrace::Drop::kKept;
  }
  return dropped;
}

struct TrainFacts {
  const PulseTrain* train = nullptr;
  DecodeTrace trace;
  std::string code;  // at the page's bit mask; empty when nothing was delivered
  bool delivered = false;
  DecodedTrain stable;  // the stable decoding's code and decisions for the same train
  StableDecisions stable_decisions;
};

// The square wave of one train with the decoder's decisions.
void DrawTrain(Out& o, const TrainFacts& f) {
  const PulseTrain& train = *f.train;
  const DecodeTrace& t = f.trace;
  const int n = std::min<int32_t>(train.LastEdgeIndex, kEdgeCapacity - 1);
  const double tps = train.TicksPerSecond;
  const int64_t t0 = train.Edges[0].Timestamp;
  auto at_us = [&](int c) { return MicrosecondsBetween(t0, train.Edges[c].Timestamp, tps); };
  auto x_of = [&](double us) { return kLeft + us / kMicrosecondsPerPixel; };
  const bool full = t.outcome == DecodeTrace::Outcome::kFull;
  const double total_us = at_us(n);
  const double width = std::ceil(x_of(total_us) + 40.0);

  o << "<svg class=\"wave" << (full ? "" : " ign") << "\" width=\"" << static_cast<int>(width)
    << "\" height=\"" << static_cast<int>(kHeight) << "\" data-intervals=\"" << n
    << "\" data-dropped=\"" << DroppedCount(t) << "\"";
  const Thresholds& th = t.thresholds;
  if (full) {
    o << " data-mode=\"" << ModeName(th.Mode) << "\" data-decision-us=\"";
    o.Num(th.DecisionSeconds * 1e6, 3) << "\" data-mark-us=\"";
    o.Num(th.MarkSeconds * 1e6, 3) << "\" data-space-us=\"";
    o.Num(th.SpaceSeconds * 1e6, 3) << "\"";
  }
  o << ">";

  // Threshold reference bars, to the drawing's scale.
  const uint8_t data_level = th.MarkSeconds != 0.0 ? 1 : 0;
  if (full) {
    double x = kLeft;
    auto bar = [&](double seconds, const char* label) {
      const double length = seconds * 1e6 / kMicrosecondsPerPixel;
      o << "<path class=\"t\" d=\"M";
      o.Num(x) << " " << static_cast<int>(kRefY) << "h";
      o.Num(length) << "\"/><text class=\"r\" x=\"";
      o.Num(x + length + 4) << "\" y=\"" << static_cast<int>(kRefY + 3) << "\">" << label << " ";
      o.Num(seconds * 1e6, 1) << " µs</text>";
      x += length + 4 + kCharWidth * 28;
    };
    if (th.Mode == CodingMode::kBiPhase) {
      bar(th.MarkSeconds, "mark threshold");
      bar(th.SpaceSeconds, "space threshold");
    } else {
      bar(th.DecisionSeconds, "threshold");
    }
  }

  // One rectangle per interval, with its length, level and fate as a tooltip.
  for (int c = 0; c < n; ++c) {
    const double start = at_us(c);
    const double length = at_us(c + 1) - start;
    const bool mark = IsMark(train.Edges[c]);
    const DecodeTrace::Drop drop = full ? t.drop[static_cast<size_t>(c)] : DecodeTrace::Drop::kKept;
    o << "<rect class=\"" << (mark ? "m" : "s") << (drop != DecodeTrace::Drop::kKept ? " x" : "")
      << "\" x=\"";
    o.Num(x_of(start)) << "\" y=\"" << static_cast<int>(kHighY) << "\" width=\"";
    o.Num(length / kMicrosecondsPerPixel) << "\" height=\"" << static_cast<int>(kLowY - kHighY)
                                          << "\"><title>" << (mark ? "mark " : "space ");
    o.Num(length, 1) << " µs";
    if (drop != DecodeTrace::Drop::kKept) {
      o << ", " << DropText(drop);
    } else if (full && t.bit_of[static_cast<size_t>(c)] >= 0) {
      const int b = t.bit_of[static_cast<size_t>(c)];
      o << ", bit " << t.bits[static_cast<size_t>(b)];
      if (t.cleared[static_cast<size_t>(b)]) o << " (cleared by the decoder's rule)";
    }
    o << "</title></rect>";
  }

  // The wave: high during marks, low during spaces and before and after the train.
  o << "<path class=\"w\" d=\"M";
  o.Num(x_of(0) - 8) << " " << static_cast<int>(kLowY) << "H";
  for (int c = 0; c < n; ++c) {
    const bool mark = IsMark(train.Edges[c]);
    o.Num(x_of(at_us(c))) << "V" << static_cast<int>(mark ? kHighY : kLowY) << "H";
  }
  o.Num(x_of(total_us)) << "V" << static_cast<int>(kLowY) << "h8\"/>";

  // Lengths where there is room.
  for (int c = 0; c < n; ++c) {
    const double start = at_us(c);
    const double length = at_us(c + 1) - start;
    const long long rounded = std::llround(length);
    const int digits = rounded >= 10000 ? 5 : rounded >= 1000 ? 4 : rounded >= 100 ? 3 : 2;
    if (length / kMicrosecondsPerPixel < digits * kCharWidth + 3) continue;
    const bool mark = IsMark(train.Edges[c]);
    o << "<text class=\"d\" x=\"";
    o.Num(x_of(start + length / 2))
        << "\" y=\"" << static_cast<int>(mark ? kMarkLabelY : kSpaceLabelY) << "\">";
    o.Int(rounded) << "</text>";
  }

  if (full) {
    // Each bit under the interval, or the two half-bit intervals, that gave it.
    if (th.Mode == CodingMode::kBiPhase && t.bit_count > 0) {
      o << "<text class=\"b\" x=\"" << static_cast<int>(kLeft / 2) << "\" y=\""
        << static_cast<int>(kBitY) << "\">" << t.bits[0]
        << "<title>every bi-phase code begins with this 1</title></text>";
    }
    // A bi-phase bit of two half-bits may span a dropped interval between them.
    for (int c = 0; c < n; ++c) {
      const int b = t.bit_of[static_cast<size_t>(c)];
      if (b < 0 || (c > 0 && t.bit_of[static_cast<size_t>(c - 1)] == b)) continue;
      int last = c;
      for (int e = c + 1; e < n; ++e) {
        if (t.bit_of[static_cast<size_t>(e)] == b) {
          last = e;
        } else if (t.drop[static_cast<size_t>(e)] == DecodeTrace::Drop::kKept) {
          break;
        }
      }
      const bool cleared = t.cleared[static_cast<size_t>(b)];
      o << "<text class=\"b" << (cleared ? " c" : "") << "\" x=\"";
      o.Num(x_of((at_us(c) + at_us(last + 1)) / 2)) << "\" y=\"" << static_cast<int>(kBitY) << "\">"
                                                    << t.bits[static_cast<size_t>(b)] << "</text>";
      c = last;
    }
    // Threshold ticks inside the intervals that reach past their threshold.
    o << "<path class=\"tk\" d=\"";
    for (int c = 0; c < n; ++c) {
      if (t.drop[static_cast<size_t>(c)] != DecodeTrace::Drop::kKept) continue;
      const bool mark = IsMark(train.Edges[c]);
      const double seconds = th.Mode == CodingMode::kBiPhase
                                 ? (mark ? th.MarkSeconds : th.SpaceSeconds)
                             : (mark ? 1 : 0) == data_level ? th.DecisionSeconds
                                                            : 0.0;
      const double length = at_us(c + 1) - at_us(c);
      if (seconds <= 0.0 || seconds * 1e6 >= length) continue;
      o << "M";
      o.Num(x_of(at_us(c) + seconds * 1e6))
          << " " << static_cast<int>(kHighY) << "V" << static_cast<int>(kLowY);
    }
    o << "\"/>";
  }

  // Time axis: a tick every millisecond, a label every five.
  o << "<path class=\"ax\" d=\"M" << static_cast<int>(kLeft) << " " << static_cast<int>(kAxisY)
    << "H";
  o.Num(x_of(total_us));
  for (int ms = 0; ms * 1000.0 <= total_us; ++ms) {
    o << "M";
    o.Num(x_of(ms * 1000.0)) << " " << static_cast<int>(kAxisY) << "v" << (ms % 5 == 0 ? 5 : 3);
  }
  o << "\"/>";
  for (int ms = 0; ms * 1000.0 <= total_us; ms += 5) {
    o << "<text class=\"a\" x=\"";
    o.Num(x_of(ms * 1000.0) + 2) << "\" y=\"" << static_cast<int>(kHeight - 3) << "\">" << ms
                                 << " ms</text>";
  }
  o << "</svg>";
}

void WriteTrainFacts(Out& o, const TrainFacts& f, size_t index, size_t count, double start_ms,
                     const Press& press, Settings settings) {
  const DecodeTrace& t = f.trace;
  o << "<p class=\"facts\">Train " << index + 1 << " of " << count << " · at ";
  o.Num(start_ms, 1) << " ms · " << f.train->LastEdgeIndex << " intervals";
  switch (t.outcome) {
    case DecodeTrace::Outcome::kIgnored:
      o << " · ten or fewer: ignored by the decoder";
      break;
    case DecodeTrace::Outcome::kRepeat:
      o << " · a repeat frame: the previous code again";
      if (f.delivered)
        o << " (<b class=\"code\">" << (f.code.empty() ? "empty" : f.code) << "</b>)";
      break;
    case DecodeTrace::Outcome::kFull: {
      o << " (" << DroppedCount(t) << " dropped) · <b>" << ModeName(t.thresholds.Mode) << "</b> · ";
      if (t.thresholds.Mode == CodingMode::kBiPhase) {
        o << "thresholds: mark ";
        o.Num(t.thresholds.MarkSeconds * 1e6, 1) << " µs, space ";
        o.Num(t.thresholds.SpaceSeconds * 1e6, 1) << " µs";
      } else {
        o << "threshold ";
        o.Num(t.thresholds.DecisionSeconds * 1e6, 1) << " µs";
      }
      if (t.long_leader) o << " · long leader";
      o << " · code <b class=\"code\">" << f.code << "</b> with Enable last bits "
        << settings.bit_mask << " · every bit (" << t.bit_count << "): <span class=\"code\">"
        << AllBitsHex(t) << "</span>";
      o << " · with the box \"stable codes\" ticked <b class=\"code\">";
      o.Esc(std::string(f.stable.Code())) << "</b> (" << ModeName(f.stable_decisions.mode);
      if (f.stable_decisions.mode == CodingMode::kBiPhase) {
        o << ", thresholds: mark ";
        o.Num(f.stable_decisions.level_threshold_seconds[1] * 1e6, 1) << " µs, space ";
        o.Num(f.stable_decisions.level_threshold_seconds[0] * 1e6, 1) << " µs)";
      } else {
        o << ", threshold ";
        o.Num(f.stable_decisions.threshold_seconds * 1e6, 1) << " µs)";
      }
      if (f.stable.Code() != f.code) o << " <span class=\"bad\">(another code)</span>";
      break;
    }
  }
  if (press.has_recorded_code && count == 1) {
    o << " · logged code <span class=\"code\">";
    o.Esc(press.recorded_code) << "</span>";
    if (press.recorded_code != f.code) o << " <span class=\"bad\">(differs)</span>";
  }
  o << "</p>";
}

void WriteAdvice(Out& o, const Advice& advice) {
  o << "<div class=\"advice\"><h3>Settings advisor</h3>";
  for (const std::string& sentence : advice.sentences) {
    o << "<p>";
    o.Esc(sentence) << "</p>";
  }
  o << "</div>";
}

void WriteCodes(Out& o, const std::vector<std::string>& codes) {
  for (size_t i = 0; i < codes.size(); ++i) {
    o << (i == 0 ? "" : " ") << "<span class=\"code\">";
    o.Esc(codes[i].empty() ? "(empty)" : codes[i]) << "</span>";
  }
}

void WriteButtonTable(Out& o, const Advice& advice) {
  const bool change = advice.verdict == Advice::Verdict::kChange;
  o << "<table class=\"sum\"><tr><th>Button</th><th>Presses</th><th>Codes with Command order "
    << advice.current.command_order << ", Enable last bits " << advice.current.bit_mask
    << "</th><th>Stable</th><th>Same code as</th>";
  if (change) {
    o << "<th>Codes with Command order " << advice.suggested.command_order << ", Enable last bits "
      << advice.suggested.bit_mask << "</th>";
  }
  o << "</tr>";
  for (size_t i = 0; i < advice.buttons.size(); ++i) {
    const ButtonSummary& b = advice.buttons[i];
    o << "<tr><td>";
    o.Esc(b.button) << "</td><td>" << b.presses << "</td><td>";
    WriteCodes(o, b.codes);
    if (b.silent_presses > 0)
      o << " <span class=\"bad\">(" << b.silent_presses << " silent)</span>";
    o << "</td><td>"
      << (b.Stable() ? "<span class=\"ok\">yes</span>" : "<span class=\"bad\">no</span>")
      << "</td><td>";
    for (size_t k = 0; k < b.shared_with.size(); ++k) {
      o << (k == 0 ? "" : ", ");
      o.Esc(b.shared_with[k]);
    }
    o << "</td>";
    if (change && i < advice.suggested_buttons.size()) {
      o << "<td>";
      WriteCodes(o, advice.suggested_buttons[i].codes);
      o << "</td>";
    }
    o << "</tr>";
  }
  o << "</table>";
}

void WriteRunTable(Out& o, const Remote& remote, const Advice& advice) {
  o << "<table class=\"sum\"><tr><th>" << (remote.captured ? "Records" : "Recordings")
    << "</th><th>Trains</th><th>Code with Enable last bits " << advice.current.bit_mask
    << "</th><th>Every bit</th></tr>";
  for (const RunSummary& run : advice.runs) {
    o << "<tr><td>";
    o.Esc(run.first_label);
    if (run.last_label != run.first_label) o.Esc(" .. ").Esc(run.last_label);
    o << "</td><td>" << run.trains << "</td><td><span class=\"code\">";
    o.Esc(run.code) << "</span></td><td><span class=\"code\">";
    o.Esc(run.all_bits_code) << "</span></td></tr>";
  }
  o << "</table>";
}

void WriteLegend(Out& o) {
  o << "<p class=\"legend\">Each train is drawn to scale (1 pixel = "
    << static_cast<int>(kMicrosecondsPerPixel)
    << " µs; zoom the page for detail, scroll sideways along long trains): marks high on a "
       "<svg width=\"14\" height=\"10\"><rect class=\"m\" width=\"14\" height=\"10\"/></svg> "
       "ground, spaces low; lengths in µs where there is room (every interval shows its length "
       "when pointed at). "
       "<svg width=\"14\" height=\"10\"><rect class=\"x\" width=\"14\" height=\"10\"/></svg> "
       "intervals the decoder drops (gaps and leaders); "
       "<svg width=\"20\" height=\"10\"><path class=\"t\" d=\"M0 5h20\"/></svg> the threshold "
       "at the drawing's scale, and "
       "<svg width=\"8\" height=\"10\"><path class=\"tk\" d=\"M4 0v10\"/></svg> where it falls "
       "inside a longer interval; under each data interval the bit it gave (<span "
       "style=\"color:#c60\">orange</span>: a bit the decoder always clears).</p>";
}

}  // namespace

std::string ReportPage(const std::vector<Remote>& remotes, const std::vector<Advice>& advice,
                       const PageOptions& options) {
  Out o;
  const InputSize size = SizeOf(remotes);
  bool captured = !remotes.empty();
  for (const Remote& remote : remotes) captured &= remote.captured;
  o.Reserve(static_cast<size_t>(size.trains) * 6000 + 20000);
  o << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>Signals of ";
  o.Esc(options.source) << "</title><style>" << kStyle << "</style></head><body><h1>Signals of ";
  o.Esc(options.source) << "</h1><p>" << remotes.size() << " remote(s), " << size.presses
                        << (captured ? " record(s), " : " recording(s), ") << size.trains
                        << " train(s) as the serial receiver captures them, decoded with Enable "
                           "last bits "
                        << options.settings.bit_mask << " and Command order "
                        << options.settings.command_order << ".</p>";
  WriteLegend(o);

  DecoderState state;
  TrainFacts facts;
  for (size_t r = 0; r < remotes.size(); ++r) {
    const Remote& remote = remotes[r];
    o << "<section class=\"remote\"><h2>";
    o.Esc(remote.name) << "</h2>";
    if (r < advice.size()) {
      WriteAdvice(o, advice[r]);
      if (remote.named) {
        WriteButtonTable(o, advice[r]);
      } else {
        WriteRunTable(o, remote, advice[r]);
      }
    }
    std::map<std::string, std::pair<int, int>> presses_of;  // button: (seen, all)
    for (const Press& press : remote.presses) ++presses_of[press.label].second;
    for (const Press& press : remote.presses) {
      auto& [seen, all] = presses_of[press.label];
      o << "<div class=\"press\"><h3>";
      o.Esc(press.label);
      if (all > 1) o << " <small>(press " << ++seen << " of " << all << ")</small>";
      o << "</h3>";
      state = DecoderState{};  // each recording as a fresh press
      const int64_t first = press.trains.empty() || press.trains[0].LastEdgeIndex < 0
                                ? 0
                                : press.trains[0].Edges[0].Timestamp;
      for (size_t i = 0; i < press.trains.size(); ++i) {
        const PulseTrain& train = press.trains[i];
        if (train.LastEdgeIndex < 1) continue;  // nothing to draw
        facts.train = &train;
        const DecodeResult result =
            Decoder::Decode(train, options.settings.bit_mask, state, facts.trace);
        facts.delivered = result.deliver;
        facts.code.assign(result.code);
        facts.stable = DecodeStable(train, options.settings.bit_mask, &facts.stable_decisions);
        WriteTrainFacts(
            o, facts, i, press.trains.size(),
            MicrosecondsBetween(first, train.Edges[0].Timestamp, train.TicksPerSecond) / 1e3, press,
            options.settings);
        o << "<div class=\"scroll\">";
        DrawTrain(o, facts);
        o << "</div>";
      }
      o << "</div>";
    }
    o << "</section>";
  }
  o << "</body></html>\n";
  return o.Take();
}

}  // namespace sfh56::report
