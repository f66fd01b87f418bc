// What reaches the audio device: every format played whole, volume, mute,
// pause, the audio hook, seeking, stream switching and two players at once.
// The disk audio driver writes the device's bytes into a file; they are
// compared with the decoder's decode of the source in the device format.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

#include "../decoder/DecoderTestSupport.h"
#include "PlayerTestAccess.h"
#include "PlayerTestSupport.h"
#include "media/runtime/Format.h"
#include "support/TestPaths.h"

namespace quorvel {
namespace test {
namespace {

class PlayerPlaybackTest : public PlayerTest {
 protected:
  struct TPlayed {
    std::vector<int16_t> Device;
    TAudioOutFormat Format;
    std::vector<TPlayState> States;
  };

  // Plays AFile through copy 0 to its end (stopping on psEnd, as the
  // application does) and returns what the device received. ASetup runs
  // after the player is made, before Open.
  TPlayed PlayToEnd(const std::string& AFile, const std::function<void(TFFPlayer&)>& ASetup = nullptr) {
    TPlayed played;
    TFFPlayer player;
    LoadCopy(player, 0);
    if (ASetup) ASetup(player);
    const std::string device = UseDiskDevice(Dir + "/device.raw");
    EventRecorder events(player);
    EXPECT_TRUE(player.Open(AFile)) << player.LastErrMsg();
    played.Format = player.AudioOutFormat();
    EXPECT_TRUE(events.WaitFor(psEnd));
    player.Stop(true);
    played.States = events.States();
    played.Device = ReadSamples(device);
    return played;
  }
};

struct TFormatCase {
  const char* Name;
  std::function<std::string(const std::string& ADir)> Make;
  int Tolerance;
};

std::string Shared(const char* AName) { return SharedMedia(AName); }

const TFormatCase kFormats[] = {
    {"wav16", [](const std::string& d) { return MakeTone(d, "tone.wav", 44100, 2, 1.5, 440, 0.5, "-b 16"); }, 0},
    {"flac", [](const std::string& d) { return MakeTone(d, "tone.flac", 44100, 2, 1.5, 440, 0.5, "-b 16"); }, 0},
    {"mp3", [](const std::string&) { return Shared("emacspeak__emacspeak.mp3"); }, 1},
    {"opus", [](const std::string&) { return Shared("jami-daemon__03_AcousticGuitar.opus"); }, 1},
    {"vorbis", [](const std::string&) { return Shared("sound-theme-freedesktop__camera-shutter.oga"); }, 1},
    {"mono22050", [](const std::string& d) { return MakeTone(d, "mono.wav", 22050, 1, 1.0, 300, 0.5, "-b 16"); }, 0},
    {"flac51", [](const std::string& d) { return MakeTone(d, "six.flac", 48000, 6, 1.0, 500, 0.3, "-b 16"); }, 1},
    {"wav24", [](const std::string&) { return Shared("libpython3.11-testsuite__pluck-pcm24.wav"); }, 1},
    {"ulaw", [](const std::string&) { return Shared("libpython3.11-testsuite__pluck-ulaw.au"); }, 1},
};

void PrintTo(const TFormatCase& ACase, std::ostream* AOut) { *AOut << ACase.Name; }

class FormatTest : public PlayerPlaybackTest, public ::testing::WithParamInterface<TFormatCase> {};

TEST_P(FormatTest, PlaysEverySampleOfTheSource) {
  const std::string source = GetParam().Make(Dir);
  const TPlayed played = PlayToEnd(source);
  ASSERT_GT(played.Format.Channels, 0);
  EXPECT_LE(played.Format.Channels, 2);
  const auto want = DecodeSource(source, played.Format.Channels, played.Format.Freq);
  EXPECT_TRUE(PlayedExactly(played.Device, want, played.Format.Channels, GetParam().Tolerance));
}

INSTANTIATE_TEST_SUITE_P(Player, FormatTest, ::testing::ValuesIn(kFormats),
                         [](const auto& AInfo) { return std::string(AInfo.param.Name); });

// Driver choices named after Windows' drivers, which SDL on Linux lacks,
// leave SDL's choice as it is (here the test's disk device): the source
// still plays whole instead of failing to open a device that cannot exist.
class WindowsDriverTest : public PlayerPlaybackTest, public ::testing::WithParamInterface<TAudioDriver> {};

TEST_P(WindowsDriverTest, PlaysOnTheDriverTheEnvironmentChose) {
  const std::string source = MakeTone(Dir, "tone.wav", 44100, 2, 0.5, 440, 0.5, "-b 16");
  const TAudioDriver driver = GetParam();
  const TPlayed played = PlayToEnd(source, [driver](TFFPlayer& APlayer) { APlayer.SetAudioDriver(driver); });
  ASSERT_GT(played.Format.Channels, 0);
  const auto want = DecodeSource(source, played.Format.Channels, played.Format.Freq);
  EXPECT_TRUE(PlayedExactly(played.Device, want, played.Format.Channels, 0));
}

INSTANTIATE_TEST_SUITE_P(Player, WindowsDriverTest, ::testing::Values(adDirectSound, adWaveOut),
                         [](const auto& AInfo) { return AInfo.param == adDirectSound ? "DirectSound" : "WaveOut"; });

// ---- volume, mute, hook ----

struct TLevelCase {
  const char* Name;
  int Volume;
  bool Mute;
  bool Negate;
};

const TLevelCase kLevels[] = {
    {"volume128", 128, false, false}, {"volume64", 64, false, false}, {"volume0", 0, false, false},
    {"mute", 128, true, false},       {"hookNegates", 128, false, true},
};

void PrintTo(const TLevelCase& ACase, std::ostream* AOut) { *AOut << ACase.Name; }

class LevelTest : public PlayerPlaybackTest, public ::testing::WithParamInterface<TLevelCase> {};

TEST_P(LevelTest, DeviceGetsTheScaledSamples) {
  const TLevelCase& c = GetParam();
  const std::string source = MakeTone(Dir, "tone.wav", 44100, 2, 1.0, 440, 0.5, "-b 16");
  const TPlayed played = PlayToEnd(source, [&](TFFPlayer& APlayer) {
    APlayer.SetAudioVolume(c.Volume);
    APlayer.SetMute(c.Mute);
    if (c.Negate) {
      APlayer.SetAudioHook(true);
      APlayer.SetOnAudioHook([](TObject*, int64_t, uint8_t* ASample, int ASize, int, int) {
        auto* values = reinterpret_cast<int16_t*>(ASample);
        for (int i = 0; i < ASize / 2; ++i) values[i] = values[i] == -32768 ? 32767 : static_cast<int16_t>(-values[i]);
      });
    }
  });
  auto want = DecodeSource(source, 2, 44100);
  for (auto& v : want) {
    if (c.Mute) v = 0;
    else if (c.Negate) v = v == -32768 ? 32767 : static_cast<int16_t>(-v);
    else v = static_cast<int16_t>(v * c.Volume / 128);
  }
  if (c.Mute || c.Volume == 0) {
    EXPECT_GT(played.Device.size(), want.size() / 2) << "the device ran";
    EXPECT_EQ(FirstSound(played.Device, 2), played.Device.size() / 2) << "only silence";
  } else {
    EXPECT_TRUE(PlayedExactly(played.Device, want, 2, 0));
  }
}

INSTANTIATE_TEST_SUITE_P(Player, LevelTest, ::testing::ValuesIn(kLevels),
                         [](const auto& AInfo) { return std::string(AInfo.param.Name); });

TEST_F(PlayerPlaybackTest, VolumeChangeTakesEffectAtOneCallbackBoundary) {
  const std::string source = MakeTone(Dir, "tone.wav", 44100, 2, 3.0, 440, 0.5, "-b 16");
  TFFPlayer player;
  LoadCopy(player, 0);
  const std::string device = UseDiskDevice(Dir + "/device.raw", 5);
  EventRecorder events(player);
  ASSERT_TRUE(player.Open(source)) << player.LastErrMsg();
  ASSERT_TRUE(events.WaitForPosition(1000000));
  player.SetAudioVolume(64);
  ASSERT_TRUE(events.WaitFor(psEnd));
  player.Stop(true);
  const auto got = ReadSamples(device);
  const auto want = DecodeSource(source, 2, 44100);
  const size_t gotStart = FirstSound(got, 2);
  const size_t wantStart = FirstSound(want, 2);
  // Unchanged up to one point, halved from there on: no third state, no gap.
  size_t same = 0;
  while (SameFrames(got, gotStart + same, want, wantStart + same, 1, 2, 0)) ++same;
  ASSERT_GT(same, 0u);
  auto halved = want;
  for (auto& v : halved) v = static_cast<int16_t>(v * 64 / 128);
  EXPECT_TRUE(SameFrames(got, gotStart + same, halved, wantStart + same, want.size() / 2 - wantStart - same, 2, 0));
}

TEST_F(PlayerPlaybackTest, PauseInsertsOneRunOfSilenceAndLosesNothing) {
  const std::string source = MakeTone(Dir, "tone.wav", 44100, 2, 2.0, 440, 0.5, "-b 16");
  TFFPlayer player;
  LoadCopy(player, 0);
  const std::string device = UseDiskDevice(Dir + "/device.raw", 5);
  EventRecorder events(player);
  ASSERT_TRUE(player.Open(source)) << player.LastErrMsg();
  ASSERT_TRUE(events.WaitForPosition(500000));
  player.Pause();
  EXPECT_TRUE(player.Paused());
  // Let the device run a while on silence.
  const auto sizeAtPause = ReadSamples(device).size();
  ASSERT_TRUE(PollUntil([&] { return ReadSamples(device).size() >= sizeAtPause + 44100; }));
  player.Resume();
  ASSERT_TRUE(events.WaitFor(psEnd));
  player.Stop(true);
  const auto states = events.States();
  EXPECT_NE(std::find(states.begin(), states.end(), psPause), states.end());
  EXPECT_NE(std::find(states.begin(), states.end(), psResume), states.end());

  const auto got = ReadSamples(device);
  const auto want = DecodeSource(source, 2, 44100);
  const size_t gotStart = FirstSound(got, 2);
  const size_t wantStart = FirstSound(want, 2);
  size_t before = 0;
  while (SameFrames(got, gotStart + before, want, wantStart + before, 1, 2, 0)) ++before;
  ASSERT_GT(before, 0u);
  // After the pause: silence, then the rest of the source, then silence.
  const size_t resumeGot = FirstSound(got, 2, gotStart + before);
  const size_t resumeWant = FirstSound(want, 2, wantStart + before);
  EXPECT_GT(resumeGot - (gotStart + before), resumeWant - (wantStart + before)) << "a run of silence";
  const size_t rest = want.size() / 2 - resumeWant;
  EXPECT_TRUE(SameFrames(got, resumeGot, want, resumeWant, rest, 2, 0));
  EXPECT_EQ(FirstSound(got, 2, resumeGot + rest), got.size() / 2);
}

// ---- seeking ----

struct TSeekCase {
  const char* Name;
  bool Mp3;
  int64_t Target;  // µs; or bytes with sfByte
  TSeekFlags Flags;
  double ExpectSeconds;  // where the played samples continue the source
};

const TSeekCase kSeeks[] = {
    {"zero", false, 0, 0, 0.0},
    {"negative", false, -3000000, 0, 0.0},
    {"middle", false, 2500000, 0, 2.5},
    {"middleMp3", true, 2500000, 0, 2.5},
};

void PrintTo(const TSeekCase& ACase, std::ostream* AOut) { *AOut << ACase.Name; }

class SeekTest : public PlayerPlaybackTest, public ::testing::WithParamInterface<TSeekCase> {};

TEST_P(SeekTest, PlaysOnFromTheTarget) {
  const TSeekCase& c = GetParam();
  // A constant-rate MP3 of 128 kbit/s: 16000 bytes per second.
  const std::string source =
      c.Mp3 ? MakeSweep(Dir, "sweep.mp3", 44100, 2, 5.0, "-C 128") : MakeSweep(Dir, "sweep.wav", 44100, 2, 5.0, "-b 16");
  TFFPlayer player;
  LoadCopy(player, 0);
  const std::string device = UseDiskDevice(Dir + "/device.raw");
  EventRecorder events(player);
  ASSERT_TRUE(player.Open(source, nullptr, true)) << player.LastErrMsg();
  ASSERT_TRUE(player.Seek(c.Target, c.Flags, true));
  player.Resume();
  ASSERT_TRUE(events.WaitFor(psEnd));
  player.Stop(true);
  const auto got = ReadSamples(device);
  const auto want = DecodeSource(source, 2, 44100);
  // A decoder restarting after a seek needs a few frames; compare past them.
  const size_t skip = c.Mp3 ? 3 * 1152 : 0;
  const int64_t frame = c.Mp3 ? 1152 : 4096;
  const int64_t target = std::llround(c.ExpectSeconds * 44100);
  const size_t gotStart = FirstSound(got, 2);
  const int64_t tolerance = frame;
  const int64_t found = FindContinuation(got, gotStart + skip, want, target + static_cast<int64_t>(skip) - 3 * frame,
                                         target + static_cast<int64_t>(skip) + 3 * frame, 4096, 2, c.Mp3 ? 1 : 0);
  ASSERT_GE(found, 0) << "the played samples continue the source near " << c.ExpectSeconds << " s";
  EXPECT_LE(std::llabs(found - static_cast<int64_t>(skip) - target), tolerance);
}

INSTANTIATE_TEST_SUITE_P(Player, SeekTest, ::testing::ValuesIn(kSeeks),
                         [](const auto& AInfo) { return std::string(AInfo.param.Name); });

// By byte: the demuxer lands on the first frame after the byte position; the
// decoder seeking to the same byte decodes what the device must get.
TEST_F(PlayerPlaybackTest, SeekByByteOnAnMp3) {
  const std::string source = MakeSweep(Dir, "sweep.mp3", 44100, 2, 5.0, "-C 128");
  const int64_t position = 32000;  // about 2 s at 128 kbit/s
  TFFPlayer player;
  LoadCopy(player, 0);
  const std::string device = UseDiskDevice(Dir + "/device.raw");
  EventRecorder events(player);
  ASSERT_TRUE(player.Open(source, nullptr, true)) << player.LastErrMsg();
  ASSERT_TRUE(player.Seek(position, sfByte, true));
  player.Resume();
  ASSERT_TRUE(events.WaitFor(psEnd));
  player.Stop(true);

  TFFDecoder decoder;
  ASSERT_TRUE(decoder.LoadFile(source)) << decoder.LastErrMsg();
  decoder.SetDesireAudioChannels(2);
  decoder.SetDesireAudioSampleRate(44100);
  decoder.SetDesireAudioSampleFormat(AV_SAMPLE_FMT_S16);
  ASSERT_TRUE(decoder.Seek(position, sfByte)) << decoder.LastErrMsg();
  std::vector<int16_t> want;
  while (decoder.DecodeAudio()) {
    const auto* values = reinterpret_cast<const int16_t*>(decoder.WaveInfo().Buffer);
    want.insert(want.end(), values, values + decoder.WaveInfo().Size / 2);
  }
  const auto whole = DecodeSource(source, 2, 44100);
  ASSERT_LT(want.size(), whole.size() * 3 / 4) << "the decoder started past the start";
  EXPECT_TRUE(PlayedExactly(ReadSamples(device), want, 2, 1));
}

// Without a known duration nothing limits the target.
TEST_F(PlayerPlaybackTest, SeekInAFileOfUnknownDuration) {
  const std::string flac = MakeSweep(Dir, "sweep.flac", 44100, 2, 5.0, "-b 16");
  const std::string source = RemuxLive(flac, Dir + "/live.mkv");
  TFFPlayer player;
  LoadCopy(player, 0);
  const std::string device = UseDiskDevice(Dir + "/device.raw");
  EventRecorder events(player);
  ASSERT_TRUE(player.Open(source, nullptr, true)) << player.LastErrMsg();
  ASSERT_EQ(player.Duration(), -1);
  ASSERT_TRUE(player.Seek(int64_t{3000000}, 0, true));
  player.Resume();
  ASSERT_TRUE(events.WaitFor(psEnd));
  player.Stop(true);
  const auto got = ReadSamples(device);
  const auto want = DecodeSource(flac, 2, 44100);
  // A FLAC frame holds 4608 samples here.
  const int64_t target = 3 * 44100;
  const int64_t found = FindContinuation(got, FirstSound(got, 2), want, target - 3 * 4608, target + 3 * 4608, 4096, 2, 0);
  ASSERT_GE(found, 0);
  EXPECT_LE(std::llabs(found - target), 4608);
}

TEST_F(PlayerPlaybackTest, SeekPastTheEndEndsAndASeekBackPlaysAgain) {
  const std::string source = MakeTone(Dir, "tone.wav", 44100, 2, 2.0, 440, 0.5, "-b 16");
  TFFPlayer player;
  LoadCopy(player, 0);
  UseDiskDevice(Dir + "/device.raw");
  EventRecorder events(player);
  ASSERT_TRUE(player.Open(source)) << player.LastErrMsg();
  ASSERT_TRUE(player.Seek(int64_t{60000000}, 0, true));
  ASSERT_TRUE(events.WaitFor(psEnd));
  const size_t positionsAtEnd = events.Positions().size();
  const size_t statesAtEnd = events.States().size();
  ASSERT_TRUE(player.Seek(int64_t{500000}, 0, true));
  // Playing again: positions below the end arrive after the seek, and the
  // end comes once more.
  EXPECT_TRUE(events.WaitUntil([&](const std::vector<TPlayState>& AStates, const std::vector<int64_t>& APositions) {
    bool movedBack = false;
    for (size_t i = positionsAtEnd; i < APositions.size(); ++i) movedBack |= APositions[i] < 1500000;
    return movedBack && AStates.size() > statesAtEnd && AStates.back() == psEnd;
  }));
  player.Stop(true);
}

TEST_F(PlayerPlaybackTest, RelativeSeeksMoveByTheirDistance) {
  const std::string source = MakeSweep(Dir, "sweep.wav", 44100, 2, 6.0, "-b 16");
  for (const double delta : {2.0, -2.0}) {
    SCOPED_TRACE(delta);
    TFFPlayer player;
    LoadCopy(player, 0);
    const std::string device = UseDiskDevice(Dir + "/device.raw", 5);
    EventRecorder events(player);
    ASSERT_TRUE(player.Open(source)) << player.LastErrMsg();
    ASSERT_TRUE(events.WaitForPosition(2500000));
    // Paused, the clock stands where the sound stopped: the jump is measured
    // from there.
    player.Pause();
    const auto sizeAtPause = ReadSamples(device).size();
    ASSERT_TRUE(PollUntil([&] { return ReadSamples(device).size() >= sizeAtPause + 8192; }));
    ASSERT_TRUE(player.Seek(delta, 0, true));
    player.Resume();
    ASSERT_TRUE(events.WaitFor(psEnd));
    player.Stop(true);
    const auto got = ReadSamples(device);
    const auto want = DecodeSource(source, 2, 44100);
    const size_t gotStart = FirstSound(got, 2);
    const size_t wantStart = FirstSound(want, 2);
    size_t before = 0;
    while (SameFrames(got, gotStart + before, want, wantStart + before, 1, 2, 0)) ++before;
    const size_t resumed = FirstSound(got, 2, gotStart + before);
    const int64_t jumped =
        FindContinuation(got, resumed, want, 0, static_cast<int64_t>(want.size() / 2), 2048, 2, 0);
    ASSERT_GE(jumped, 0);
    const double moved = static_cast<double>(jumped - static_cast<int64_t>(wantStart + before)) / 44100;
    // Within one block of the file (1024 frames) and one silence buffer.
    EXPECT_NEAR(moved, delta, 2048.0 / 44100);
  }
}

// A second seek while one is pending is ignored.
TEST_F(PlayerPlaybackTest, SecondPendingSeekIsIgnored) {
  const std::string source = MakeTone(Dir, "tone.wav", 44100, 2, 3.0, 440, 0.5, "-b 16");
  TFFPlayer player;
  LoadCopy(player, 0);
  UseDiskDevice(Dir + "/device.raw");
  ASSERT_TRUE(player.Open(source, nullptr, true)) << player.LastErrMsg();
  int accepted = 0;
  // Requests are taken by the read thread within one round; a burst of them
  // meets a pending one.
  for (int i = 0; i < 50; ++i) accepted += player.Seek(int64_t{1000000}, 0, false) ? 1 : 0;
  EXPECT_LT(accepted, 50);
  EXPECT_GE(accepted, 1);
  player.Stop(true);
}

TEST_F(PlayerPlaybackTest, TruncatedFilePlaysToItsCutThenEnds) {
  const std::string full = MakeTone(Dir, "tone.mp3", 44100, 2, 3.0, 440, 0.5, "-C 128");
  const std::string cut = Dir + "/cut.mp3";
  ASSERT_EQ(test::Run(Format("head -c 24000 '%s' > '%s'", full.c_str(), cut.c_str())), 0);
  TFFPlayer player;
  LoadCopy(player, 0);
  const std::string device = UseDiskDevice(Dir + "/device.raw");
  EventRecorder events(player);
  ASSERT_TRUE(player.Open(cut)) << player.LastErrMsg();
  ASSERT_TRUE(events.WaitFor(psEnd));
  player.Stop(true);
  const auto want = DecodeSource(cut, 2, 44100);
  EXPECT_TRUE(PlayedExactly(ReadSamples(device), want, 2, 1));
}

// ---- streams ----

double DominantFrequency(const std::vector<int16_t>& ASamples, size_t AFrom, size_t AFrames, int AChannels = 2,
                         int ARate = 44100) {
  // Zero crossings of the first channel.
  const size_t step = static_cast<size_t>(AChannels);
  int crossings = 0;
  for (size_t f = AFrom + 1; f < AFrom + AFrames; ++f)
    if ((ASamples[step * (f - 1)] < 0) != (ASamples[step * f] < 0)) ++crossings;
  return crossings * static_cast<double>(ARate) / 2 / AFrames;
}

TEST_F(PlayerPlaybackTest, SwitchingTheAudioStreamChangesTheTone) {
  const std::string source = WriteTwoToneFile(Dir + "/two.nut", 440, 880, 4.0);
  TFFPlayer player;
  LoadCopy(player, 0);
  const std::string device = UseDiskDevice(Dir + "/device.raw", 5);
  EventRecorder events(player);
  ASSERT_TRUE(player.Open(source)) << player.LastErrMsg();
  EXPECT_EQ(player.AudioStreamIndex(), 0);
  ASSERT_TRUE(events.WaitForPosition(1000000));
  // The new stream opens the device anew, which starts its own file.
  const std::string switched = UseDiskDevice(Dir + "/switched.raw", 5);
  player.SetAudioStreamIndex(1);
  EXPECT_EQ(player.AudioStreamIndex(), 1);
  ASSERT_TRUE(events.WaitFor(psEnd));
  player.Stop(true);
  const auto before = ReadSamples(device);
  const size_t start = FirstSound(before, 2);
  ASSERT_GT(before.size() / 2, start + 22050);
  EXPECT_NEAR(DominantFrequency(before, start, 22050), 440, 10);
  const auto after = ReadSamples(switched);
  const size_t afterStart = FirstSound(after, 2);
  ASSERT_GT(after.size() / 2, afterStart + 22050);
  EXPECT_NEAR(DominantFrequency(after, afterStart, 22050), 880, 10);
}

// The reader has read the whole file (and ended the input of the decoder)
// when the audio stream changes: the new stream's decoder is told of the
// end too, so the playback still ends.
TEST_F(PlayerPlaybackTest, SwitchingTheAudioStreamAfterTheEndOfInputStillEnds) {
  const std::string source = WriteTwoToneFile(Dir + "/two.nut", 440, 880, 6.0);
  TFFPlayer player;
  LoadCopy(player, 0);
  UseDiskDevice(Dir + "/device.raw", 23);  // about real time
  EventRecorder events(player);
  ASSERT_TRUE(player.Open(source)) << player.LastErrMsg();
  // The reader queues at most about 1.9 s of sound ahead: 0.8 s before the
  // end it has read the whole file.
  ASSERT_TRUE(events.WaitForPosition(5200000));
  const size_t statesBefore = events.States().size();
  player.SetAudioStreamIndex(1);
  EXPECT_EQ(player.AudioStreamIndex(), 1);
  EXPECT_TRUE(events.WaitUntil([&](const std::vector<TPlayState>& AStates, const std::vector<int64_t>&) {
    return std::find(AStates.begin() + static_cast<std::ptrdiff_t>(statesBefore), AStates.end(), psEnd) !=
           AStates.end();
  }));
  player.Stop(true);
}

// ---- a stream that arrives over the network ----

// A server of one connection: sends the bytes it was given, then holds the
// connection open until the test ends it, with the end of the stream (a
// close) or with a reset (a read error at the player's end).
class TrickleServer {
 public:
  explicit TrickleServer(std::string ABytes) : FBytes(std::move(ABytes)) {
    FListener = ListenOnLoopback(1, FPort);
    FThread = std::thread([this] { Serve(); });
  }
  ~TrickleServer() {
    End(false);
    ::shutdown(FListener, SHUT_RDWR);  // releases an accept that got no connection
    FThread.join();
    ::close(FListener);
  }
  std::string Url() const { return Format("tcp://127.0.0.1:%d", FPort); }
  void End(bool AReset) {
    {
      std::lock_guard lock(FLock);
      if (FEnded) return;
      FEnded = true;
      FReset = AReset;
    }
    FChanged.notify_all();
  }

 private:
  void Serve() {
    const int client = ::accept(FListener, nullptr, nullptr);
    if (client < 0) return;
    for (size_t sent = 0; sent < FBytes.size();) {
      const ssize_t n = ::send(client, FBytes.data() + sent, FBytes.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) break;
      sent += static_cast<size_t>(n);
    }
    std::unique_lock lock(FLock);
    FChanged.wait(lock, [this] { return FEnded; });
    if (FReset) {
      const linger abort{1, 0};
      ::setsockopt(client, SOL_SOCKET, SO_LINGER, &abort, sizeof(abort));
    }
    ::close(client);
  }

  std::string FBytes;
  int FListener = -1;
  int FPort = 0;
  std::thread FThread;
  std::mutex FLock;
  std::condition_variable FChanged;
  bool FEnded = false;  // FLock
  bool FReset = false;  // FLock
};

// The first ABytesOfSound bytes of sound of a Sun audio file (no read-ahead
// in its reader: each packet is read when it is due), with its header.
std::string AuHead(const std::string& AFile, size_t ABytesOfSound) {
  std::ifstream in(AFile, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_GE(bytes.size(), 8u);
  if (bytes.size() < 8) return bytes;
  const auto* b = reinterpret_cast<const uint8_t*>(bytes.data());
  const size_t offset = (size_t{b[4]} << 24) | (size_t{b[5]} << 16) | (size_t{b[6]} << 8) | b[7];
  EXPECT_GE(bytes.size(), offset + ABytesOfSound);
  return bytes.substr(0, offset + ABytesOfSound);
}

// The sound starts with the first packets that arrive: a stream that sends
// a few packets' worth and then nothing more for a while plays them.
TEST_F(PlayerPlaybackTest, TheFirstPacketsOfAStreamPlayAtOnce) {
  const std::string whole = MakeTone(Dir, "tone.au", 44100, 2, 10.0, 440, 0.5, "-b 16");
  // 5120 sample frames: 116 ms, a few packets.
  const std::string head = AuHead(whole, 5120 * 4);
  const std::string sent = Dir + "/sent.au";
  std::ofstream(sent, std::ios::binary) << head;
  TrickleServer server(head);
  TFFPlayer player;
  LoadCopy(player, 0);
  const std::string device = UseDiskDevice(Dir + "/device.raw");
  EventRecorder events(player);
  ASSERT_TRUE(player.Open(server.Url())) << player.LastErrMsg();
  EXPECT_TRUE(events.WaitForPosition(50000)) << "no sound while the stream waits for more";
  server.End(false);
  ASSERT_TRUE(events.WaitFor(psEnd));
  player.Stop(true);
  EXPECT_TRUE(PlayedExactly(ReadSamples(device), DecodeSource(sent, 2, 44100), 2, 0));
}

// A read error ends the reading (CheckIOERR): a seek that waits for its end
// still returns, whether it was asked before the reader met the error or
// after, and Seeking is false again.
TEST_F(PlayerPlaybackTest, ASeekThatWaitsReturnsAfterAReadError) {
  const std::string whole = MakeTone(Dir, "tone.au", 44100, 2, 10.0, 440, 0.5, "-b 16");
  TrickleServer server(AuHead(whole, 30 * 4096));
  TFFPlayer player;
  LoadCopy(player, 0);
  UseDiskDevice(Dir + "/device.raw");
  EventRecorder events(player);
  ASSERT_TRUE(player.Open(server.Url())) << player.LastErrMsg();
  ASSERT_TRUE(events.WaitForPosition(200000));
  server.End(true);
  EXPECT_TRUE(ReturnsInTime([&] { player.Seek(int64_t{100000}, 0, true); }, [&] { player.Stop(true); }));
  EXPECT_TRUE(ReturnsInTime([&] { player.Seek(int64_t{200000}, 0, true); }, [&] { player.Stop(true); }));
  EXPECT_FALSE(player.Seeking());
  player.Stop(true);
}

// ---- a device that grants another spec ----

struct TGrantCase {
  const char* Name;
  const char* Format;  // what the stand-in device grants for the sample format
};

TEST_F(PlayerPlaybackTest, ADeviceGrantingAnotherSpecHearsTheSourceAtItsSpeed) {
  const std::string source = MakeTone(Dir, "tone.wav", 44100, 2, 2.0, 440, 0.5, "-b 16");
  const std::string path = QUORVEL_GRANTING_SDL;
  const TGrantCase cases[] = {{"rate and channels", "s16"}, {"rate, channels and sample format", "u8"}};
  for (const TGrantCase& c : cases) {
    SCOPED_TRACE(c.Name);
    SetSDLEnv("QUORVEL_GRANT_FORMAT", c.Format);
    TFFPlayer player;
    ASSERT_TRUE(player.LoadSDLLib(path.substr(0, path.rfind('/') + 1), path.substr(path.rfind('/') + 1)))
        << player.LastErrMsg();
    const std::string device = UseDiskDevice(Dir + "/granted-" + c.Format + ".raw");
    EventRecorder events(player);
    ASSERT_TRUE(player.Open(source)) << player.LastErrMsg();
    EXPECT_EQ(player.AudioOutFormat().Freq, 32000);
    EXPECT_EQ(player.AudioOutFormat().Channels, 1);
    ASSERT_TRUE(events.WaitFor(psEnd));
    player.Stop(true);
    const auto got = ReadSamples(device);
    // Played at the granted rate and layout: the source's two seconds as
    // 32000 mono frames, each the decoder's own conversion to that format.
    EXPECT_TRUE(PlayedExactly(got, DecodeSource(source, 1, 32000), 1, 1));
    const size_t start = FirstSound(got, 1);
    ASSERT_GT(got.size(), start + 16000);
    EXPECT_NEAR(DominantFrequency(got, start, 16000, 1, 32000), 440, 10);
  }
  SetSDLEnv("QUORVEL_GRANT_FORMAT", "");
}

struct TRefusalCase {
  const char* Name;
  int Index;
  const char* Text;
};

TEST_F(PlayerPlaybackTest, StreamSwitchRefusals) {
  const std::string source = WriteTwoToneFile(Dir + "/two.nut", 440, 880, 2.0);
  TFFPlayer player;
  LoadCopy(player, 0);
  UseDiskDevice(Dir + "/device.raw");
  ASSERT_TRUE(player.Open(source, nullptr, true)) << player.LastErrMsg();
  const TRefusalCase refusals[] = {
      {"negative", -1, "the stream index is not valid."},
      {"beyond", 2, "the stream index is not valid."},
  };
  for (const auto& r : refusals) {
    SCOPED_TRACE(r.Name);
    player.SetAudioStreamIndex(r.Index);
    EXPECT_EQ(player.LastErrMsg(), r.Text);
    EXPECT_EQ(player.AudioStreamIndex(), 0);
  }
  // No video stream plays: its index cannot be switched.
  player.SetVideoStreamIndex(1);
  EXPECT_EQ(player.LastErrMsg(), "the current stream is not valid.");
  // A subtitle index of -1 (off) is accepted; an audio stream is not a subtitle.
  player.SetSubtitleStreamIndex(0);
  EXPECT_EQ(player.LastErrMsg(), "the stream type is not matched.");
  player.Stop(true);
}

// ---- two players ----

TEST_F(PlayerPlaybackTest, TwoPlayersPlayAtOnceOnTheirOwnCopies) {
  const std::string first = MakeTone(Dir, "a.wav", 44100, 2, 2.0, 440, 0.5, "-b 16");
  const std::string second = MakeTone(Dir, "b.wav", 48000, 1, 2.0, 660, 0.4, "-b 16");
  TFFPlayer a, b;
  LoadCopy(a, 0);
  LoadCopy(b, 1);
  EventRecorder eventsA(a), eventsB(b);
  // Each device reads its file name when it opens, which Open finishes.
  const std::string deviceA = UseDiskDevice(Dir + "/a.raw", 5);
  ASSERT_TRUE(a.Open(first)) << a.LastErrMsg();
  const std::string deviceB = UseDiskDevice(Dir + "/b.raw", 5);
  ASSERT_TRUE(b.Open(second)) << b.LastErrMsg();
  ASSERT_TRUE(eventsA.WaitFor(psEnd));
  ASSERT_TRUE(eventsB.WaitFor(psEnd));
  a.Stop(true);
  b.Stop(true);
  EXPECT_TRUE(PlayedExactly(ReadSamples(deviceA), DecodeSource(first, 2, 44100), 2, 0));
  EXPECT_TRUE(PlayedExactly(ReadSamples(deviceB), DecodeSource(second, 1, 48000), 1, 0));
}

TEST_F(PlayerPlaybackTest, StoppingOnePlayerLeavesTheOtherIntact) {
  const std::string first = MakeTone(Dir, "a.wav", 44100, 2, 4.0, 440, 0.5, "-b 16");
  const std::string second = MakeTone(Dir, "b.wav", 44100, 2, 2.0, 660, 0.4, "-b 16");
  TFFPlayer a, b;
  LoadCopy(a, 0);
  LoadCopy(b, 1);
  EventRecorder eventsA(a), eventsB(b);
  UseDiskDevice(Dir + "/a.raw", 5);
  ASSERT_TRUE(a.Open(first)) << a.LastErrMsg();
  const std::string deviceB = UseDiskDevice(Dir + "/b.raw", 5);
  ASSERT_TRUE(b.Open(second)) << b.LastErrMsg();
  ASSERT_TRUE(eventsA.WaitForPosition(300000));
  a.Stop(true);
  EXPECT_TRUE(eventsA.WaitFor(psStop));
  ASSERT_TRUE(eventsB.WaitFor(psEnd));
  b.Stop(true);
  EXPECT_TRUE(PlayedExactly(ReadSamples(deviceB), DecodeSource(second, 2, 44100), 2, 0));
}

// ---- the refresh ----

// SDL refuses an event when its queue is full. A refused refresh must be
// tried again: pictures, positions and psEnd all come from the refresh.
TEST_F(PlayerPlaybackTest, ARefusedRefreshIsRetried) {
  const std::string source = MakeTone(Dir, "tone.wav", 44100, 2, 1.0, 440, 0.5, "-b 16");
  TFFPlayer player;
  LoadCopy(player, 0);
  UseDiskDevice(Dir + "/device.raw", 5);
  EventRecorder events(player);
  TPlayerTestAccess::RefuseRefreshPushes(player, 3);
  ASSERT_TRUE(player.Open(source)) << player.LastErrMsg();
  ASSERT_TRUE(events.WaitFor(psEnd)) << "no end after a refused refresh";
  EXPECT_LE(TPlayerTestAccess::RefusalsLeft(), 0) << "every refusal was met";
  const auto positions = events.Positions();
  ASSERT_FALSE(positions.empty());
  EXPECT_EQ(positions.back(), 1000000);
  player.Stop(true);
}

// The context switches of the player's thread named AName (-1: none such).
long ThreadWakes(const std::string& AName) {
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream comm(task.path() / "comm");
    std::string name;
    std::getline(comm, name);
    if (name != AName) continue;
    std::ifstream status(task.path() / "status");
    long wakes = 0;
    for (std::string line; std::getline(status, line);)
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0) wakes = std::stol(line.substr(line.find(':') + 1));
    return wakes;
  }
  return -1;
}

// With no window, no display and no position wanted, the event loop only
// has the idle refresh to take: it must sleep until the next one comes, not
// poll SDL's queue every 10 ms. (A refresh pushed while the loop waited in
// SDL_WaitEvent used to leave the loop's count one ahead for good, and the
// loop polled from then on.)
TEST_F(PlayerPlaybackTest, WithNothingToShowTheEventLoopSleepsBetweenRefreshes) {
  const std::string source = MakeTone(Dir, "tone.wav", 44100, 2, 5.0, 440, 0.5, "-b 16");
  TFFPlayer player;
  LoadCopy(player, 0);
  UseDiskDevice(Dir + "/device.raw", 5);
  player.SetDisableDisplay(true);
  ASSERT_TRUE(player.Open(source)) << player.LastErrMsg();
  // Paused, the idle refresh goes on for as long as the test needs.
  player.Pause();
  ASSERT_TRUE(PollUntil([&] { return TPlayerTestAccess::RefreshesHandled(player) >= 3; }));
  const long wakesBefore = ThreadWakes("player-loop");
  ASSERT_GE(wakesBefore, 0) << "no thread named player-loop";
  const int refreshesBefore = TPlayerTestAccess::RefreshesHandled(player);
  ASSERT_TRUE(PollUntil([&] { return TPlayerTestAccess::RefreshesHandled(player) >= refreshesBefore + 30; }));
  const long wakes = ThreadWakes("player-loop") - wakesBefore;
  const int refreshes = TPlayerTestAccess::RefreshesHandled(player) - refreshesBefore;
  EXPECT_LE(wakes, 2 * refreshes + 4) << refreshes << " refreshes took " << wakes << " wakes of the event loop";
  player.Stop(true);
}

}  // namespace
}  // namespace test
}  // namespace quorvel
