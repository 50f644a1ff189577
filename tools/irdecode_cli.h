#pragma once
// The irdecode command: arguments in, codes on out, problems on err, an exit status back.
// Kept apart from main() so that tests run it in-process on committed samples.
//
// Exit status: 0 every signal decoded; 1 some input was bad and skipped (each problem
// named on err); 2 usage, an unreadable file, an unknown format, or nothing to decode;
// 3 a service log holds records that decode to another code than the log recorded.

#include <iosfwd>
#include <string>
#include <vector>

namespace sfh56::tools {

inline constexpr int kExitOk = 0;
inline constexpr int kExitBadInput = 1;
inline constexpr int kExitFailure = 2;
inline constexpr int kExitLogMismatch = 3;

// args: the command-line arguments without the program name. in is read when the input
// is standard input.
int RunIrdecode(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                std::ostream& err);

}  // namespace sfh56::tools
