#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "media/runtime/FFLoad.h"
#include "support/TestPaths.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;

std::string FakeLib(const std::string& variant) {
  return std::string(QUORVEL_FAKE_LIB_DIR) + "/libfake_avcore_" + variant + ".so";
}

// Every test starts and ends with nothing loaded and no overrides, so the
// tests also hold when the whole program runs in one process.
class LoaderTest : public ::testing::Test {
protected:
  void SetUp() override { Reset(); }
  void TearDown() override { Reset(); }
  static void Reset() {
    FFLoader().Unload(kAllLibraries);
    for (int i = 0; i < kLibraryCount; ++i) TFFLoader::Status(static_cast<TLibrary>(i)).Name.clear();
    FFLoader().SetLibraryPath("");
  }
};

TEST_F(LoaderTest, FileNamesFollowTheHeadersMajorVersions) {
  const struct {
    TLibrary lib;
    const char* file;
  } cases[] = {
      {TLibrary::avCodec, "libavcodec.so.59"},  {TLibrary::avCore, "libswresample.so.4"},
      {TLibrary::avDevice, "libavdevice.so.59"}, {TLibrary::avFilter, "libavfilter.so.8"},
      {TLibrary::avFormat, "libavformat.so.59"}, {TLibrary::avUtil, "libavutil.so.57"},
      {TLibrary::swScale, "libswscale.so.6"},   {TLibrary::myUtil, "libc.so.6"},
  };
  for (const auto& c : cases) EXPECT_EQ(LibraryFileName(LibraryItem(c.lib)), c.file);
  EXPECT_TRUE(LibraryItem(TLibrary::myUtil).SysLib);

  TLibraryItem unversioned = LibraryItem(TLibrary::avUtil);
  unversioned.Version = -1;
  EXPECT_EQ(LibraryFileName(unversioned), "libavutil.so");
}

TEST_F(LoaderTest, LoadsTheSystemLibrariesAsASet) {
  ASSERT_TRUE(FFLoader().Load(kEncoderLibraries)) << FFLoader().LastErrMsg();
  EXPECT_TRUE(FFLoader().Loaded(kEncoderLibraries));
  EXPECT_FALSE(FFLoader().Loaded(TLibrary::avDevice));
  EXPECT_FALSE(FFLoader().Loaded(kAllLibraries));

  // The tables reach the real libraries.
  EXPECT_EQ(avutil.avutil_version() >> 16, 57u);
  EXPECT_EQ(avcodec.avcodec_version() >> 16, 59u);
  EXPECT_EQ(avformat.avformat_version() >> 16, 59u);
  EXPECT_EQ(avcore.swresample_version() >> 16, 4u);
  EXPECT_EQ(swscale.swscale_version() >> 16, 6u);
  EXPECT_EQ(avfilter.avfilter_version() >> 16, 8u);
  ASSERT_NE(avutil.av_util_ffversion, nullptr);
  EXPECT_EQ(std::string(avutil.av_util_ffversion), std::string(avcodec.av_codec_ffversion));
  EXPECT_NE(avcodec.avcodec_find_encoder_by_name("flac"), nullptr);
  EXPECT_EQ(myutil.strtol("42", nullptr, 10), 42);

  // Unloading one member makes the set unloaded; the others stay resolved.
  FFLoader().Unload(TLibrary::swScale);
  EXPECT_FALSE(FFLoader().Loaded(kEncoderLibraries));
  EXPECT_TRUE(FFLoader().Loaded(TLibrary::avCodec));
  EXPECT_EQ(swscale.sws_scale, nullptr);
}

TEST_F(LoaderTest, RepeatedLoadKeepsTheModuleAndRerunsTheHook) {
  ASSERT_TRUE(FFLoader().Load(TLibrary::avCodec));
  void* handle = TFFLoader::Status(TLibrary::avCodec).Handle;
  auto* open = avcodec.avcodec_open2;
  ASSERT_TRUE(FFLoader().Load(TLibrary::avCodec));
  EXPECT_EQ(TFFLoader::Status(TLibrary::avCodec).Handle, handle);
  EXPECT_EQ(avcodec.avcodec_open2, open);
}

TEST_F(LoaderTest, MissingLibraryNamesFolderAndFile) {
  // Not in its folder: the bare name is tried through the system search, and
  // the text still names the folder and the file.
  TFFLoader::Status(TLibrary::avCore).Name = "/nonexistent/libnothing.so.1";
  EXPECT_FALSE(FFLoader().Load(TLibrary::avCore));
  EXPECT_EQ(FFLoader().LastErrMsg(),
            "Load library /nonexistent/libnothing.so.1 error: "
            "libnothing.so.1: cannot open shared object file: No such file or directory");
  EXPECT_FALSE(FFLoader().Loaded(TLibrary::avCore));
}

TEST_F(LoaderTest, LibraryAbsentFromTheFolderIsSearchedBySystemName) {
  const std::string dir = test::ScratchDir();
  FFLoader().SetLibraryPath(dir);
  ASSERT_TRUE(FFLoader().Load(TLibrary::avUtil)) << FFLoader().LastErrMsg();
  EXPECT_EQ(avutil.avutil_version() >> 16, 57u);

  // A library that is nowhere: the text names folder + file name.
  TFFLoader::Status(TLibrary::avCore).Name = "libquorvel-none.so.1";
  EXPECT_FALSE(FFLoader().Load(TLibrary::avCore));
  EXPECT_EQ(FFLoader().LastErrMsg().rfind("Load library " + dir + "/libquorvel-none.so.1 error: ", 0), 0u)
      << FFLoader().LastErrMsg();
}

TEST_F(LoaderTest, LibraryInTheFolderWinsAndTheFolderJoinsPathOnce) {
  const std::string dir = test::ScratchDir();
  fs::copy_file(FakeLib("full"), dir + "/libswresample.so.4");
  const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
  FFLoader().SetLibraryPath(dir);

  ASSERT_TRUE(FFLoader().Load(TLibrary::avCore)) << FFLoader().LastErrMsg();
  EXPECT_STREQ(avcore.swr_ffversion, "fake");
  EXPECT_EQ(std::string(std::getenv("PATH")), dir + "/:" + oldPath);

  FFLoader().Unload(TLibrary::avCore);
  ASSERT_TRUE(FFLoader().Load(TLibrary::avCore));
  EXPECT_EQ(std::string(std::getenv("PATH")), dir + "/:" + oldPath) << "added twice";

  // A system library never comes from the folder, whatever lies there.
  fs::copy_file(FakeLib("full"), dir + "/libc.so.6");
  ASSERT_TRUE(FFLoader().Load(TLibrary::myUtil));
  EXPECT_EQ(myutil.strtol("17", nullptr, 10), 17);

  ::setenv("PATH", oldPath.c_str(), 1);
}

TEST_F(LoaderTest, FolderAlreadyOnPathInAnotherCaseIsNotAdded) {
  const std::string dir = test::ScratchDir();
  fs::copy_file(FakeLib("full"), dir + "/libswresample.so.4");
  std::string upper = dir + "/";
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
  const std::string withUpper = upper + ":" + oldPath;
  ::setenv("PATH", withUpper.c_str(), 1);
  FFLoader().SetLibraryPath(dir);
  ASSERT_TRUE(FFLoader().Load(TLibrary::avCore)) << FFLoader().LastErrMsg();
  EXPECT_EQ(std::string(std::getenv("PATH")), withUpper);
  ::setenv("PATH", oldPath.c_str(), 1);
}

TEST_F(LoaderTest, MissingEntriesFailWithTheirTexts) {
  const struct {
    const char* variant;
    const char* prefix;
    const char* symbol;
  } cases[] = {
      {"no_required", "Load function swr_init@", "swr_init"},
      {"no_variable", "Load variable swr_ffversion@", "swr_ffversion"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.variant);
    const std::string path = FakeLib(c.variant);
    TFFLoader::Status(TLibrary::avCore).Name = path;
    EXPECT_FALSE(FFLoader().Load(TLibrary::avCore));
    const std::string& msg = FFLoader().LastErrMsg();
    EXPECT_EQ(msg.rfind(c.prefix + path + " error: ", 0), 0u) << msg;
    EXPECT_NE(msg.find(std::string("undefined symbol: ") + c.symbol), std::string::npos) << msg;
    // Released, and no slot resolved before the failure points into it.
    EXPECT_EQ(TFFLoader::Status(TLibrary::avCore).Handle, nullptr);
    EXPECT_FALSE(TFFLoader::Status(TLibrary::avCore).Fixuped);
    EXPECT_EQ(avcore.swr_alloc, nullptr);
    EXPECT_EQ(avcore.swr_alloc_set_opts2, nullptr);
  }
}

TEST_F(LoaderTest, MissingOptionalEntryLeavesItsSlotNull) {
  TFFLoader::Status(TLibrary::avCore).Name = FakeLib("no_optional");
  ASSERT_TRUE(FFLoader().Load(TLibrary::avCore)) << FFLoader().LastErrMsg();
  EXPECT_TRUE(FFLoader().Loaded(TLibrary::avCore));
  EXPECT_EQ(avcore.swr_alloc_set_opts, nullptr);
  EXPECT_NE(avcore.swr_init, nullptr);

  FFLoader().Unload(TLibrary::avCore);
  TFFLoader::Status(TLibrary::avCore).Name = FakeLib("full");
  ASSERT_TRUE(FFLoader().Load(TLibrary::avCore));
  EXPECT_NE(avcore.swr_alloc_set_opts, nullptr);
}

TEST_F(LoaderTest, SetFailingHalfwayUnloadsEveryMember) {
  // avUtil was loaded earlier by "another component": it goes too.
  ASSERT_TRUE(FFLoader().Load(TLibrary::avUtil));
  TFFLoader::Status(TLibrary::avCore).Name = FakeLib("no_required");
  const TLibraries set{TLibrary::avCodec, TLibrary::avCore, TLibrary::avFormat, TLibrary::avUtil};
  EXPECT_FALSE(FFLoader().Load(set));
  EXPECT_EQ(FFLoader().LastErrMsg().rfind("Load function swr_init@", 0), 0u) << FFLoader().LastErrMsg();
  for (TLibrary lib : {TLibrary::avCodec, TLibrary::avCore, TLibrary::avFormat, TLibrary::avUtil}) {
    EXPECT_FALSE(FFLoader().Loaded(lib));
    EXPECT_EQ(TFFLoader::Status(lib).Handle, nullptr);
  }
  EXPECT_EQ(avcodec.avcodec_open2, nullptr);
  EXPECT_EQ(avutil.av_log, nullptr);
  EXPECT_EQ(avformat.avformat_open_input, nullptr);
}

}  // namespace
}  // namespace quorvel

namespace quorvel {
namespace {

TEST_F(LoaderTest, ComponentLoadCopiesTheLoadersText) {
  std::string lastErr;
  TFFLoader::Status(TLibrary::avFormat).Name = "/nonexistent/libquorvel-missing.so.1";
  EXPECT_FALSE(LoadAVLib(kDecoderLibraries, "/opt/quorvel/LibAV", lastErr));
  EXPECT_EQ(FFLoader().LibraryPath(), "/opt/quorvel/LibAV");
  EXPECT_EQ(lastErr.rfind("Load library /nonexistent/libquorvel-missing.so.1 error: ", 0), 0u) << lastErr;
  EXPECT_FALSE(AVLibLoaded(kDecoderLibraries));

  TFFLoader::Status(TLibrary::avFormat).Name.clear();
  lastErr.clear();
  EXPECT_TRUE(LoadAVLib(kDecoderLibraries, "/opt/quorvel/LibAV", lastErr));
  EXPECT_TRUE(lastErr.empty());
  EXPECT_TRUE(AVLibLoaded(kDecoderLibraries));
  EXPECT_FALSE(FFLoader().Loaded(TLibrary::avFilter));
  UnloadAVLib(kDecoderLibraries);
  EXPECT_FALSE(FFLoader().Loaded(TLibrary::avUtil));
}

}  // namespace
}  // namespace quorvel
