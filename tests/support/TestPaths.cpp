#include "support/TestPaths.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace quorvel::test {

std::string SharedMedia(const std::string& name) { return std::string(QUORVEL_SHARED_MEDIA_DIR) + "/" + name; }

std::string TestData(const std::string& name) { return std::string(QUORVEL_TEST_DATA_DIR) + "/" + name; }

std::string ScratchDir() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "no-test";
  for (char& c : name)
    if (c == '/') c = '_';
  const auto dir = std::filesystem::temp_directory_path() / "quorvel-tests" / name;
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
