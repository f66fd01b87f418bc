#include "support/TestPaths.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <filesystem>

namespace quorvel::test {

std::string SharedMedia(const std::string& name) { return std::string(QUORVEL_SHARED_MEDIA_DIR) + "/" + name; }

std::string TestData(const std::string& name) { return std::string(QUORVEL_TEST_DATA_DIR) + "/" + name; }

namespace {

// The test programs of one build tree share a folder, named after the
// tree: two checkouts' suites (a fresh clone beside the working tree) run
// at once without removing each other's files.
std::filesystem::path TreeScratchRoot() {
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  const std::string tree = error ? std::string("unknown") : program.parent_path().string();
  char tag[32];
  std::snprintf(tag, sizeof(tag), "tree-%016zx", std::hash<std::string>{}(tree));
  return std::filesystem::temp_directory_path() / "quorvel-tests" / tag;
}

}  // namespace

std::string ScratchDir() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "no-test";
  for (char& c : name)
    if (c == '/') c = '_';
  static const std::filesystem::path root = TreeScratchRoot();
  const auto dir = root / name;
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir.string();
}

int Run(const std::string& command) {
  const int status = std::system(command.c_str());
  if (status == -1) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

}  // namespace quorvel::test
