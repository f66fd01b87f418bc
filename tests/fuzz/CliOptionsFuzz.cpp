// The command-line option parser: the input is the argument list, each
// argument ended by a zero byte.
#include <string>
#include <vector>

#include "cli/CliOptions.h"

using namespace quorvel;
using namespace quorvel::cli;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  std::vector<std::string> args(1);
  for (size_t i = 0; i < ASize; ++i) {
    if (AData[i] == 0)
      args.emplace_back();
    else
      args.back().push_back(static_cast<char>(AData[i]));
  }
  try {
    ParseArguments(args);
  } catch (const EUsage&) {
  }
  for (const std::string& text : args) {
    try {
      const int64_t us = ParseClock("--start", text);
      ClockText(us);
    } catch (const EUsage&) {
    }
  }
  return 0;
}
