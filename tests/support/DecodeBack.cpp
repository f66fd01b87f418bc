#include "support/DecodeBack.h"

#include <algorithm>
#include <memory>

#include "media/runtime/LibHandles.h"

namespace quorvel::test {

TDecodedAudio DecodeAudio(const std::string& APath, bool AKeepRaw, double AFrom, double ATo) {
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
  char layout[128] = {};
  if (avutil.av_channel_layout_describe(&dec->ch_layout, layout, sizeof(layout)) >= 0) r.Layout = layout;
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
  r.Seconds = r.SampleRate ? static_cast<double>(r.Samples) / r.SampleRate : 0;
  r.Ok = true;
  return r;
}

}  // namespace quorvel::test
