// Shared pieces of the command-line tests: the built quorvel-convert run in
// a folder, with what it printed.
#pragma once

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/TestPaths.h"

namespace quorvel::test {

// AText quoted for the shell.
inline std::string Quote(const std::string& AText) {
  std::string q = "'";
  for (const char c : AText) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

inline std::string TextOf(const std::string& APath) {
  std::ifstream in(APath, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

struct TCliRun {
  int Status = -1;
  std::string Out, Err;
};

// quorvel-convert run in ADir with AArgs (each quoted); its output and
// errors are kept in ADir's stdout.txt and stderr.txt.
inline TCliRun RunConvert(const std::string& ADir, const std::vector<std::string>& AArgs) {
  std::string cmd = "cd " + Quote(ADir) + " && " + Quote(QUORVEL_CONVERT);
  for (const std::string& a : AArgs) cmd += " " + Quote(a);
  cmd += " >" + Quote(ADir + "/stdout.txt") + " 2>" + Quote(ADir + "/stderr.txt") + " </dev/null";
  TCliRun r;
  r.Status = Run(cmd);
  r.Out = TextOf(ADir + "/stdout.txt");
  r.Err = TextOf(ADir + "/stderr.txt");
  return r;
}

}  // namespace quorvel::test
