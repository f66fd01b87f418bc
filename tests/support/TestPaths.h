// Paths of test inputs and a scratch folder per test.
#pragma once

#include <string>

namespace quorvel::test {

// A file of the shared sample media, e.g. SharedMedia("emacspeak__emacspeak.mp3").
std::string SharedMedia(const std::string& name);
// A file under tests/data.
std::string TestData(const std::string& name);
// A fresh, empty folder for the running test (removed and re-created).
std::string ScratchDir();
// Runs a shell command; returns its exit status.
int Run(const std::string& command);

}  // namespace quorvel::test
