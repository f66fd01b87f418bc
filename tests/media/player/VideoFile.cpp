#include "VideoFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "media/engine/CustomFFmpeg.h"
#include "media/runtime/CodecLock.h"
#include "media/runtime/FFLoad.h"
#include "media/runtime/Format.h"
#include "media/runtime/LibHandles.h"
#include "support/TestPaths.h"

namespace quorvel::test {

void TDrawnPicture::Fill(int AX, int AY, int AW, int AH, uint8_t AY_, uint8_t AU, uint8_t AV) const {
  for (int y = std::max(AY, 0); y < std::min(AY + AH, Height); ++y)
    for (int x = std::max(AX, 0); x < std::min(AX + AW, Width); ++x) Y[y * Width + x] = AY_;
  for (int y = std::max(AY, 0) / 2; y < std::min((AY + AH + 1) / 2, ChromaHeight); ++y)
    for (int x = std::max(AX, 0) / 2; x < std::min((AX + AW + 1) / 2, ChromaWidth); ++x) {
      U[y * ChromaWidth + x] = AU;
      V[y * ChromaWidth + x] = AV;
    }
}

namespace {

std::string WriteY4M(const std::string& APath, const TVideoSpec& ASpec, const TDrawPicture& ADraw) {
  std::ofstream out(APath, std::ios::binary);
  out << "YUV4MPEG2 W" << ASpec.Width << " H" << ASpec.Height << " F25:1 Ip A" << ASpec.SampleAspect
      << " C420jpeg\n";
  const int cw = (ASpec.Width + 1) / 2, ch = (ASpec.Height + 1) / 2;
  std::vector<uint8_t> y(static_cast<size_t>(ASpec.Width) * ASpec.Height), u(static_cast<size_t>(cw) * ch),
      v(static_cast<size_t>(cw) * ch);
  for (int i = 0; i < ASpec.Frames; ++i) {
    std::fill(y.begin(), y.end(), 16);
    std::fill(u.begin(), u.end(), 128);
    std::fill(v.begin(), v.end(), 128);
    ADraw(TDrawnPicture{i, ASpec.Width, ASpec.Height, y.data(), u.data(), v.data(), cw, ch});
    out << "FRAME\n";
    out.write(reinterpret_cast<const char*>(y.data()), static_cast<std::streamsize>(y.size()));
    out.write(reinterpret_cast<const char*>(u.data()), static_cast<std::streamsize>(u.size()));
    out.write(reinterpret_cast<const char*>(v.data()), static_cast<std::streamsize>(v.size()));
  }
  return APath;
}

std::string WriteTone(const std::string& APath, const std::vector<int>& AHz) {
  // One second of each frequency, one after another.
  std::string cmd = "sox -D -n -r 44100 -c 2 -b 16 '" + APath + "'";
  for (size_t i = 0; i < AHz.size(); ++i) cmd += (i ? " : synth 1 sine " : " synth 1 sine ") + std::to_string(AHz[i]) + " vol 0.5";
  cmd += " 2>&1";
  EXPECT_EQ(Run(cmd), 0) << cmd;
  return APath;
}

}  // namespace

std::string MakeVideoFile(const std::string& APath, const TVideoSpec& ASpec, const TDrawPicture& ADraw) {
  EXPECT_TRUE(FFLoader().Load(kEncoderLibraries)) << FFLoader().LastErrMsg();
  const std::string pictures = WriteY4M(APath + ".y4m", ASpec, ADraw);
  std::string tone;
  if (!ASpec.ToneHz.empty()) tone = WriteTone(APath + ".tone.wav", ASpec.ToneHz);
  const std::string output = APath + "." + ASpec.Container;
  TCustomFFmpeg job(2);
  EXPECT_TRUE(job.open_input_file(pictures)) << job.LastErrMsg();
  if (!tone.empty()) {
    EXPECT_TRUE(job.open_input_file(tone)) << job.LastErrMsg();
  }
  job.SetExtOption("vcodec", ASpec.Codec);
  job.SetExtOption("s", Format("%dx%d", ASpec.Width, ASpec.Height));
  job.SetExtOption("r", "25");
  if (ASpec.Codec == "libx264") {
    job.SetExtOption("b", "2000k");
    job.SetExtOption("g", "25");
  }
  if (!tone.empty()) job.SetExtOption("acodec", ASpec.AudioCodec);
  // Without maps the output takes the pictures and the tone.
  EXPECT_EQ(job.open_output_file(output, false), 1) << job.LastErrMsg();
  job.StartConvert(false);
  EXPECT_FALSE(job.FatalException()) << job.FatalMessage();
  std::filesystem::remove(pictures);
  if (!tone.empty()) std::filesystem::remove(tone);
  return output;
}

namespace {

struct TInputCloser {
  void operator()(AVFormatContext* p) const { avformat.avformat_close_input(&p); }
};
struct TOutputCloser {
  void operator()(AVFormatContext* p) const {
    avformat.avio_closep(&p->pb);
    avformat.avformat_free_context(p);
  }
};

// One subtitle encoded: its packet's data, in the stream's milliseconds.
struct TEncodedSubtitle {
  std::vector<uint8_t> Data;
  int64_t StartMs, DurationMs;
};

TEncodedSubtitle EncodeBox(AVCodecContext* AEncoder, const TBoxSubtitle& ABox) {
  // Index 0 is see-through, index 1 the box's colour; the bitmap and its
  // palette are the test's own memory (the encoder only reads them).
  std::vector<uint8_t> pixels(static_cast<size_t>(ABox.Width) * ABox.Height, 1);
  uint32_t palette[256] = {0x00000000, ABox.Colour};
  AVSubtitleRect rect{};
  rect.type = SUBTITLE_BITMAP;
  rect.x = ABox.X;
  rect.y = ABox.Y;
  rect.w = ABox.Width;
  rect.h = ABox.Height;
  rect.nb_colors = 4;
  rect.data[0] = pixels.data();
  rect.linesize[0] = ABox.Width;
  rect.data[1] = reinterpret_cast<uint8_t*>(palette);
  AVSubtitleRect* rects[1] = {&rect};
  AVSubtitle sub{};
  sub.format = 0;
  sub.start_display_time = 0;
  // The packet's time is the start; an end at or before it is none.
  sub.end_display_time = ABox.EndMs > ABox.StartMs ? static_cast<uint32_t>(ABox.EndMs - ABox.StartMs) : 0;
  sub.num_rects = 1;
  sub.rects = rects;
  sub.pts = ABox.StartMs * 1000;
  std::vector<uint8_t> buffer(1 << 20);
  const int size = avcodec.avcodec_encode_subtitle(AEncoder, buffer.data(), static_cast<int>(buffer.size()), &sub);
  EXPECT_GT(size, 0) << "encoding the subtitle at " << ABox.StartMs << " ms";
  buffer.resize(static_cast<size_t>(std::max(size, 0)));
  return TEncodedSubtitle{std::move(buffer), ABox.StartMs, sub.end_display_time};
}

}  // namespace

std::string AddBoxSubtitles(const std::string& AVideoFile, const std::string& APath, int AWidth, int AHeight,
                            const std::vector<TBoxSubtitle>& ASubtitles) {
  const AVCodec* codec = avcodec.avcodec_find_encoder(AV_CODEC_ID_DVD_SUBTITLE);
  TCodecContextPtr encoder(codec ? avcodec.avcodec_alloc_context3(codec) : nullptr);
  if (!encoder) {
    ADD_FAILURE() << "no DVD subtitle encoder";
    return APath;
  }
  encoder->width = AWidth;
  encoder->height = AHeight;
  encoder->time_base = AVRational{1, 1000};
  {
    TCodecLock lock;
    if (avcodec.avcodec_open2(encoder.get(), codec, nullptr) < 0) {
      ADD_FAILURE() << "the DVD subtitle encoder does not open";
      return APath;
    }
  }
  std::vector<TEncodedSubtitle> encoded;
  for (const TBoxSubtitle& box : ASubtitles) encoded.push_back(EncodeBox(encoder.get(), box));

  AVFormatContext* opened = nullptr;
  if (avformat.avformat_open_input(&opened, AVideoFile.c_str(), nullptr, nullptr) < 0) {
    ADD_FAILURE() << "cannot open " << AVideoFile;
    return APath;
  }
  std::unique_ptr<AVFormatContext, TInputCloser> in(opened);
  AVFormatContext* made = nullptr;
  if (avformat.avformat_find_stream_info(in.get(), nullptr) < 0 ||
      avformat.avformat_alloc_output_context2(&made, nullptr, "matroska", APath.c_str()) < 0) {
    ADD_FAILURE() << "cannot remux " << AVideoFile;
    return APath;
  }
  std::unique_ptr<AVFormatContext, TOutputCloser> out(made);
  for (unsigned i = 0; i < in->nb_streams; ++i) {
    AVStream* st = avformat.avformat_new_stream(out.get(), nullptr);
    avcodec.avcodec_parameters_copy(st->codecpar, in->streams[i]->codecpar);
    st->codecpar->codec_tag = 0;
    st->time_base = in->streams[i]->time_base;
  }
  AVStream* subtitles = avformat.avformat_new_stream(out.get(), nullptr);
  avcodec.avcodec_parameters_from_context(subtitles->codecpar, encoder.get());
  subtitles->time_base = AVRational{1, 1000};
  if (avformat.avio_open2(&out->pb, APath.c_str(), AVIO_FLAG_WRITE, nullptr, nullptr) < 0 ||
      avformat.avformat_write_header(out.get(), nullptr) < 0) {
    ADD_FAILURE() << "cannot write " << APath;
    return APath;
  }
  // The muxer takes each stream's packets in time order; the subtitles go
  // in before the first packet of the copied streams that is not earlier.
  size_t next = 0;
  TPacketPtr pkt(avcodec.av_packet_alloc());
  const auto writeSubtitlesUpTo = [&](int64_t AMs) {
    for (; next < encoded.size() && encoded[next].StartMs <= AMs; ++next) {
      TPacketPtr sub(avcodec.av_packet_alloc());
      avcodec.av_new_packet(sub.get(), static_cast<int>(encoded[next].Data.size()));
      std::copy(encoded[next].Data.begin(), encoded[next].Data.end(), sub->data);
      // Matroska keeps the duration as the block's: the end of display.
      sub->pts = sub->dts = avutil.av_rescale_q(encoded[next].StartMs, AVRational{1, 1000}, subtitles->time_base);
      sub->duration = avutil.av_rescale_q(encoded[next].DurationMs, AVRational{1, 1000}, subtitles->time_base);
      sub->stream_index = subtitles->index;
      EXPECT_GE(avformat.av_interleaved_write_frame(out.get(), sub.get()), 0) << "the subtitle at " << encoded[next].StartMs;
    }
  };
  while (avformat.av_read_frame(in.get(), pkt.get()) >= 0) {
    const AVStream* from = in->streams[pkt->stream_index];
    const AVStream* to = out->streams[pkt->stream_index];
    if (pkt->dts != AV_NOPTS_VALUE) writeSubtitlesUpTo(avutil.av_rescale_q(pkt->dts, from->time_base, AVRational{1, 1000}));
    avcodec.av_packet_rescale_ts(pkt.get(), from->time_base, to->time_base);
    pkt->pos = -1;
    EXPECT_GE(avformat.av_interleaved_write_frame(out.get(), pkt.get()), 0);
    avcodec.av_packet_unref(pkt.get());
  }
  writeSubtitlesUpTo(INT64_MAX);
  EXPECT_GE(avformat.av_write_trailer(out.get()), 0);
  return APath;
}

const TSolidColour& SecondColour(int ASecond) {
  static const TSolidColour kColours[kSecondColours] = {
      {81, 90, 240, 255, 0, 0},     // red
      {145, 54, 34, 0, 255, 0},     // green
      {41, 240, 110, 0, 0, 255},    // blue
      {210, 16, 146, 255, 255, 0},  // yellow
  };
  return kColours[((ASecond % kSecondColours) + kSecondColours) % kSecondColours];
}

}  // namespace quorvel::test
