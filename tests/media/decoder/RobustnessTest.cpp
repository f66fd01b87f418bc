// Files that are not what they claim, and inputs that never answer: every
// operation answers with a reason, none crashes or waits for ever.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/fsuid.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>
#include <vector>

#include "DecoderTestSupport.h"
#include "media/decoder/FFDecode.h"
#include "media/runtime/InterruptCB.h"
#include "support/TestPaths.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using test::SharedMedia;

class RobustnessTest : public test::DecoderTest {};

const char* const kSharedMedia[] = {
    "golang-github-gabriel-vasile-mimetype-dev__mp4.mp4",
    "golang-github-gabriel-vasile-mimetype-dev__webm.webm",
    "golang-github-gabriel-vasile-mimetype-dev__mov.mov",
    "devede__base_pal.mpg",
    "python3-mecavideo__balle1-vp9.avi",
    "linphone-common__hello16000.wav",
    "libpython3.11-testsuite__pluck-pcm24.wav",
    "libpython3.11-testsuite__pluck-ulaw.au",
    "lmms-common__lfo_trancegate_whole.flac",
    "sound-theme-freedesktop__camera-shutter.oga",
    "sound-theme-freedesktop__alarm-clock-elapsed.oga",
    "emacspeak__emacspeak.mp3",
    "jami-daemon__03_AcousticGuitar.opus",
    "sonic-pi-samples__loop_tabla.flac",
};

void WriteBytes(const std::string& APath, const std::string& ABytes) {
  std::ofstream out(APath, std::ios::binary | std::ios::trunc);
  out.write(ABytes.data(), static_cast<std::streamsize>(ABytes.size()));
}

std::string ReadBytes(const std::string& APath) {
  std::ifstream in(APath, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string RandomBytes(size_t ACount, unsigned ASeed) {
  std::mt19937 gen(ASeed);
  std::string s(ACount, '\0');
  for (char& c : s) c = static_cast<char>(gen() & 0xFF);
  return s;
}

// Drives everything the decoder offers on a file that did load; each road
// must end, with a reason.
void DecodeToTheEnd(TFFDecoder& d) {
  constexpr int kEnough = 200000;  // far more steps than any test file has
  int steps = 0;
  while (d.DecodeAudio() && ++steps < kEnough) {
  }
  ASSERT_LT(steps, kEnough) << "audio never ends";
  EXPECT_FALSE(d.LastErrMsg().empty());
  if (d.VideoStreamCount() > 0) {
    d.Seek(0);
    steps = 0;
    while (d.Decode() && ++steps < kEnough) {
    }
    ASSERT_LT(steps, kEnough) << "video never ends";
    EXPECT_FALSE(d.LastErrMsg().empty());
    if (d.Seek(300000, sfBackward) && d.Decode()) {
      TBitmap bmp;
      d.CopyToBitmap(bmp);
      d.DecodePreviousFrame();
      d.DecodeNextKeyFrame();
    }
  }
  (void)d.FileInfoText();
}

// A file the probe may open or refuse; either way it says why it stopped.
void Probe(const std::string& AFile) {
  SCOPED_TRACE(AFile);
  TFFDecoder d;
  if (!d.LoadFile(AFile)) {
    EXPECT_FALSE(d.LastErrMsg().empty());
    EXPECT_EQ(d.FileHandle(), nullptr);
    EXPECT_EQ(d.StreamCount(), -1);
    EXPECT_FALSE(d.DecodeAudio());
    EXPECT_EQ(d.LastErrMsg(), "file not loaded.");
    return;
  }
  DecodeToTheEnd(d);
}

TEST_F(RobustnessTest, TruncatedSharedMedia) {
  const std::string dir = test::ScratchDir();
  for (const char* name : kSharedMedia) {
    const std::string whole = ReadBytes(SharedMedia(name));
    ASSERT_GT(whole.size(), 1000u) << name;
    for (size_t keep : {size_t{100}, whole.size() / 3, whole.size() * 2 / 3, whole.size() - 1}) {
      const std::string file = dir + "/" + std::to_string(keep) + "-" + name;
      WriteBytes(file, whole.substr(0, keep));
      Probe(file);
    }
  }
}

TEST_F(RobustnessTest, FilesThatAreNotMedia) {
  const std::string dir = test::ScratchDir();
  struct Case {
    std::string Name;
    std::string Bytes;
  };
  const Case cases[] = {
      {"random-1k.mp3", RandomBytes(1024, 1)},
      {"random-64k.wav", RandomBytes(65536, 2)},
      {"random-64k.bin", RandomBytes(65536, 3)},
      {"random-300k.mp4", RandomBytes(300000, 4)},
      {"notes.mp3", std::string("These are my shopping notes.\nMilk, bread, tea.\n") + std::string(4000, 'x')},
      {"riff-header-only.wav", std::string("RIFF\x24\x00\x00\x00WAVEfmt ", 16)},
      {"id3-only.mp3", std::string("ID3\x03\x00\x00\x00\x00\x00\x0a", 10) + std::string(10, '\0')},
  };
  for (const Case& c : cases) {
    const std::string file = dir + "/" + c.Name;
    WriteBytes(file, c.Bytes);
    Probe(file);
  }
}

TEST_F(RobustnessTest, RefusedFilesSayWhy) {
  const std::string dir = test::ScratchDir();
  const std::string empty = dir + "/empty.mp3";
  WriteBytes(empty, "");
  const std::string folder = dir + "/album.flac";
  fs::create_directory(folder);
  const std::string text = dir + "/readme.mp3";
  WriteBytes(text, "not a song, just a few words of text\n");
  const std::string missing = dir + "/missing.wav";
  // The start of a program stream: a container, but no stream it can
  // describe yet.
  const std::string stub = dir + "/stub.mpg";
  WriteBytes(stub, ReadBytes(SharedMedia("devede__base_pal.mpg")).substr(0, 100));

  struct Case {
    std::string File;
    std::string Message;  // exact
    bool Logged = true;
  };
  const Case cases[] = {
      {empty, empty + ": Invalid argument / Invalid data found when processing input"},
      {folder, folder + ": Is a directory"},
      {missing, missing + ": No such file or directory"},
      {text, text + ": Invalid argument / Invalid data found when processing input"},
      {stub, stub + ": could not find codec parameters", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.File);
    test::LogCapture log;
    TFFDecoder d;
    EXPECT_FALSE(d.LoadFile(c.File));
    EXPECT_EQ(d.LastErrMsg(), c.Message);
    EXPECT_EQ(log.Has(&d, llError, c.Message), c.Logged);
    EXPECT_EQ(d.FileHandle(), nullptr);
  }
}

TEST_F(RobustnessTest, UnreadableFile) {
  const std::string file = test::ScratchDir() + "/locked.wav";
  fs::copy_file(SharedMedia("linphone-common__hello16000.wav"), file);
  fs::permissions(file, fs::perms::none);
  // An administrator reads everything: take a plain user's file access for
  // this thread while opening.
  const bool root = ::geteuid() == 0;
  if (root) ::setfsuid(65534);
  TFFDecoder d;
  const bool loaded = d.LoadFile(file);
  if (root) ::setfsuid(0);
  EXPECT_FALSE(loaded);
  EXPECT_EQ(d.LastErrMsg(), file + ": Permission denied");
}

// A server that accepts a connection and never sends a byte.
class SilentServer {
 public:
  SilentServer() {
    FSocket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    EXPECT_EQ(::bind(FSocket, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
    EXPECT_EQ(::listen(FSocket, 4), 0);
    socklen_t len = sizeof(addr);
    ::getsockname(FSocket, reinterpret_cast<sockaddr*>(&addr), &len);
    FPort = ntohs(addr.sin_port);
    FThread = std::thread([this] {
      const int client = ::accept(FSocket, nullptr, nullptr);
      std::unique_lock lock(FLock);
      FDone.wait(lock, [this] { return FStop; });
      if (client >= 0) ::close(client);
    });
  }
  ~SilentServer() {
    {
      std::lock_guard lock(FLock);
      FStop = true;
    }
    FDone.notify_all();
    ::shutdown(FSocket, SHUT_RDWR);  // wakes accept when nobody came
    FThread.join();
    ::close(FSocket);
  }
  int Port() const { return FPort; }

 private:
  int FSocket = -1;
  int FPort = 0;
  std::thread FThread;
  std::mutex FLock;
  std::condition_variable FDone;
  bool FStop = false;
};

TEST_F(RobustnessTest, SilentInputGivesUpAfterTheReadTimeout) {
  SilentServer server;
  const std::string url = "tcp://127.0.0.1:" + std::to_string(server.Port());
  TFFDecoder d;
  EXPECT_EQ(d.ReadTimeout(), 10000);
  d.SetReadTimeout(300);
  EXPECT_FALSE(d.LoadFile(url));
  EXPECT_EQ(d.LastErrMsg(), url + ": Connection timed out");

  // The deadline was this call's only: nothing of the decoder is left in
  // the interrupt registry.
  std::vector<TInterruptItem>& items = InterruptCB().LockList();
  const bool left = std::any_of(items.begin(), items.end(), [&](const TInterruptItem& i) { return i.Sender == &d; });
  InterruptCB().UnlockList();
  EXPECT_FALSE(left);

  // A file afterwards is not cut short by the old deadline.
  EXPECT_TRUE(d.LoadFile(SharedMedia("emacspeak__emacspeak.mp3"))) << d.LastErrMsg();
  EXPECT_TRUE(d.DecodeAudio()) << d.LastErrMsg();
}

// ---- inputs that are slow or break off: the test's own I/O layer ----

// A file's bytes fed to the decoder through a socket, the way a slow disk,
// a stalled download or a broken device would deliver them: in pieces with a
// pause after each, one long stall on the way if asked, and at the end a
// clean end of input, a reset (a read error) or silence.
struct TFeedPlan {
  size_t Chunk = 4096;
  std::chrono::milliseconds Pause{0};
  // The pause starts once the reader has taken the piece (a local socket
  // only): however late the reader gets to it on a busy machine, the next
  // piece follows the read by Pause.
  bool PaceByReader = false;
  size_t StallAfter = std::string::npos;  // bytes sent before the one long stall
  std::chrono::milliseconds Stall{0};
  size_t Limit = std::string::npos;  // bytes sent in all
  enum TEnd { Close, Reset, Hang } End = Close;
  bool Network = false;  // over TCP ("tcp:" URL) instead of a local socket ("pipe:" URL)
};

class TSocketFeed {
 public:
  TSocketFeed(std::string ABytes, TFeedPlan APlan) : FBytes(std::move(ABytes)), FPlan(APlan) {
    if (FPlan.Network) {
      FListen = ::socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in addr{};
      addr.sin_family = AF_INET;
      addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      EXPECT_EQ(::bind(FListen, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
      EXPECT_EQ(::listen(FListen, 1), 0);
      socklen_t len = sizeof(addr);
      ::getsockname(FListen, reinterpret_cast<sockaddr*>(&addr), &len);
      FURL = "tcp://127.0.0.1:" + std::to_string(ntohs(addr.sin_port));
    } else {
      int ends[2];
      EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
      FWrite = ends[0];
      FRead = ends[1];
      FURL = "pipe:" + std::to_string(FRead);
      // A socket closed with data it never read resets its peer: after the
      // bytes already on their way the reader gets "Connection reset by peer".
      if (FPlan.End == TFeedPlan::Reset) {
        EXPECT_EQ(::send(FRead, "x", 1, MSG_NOSIGNAL), 1);
      }
    }
    FThread = std::thread([this] { Feed(); });
  }

  ~TSocketFeed() {
    {
      std::lock_guard lock(FLock);
      FStop = true;
    }
    FChanged.notify_all();
    if (FListen >= 0) ::shutdown(FListen, SHUT_RDWR);  // wakes accept
    {
      std::lock_guard lock(FLock);
      if (FWrite >= 0) ::shutdown(FWrite, SHUT_RDWR);  // wakes a blocked send
    }
    FThread.join();
    for (int fd : {FWrite, FRead, FListen})
      if (fd >= 0) ::close(fd);
  }

  const std::string& URL() const { return FURL; }

 private:
  // Sleeps unless the feed is being torn down; false then.
  bool Sleep(std::chrono::milliseconds ATime) {
    std::unique_lock lock(FLock);
    return !FChanged.wait_for(lock, ATime, [this] { return FStop; });
  }

  void Feed() {
    if (FPlan.Network) {
      const int client = ::accept(FListen, nullptr, nullptr);
      std::lock_guard lock(FLock);
      FWrite = client;
      if (FWrite < 0 || FStop) return;
    }
    const size_t total = std::min(FBytes.size(), FPlan.Limit);
    bool stalled = false;
    for (size_t sent = 0; sent < total;) {
      const size_t n = std::min(FPlan.Chunk, total - sent);
      if (!SendAll(FBytes.data() + sent, n)) return;
      sent += n;
      if (FPlan.PaceByReader && !WaitUntilRead()) return;
      if (!stalled && sent >= FPlan.StallAfter) {
        stalled = true;
        if (!Sleep(FPlan.Stall)) return;
      }
      if (FPlan.Pause.count() > 0 && !Sleep(FPlan.Pause)) return;
    }
    if (FPlan.End == TFeedPlan::Hang) {
      std::unique_lock lock(FLock);
      FChanged.wait(lock, [this] { return FStop; });
      return;
    }
    std::lock_guard lock(FLock);
    ::close(FWrite);
    FWrite = -1;
  }

  // Until the reader's end holds no unread byte; false when torn down.
  bool WaitUntilRead() {
    for (;;) {
      int unread = 0;
      if (::ioctl(FRead, FIONREAD, &unread) != 0 || unread == 0) return true;
      if (!Sleep(std::chrono::milliseconds(1))) return false;
    }
  }

  bool SendAll(const char* AData, size_t ACount) {
    while (ACount > 0) {
      const ssize_t n = ::send(FWrite, AData, ACount, MSG_NOSIGNAL);
      if (n <= 0) return false;
      AData += n;
      ACount -= static_cast<size_t>(n);
    }
    return true;
  }

  const std::string FBytes;
  const TFeedPlan FPlan;
  std::string FURL;
  int FRead = -1;
  int FListen = -1;
  int FWrite = -1;  // set by the feeding thread for TCP; guarded by FLock once it runs
  std::thread FThread;
  std::mutex FLock;
  std::condition_variable FChanged;
  bool FStop = false;
};

// What a loaded probe reports, without the name it was opened by: the
// description and each stream's record.
std::string ProbeInfo(TFFDecoder& d) {
  std::string info = d.FileInfoText();
  info.erase(0, info.find("\r\n"));  // the first line names the URL
  std::ostringstream streams;
  for (int i = 0; i < d.StreamCount(); ++i) {
    TAudioStreamInfo a;
    TVideoStreamInfo v;
    if (d.IsAudioStream(i) && d.GetAudioStreamInfo(i, a))
      streams << i << ": " << a.CodecName << " " << a.SampleRate << " Hz " << a.Channels << " ch "
              << a.DurationScaled << " us\n";
    else if (d.IsVideoStream(i) && d.GetVideoStreamInfo(i, v))
      streams << i << ": " << v.CodecName << " " << v.Width << "x" << v.Height << " " << v.FrameRate.num << "/"
              << v.FrameRate.den << " " << v.DurationScaled << " us\n";
  }
  return info + streams.str();
}

// The time-out guards waiting for data, not the whole analysis: a slow but
// steady input is probed completely however long that takes; a local input
// that stalls is waited for (its read blocks: nothing to give up on) and is
// never said to have a connection; a connection that stalls fails with that
// reason. In no case does a probe come back "successful" with less than the
// same bytes read at full speed give.
TEST_F(RobustnessTest, ProbeOfSlowInputsIsCompleteOrFailsWithAReason) {
  constexpr int kReadTimeout = 300;
  constexpr std::chrono::milliseconds kPause{kReadTimeout / 3};
  // The steady feed's pause after each read: a tenth of the time-out, so
  // that only a hang of the reader or the feed, not a busy machine, could
  // make a gap of a whole time-out; in pieces of a quarter of the others'
  // size the probe still lasts several time-outs.
  constexpr std::chrono::milliseconds kSteadyPause{kReadTimeout / 10};
  for (const char* name : {"devede__base_pal.mpg", "python3-mecavideo__balle1-vp9.avi", "emacspeak__emacspeak.mp3"}) {
    SCOPED_TRACE(name);
    const std::string bytes = ReadBytes(SharedMedia(name));
    // The same bytes at full speed: what a complete probe finds.
    std::string reference;
    {
      TSocketFeed feed(bytes, TFeedPlan{.Chunk = bytes.size()});
      TFFDecoder d;
      d.SetReadTimeout(0);
      ASSERT_TRUE(d.LoadFile(feed.URL())) << d.LastErrMsg();
      reference = ProbeInfo(d);
    }
    // Pieces small enough that the probe needs many of them, so that it
    // lasts several time-outs in all.
    const size_t piece = std::max<size_t>(bytes.size() / 24, 512);

    const struct {
      const char* Name;
      TFeedPlan Plan;
      bool MustLoad;
    } cases[] = {
        {"slow and steady",
         TFeedPlan{.Chunk = std::max<size_t>(piece / 4, 512), .Pause = kSteadyPause, .PaceByReader = true}, true},
        {"local stall", TFeedPlan{.Chunk = piece, .StallAfter = piece * 2, .Stall = kPause * 9}, true},
        {"connection stall",
         TFeedPlan{.Chunk = piece, .Limit = piece * 2, .End = TFeedPlan::Hang, .Network = true}, false},
    };
    for (const auto& c : cases) {
      SCOPED_TRACE(c.Name);
      TSocketFeed feed(bytes, c.Plan);
      // At the library's usual level: its codec descriptions grow at verbose.
      test::LogCapture log(llInfo);
      TFFDecoder d;
      d.SetReadTimeout(kReadTimeout);
      const bool loaded = d.LoadFile(feed.URL());
      if (c.MustLoad) {
        EXPECT_TRUE(loaded) << d.LastErrMsg();
      }
      if (loaded) {
        EXPECT_EQ(ProbeInfo(d), reference);
      } else {
        EXPECT_NE(d.LastErrMsg().find(": "), std::string::npos);
        EXPECT_TRUE(log.Has(&d, llError, d.LastErrMsg())) << d.LastErrMsg();
        if (c.Plan.Network) {
          EXPECT_EQ(d.LastErrMsg(), feed.URL() + ": Connection timed out");
        } else {
          EXPECT_EQ(d.LastErrMsg().find("Connection timed out"), std::string::npos) << d.LastErrMsg();
        }
      }
    }
  }
}

// A read that fails in the middle of a file is that failure, not the end of
// the file: Decode, DecodeAudio and ReadAudio all say what went wrong, while
// the same bytes ending cleanly still end with "stream eof reached.".
TEST_F(RobustnessTest, ReadErrorInTheMiddleIsNotTheEnd) {
  enum TOp { opDecode, opDecodeAudio, opReadAudio };
  const struct {
    const char* Name;
    const char* File;
    TOp Op;
  } reads[] = {
      {"Decode", "python3-mecavideo__balle1-vp9.avi", opDecode},
      {"DecodeAudio", "linphone-common__hello16000.wav", opDecodeAudio},
      {"ReadAudio", "linphone-common__hello16000.wav", opReadAudio},
  };
  for (const auto& r : reads) {
    const std::string bytes = ReadBytes(SharedMedia(r.File));
    for (const TFeedPlan::TEnd end : {TFeedPlan::Reset, TFeedPlan::Close}) {
      SCOPED_TRACE(std::string(r.Name) + (end == TFeedPlan::Reset ? ", reset" : ", clean end"));
      TSocketFeed feed(bytes, TFeedPlan{.Chunk = 8192, .Limit = bytes.size() / 2, .End = end});
      test::LogCapture log;
      TFFDecoder d;
      ASSERT_TRUE(d.LoadFile(feed.URL())) << d.LastErrMsg();
      int steps = 0;
      uint8_t buffer[1000];
      const auto step = [&] {
        switch (r.Op) {
          case opDecode: return d.Decode();
          case opDecodeAudio: return d.DecodeAudio();
          case opReadAudio: return d.ReadAudio(buffer, sizeof(buffer)) > 0;
        }
        return false;
      };
      while (step() && ++steps < 100000) {
      }
      EXPECT_GT(steps, 10);  // the first half decoded
      if (end == TFeedPlan::Reset) {
        EXPECT_EQ(d.LastErrMsg(), feed.URL() + ": Connection reset by peer");
        EXPECT_TRUE(log.Has(&d, llError, d.LastErrMsg()));
        EXPECT_FALSE(log.Has(&d, llInfo, "stream eof reached."));
        EXPECT_FALSE(d.Eof());
      } else {
        EXPECT_EQ(d.LastErrMsg(), "stream eof reached.");
        EXPECT_TRUE(d.Eof());
      }
    }
  }
}

}  // namespace
}  // namespace quorvel
