// Files that are not what they claim, and inputs that never answer: every
// operation answers with a reason, none crashes or waits for ever.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/fsuid.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
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

}  // namespace
}  // namespace quorvel
