// Shared pieces of the run tests: reading an output back (container, codec,
// parameters, length, level, raw samples) and a job that converts one or
// more inputs with a list of options.
#pragma once

#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "EngineTestSupport.h"

namespace quorvel::test {

inline int64_t FileSizeOf(const std::string& APath) {
  struct stat info {};
  return ::stat(APath.c_str(), &info) == 0 ? static_cast<int64_t>(info.st_size) : -1;
}

inline bool FileExists(const std::string& APath) { return FileSizeOf(APath) >= 0; }

// What decoding a file back gives.
struct TDecodedAudio {
  bool Ok = false;
  std::string Error;
  std::string Format;  // demuxer name
  std::string Codec;   // decoder name
  AVCodecID CodecId = AV_CODEC_ID_NONE;
  int SampleRate = 0;
  int Channels = 0;
  int BitsPerRawSample = 0;
  AVSampleFormat SampleFormat = AV_SAMPLE_FMT_NONE;  // packed form of the decoder's format
  int64_t Samples = 0;                               // per channel
  std::vector<uint8_t> Raw;                          // interleaved samples in SampleFormat (when kept)
  double Rms = 0;                                    // of all samples, 1.0 = full scale
  double Peak = 0;
  double Seconds() const { return SampleRate ? static_cast<double>(Samples) / SampleRate : 0; }
  double RmsDb() const { return Rms > 0 ? 20 * std::log10(Rms) : -1000; }
};

// Full-scale value of a sample of a packed format.
inline double SampleValue(const uint8_t* p, AVSampleFormat f) {
  switch (f) {
    case AV_SAMPLE_FMT_U8: return (static_cast<int>(*p) - 128) / 128.0;
    case AV_SAMPLE_FMT_S16: { int16_t v; std::memcpy(&v, p, 2); return v / 32768.0; }
    case AV_SAMPLE_FMT_S32: { int32_t v; std::memcpy(&v, p, 4); return v / 2147483648.0; }
    case AV_SAMPLE_FMT_FLT: { float v; std::memcpy(&v, p, 4); return v; }
    case AV_SAMPLE_FMT_DBL: { double v; std::memcpy(&v, p, 8); return v; }
    default: return 0;
  }
}

// Decodes the first audio stream of a file; AFrom/ATo (seconds) limit the
// level measurement to a window.
inline TDecodedAudio DecodeAudio(const std::string& APath, bool AKeepRaw = false, double AFrom = 0,
                                 double ATo = 1e9) {
  TDecodedAudio r;
  AVFormatContext* ic = nullptr;
  if (int e = avformat.avformat_open_input(&ic, APath.c_str(), nullptr, nullptr); e < 0) {
    r.Error = "open failed " + std::to_string(e);
    return r;
  }
  std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> icGuard(
      ic, [](AVFormatContext* c) { avformat.avformat_close_input(&c); });
  if (avformat.avformat_find_stream_info(ic, nullptr) < 0) {
    r.Error = "no stream info";
    return r;
  }
  const int index = avformat.av_find_best_stream(ic, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  if (index < 0) {
    r.Error = "no audio stream";
    return r;
  }
  AVStream* st = ic->streams[index];
  const AVCodec* codec = avcodec.avcodec_find_decoder(st->codecpar->codec_id);
  TCodecContextPtr dec(avcodec.avcodec_alloc_context3(codec));
  avcodec.avcodec_parameters_to_context(dec.get(), st->codecpar);
  if (avcodec.avcodec_open2(dec.get(), codec, nullptr) < 0) {
    r.Error = "decoder open failed";
    return r;
  }
  r.Format = ic->iformat->name;
  r.Codec = codec->name;
  r.CodecId = codec->id;
  r.SampleRate = dec->sample_rate;
  r.Channels = dec->ch_layout.nb_channels;
  r.BitsPerRawSample = st->codecpar->bits_per_raw_sample;
  TPacketPtr pkt(avcodec.av_packet_alloc());
  TFramePtr frame(avutil.av_frame_alloc());
  double sum = 0;
  int64_t counted = 0;
  const auto take = [&](AVFrame* f) {
    const AVSampleFormat fmt = static_cast<AVSampleFormat>(f->format);
    const AVSampleFormat packed = avutil.av_get_packed_sample_fmt(fmt);
    r.SampleFormat = packed;
    const int bps = avutil.av_get_bytes_per_sample(fmt);
    const int ch = f->ch_layout.nb_channels;
    const bool planar = avutil.av_sample_fmt_is_planar(fmt);
    for (int i = 0; i < f->nb_samples; ++i) {
      const double t = static_cast<double>(r.Samples + i) / r.SampleRate;
      for (int c = 0; c < ch; ++c) {
        const uint8_t* p = planar ? f->extended_data[c] + static_cast<size_t>(i) * bps
                                  : f->extended_data[0] + (static_cast<size_t>(i) * ch + c) * bps;
        if (AKeepRaw) r.Raw.insert(r.Raw.end(), p, p + bps);
        if (t >= AFrom && t < ATo) {
          const double v = SampleValue(p, packed);
          sum += v * v;
          r.Peak = std::max(r.Peak, std::fabs(v));
          ++counted;
        }
      }
    }
    r.Samples += f->nb_samples;
  };
  const auto receive = [&] {
    while (avcodec.avcodec_receive_frame(dec.get(), frame.get()) >= 0) {
      take(frame.get());
      avutil.av_frame_unref(frame.get());
    }
  };
  while (avformat.av_read_frame(ic, pkt.get()) >= 0) {
    if (pkt->stream_index == index) {
      avcodec.avcodec_send_packet(dec.get(), pkt.get());
      receive();
    }
    avcodec.av_packet_unref(pkt.get());
  }
  avcodec.avcodec_send_packet(dec.get(), nullptr);
  receive();
  r.Rms = counted ? std::sqrt(sum / counted) : 0;
  r.Ok = true;
  return r;
}

using TOptionList = std::vector<std::pair<std::string, std::string>>;

inline void ApplyOptions(TCustomFFmpeg& AJob, const TOptionList& AOptions) {
  for (const auto& [name, value] : AOptions) AJob.SetExtOption(name, value);
}

// A sox-made tone: ASeconds of a sine at AFrequency with amplitude
// AAmplitude (of full scale).
inline std::string MakeTone(const std::string& ADir, const std::string& AName, int ARate, int AChannels,
                            double ASeconds, double AAmplitude = 0.5, int ABits = 16, int AFrequency = 440) {
  const std::string path = ADir + "/" + AName;
  const std::string cmd = "sox -D -n -r " + std::to_string(ARate) + " -c " + std::to_string(AChannels) + " -b " +
                          std::to_string(ABits) + " '" + path + "' synth " + std::to_string(ASeconds) + " sine " +
                          std::to_string(AFrequency) + " vol " + std::to_string(AAmplitude);
  EXPECT_EQ(Run(cmd), 0) << cmd;
  return path;
}

}  // namespace quorvel::test
