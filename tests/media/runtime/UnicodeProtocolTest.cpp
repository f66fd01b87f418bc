// File names for the media libraries and the "unicode" I/O path. CTest runs
// this program with LC_ALL=C, and the program never switches to the
// environment's locale, so the narrow charset is ASCII: every non-ASCII file
// name must take the "unicode:utf8:" path.
#include "media/runtime/UnicodeProtocol.h"

#include <gtest/gtest.h>
#include <langinfo.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "media/runtime/Exception.h"
#include "media/runtime/FFLoad.h"
#include "media/runtime/FFUtils.h"
#include "media/runtime/InterruptCB.h"
#include "media/runtime/Stubs.h"
#include "support/TestPaths.h"

namespace quorvel {
namespace {

using test::ScratchDir;

const std::string kPrefix = "unicode:utf8:";

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteWholeFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

int64_t FileSize(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? static_cast<int64_t>(info.st_size) : -1;
}

class UnicodeProtocolTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(FFLoader().Load(TLibraries{TLibrary::avUtil, TLibrary::avFormat, TLibrary::avCodec,
                                           TLibrary::avCore, TLibrary::myUtil}))
        << FFLoader().LastErrMsg();
  }

  void SetUp() override {
    // Everything below assumes the C locale's ASCII charset.
    ASSERT_STREQ(nl_langinfo(CODESET), "ANSI_X3.4-1968");
    dir = ScratchDir();
  }

  // A one-second 22050 Hz mono sine wave written by sox under a name that
  // has no ASCII form.
  std::string MakeWave(const std::string& fileName = "tëst ü.wav") {
    const std::string path = dir + "/" + fileName;
    EXPECT_EQ(test::Run("sox -n -r 22050 -c 1 '" + path + "' synth 1 sine 440"), 0);
    return path;
  }

  std::string dir;
};

// --- names ---

struct NameCase {
  const char* name;
  bool wrapped;
};

TEST_F(UnicodeProtocolTest, NamesAreWrappedOnlyWhenTheyHaveNoNarrowForm) {
  const NameCase cases[] = {
      // Plain file names go over as they are.
      {"/tmp/plain name (1).wav", false},
      {"relative.mp3", false},
      {"", false},
      // Non-ASCII names, and a drive-letter name, which is no library URL.
      {"/music/tëst ü.wav", true},
      {"/music/日本語.flac", true},
      {"c:\\music\\tëst.wav", true},
      {":tëst.wav", true},
      // Bytes that are not UTF-8 still name a file: the raw bytes must reach
      // open() unchanged.
      {"/music/caf\xe9.wav", true},
      // Library URLs are never wrapped, whatever they contain.
      {"http://example.invalid/tëst.mp3", false},
      {"https://example.invalid/tëst.mp3", false},
      {"udp://127.0.0.1:1234?name=ü", false},
      {"rtp://127.0.0.1:5004/ü", false},
      {"pipe:ü", false},
      {"file:/music/tëst.wav", false},
      {"stream:3:tëst", false},
      // Scheme names match exactly, letter case included.
      {"HTTP://example.invalid/tëst.mp3", true},
      {"httpx://example.invalid/tëst.mp3", true},
  };
  for (const NameCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string name = c.name;
    EXPECT_EQ(NeedsUnicodeProtocol(name), c.wrapped);
    const std::string url = FileNameToURL(name);
    EXPECT_EQ(url, c.wrapped ? kPrefix + name : name);
    EXPECT_EQ(URLToFileName(url), name);
  }
}

TEST_F(UnicodeProtocolTest, URLToFileNameNeedsSomethingAfterThePrefix) {
  // An already wrapped name is not wrapped twice.
  EXPECT_FALSE(NeedsUnicodeProtocol("unicode:utf8:/music/tëst.wav"));
  EXPECT_EQ(FileNameToURL("unicode:utf8:/music/tëst.wav"), "unicode:utf8:/music/tëst.wav");
  EXPECT_EQ(URLToFileName("unicode:utf8:"), "unicode:utf8:");
  EXPECT_EQ(URLToFileName("unicode:utf8:x"), "x");
  EXPECT_EQ(URLToFileName("unicode:utf8:/a:b:c"), "/a:b:c");
}

TEST_F(UnicodeProtocolTest, NamesTooLongForTheLibrariesThrowInsteadOfBeingCut) {
  const std::string longest(kMaxLibraryURLLength, 'a');
  EXPECT_EQ(FileNameToURL(longest), longest);
  const std::string tooLong = longest + "b";
  try {
    FileNameToURL(tooLong);
    FAIL() << "no exception";
  } catch (const Exception& e) {
    const std::string text = e.what();
    EXPECT_NE(text.find("2047"), std::string::npos) << text;
    EXPECT_NE(text.find(tooLong), std::string::npos) << text;
  }
  // The prefix counts: a name that fits only without it does not fit.
  const std::string wide = "/ü" + std::string(kMaxLibraryURLLength - kPrefix.size() - 3, 'a');
  ASSERT_EQ(kPrefix.size() + wide.size(), kMaxLibraryURLLength);
  EXPECT_EQ(FileNameToURL(wide).size(), kMaxLibraryURLLength);
  EXPECT_THROW(FileNameToURL(wide + "a"), Exception);
}

TEST_F(UnicodeProtocolTest, ConcurrentConversionsEachGetTheirOwnResult) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 300;
  std::vector<int> wrong(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &wrong] {
      for (int i = 0; i < kRounds; ++i) {
        // Half of the threads convert wrapped names, half plain ones, with
        // lengths that differ so that a shared buffer would show.
        const std::string name = "/folder " + std::to_string(t) + (t % 2 ? "/é" : "/e") +
                                 std::string(static_cast<size_t>(t * 7 + i % 13), 'x') + ".wav";
        const std::string expected = t % 2 ? kPrefix + name : name;
        if (FileNameToURL(name) != expected || URLToFileName(expected) != name) ++wrong[t];
      }
    });
  }
  for (std::thread& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(wrong[t], 0) << "thread " << t;
}

// --- the protocol operations ---

TEST_F(UnicodeProtocolTest, FileReadsSeeksAndReportsItsSize) {
  const std::string path = MakeWave();
  const int64_t size = FileSize(path);
  ASSERT_GT(size, 44);

  TUnicodeFile file;
  ASSERT_EQ(file.Open(FileNameToURL(path), AVIO_FLAG_READ), 0);
  EXPECT_EQ(file.Seek(0, AVSEEK_SIZE), size);
  EXPECT_EQ(file.Seek(0, AVSEEK_SIZE | AVSEEK_FORCE), size);

  uint8_t buf[4];
  ASSERT_EQ(file.Read(buf, 4), 4);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 4), "RIFF");
  EXPECT_EQ(file.Seek(8, SEEK_SET), 8);
  ASSERT_EQ(file.Read(buf, 4), 4);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 4), "WAVE");
  EXPECT_EQ(file.Seek(-4, SEEK_CUR), 8);
  EXPECT_EQ(file.Seek(-2, SEEK_END), size - 2);
  EXPECT_EQ(file.Read(buf, 4), 2);
  EXPECT_EQ(file.Read(buf, 4), 0);  // end of file
  EXPECT_EQ(file.Seek(-1, SEEK_SET), -1);
  EXPECT_EQ(file.Seek(0, 12345), -1);
  // Opened for reading only.
  EXPECT_EQ(file.Write(buf, 1), -1);
  EXPECT_EQ(file.Close(), 0);
  EXPECT_EQ(file.Close(), -1);
  EXPECT_EQ(file.Read(buf, 1), -1);
}

TEST_F(UnicodeProtocolTest, OpenFailuresGiveNotFound) {
  const std::string existing = dir + "/dä.bin";
  WriteWholeFile(existing, "data");
  const std::string cases[] = {
      FileNameToURL(dir + "/nöt thëre.wav"),        // missing file
      FileNameToURL(dir + "/missïng/folder.wav"),   // missing folder
      "unicode:" + dir + "/dä.bin",                // no second colon: no name
  };
  for (const std::string& url : cases) {
    SCOPED_TRACE(url);
    TUnicodeFile file;
    EXPECT_EQ(file.Open(url, AVIO_FLAG_READ), -2);
    EXPECT_FALSE(file.IsOpen());
  }
  // Writing into a missing folder fails the same way.
  TUnicodeFile file;
  EXPECT_EQ(file.Open(FileNameToURL(dir + "/missïng/out.wav"), AVIO_FLAG_WRITE), -2);
  EXPECT_EQ(file.LastError(), ENOENT);
}

TEST_F(UnicodeProtocolTest, WriteFlagsCreateOrTruncate) {
  const std::string path = dir + "/öut.bin";
  const std::string url = FileNameToURL(path);
  WriteWholeFile(path, "a much longer old content");

  {  // write-only truncates an existing file
    TUnicodeFile file;
    ASSERT_EQ(file.Open(url, AVIO_FLAG_WRITE), 0);
    EXPECT_EQ(file.Write(reinterpret_cast<const uint8_t*>("new"), 3), 3);
    uint8_t buf[1];
    EXPECT_EQ(file.Read(buf, 1), -1);  // no read access
  }  // the destructor closes
  EXPECT_EQ(ReadWholeFile(path), "new");

  {  // read-write creates, and reads back what it wrote
    std::filesystem::remove(path);
    TUnicodeFile file;
    ASSERT_EQ(file.Open(url, AVIO_FLAG_READ_WRITE), 0);
    EXPECT_EQ(file.Write(reinterpret_cast<const uint8_t*>("abcdef"), 6), 6);
    EXPECT_EQ(file.Seek(2, SEEK_SET), 2);
    uint8_t buf[8] = {};
    EXPECT_EQ(file.Read(buf, 8), 4);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 4), "cdef");
    EXPECT_EQ(file.Seek(0, AVSEEK_SIZE), 6);
    EXPECT_EQ(file.Close(), 0);
  }
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0600, 0600u);
  EXPECT_EQ(info.st_mode & 0111, 0u);

  {  // read-only never creates
    std::filesystem::remove(path);
    TUnicodeFile file;
    EXPECT_EQ(file.Open(url, AVIO_FLAG_READ), -2);
    EXPECT_FALSE(std::filesystem::exists(path));
  }
}

// --- through the media libraries ---

TEST_F(UnicodeProtocolTest, WrappedNameOpensDemuxesAndSeeksThroughTheLibrary) {
  const std::string path = MakeWave();
  const std::string url = FileNameToURL(path);
  ASSERT_EQ(url, kPrefix + path);

  AVFormatContext* ctx = nullptr;
  ASSERT_EQ(OpenInputURL(&ctx, url, nullptr, nullptr), 0);
  ASSERT_NE(ctx, nullptr);
  EXPECT_TRUE(ctx->flags & AVFMT_FLAG_CUSTOM_IO);
  EXPECT_TRUE(IsUnicodeIO(ctx->pb));
  EXPECT_EQ(ctx->interrupt_callback.callback, &InterruptCallback);
  ASSERT_NE(ctx->url, nullptr);
  EXPECT_EQ(URLToFileName(ctx->url), path);

  ASSERT_GE(avformat.avformat_find_stream_info(ctx, nullptr), 0);
  ASSERT_EQ(ctx->nb_streams, 1u);
  const AVCodecParameters* par = ctx->streams[0]->codecpar;
  EXPECT_EQ(par->sample_rate, 22050);
  EXPECT_EQ(par->ch_layout.nb_channels, 1);
  EXPECT_EQ(ctx->duration, AV_TIME_BASE);
  EXPECT_EQ(avformat.avio_size(ctx->pb), FileSize(path));

  // Every sample arrives; the end of the file ends the reading.
  const int bytesPerSample = par->bits_per_coded_sample / 8;
  ASSERT_GT(bytesPerSample, 0);
  AVPacket* pkt = avcodec.av_packet_alloc();
  ASSERT_NE(pkt, nullptr);
  int64_t bytes = 0;
  int ret;
  while ((ret = avformat.av_read_frame(ctx, pkt)) >= 0) {
    bytes += pkt->size;
    avcodec.av_packet_unref(pkt);
  }
  EXPECT_EQ(ret, AVERROR_EOF);
  EXPECT_EQ(bytes, 22050 * bytesPerSample);

  // Back to the middle: the next packet starts there.
  const AVStream* st = ctx->streams[0];
  const int64_t half = 11025;  // samples; the stream's time base is 1/22050
  ASSERT_EQ(st->time_base.den, 22050);
  ASSERT_GE(avformat.av_seek_frame(ctx, 0, half, AVSEEK_FLAG_BACKWARD), 0);
  ASSERT_GE(avformat.av_read_frame(ctx, pkt), 0);
  EXPECT_EQ(pkt->pts, half);
  avcodec.av_packet_free(&pkt);

  CloseInputURL(&ctx);
  EXPECT_EQ(ctx, nullptr);
  CloseInputURL(&ctx);  // closing twice is harmless
}

TEST_F(UnicodeProtocolTest, PlainNameOpensThroughTheLibrarysOwnFiles) {
  const std::string path = MakeWave("plain.wav");
  AVFormatContext* ctx = nullptr;
  ASSERT_EQ(OpenInputURL(&ctx, FileNameToURL(path), nullptr, nullptr), 0);
  EXPECT_FALSE(ctx->flags & AVFMT_FLAG_CUSTOM_IO);
  EXPECT_FALSE(IsUnicodeIO(ctx->pb));
  EXPECT_EQ(ctx->interrupt_callback.callback, &InterruptCallback);
  EXPECT_EQ(URLToFileName(ctx->url), path);
  CloseInputURL(&ctx);
  EXPECT_EQ(ctx, nullptr);
}

TEST_F(UnicodeProtocolTest, OpenInputFailuresFreeEverythingAndSayWhy) {
  // A file that is there but is no media, and missing files both ways.
  const std::string junk = dir + "/jünk.wav";
  WriteWholeFile(junk, std::string(64, '\x01'));
  struct Case {
    std::string name;
    int code;
  };
  const Case cases[] = {
      {dir + "/nöt thëre.wav", AVERROR(ENOENT)},
      {dir + "/not there.wav", AVERROR(ENOENT)},
      {junk, AVERROR_INVALIDDATA},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Both a fresh and a caller-allocated context are freed on failure.
    for (bool preallocated : {false, true}) {
      AVFormatContext* ctx = preallocated ? avformat.avformat_alloc_context() : nullptr;
      const int code = OpenInputURL(&ctx, FileNameToURL(c.name), nullptr, nullptr);
      EXPECT_EQ(code, c.code);
      EXPECT_EQ(ctx, nullptr);
      if (c.code == AVERROR(ENOENT)) {
        EXPECT_EQ(ErrorText(c.name, code), c.name + ": No such file or directory");
      }
    }
  }
}

TEST_F(UnicodeProtocolTest, OutputIOWritesTheExactBytes) {
  // More than one I/O buffer, with a seek back to patch the start, as a
  // muxer does when it completes a header.
  std::string bytes(100000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 31 + i / 251);
  std::string expected = bytes;
  expected.replace(0, 4, "HEAD");

  for (const std::string& name : {std::string("öutput.bin"), std::string("output.bin")}) {
    SCOPED_TRACE(name);
    const std::string path = dir + "/" + name;
    WriteWholeFile(path, std::string(200000, 'z'));  // truncated by the open

    AVIOContext* pb = nullptr;
    ASSERT_EQ(OpenOutputIO(&pb, FileNameToURL(path), AVIO_FLAG_WRITE), 0);
    ASSERT_NE(pb, nullptr);
    EXPECT_EQ(IsUnicodeIO(pb), name != "output.bin");
    avformat.avio_write(pb, reinterpret_cast<const unsigned char*>(bytes.data()),
                        static_cast<int>(bytes.size()));
    EXPECT_EQ(avformat.avio_seek(pb, 0, SEEK_SET), 0);
    avformat.avio_write(pb, reinterpret_cast<const unsigned char*>("HEAD"), 4);
    if (IsUnicodeIO(pb)) {
      // The size query reaches the file (the library's own file contexts
      // answer 0 while writing, so only ours is checked).
      EXPECT_EQ(avformat.avio_size(pb), static_cast<int64_t>(bytes.size()));
    }
    EXPECT_EQ(CloseOutputIO(&pb), 0);
    EXPECT_EQ(pb, nullptr);
    EXPECT_EQ(ReadWholeFile(path), expected);

    // Read back through the same path: all bytes, then the end of file.
    ASSERT_EQ(OpenOutputIO(&pb, FileNameToURL(path), AVIO_FLAG_READ), 0);
    std::string back(expected.size() + 10, '\0');
    EXPECT_EQ(avformat.avio_read(pb, reinterpret_cast<unsigned char*>(back.data()),
                                 static_cast<int>(back.size())),
              static_cast<int>(expected.size()));
    back.resize(expected.size());
    EXPECT_EQ(back, expected);
    EXPECT_TRUE(avformat.avio_feof(pb));
    EXPECT_EQ(CloseOutputIO(&pb), 0);
  }
}

TEST_F(UnicodeProtocolTest, OutputIOFailuresLeaveNothingOpen) {
  for (const std::string& name : {dir + "/missïng/out.bin", dir + "/missing/out.bin"}) {
    SCOPED_TRACE(name);
    AVIOContext* pb = reinterpret_cast<AVIOContext*>(0x1);  // must be overwritten
    EXPECT_EQ(OpenOutputIO(&pb, FileNameToURL(name), AVIO_FLAG_WRITE), AVERROR(ENOENT));
    EXPECT_EQ(pb, nullptr);
    EXPECT_EQ(CloseOutputIO(&pb), 0);
  }
}

// A muxer's whole run over the "unicode" path: the header it completes at
// the end must land in the file.
TEST_F(UnicodeProtocolTest, MuxerWritesAPlayableFileThroughTheUnicodePath) {
  const std::string path = dir + "/mïx.wav";
  AVFormatContext* oc = nullptr;
  ASSERT_GE(avformat.avformat_alloc_output_context2(&oc, nullptr, "wav", nullptr), 0);
  AVStream* st = avformat.avformat_new_stream(oc, nullptr);
  ASSERT_NE(st, nullptr);
  st->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
  st->codecpar->codec_id = AV_CODEC_ID_PCM_S16LE;
  st->codecpar->sample_rate = 8000;
  st->codecpar->ch_layout = AVChannelLayout AV_CHANNEL_LAYOUT_MONO;
  st->codecpar->bits_per_coded_sample = 16;
  st->codecpar->block_align = 2;
  st->time_base = AVRational{1, 8000};
  ASSERT_EQ(OpenOutputIO(&oc->pb, FileNameToURL(path), AVIO_FLAG_WRITE), 0);
  oc->flags |= AVFMT_FLAG_CUSTOM_IO;
  ASSERT_GE(avformat.avformat_write_header(oc, nullptr), 0);

  AVPacket* pkt = avcodec.av_packet_alloc();
  ASSERT_NE(pkt, nullptr);
  ASSERT_EQ(avcodec.av_new_packet(pkt, 1600), 0);
  for (int i = 0; i < 10; ++i) {
    std::memset(pkt->data, i, 1600);
    pkt->pts = pkt->dts = i * 800;
    pkt->duration = 800;
    pkt->stream_index = 0;
    ASSERT_GE(avformat.av_write_frame(oc, pkt), 0);
  }
  avcodec.av_packet_free(&pkt);
  ASSERT_GE(avformat.av_write_trailer(oc), 0);
  EXPECT_EQ(CloseOutputIO(&oc->pb), 0);
  avformat.avformat_free_context(oc);

  AVFormatContext* ctx = nullptr;
  ASSERT_EQ(OpenInputURL(&ctx, FileNameToURL(path), nullptr, nullptr), 0);
  ASSERT_GE(avformat.avformat_find_stream_info(ctx, nullptr), 0);
  EXPECT_EQ(ctx->streams[0]->codecpar->sample_rate, 8000);
  EXPECT_EQ(ctx->duration, AV_TIME_BASE);
  CloseInputURL(&ctx);
}

}  // namespace
}  // namespace quorvel
