// irnoise: how often a decoding gives a train another code than its clean code when the
// edges carry timing noise, on recorded signals (TSV: source, remote, button, carrier,
// durations in µs). Each recording is split into the trains serial capture records; each
// train of more than ten intervals is decoded clean and then, for every noise model, in
// a few noisy trials:
//   sigma S  every edge moved by independent Gaussian noise of S µs, edges kept in order;
//   grid G   the pin sampled every G µs from a random phase (an edge is seen at the next
//            sample; a pulse between two samples is lost).
// It prints the share of noisy decodes whose code differs from the clean one, the share
// of recordings with near-identical repeated frames that give more than one code, the
// share of buttons whose code another button of the same remote also gives, and the
// share of clean codes equal to the classic decoding's.
//
//   irnoise [--decoder classic|stable] [--bitmask N] [--seed N] [--trials N]
//           [--sample N] [--list] [--why] FILE.tsv

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "decode/decoder.h"
#include "decode/stable_decoder.h"
#include "tools/replay/durations.h"
#include "tools/replay/recordings.h"

namespace sfh56 {
namespace {

// Trains are replayed at 64 ticks per µs: recorded microseconds stay exact (a power of
// two), and noise below a microsecond is not rounded away.
constexpr int64_t kTicksPerUs = 64;
constexpr double kTicksPerSecond = 64e6;
constexpr int kMinIntervals = 11;  // the decoder ignores trains of ten intervals or fewer
// Near-identical repeated frames: same length, every interval within 20 % or 0.1 ms.
constexpr double kRepeatRelativeTolerance = 0.2;
constexpr double kRepeatAbsoluteToleranceUs = 100.0;

struct Noise {
  const char* label;
  bool grid;
  double us;
};
constexpr Noise kNoises[] = {{"sigma 2 µs", false, 2},  {"5", false, 5},   {"10", false, 10},
                             {"20", false, 20},         {"50", false, 50}, {"grid 10 µs", true, 10},
                             {"grid 100 µs", true, 100}};
constexpr int kNoiseCount = sizeof(kNoises) / sizeof(kNoises[0]);

struct Options {
  Decoding decoding = Decoding::kClassic;
  int32_t bit_mask = 16;
  uint64_t seed = 1;
  int trials = 5;
  int sample = 0;  // 0: every recording
  bool list = false;
  bool why = false;
  std::string file;
};

// The code a train gives, "-" when nothing is delivered. A repeat frame is not decoded in
// full and stands for the previous code: it is written as "=". decisions, when given,
// receive the stable decoding's.
std::string CodeOf(const PulseTrain& train, Decoding decoding, int32_t bit_mask,
                   StableDecisions* decisions = nullptr) {
  const DecodedTrain c = decoding == Decoding::kStable ? DecodeStable(train, bit_mask, decisions)
                                                       : DecodePulseTrain(train, bit_mask);
  if (c.outcome == DecodedTrain::Outcome::kFull) return std::string(c.Code());
  return c.outcome == DecodedTrain::Outcome::kRepeat ? "=" : "-";
}

uint64_t Mix(uint64_t x) {  // splitmix64: one stream per train and noise model
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

PulseTrain Noisy(const PulseTrain& clean, const Noise& noise, std::mt19937_64& rng) {
  PulseTrain out = clean;
  const int n = clean.LastEdgeIndex;
  if (!noise.grid) {
    std::normal_distribution<double> gauss(0.0, noise.us * kTicksPerUs);
    std::vector<int64_t> t(static_cast<size_t>(n) + 1);
    for (int c = 0; c <= n; ++c) t[c] = clean.Edges[c].Timestamp + std::llround(gauss(rng));
    std::sort(t.begin(), t.end());  // edges keep their order
    for (int c = 0; c <= n; ++c) {
      if (c > 0 && t[c] <= t[c - 1]) t[c] = t[c - 1] + 1;
      out.Edges[c].Timestamp = t[c];
    }
    return out;
  }
  const auto step = static_cast<int64_t>(noise.us * kTicksPerUs);
  std::uniform_int_distribution<int64_t> phase_of(0, step - 1);
  const int64_t phase = phase_of(rng);
  int k = -1;
  for (int c = 0; c <= n; ++c) {
    const int64_t t = clean.Edges[c].Timestamp - phase;
    const int64_t seen = phase + (t >= 0 ? (t + step - 1) / step : -((-t) / step)) * step;
    if (k >= 0 && out.Edges[k].Timestamp == seen) {
      --k;  // the pulse fell between two samples: neither of its edges is seen
      continue;
    }
    out.Edges[++k] = {clean.Edges[c].Status, seen};
  }
  out.LastEdgeIndex = k;
  return out;
}

bool NearIdentical(const PulseTrain& a, const PulseTrain& b) {
  if (a.LastEdgeIndex != b.LastEdgeIndex) return false;
  for (int c = 0; c < a.LastEdgeIndex; ++c) {
    const double da = static_cast<double>(a.Edges[c + 1].Timestamp - a.Edges[c].Timestamp);
    const double db = static_cast<double>(b.Edges[c + 1].Timestamp - b.Edges[c].Timestamp);
    const double diff = std::abs(da - db) / kTicksPerUs;
    if (diff > kRepeatAbsoluteToleranceUs &&
        diff > kRepeatRelativeTolerance * std::min(da, db) / kTicksPerUs) {
      return false;
    }
  }
  return true;
}

int Usage() {
  std::cerr << "usage: irnoise [--decoder classic|stable] [--bitmask N] [--seed N] [--trials N]"
               " [--sample N] [--list] [--why] FILE.tsv\n";
  return 2;
}

bool ParseInt(const std::string& text, long long lo, long long hi, long long& out) {
  try {
    size_t used = 0;
    out = std::stoll(text, &used);
    return used == text.size() && out >= lo && out <= hi;
  } catch (...) {
    return false;
  }
}

bool ParseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    long long v = 0;
    auto value = [&](long long lo, long long hi) {
      return i + 1 < argc && ParseInt(argv[++i], lo, hi, v);
    };
    if (a == "--decoder" && i + 1 < argc) {
      const std::string d = argv[++i];
      if (d != "classic" && d != "stable") return false;
      o.decoding = d == "stable" ? Decoding::kStable : Decoding::kClassic;
    } else if (a == "--bitmask" && value(0, 99)) {
      o.bit_mask = static_cast<int32_t>(v);
    } else if (a == "--seed" && value(0, INT64_MAX)) {
      o.seed = static_cast<uint64_t>(v);
    } else if (a == "--trials" && value(1, 1000)) {
      o.trials = static_cast<int>(v);
    } else if (a == "--sample" && value(1, INT32_MAX)) {
      o.sample = static_cast<int>(v);
    } else if (a == "--list") {
      o.list = true;
    } else if (a == "--why") {
      o.why = true;
    } else if (!a.empty() && a[0] != '-' && o.file.empty()) {
      o.file = a;
    } else {
      return false;
    }
  }
  return !o.file.empty();
}

double Percent(long long part, long long whole) {
  return whole == 0 ? 0.0 : 100.0 * static_cast<double>(part) / static_cast<double>(whole);
}

int Run(const Options& o) {
  std::ifstream in(o.file, std::ios::binary);
  if (!in) {
    std::cerr << "irnoise: cannot read " << o.file << "\n";
    return 2;
  }
  int skipped = 0;
  std::vector<replay::Recording> all = replay::ReadRecordings(in, &skipped);
  // --sample N: N recordings spread evenly over the whole file.
  const size_t picked =
      o.sample > 0 ? std::min(static_cast<size_t>(o.sample), all.size()) : all.size();
  std::vector<const replay::Recording*> recordings;
  for (size_t k = 0; k < picked; ++k) recordings.push_back(&all[k * all.size() / picked]);
  if (recordings.empty()) {
    std::cerr << "irnoise: no recordings in " << o.file << "\n";
    return 2;
  }

  long long trains = 0;
  long long changed[kNoiseCount] = {};
  long long classic_changed[kNoiseCount] = {};
  // Stable decoding: which decision moved in a changed code (filter, mode, threshold side).
  long long why_filter[kNoiseCount] = {};
  long long why_levels[kNoiseCount] = {};
  long long why_mode[kNoiseCount] = {};
  long long equal_classic = 0;
  long long repeat_recordings = 0;
  long long repeat_split = 0;
  // Per remote: the first code of each recording, with its button.
  std::map<std::string, std::vector<std::pair<std::string, std::string>>> by_remote;
  std::map<std::string, std::vector<std::pair<std::string, std::string>>> classic_by_remote;

  for (size_t r = 0; r < recordings.size(); ++r) {
    const replay::Recording& rec = *recordings[r];
    const std::vector<double> durations(rec.durations_us.begin(), rec.durations_us.end());
    std::vector<PulseTrain> kept;
    std::vector<std::string> codes;
    std::string first_classic_code;
    for (const PulseTrain& clean : ReplayedTrains(durations, kTicksPerSecond)) {
      if (clean.LastEdgeIndex < kMinIntervals) continue;
      StableDecisions clean_decisions;
      const std::string code = CodeOf(clean, o.decoding, o.bit_mask, &clean_decisions);
      const bool stable = o.decoding == Decoding::kStable;
      const std::string classic_code =
          stable ? CodeOf(clean, Decoding::kClassic, o.bit_mask) : code;
      if (stable && classic_code == code) ++equal_classic;
      if (codes.empty()) first_classic_code = classic_code;
      std::string flips;
      for (int k = 0; k < kNoiseCount; ++k) {
        std::mt19937_64 rng(Mix(o.seed ^ Mix(static_cast<uint64_t>(trains) * 131 + k)));
        int n = 0;
        for (int trial = 0; trial < o.trials; ++trial) {
          StableDecisions d;
          const PulseTrain noisy = Noisy(clean, kNoises[k], rng);
          // The stable decoding is measured beside the classic one on the same noisy trains.
          if (stable && CodeOf(noisy, Decoding::kClassic, o.bit_mask) != classic_code) {
            ++classic_changed[k];
          }
          if (CodeOf(noisy, o.decoding, o.bit_mask, &d) != code) {
            ++n;
            if (d.kept != clean_decisions.kept ||
                d.leader_dropped != clean_decisions.leader_dropped) {
              ++why_filter[k];
            } else if (d.data_in[0] != clean_decisions.data_in[0] ||
                       d.data_in[1] != clean_decisions.data_in[1]) {
              ++why_levels[k];
            } else if (d.mode != clean_decisions.mode) {
              ++why_mode[k];
            }
          }
        }
        changed[k] += n;
        flips += " " + std::to_string(n);
      }
      if (o.list) {
        std::cout << rec.remote << "\t" << rec.button << "\t" << kept.size() << "\t" << code << "\t"
                  << flips << "\n";
      }
      ++trains;
      kept.push_back(clean);
      codes.push_back(code);
    }
    if (kept.size() >= 2 && std::all_of(kept.begin() + 1, kept.end(), [&](const PulseTrain& t) {
          return NearIdentical(kept[0], t);
        })) {
      ++repeat_recordings;
      if (std::set<std::string>(codes.begin(), codes.end()).size() > 1) ++repeat_split;
    }
    if (!codes.empty()) {
      by_remote[rec.source + "\t" + rec.remote].push_back({rec.button, codes[0]});
      classic_by_remote[rec.source + "\t" + rec.remote].push_back({rec.button, first_classic_code});
    }
  }

  // Buttons whose first code another button of the same remote also gives.
  auto shared_codes = [](const auto& remotes, long long& buttons) {
    long long shared = 0;
    buttons = 0;
    for (const auto& [remote, list] : remotes) {
      for (const auto& [button, code] : list) {
        ++buttons;
        for (const auto& [other_button, other_code] : list) {
          if (other_button != button && other_code == code) {
            ++shared;
            break;
          }
        }
      }
    }
    return shared;
  };
  long long buttons = 0;
  const long long shared = shared_codes(by_remote, buttons);
  const long long classic_shared = shared_codes(classic_by_remote, buttons);

  const char* name = o.decoding == Decoding::kStable ? "stable" : "classic";
  std::printf(
      "%s: %zu recordings (%d lines skipped), %lld trains of more than ten intervals;"
      " seed %llu, %d trials per train\n\n",
      o.file.c_str(), recordings.size(), skipped, trains, static_cast<unsigned long long>(o.seed),
      o.trials);
  std::printf("| noise |");
  for (const Noise& n : kNoises) std::printf(" %s |", n.label);
  std::printf("\n|---|");
  for (int k = 0; k < kNoiseCount; ++k) std::printf("---|");
  std::printf("\n| %s decoding, BitMask %d |", name, o.bit_mask);
  const long long decodes = trains * o.trials;
  for (long long c : changed) std::printf(" %.1f %% |", Percent(c, decodes));
  if (o.decoding == Decoding::kStable) {
    std::printf("\n| classic decoding, BitMask %d |", o.bit_mask);
    for (long long c : classic_changed) std::printf(" %.1f %% |", Percent(c, decodes));
    std::printf("\n| stable / classic |");
    for (int k = 0; k < kNoiseCount; ++k) {
      std::printf(" %.2f |", classic_changed[k] == 0 ? 0.0
                                                     : static_cast<double>(changed[k]) /
                                                           static_cast<double>(classic_changed[k]));
    }
  }
  std::printf("\n\nshare of noisy decodes whose code differs from the clean train's code\n");
  std::printf(
      "near-identical repeats: %lld of %lld recordings give more than one code"
      " (%.1f %% give one code)\n",
      repeat_split, repeat_recordings, 100.0 - Percent(repeat_split, repeat_recordings));
  std::printf(
      "collisions: %lld of %lld buttons (%.1f %%) share their code with another button"
      " of the same remote\n",
      shared, buttons, Percent(shared, buttons));
  if (o.decoding == Decoding::kStable) {
    std::printf("  (classic decoding: %lld buttons, %.1f %%)\n", classic_shared,
                Percent(classic_shared, buttons));
  }
  if (o.why && o.decoding == Decoding::kStable) {
    std::printf("| changed by gaps and leaders |");
    for (long long c : why_filter) std::printf(" %.2f %% |", Percent(c, decodes));
    std::printf("\n| changed by the levels that carry data |");
    for (long long c : why_levels) std::printf(" %.2f %% |", Percent(c, decodes));
    std::printf("\n| changed by the spread ratio |");
    for (long long c : why_mode) std::printf(" %.2f %% |", Percent(c, decodes));
    std::printf("\n");
  }
  if (o.decoding == Decoding::kStable) {
    std::printf("equal to classic: %lld of %lld clean trains (%.1f %%)\n", equal_classic, trains,
                Percent(equal_classic, trains));
  }
  return 0;
}

}  // namespace
}  // namespace sfh56

int main(int argc, char** argv) {
  sfh56::Options options;
  if (!sfh56::ParseOptions(argc, argv, options)) return sfh56::Usage();
  return sfh56::Run(options);
}
