// irdecode on the files users have: one row per committed sample or bad input, with the
// codes it must print or the error it must name, and its exit status.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/irdecode_cli.h"

namespace sfh56::tools {
namespace {

struct Case {
  const char* what;
  std::vector<std::string> args;  // "@name" is the sample tests/data/formats/name
  std::string input;              // standard input; "<name": the sample's text
  int status;
  std::string out;  // the whole standard output; "@name": the sample file's text
  std::string err;  // text standard error must hold ("" when it must be empty)
};

std::string Sample(const std::string& name) {
  return std::string(SFH_TEST_DATA_DIR) + "/formats/" + name;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A space-coded train of eleven edges, as the receiver timestamps it at 1 MHz.
const std::string kEdgeLine =
    "1000000 0 0 32 9000 0 13500 32 14063 0 14625 32 15188 0 15750 32 16313 0 16875 32 17438 "
    "0 18000 32 18563";

const std::vector<Case>& Cases() {
  static const std::vector<Case> cases = {
      {"service log, guessed: each record decoded again beside the logged code",
       {"@log.txt"},
       "",
       kExitLogMismatch,
       "@log.expected",
       "1 of 6 records decode to another code"},
      {"lircd.conf: every raw_codes block, named remote/button",
       {"@RC-333c.lircd.conf"},
       "",
       kExitOk,
       "RC-333c/tape_play\tB946\nRC-333c/tape_stop\tF991\nRC-333c/tape_ffw\t01FE\n"
       "RC-333c/tape_rev\t817E\n",
       "skipped 2 codes of remotes without raw_codes"},
      {"mode2 pasted with a shell prompt and mode2's header lines",
       {"@mode2_session.txt"},
       "",
       kExitOk,
       "line 6\t61A2\nline 38\t6112\nline 70\t6392\n",
       ""},
      {"mode2 -m columns",
       {"@mode2_columns.txt"},
       "",
       kExitOk,
       "line 3\t8925\nline 10\tDF25\nline 17\tBF25\n",
       ""},
      {"ir-ctl +N -N lines",
       {"@ir-ctl.txt"},
       "",
       kExitOk,
       "line 2\t0031 0031\nline 3\t0037 0037\nline 4\t002C 002C\nline 5\t000F 000F\n",
       ""},
      {"Pronto hex, learned form",
       {"@EliteScreens_100H.pronto"},
       "",
       kExitOk,
       "Up\tB24D\nStop\t3666\nDown\t264D\n",
       ""},
      {"IRMP samples at the default 10 kHz",
       {"@Samsung_TV.txt"},
       "",
       kExitOk,
       "Power\t40BF 40BF\nVolume Up\tE01F E01F\nProgram Up\t48B7 48B7\n",
       ""},
      {"IRMP samples at the rate the file name states",
       {"@Gigaset-M740AV-15kHz.txt"},
       "",
       kExitOk,
       "Power\t8816\nOK\t881D\nMute\t882E\n",
       ""},
      {"IRMP samples on standard input at the rate given",
       {"--sample-rate", "15000"},
       "<Gigaset-M740AV-15kHz.txt",
       kExitOk,
       "Power\t8816\nOK\t881D\nMute\t882E\n",
       ""},
      {".ir by its Filetype line on standard input; parsed entries counted once",
       {},
       "<Cascade_Tower_Fan.ir",
       kExitOk,
       "SPIN\t629D 629D\nSPEED\t22DD 22DD\n",
       "skipped 3 parsed entries (protocol parameters, not recorded durations)\n"},
      // Bad input: a clear message and a non-zero exit, never a wrong code with exit 0.
      {"byte-order mark before the first value",
       {},
       "\xEF\xBB\xBF" + kEdgeLine + "\n",
       kExitOk,
       "0000\n",
       ""},
      {"blank line in edge lines is skipped",
       {"--edges"},
       kEdgeLine + "\n\n" + kEdgeLine + "\n",
       kExitOk,
       "0000\n0000\n",
       ""},
      {"duration 0",
       {},
       "pulse 900\nspace 800\npulse 0\n",
       kExitFailure,
       "",
       "line 3: duration 0 is not positive"},
      {"negative duration",
       {"--tsv"},
       "src\tremote\tbutton\t900 -800 900\n",
       kExitFailure,
       "",
       "line 1: duration -800 is not positive"},
      {"non-numeric duration",
       {"--ir"},
       "name: A\ntype: raw\ndata: 900 8OO 900\n",
       kExitFailure,
       "",
       "line 3: data: \"8OO\" is not a number"},
      {"duration beyond any real signal",
       {},
       "pulse 900\nspace 800\npulse 20000000\n",
       kExitFailure,
       "",
       "line 3: duration 20000000 us is longer than any infrared signal"},
      {"pulses in a row that make one interval beyond any real signal",
       {},
       "pulse 900\nspace 800\npulse 6000000\npulse 6000000\n",
       kExitFailure,
       "",
       "line 4: duration 12000000 us is longer than any infrared signal"},
      {"a recording without durations",
       {"--ir"},
       "name: A\ntype: raw\ndata:\n",
       kExitFailure,
       "",
       "line 3: data: no durations"},
      {"only parsed entries",
       {},
       "Filetype: IR signals file\nVersion: 1\n#\nname: Power\ntype: parsed\nprotocol: NEC\n"
       "address: 04 00 00 00\ncommand: 08 00 00 00\n#\nname: Mute\ntype: parsed\n",
       kExitFailure,
       "",
       "skipped 2 parsed entries"},
      {"nothing fits",
       {},
       "Hello\nworld\n",
       kExitFailure,
       "",
       "standard input: cannot tell the format; tried service log, .ir file"},
      {"IRMP capture without IR",
       {"--irmp"},
       "# Power\n1111111111111111\n",
       kExitFailure,
       "",
       "line 2: no IR in the capture"},
      {"Pronto forms other than learned codes",
       {},
       "5000 0073 0000 0001 0001 0001\n",
       kExitFailure,
       "",
       "Pronto form 5000 is not supported"},
      {"empty input",
       {"--mode2"},
       "\n\n",
       kExitFailure,
       "",
       "standard input: the input is empty\n"},
      {"UTF-16 text", {}, std::string("\xFF\xFEp\0u\0", 6), kExitFailure, "", "UTF-16"},
  };
  return cases;
}

TEST(IrdecodeFormats, EverySampleAndBadInput) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> args;
    for (const std::string& a : c.args)
      args.push_back(a.starts_with("@") ? Sample(a.substr(1)) : a);
    std::istringstream in(c.input.starts_with("<") ? ReadFile(Sample(c.input.substr(1))) : c.input);
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(RunIrdecode(args, in, out, err), c.status);
    EXPECT_EQ(out.str(), c.out.starts_with("@") ? ReadFile(Sample(c.out.substr(1))) : c.out);
    if (c.err.empty()) {
      EXPECT_EQ(err.str(), "");
    } else {
      EXPECT_NE(err.str().find(c.err), std::string::npos) << err.str();
    }
  }
}

}  // namespace
}  // namespace sfh56::tools
