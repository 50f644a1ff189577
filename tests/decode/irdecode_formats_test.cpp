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
  std::string input;              // standard input, when no file is named
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
    std::istringstream in(c.input);
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
