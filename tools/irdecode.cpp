// irdecode: decodes recorded infrared signals and service logs with the receiver's
// decoder, for checking remotes and recordings before wiring anything (see
// tools/irdecode_cli.h and the README).

#include <iostream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "tools/irdecode_cli.h"

int main(int argc, char** argv) {
#ifdef _WIN32
  // Standard input is read as bytes: text mode would end it at a Ctrl-Z byte.
  _setmode(_fileno(stdin), _O_BINARY);
#endif
  const std::vector<std::string> args(argv + 1, argv + argc);
  return sfh56::tools::RunIrdecode(args, std::cin, std::cout, std::cerr);
}
