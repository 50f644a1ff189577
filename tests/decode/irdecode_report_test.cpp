// irdecode's settings advisor on recorded remotes of known behaviour, and the report
// page's drawings against the decoder's own decisions.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "decode/decoder.h"
#include "tools/irdecode_cli.h"
#include "tools/irdecode_input.h"
#include "tools/report/advisor.h"
#include "tools/report/html_report.h"
#include "tools/report/report_input.h"

namespace sfh56::report {
namespace {

std::string ReadFile(const std::string& name) {
  std::ifstream in(std::string(SFH_TEST_DATA_DIR) + "/" + name, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<tools::Recording> Recordings(const std::string& name) {
  std::vector<tools::InputError> errors;
  const std::string text = ReadFile(name);
  auto recordings = name.ends_with(".ir") ? tools::ParseIrFile(text, errors)
                                          : tools::ParseCorpusTsv(text, errors);
  EXPECT_TRUE(errors.empty()) << name;
  return recordings;
}

std::string Sentences(const Advice& advice) {
  std::string all;
  for (const std::string& s : advice.sentences) all += s + "\n";
  return all;
}

TEST(SettingsAdvisor, FindsTheSettingsThatRecordedRemotesNeed) {
  const std::vector<Remote> serial =
      RemotesFromRecordings(Recordings("serial_remotes.tsv"), true, "");
  const std::vector<Remote> toggle =
      RemotesFromRecordings(Recordings("toggle_remote.ir"), true, "toggle");
  ASSERT_EQ(serial.size(), 3u);
  ASSERT_EQ(toggle.size(), 1u);
  // The same presses without their names, as a service log or mode2 text gives them.
  Remote sharp_unnamed = serial[1];
  Remote toggle_unnamed = toggle[0];
  for (Remote* r : {&sharp_unnamed, &toggle_unnamed}) {
    r->named = false;
    for (Press& p : r->presses) p.button.clear();
  }
  // Two names for one signal: no setting can tell them apart.
  Remote twins = serial[0];
  twins.presses[1] = twins.presses[0];
  twins.presses[1].button = "Power again";
  // Three buttons of a remote that sends the command before the address: their codes
  // agree in the last bits and differ before them, once each, which no toggle does.
  const std::vector<Remote> address_last = RemotesFromInput(
      tools::ReadInput(ReadFile("formats/mode2_columns.txt")), "mode2_columns.txt");
  ASSERT_EQ(address_last.size(), 1u);
  // A button whose spaces have three lengths: a few microseconds move the classic decoder's
  // threshold across the middle one, from press to press.
  const std::vector<Remote> wavering =
      RemotesFromRecordings(Recordings("wavering_remote.tsv"), true, "");
  ASSERT_EQ(wavering.size(), 1u);

  const struct {
    const char* what;
    const Remote& remote;
    Settings current;
    Advice::Verdict verdict;
    Settings suggested;
    const char* says;
  } cases[] = {
      {"space-coded remote",
       serial[0],
       {16, 0},
       Advice::Verdict::kNothingNeeded,
       {16, 0},
       "nothing to change"},
      {"two frames per press",
       serial[1],
       {16, 0},
       Advice::Verdict::kChange,
       {16, 2},
       "set Command order to 2"},
      {"bi-phase without toggle",
       serial[2],
       {16, 0},
       Advice::Verdict::kNothingNeeded,
       {16, 0},
       "nothing to change"},
      {"toggling bi-phase",
       toggle[0],
       {16, 0},
       Advice::Verdict::kChange,
       {14, 0},
       "the bits from bit 14 up (counting from 0 at the last bit received) change between "
       "presses, as a toggle bit does in a bi-phase frame: set Enable last bits to 14"},
      {"toggling bi-phase, every bit kept",
       toggle[0],
       {0, 0},
       Advice::Verdict::kChange,
       {14, 0},
       "set Enable last bits to 14"},
      {"toggling bi-phase, already masked",
       toggle[0],
       {12, 0},
       Advice::Verdict::kNothingNeeded,
       {12, 0},
       "nothing to change"},
      {"toggling bi-phase, unnamed",
       toggle_unnamed,
       {16, 0},
       Advice::Verdict::kChange,
       {14, 0},
       "change between codes that agree in every later bit (seen 5 times), as a toggle bit does "
       "in a bi-phase frame: set Enable last bits to 14."},
      {"two frames per press, unnamed",
       sharp_unnamed,
       {16, 0},
       Advice::Verdict::kChange,
       {16, 2},
       "Within one press the frames alternate (41A2 425D ...): set Command order to 2"},
      {"two names for one signal",
       twins,
       {16, 0},
       Advice::Verdict::kNothingHelps,
       {16, 0},
       "No setting helps"},
      {"address last, unnamed",
       address_last[0],
       {16, 0},
       Advice::Verdict::kNothingNeeded,
       {16, 0},
       "No toggle bits and no alternating frames"},
      {"timing near the decision",
       wavering[0],
       {16, 0},
       Advice::Verdict::kChange,
       {4, 0},
       "The codes of \"Power\" ("},
      {"timing near the decision, stable decoding",
       wavering[0],
       {16, 0, Decoding::kStable},
       Advice::Verdict::kNothingNeeded,
       {16, 0, Decoding::kStable},
       "nothing to change"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Advice advice = Advise(c.remote, c.current);
    EXPECT_EQ(advice.verdict, c.verdict) << Sentences(advice);
    EXPECT_EQ(advice.suggested, c.suggested) << Sentences(advice);
    EXPECT_NE(Sentences(advice).find(c.says), std::string::npos) << Sentences(advice);
    if (advice.verdict == Advice::Verdict::kChange && c.remote.named) {
      // The suggested setting really gives each button one code of its own.
      const std::vector<ButtonSummary> buttons = SummariseButtons(
          c.remote, DecodeAtEveryBitMask(c.remote, c.current.decoding), advice.suggested);
      for (const ButtonSummary& b : buttons) {
        EXPECT_TRUE(b.Stable()) << b.button;
        EXPECT_TRUE(b.shared_with.empty()) << b.button;
      }
    }
  }
}

// irdecode in-process: its standard output.
std::string Irdecode(const std::vector<std::string>& args, int expected_status = 0) {
  std::istringstream in;
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(tools::RunIrdecode(args, in, out, err), expected_status) << err.str();
  return out.str();
}

TEST(Irdecode, DecoderOptionChoosesTheDecoding) {
  const std::string path = std::string(SFH_TEST_DATA_DIR) + "/wavering_remote.tsv";
  auto power_codes = [](const std::string& printed) {
    std::set<std::string> codes;
    std::istringstream lines(printed);
    for (std::string line; std::getline(lines, line);) {
      if (line.starts_with("wavering\tPower\t")) codes.insert(line.substr(15));
    }
    return codes;
  };
  const std::string classic = Irdecode({path});
  EXPECT_EQ(Irdecode({"--decoder", "classic", path}), classic);
  EXPECT_GT(power_codes(classic).size(), 1u);
  EXPECT_EQ(power_codes(Irdecode({"--decoder", "stable", path})).size(), 1u);
  Irdecode({"--decoder", "fast", path}, tools::kExitFailure);
  // The advice is about the decoding in use: only the classic one is told of stable codes.
  EXPECT_NE(Irdecode({"--advise", path}).find("stable codes"), std::string::npos);
  EXPECT_EQ(Irdecode({"--advise", "--decoder", "stable", path}).find("stable codes"),
            std::string::npos);
}

TEST(SettingsAdvisor, ReadsServiceLogsOfRemotesOfKnownBehaviour) {
  // Service logs as the plugin writes them, of presses of three recorded remotes.
  const std::string dir = testing::TempDir();
  const std::string tsv = ReadFile("serial_remotes.tsv");
  const struct {
    const char* what;
    std::string recordings;  // a file in tests/data, or the lines of serial_remotes.tsv
    const char* says;
  } cases[] = {
      // The first frame of each press has one bit more than the frames after it.
      {"space-coded remote", "NEC/",
       "Bit 17 (counting from 0 at the last bit received) alternates between codes that agree "
       "in every later bit (seen 6 times); Enable last bits 16 already leaves them out of the "
       "code."},
      {"two frames per press", "Sharp/",
       "Records alternate between two codes (41A2 425D ...): the remote sends two different "
       "frames for one press. Set Command order to 2"},
      {"toggling bi-phase remote", "toggle_remote.ir",
       "change between codes that agree in every later bit (seen 5 times), as a toggle bit does "
       "in a bi-phase frame: set Enable last bits to 14."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string input = std::string(SFH_TEST_DATA_DIR) + "/" + c.recordings;
    if (c.recordings.ends_with("/")) {
      input = dir + "/presses.tsv";
      std::ofstream lines(input, std::ios::binary | std::ios::trunc);
      std::istringstream all(tsv);
      for (std::string line; std::getline(all, line);) {
        if (line.find(c.recordings) != std::string::npos) lines << line << "\n";
      }
    }
    const std::string log = dir + "/log.txt";
    std::remove(log.c_str());
    Irdecode({"--log", log, input});
    std::string advice = Irdecode({"--advise", "--log-in", log});
    for (size_t at; (at = advice.find("\n    ")) != std::string::npos;) advice.replace(at, 5, " ");
    EXPECT_NE(advice.find(c.says), std::string::npos) << advice;
    // The page of the log shows the code each record logged.
    const std::string page_path = dir + "/log.html";
    Irdecode({"--report", page_path, "--log-in", log});
    std::ifstream page_file(page_path, std::ios::binary);
    std::ostringstream page;
    page << page_file.rdbuf();
    EXPECT_NE(page.str().find("logged code"), std::string::npos);
    EXPECT_EQ(page.str().find("(differs)"), std::string::npos);
  }
  // A page that cannot be written is an error, not a silent success.
  Irdecode({"--report", dir + "/no such folder/page.html",
            std::string(SFH_TEST_DATA_DIR) + "/toggle_remote.ir"},
           2);
}

// What the page shows of one train: its drawing's attributes and elements in order.
struct Drawing {
  int intervals = -1;
  int rects = 0;
  std::vector<int> greyed;  // intervals drawn as dropped
  std::string mode;
  double decision_us = -1;
  double mark_us = -1;
  double space_us = -1;
  std::string bits;  // the bits written under the wave, in order
};

std::string Attribute(const std::string& svg, const std::string& name) {
  const size_t at = svg.find(" " + name + "=\"");
  if (at == std::string::npos) return "";
  const size_t start = at + name.size() + 3;
  return svg.substr(start, svg.find('"', start) - start);
}

std::vector<Drawing> Drawings(const std::string& page) {
  std::vector<Drawing> out;
  for (size_t at = page.find("<svg class=\"wave"); at != std::string::npos;
       at = page.find("<svg class=\"wave", at + 1)) {
    const std::string svg = page.substr(at, page.find("</svg>", at) - at);
    Drawing d;
    d.intervals = std::stoi(Attribute(svg, "data-intervals"));
    d.mode = Attribute(svg, "data-mode");
    if (!d.mode.empty()) {
      d.decision_us = std::stod(Attribute(svg, "data-decision-us"));
      d.mark_us = std::stod(Attribute(svg, "data-mark-us"));
      d.space_us = std::stod(Attribute(svg, "data-space-us"));
    }
    for (size_t r = svg.find("<rect class=\""); r != std::string::npos;
         r = svg.find("<rect class=\"", r + 1)) {
      const std::string cls = svg.substr(r + 13, svg.find('"', r + 13) - r - 13);
      if (cls.ends_with(" x")) d.greyed.push_back(d.rects);
      ++d.rects;
    }
    for (size_t b = svg.find("<text class=\"b"); b != std::string::npos;
         b = svg.find("<text class=\"b", b + 1)) {
      d.bits += svg[svg.find('>', b) + 1];
    }
    out.push_back(std::move(d));
  }
  return out;
}

TEST(ReportPage, DrawsEveryTrainWithTheDecodersDecisions) {
  std::vector<Remote> remotes =
      RemotesFromRecordings(Recordings("space_coded_remote.ir"), true, "space-coded");
  const std::vector<Remote> biphase =
      RemotesFromRecordings(Recordings("biphase_remote.ir"), true, "bi-phase");
  remotes.insert(remotes.end(), biphase.begin(), biphase.end());
  remotes[0].presses[0].label = "<Vol & \"up\">";  // names are text, never markup
  std::vector<Advice> advice;
  for (const Remote& r : remotes) advice.push_back(Advise(r, {}));
  const std::string page = ReportPage(remotes, advice, {"sample", {}});

  EXPECT_EQ(page.find("<script"), std::string::npos);
  EXPECT_EQ(page.find(" src="), std::string::npos);
  EXPECT_EQ(page.find("<link"), std::string::npos);
  EXPECT_EQ(page.find("url("), std::string::npos);
  EXPECT_NE(page.find("&lt;Vol &amp; &quot;up&quot;&gt;"), std::string::npos);

  const std::vector<Drawing> drawings = Drawings(page);
  size_t next = 0;
  int space_coded = 0;
  int bi_phase = 0;
  for (const Remote& remote : remotes) {
    for (const Press& press : remote.presses) {
      DecoderState state;
      for (const PulseTrain& train : press.trains) {
        if (train.LastEdgeIndex < 1) continue;
        SCOPED_TRACE(press.label + " train of " + std::to_string(train.LastEdgeIndex) +
                     " intervals");
        ASSERT_LT(next, drawings.size());
        const Drawing& d = drawings[next++];
        DecodeTrace trace;
        const DecodeResult result = Decoder::Decode(train, 16, state, trace);
        EXPECT_EQ(d.intervals, train.LastEdgeIndex);
        EXPECT_EQ(d.rects, train.LastEdgeIndex);
        if (trace.outcome != DecodeTrace::Outcome::kFull) {
          EXPECT_EQ(d.mode, "");
          continue;
        }
        std::vector<int> dropped;
        for (int c = 0; c < trace.interval_count; ++c) {
          if (trace.drop[static_cast<size_t>(c)] != DecodeTrace::Drop::kKept) dropped.push_back(c);
        }
        EXPECT_EQ(d.greyed, dropped);
        EXPECT_NEAR(d.decision_us, trace.thresholds.DecisionSeconds * 1e6, 5e-4);
        EXPECT_NEAR(d.mark_us, trace.thresholds.MarkSeconds * 1e6, 5e-4);
        EXPECT_NEAR(d.space_us, trace.thresholds.SpaceSeconds * 1e6, 5e-4);
        // The bits written under the wave spell the code (its last 16 bits).
        uint64_t last16 = 0;
        for (char bit : d.bits) last16 = (last16 * 2 + (bit == '1')) & 0xFFFF;
        char hex[8];
        std::snprintf(hex, sizeof hex, "%04llX", static_cast<unsigned long long>(last16));
        EXPECT_EQ(hex, std::string(result.code));
        if (d.mode == "space-coded") {
          // A 9 ms leader mark and its 4.5 ms space, then 32 bits in the spaces.
          ++space_coded;
          EXPECT_EQ(d.greyed, (std::vector<int>{0, 1}));
          EXPECT_EQ(d.bits.size(), 32u);
        } else if (d.mode == "bi-phase") {
          ++bi_phase;
          EXPECT_EQ(d.decision_us, 0.0);
          EXPECT_GT(d.mark_us, 0.0);
          EXPECT_EQ(d.mark_us, d.space_us);
          EXPECT_EQ(d.bits[0], '1');
        }
      }
    }
  }
  EXPECT_EQ(next, drawings.size());
  EXPECT_EQ(space_coded, 8);
  EXPECT_EQ(bi_phase, 8);
  // Every decoded train also shows the code the stable decoding gives it.
  size_t stable_shown = 0;
  for (size_t at = page.find("\"stable codes\" ticked"); at != std::string::npos;
       at = page.find("\"stable codes\" ticked", at + 1)) {
    ++stable_shown;
  }
  EXPECT_EQ(stable_shown, static_cast<size_t>(space_coded + bi_phase));
}

}  // namespace
}  // namespace sfh56::report
