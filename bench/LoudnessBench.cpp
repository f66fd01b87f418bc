// Loudness measurement against decoding alone: FILE decoded the way the
// measurement decodes it (first audio stream, its own rate and channels,
// 32-bit float), once without and once with the EBU R128 meter; the best of
// three runs of each, in seconds. bench/run-loudness compares these with
// quorvel-convert --analyse and with GStreamer's rganalysis.
#include <chrono>
#include <cstdio>

#include "media/batch/LoudnessAnalysis.h"
#include "media/decoder/FFDecode.h"
#include "media/runtime/FFLoad.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point AStart) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - AStart).count();
}

// Decodes the whole first audio stream; false when it cannot be read.
bool DecodeOnly(const char* AFile, int64_t& AFrames) {
  quorvel::TFFDecoder decoder;
  if (!decoder.LoadFile(AFile)) return false;
  const int stream = decoder.FirstAudioStreamIndex();
  quorvel::TAudioStreamInfo info;
  if (stream < 0 || !decoder.GetAudioStreamInfo(stream, info)) return false;
  decoder.SetDesireAudioChannels(info.Channels);
  decoder.SetDesireAudioSampleRate(info.SampleRate);
  decoder.SetDesireAudioSampleFormat(AV_SAMPLE_FMT_FLT);
  AFrames = 0;
  while (decoder.DecodeAudio(stream)) {
    const quorvel::TWaveInfo& wave = decoder.WaveInfo();
    if (wave.Ready && wave.Size > 0) AFrames += wave.Size / static_cast<int64_t>(sizeof(float) * info.Channels);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: bench_loudness FILE\n");
    return 2;
  }
  if (!quorvel::FFLoader().Load(quorvel::kDecoderLibraries)) {
    std::fprintf(stderr, "cannot load the media libraries: %s\n", quorvel::FFLoader().LastErrMsg().c_str());
    return 2;
  }
  double decode = 1e9, analyse = 1e9;
  int64_t frames = 0;
  double integrated = 0;
  for (int run = 0; run < 3; ++run) {
    auto start = std::chrono::steady_clock::now();
    if (!DecodeOnly(argv[1], frames)) return 1;
    decode = std::min(decode, Seconds(start));
    start = std::chrono::steady_clock::now();
    const quorvel::TLoudnessAnalysis a = quorvel::AnalyseLoudness(argv[1]);
    analyse = std::min(analyse, Seconds(start));
    if (!a.Meter) return 1;
    integrated = a.Meter->Result().Integrated;
  }
  std::printf("decode %.3f analyse %.3f frames %lld integrated %.2f\n", decode, analyse,
              static_cast<long long>(frames), integrated);
  return 0;
}
