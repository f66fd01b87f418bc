#include "PlayerTestSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "media/runtime/Format.h"
#include "media/runtime/Stubs.h"
#include "support/TestPaths.h"

namespace quorvel::test {

namespace {

constexpr auto kHangLimit = std::chrono::seconds(120);

bool Exists(const std::string& APath) {
  struct stat st {};
  return ::stat(APath.c_str(), &st) == 0;
}

}  // namespace

std::string SystemSDLFolder() {
  for (const char* folder : {"/usr/lib/x86_64-linux-gnu/", "/usr/lib64/", "/usr/lib/", "/lib/x86_64-linux-gnu/"})
    if (Exists(std::string(folder) + "libSDL-1.2.so.0")) return folder;
  return "";
}

std::string SDLCopyName(int n) { return Format("SDL_%d", n); }

std::string SDLCopyFolder() {
  const std::string folder =
      (std::filesystem::temp_directory_path() / "quorvel-tests" / Format("sdl-%d", static_cast<int>(::getpid())))
          .string() +
      "/";
  std::filesystem::create_directories(folder);
  for (int n = 0; n < 2; ++n) {
    const std::string copy = folder + SDLCopyName(n);
    if (!Exists(copy))
      std::filesystem::copy_file(SystemSDLFolder() + "libSDL-1.2.so.0", copy,
                                 std::filesystem::copy_options::overwrite_existing);
  }
  return folder;
}

void PlayerTest::SetUp() {
  ASSERT_TRUE(FFLoader().Load(TCustomPlayer::kLibraries)) << FFLoader().LastErrMsg();
  ASSERT_FALSE(SystemSDLFolder().empty()) << "no SDL 1.2 library";
  Dir = ScratchDir();
}

void PlayerTest::LoadCopy(TCustomPlayer& APlayer, int n) {
  ASSERT_TRUE(APlayer.LoadSDLLib(SDLCopyFolder(), SDLCopyName(n))) << APlayer.LastErrMsg();
}

std::string UseDiskDevice(const std::string& APath, int ADelayMs) {
  SetSDLEnv("SDL_AUDIODRIVER", "disk");
  SetSDLEnv("SDL_DISKAUDIOFILE", APath);
  SetSDLEnv("SDL_DISKAUDIODELAY", std::to_string(ADelayMs));
  return APath;
}

std::vector<int16_t> ReadSamples(const std::string& APath) {
  std::ifstream in(APath, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<int16_t> samples(bytes.size() / 2);
  std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
  return samples;
}

std::vector<int16_t> DecodeSource(const std::string& APath, int AChannels, int ARate, int AStream) {
  TFFDecoder decoder;
  std::vector<int16_t> samples;
  if (!decoder.LoadFile(APath)) {
    ADD_FAILURE() << decoder.LastErrMsg();
    return samples;
  }
  decoder.SetDesireAudioChannels(AChannels);
  decoder.SetDesireAudioSampleRate(ARate);
  decoder.SetDesireAudioSampleFormat(AV_SAMPLE_FMT_S16);
  while (decoder.DecodeAudio(AStream)) {
    const TWaveInfo& wave = decoder.WaveInfo();
    const auto* values = reinterpret_cast<const int16_t*>(wave.Buffer);
    samples.insert(samples.end(), values, values + wave.Size / 2);
  }
  return samples;
}

size_t FirstSound(const std::vector<int16_t>& ASamples, int AChannels, size_t AFrom) {
  const size_t frames = ASamples.size() / AChannels;
  for (size_t f = AFrom; f < frames; ++f)
    for (int c = 0; c < AChannels; ++c)
      if (ASamples[f * AChannels + c] != 0) return f;
  return frames;
}

::testing::AssertionResult SameFrames(const std::vector<int16_t>& AGot, size_t AGotFrom,
                                      const std::vector<int16_t>& AWant, size_t AWantFrom, size_t ACount,
                                      int AChannels, int ATolerance) {
  if ((AGotFrom + ACount) * AChannels > AGot.size())
    return ::testing::AssertionFailure() << "the device got " << AGot.size() / AChannels - AGotFrom
                                         << " frames from frame " << AGotFrom << ", " << ACount << " expected";
  if ((AWantFrom + ACount) * AChannels > AWant.size())
    return ::testing::AssertionFailure() << "the source has fewer than " << AWantFrom + ACount << " frames";
  for (size_t f = 0; f < ACount; ++f)
    for (int c = 0; c < AChannels; ++c) {
      const int got = AGot[(AGotFrom + f) * AChannels + c];
      const int want = AWant[(AWantFrom + f) * AChannels + c];
      if (std::abs(got - want) > ATolerance)
        return ::testing::AssertionFailure() << "frame " << f << " (device " << AGotFrom + f << ", source "
                                             << AWantFrom + f << ") channel " << c << ": " << got << " instead of "
                                             << want;
    }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult PlayedExactly(const std::vector<int16_t>& AGot, const std::vector<int16_t>& AWant,
                                         int AChannels, int ATolerance) {
  const size_t wantFrames = AWant.size() / AChannels;
  const size_t wantStart = FirstSound(AWant, AChannels);
  if (wantStart == wantFrames) return ::testing::AssertionFailure() << "the source is silent";
  const size_t gotStart = FirstSound(AGot, AChannels);
  const size_t count = wantFrames - wantStart;
  auto same = SameFrames(AGot, gotStart, AWant, wantStart, count, AChannels, ATolerance);
  if (!same) return same;
  const size_t after = gotStart + count;
  const size_t extra = FirstSound(AGot, AChannels, after);
  if (extra < AGot.size() / static_cast<size_t>(AChannels))
    return ::testing::AssertionFailure() << "sound after the end of the source at frame " << extra;
  return ::testing::AssertionSuccess();
}

int64_t FindContinuation(const std::vector<int16_t>& AGot, size_t AGotFrom, const std::vector<int16_t>& AWant,
                         int64_t AFrom, int64_t ATo, size_t AWindow, int AChannels, int ATolerance) {
  const int64_t wantFrames = static_cast<int64_t>(AWant.size() / AChannels);
  if ((AGotFrom + AWindow) * AChannels > AGot.size()) return -1;
  const size_t values = AWindow * AChannels;
  const int16_t* got = AGot.data() + AGotFrom * AChannels;
  for (int64_t k = std::max<int64_t>(0, AFrom); k <= ATo && k + static_cast<int64_t>(AWindow) <= wantFrames; ++k) {
    const int16_t* want = AWant.data() + k * AChannels;
    size_t i = 0;
    while (i < values && std::abs(got[i] - want[i]) <= ATolerance) ++i;
    if (i == values) return k;
  }
  return -1;
}

bool ReturnsInTime(const std::function<void()>& ACall, const std::function<void()>& AUnblock) {
  std::mutex lock;
  std::condition_variable returned;
  bool done = false;
  std::thread caller([&] {
    ACall();
    std::lock_guard guard(lock);
    done = true;
    returned.notify_all();
  });
  bool inTime;
  {
    std::unique_lock guard(lock);
    inTime = returned.wait_for(guard, kHangLimit, [&] { return done; });
  }
  if (!inTime) AUnblock();
  caller.join();
  return inTime;
}

// ---- EventRecorder ----

EventRecorder::EventRecorder(TCustomPlayer& APlayer) : FPlayer(APlayer) {
  FPlayer.SetOnState([this](TObject*, TPlayState AState) {
    {
      std::lock_guard lock(FLock);
      FStates.push_back(AState);
    }
    FChanged.notify_all();
  });
  FPlayer.SetOnPosition([this](TObject*, int64_t APTS) {
    {
      std::lock_guard lock(FLock);
      FPositions.push_back(APTS);
    }
    FChanged.notify_all();
  });
  FPlayer.SetOnFileOpen([this](TObject*, int64_t ADuration, int AFrameWidth, int AFrameHeight, int&, int&) {
    std::lock_guard lock(FLock);
    ++FFileOpens;
    FDuration = ADuration;
    FFrameSize = {AFrameWidth, AFrameHeight};
  });
}

EventRecorder::~EventRecorder() {
  FPlayer.SetOnState(nullptr);
  FPlayer.SetOnPosition(nullptr);
  FPlayer.SetOnFileOpen(nullptr);
}

bool EventRecorder::WaitFor(TPlayState AState) {
  std::unique_lock lock(FLock);
  return FChanged.wait_for(lock, kHangLimit, [&] {
    return std::find(FStates.begin(), FStates.end(), AState) != FStates.end();
  });
}

bool EventRecorder::WaitForPosition(int64_t APTS) {
  std::unique_lock lock(FLock);
  return FChanged.wait_for(lock, kHangLimit, [&] { return !FPositions.empty() && FPositions.back() >= APTS; });
}

bool EventRecorder::WaitUntil(
    const std::function<bool(const std::vector<TPlayState>&, const std::vector<int64_t>&)>& APredicate) {
  std::unique_lock lock(FLock);
  return FChanged.wait_for(lock, kHangLimit, [&] { return APredicate(FStates, FPositions); });
}

std::vector<TPlayState> EventRecorder::States() const {
  std::lock_guard lock(FLock);
  return FStates;
}

std::vector<int64_t> EventRecorder::Positions() const {
  std::lock_guard lock(FLock);
  return FPositions;
}

int EventRecorder::FileOpens() const {
  std::lock_guard lock(FLock);
  return FFileOpens;
}

int64_t EventRecorder::OpenedDuration() const {
  std::lock_guard lock(FLock);
  return FDuration;
}

std::pair<int, int> EventRecorder::OpenedFrameSize() const {
  std::lock_guard lock(FLock);
  return FFrameSize;
}

bool PollUntil(const std::function<bool()>& ADone) {
  const auto limit = std::chrono::steady_clock::now() + kHangLimit;
  while (!ADone()) {
    if (std::chrono::steady_clock::now() > limit) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

std::string MakeSweep(const std::string& ADir, const std::string& AName, int ARate, int AChannels, double ASeconds,
                      const std::string& AEncoding) {
  const std::string path = ADir + "/" + AName;
  const std::string cmd = Format("sox -D -n -r %d -c %d %s '%s' synth %.6f sine 100-3000 vol 0.5 2>&1", ARate,
                                 AChannels, AEncoding.c_str(), path.c_str(), ASeconds);
  EXPECT_EQ(Run(cmd), 0) << cmd;
  return path;
}

std::string RemuxLive(const std::string& ASource, const std::string& APath) {
  AVFormatContext* in = nullptr;
  AVFormatContext* out = nullptr;
  AVPacket* pkt = avcodec.av_packet_alloc();
  bool ok = avformat.avformat_open_input(&in, ASource.c_str(), nullptr, nullptr) >= 0 &&
            avformat.avformat_find_stream_info(in, nullptr) >= 0 &&
            avformat.avformat_alloc_output_context2(&out, nullptr, "matroska", APath.c_str()) >= 0;
  const int index = ok ? avformat.av_find_best_stream(in, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0) : -1;
  AVStream* st = nullptr;
  if (ok && index >= 0) {
    st = avformat.avformat_new_stream(out, nullptr);
    ok = avcodec.avcodec_parameters_copy(st->codecpar, in->streams[index]->codecpar) >= 0;
    st->codecpar->codec_tag = 0;
    st->time_base = in->streams[index]->time_base;
  }
  AVDictionary* options = nullptr;
  avutil.av_dict_set(&options, "live", "1", 0);
  ok = ok && st && avformat.avio_open2(&out->pb, APath.c_str(), AVIO_FLAG_WRITE, nullptr, nullptr) >= 0 &&
       avformat.avformat_write_header(out, &options) >= 0;
  avutil.av_dict_free(&options);
  while (ok && avformat.av_read_frame(in, pkt) >= 0) {
    if (pkt->stream_index == index) {
      avcodec.av_packet_rescale_ts(pkt, in->streams[index]->time_base, st->time_base);
      pkt->stream_index = st->index;
      pkt->pos = -1;
      ok = avformat.av_interleaved_write_frame(out, pkt) >= 0;
    }
    avcodec.av_packet_unref(pkt);
  }
  if (ok) avformat.av_write_trailer(out);
  EXPECT_TRUE(ok) << "remuxing " << ASource;
  avcodec.av_packet_free(&pkt);
  if (out) {
    avformat.avio_closep(&out->pb);
    avformat.avformat_free_context(out);
  }
  avformat.avformat_close_input(&in);
  return APath;
}

// ---- a server on the loopback address ----

int ListenOnLoopback(int ABacklog, int& APort) {
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address));
  socklen_t length = sizeof(address);
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  APort = ntohs(address.sin_port);
  ::listen(listener, ABacklog);
  return listener;
}

}  // namespace quorvel::test
