// irdecode's settings advisor on recorded remotes of known behaviour, and the report
// page's drawings against the decoder's own decisions.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/irdecode_input.h"
#include "tools/report/advisor.h"
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
       "change between presses (seen 5 times between codes that agree in every later bit), as "
       "a toggle bit does in a bi-phase frame: set Enable last bits to 14."},
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
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Advice advice = Advise(c.remote, c.current);
    EXPECT_EQ(advice.verdict, c.verdict) << Sentences(advice);
    EXPECT_EQ(advice.suggested, c.suggested) << Sentences(advice);
    EXPECT_NE(Sentences(advice).find(c.says), std::string::npos) << Sentences(advice);
    if (advice.verdict == Advice::Verdict::kChange && c.remote.named) {
      // The suggested setting really gives each button one code of its own.
      const std::vector<ButtonSummary> buttons =
          SummariseButtons(c.remote, DecodeAtEveryBitMask(c.remote), advice.suggested);
      for (const ButtonSummary& b : buttons) {
        EXPECT_TRUE(b.Stable()) << b.button;
        EXPECT_TRUE(b.shared_with.empty()) << b.button;
      }
    }
  }
}

}  // namespace
}  // namespace sfh56::report
