#include "DecoderTestSupport.h"

#include <cmath>
#include <cstring>
#include <memory>

#include "media/runtime/FFLoad.h"
#include "media/runtime/Format.h"
#include "media/runtime/Stubs.h"
#include "support/TestPaths.h"

namespace quorvel::test {

void DecoderTest::SetUp() { ASSERT_TRUE(FFLoader().Load(TCustomDecoder::kLibraries)) << FFLoader().LastErrMsg(); }

// ---- LogCapture ----

LogCapture::LogCapture(TLogLevel ALevel)
    : FSavedLevel(FFLogger().LogLevel()), FSavedInMainThread(FFLogger().TriggerEventInMainThread()) {
  FFLogger().SetTriggerEventInMainThread(false);
  FFLogger().SetLogLevel(ALevel);
  FFLogger().SetOnLog([this](TObject* Sender, uint32_t, TLogLevel ALevel, const std::string& AMsg) {
    std::lock_guard lock(FLock);
    FLines.push_back({Sender, ALevel, AMsg});
  });
}

LogCapture::~LogCapture() {
  FFLogger().SetOnLog(nullptr);
  FFLogger().SetLogLevel(FSavedLevel);
  FFLogger().SetTriggerEventInMainThread(FSavedInMainThread);
}

std::vector<LogCapture::Line> LogCapture::Lines() const {
  std::lock_guard lock(FLock);
  return FLines;
}

std::vector<LogCapture::Line> LogCapture::From(const TObject* ASender) const {
  std::vector<Line> result;
  for (const Line& l : Lines())
    if (l.Sender == ASender) result.push_back(l);
  return result;
}

bool LogCapture::Has(const TObject* ASender, TLogLevel ALevel, const std::string& AText) const {
  for (const Line& l : From(ASender))
    if (l.Level == ALevel && l.Text == AText) return true;
  return false;
}

// ---- inputs ----

std::string MakeTone(const std::string& ADir, const std::string& AName, int ARate, int AChannels, double ASeconds,
                     double AFrequency, double AAmplitude, const std::string& AEncoding) {
  const std::string path = ADir + "/" + AName;
  // "vol" scales the full-scale sine; no dither, so the level is exact.
  const std::string cmd = Format("sox -D -n -r %d -c %d %s '%s' synth %.6f sine %.3f vol %.6f 2>&1", ARate, AChannels,
                                 AEncoding.c_str(), path.c_str(), ASeconds, AFrequency, AAmplitude);
  EXPECT_EQ(Run(cmd), 0) << cmd;
  return path;
}

namespace {

struct OutputContext {
  AVFormatContext* Ctx = nullptr;
  ~OutputContext() {
    if (!Ctx) return;
    if (Ctx->pb) avformat.avio_closep(&Ctx->pb);
    avformat.avformat_free_context(Ctx);
  }
};

struct InputContext {
  AVFormatContext* Ctx = nullptr;
  ~InputContext() {
    if (Ctx) avformat.avformat_close_input(&Ctx);
  }
};

struct PacketFree {
  void operator()(AVPacket* p) const { avcodec.av_packet_free(&p); }
};
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;

bool Check(int result, const char* what) {
  EXPECT_GE(result, 0) << what << ": " << result;
  return result >= 0;
}

}  // namespace

std::string WriteNut(const std::string& APath, const TNutContents& AContents) {
  constexpr int kRate = 8000;
  OutputContext out;
  if (!Check(avformat.avformat_alloc_output_context2(&out.Ctx, nullptr, "nut", APath.c_str()), "alloc nut"))
    return APath;
  AVFormatContext* oc = out.Ctx;
  for (const auto& [key, value] : AContents.Metadata)
    avutil.av_dict_set(&oc->metadata, key.c_str(), value.c_str(), AV_DICT_MATCH_CASE);

  AVStream* data = nullptr;
  if (AContents.DataStreamFirst) {
    data = avformat.avformat_new_stream(oc, nullptr);
    data->codecpar->codec_type = AVMEDIA_TYPE_DATA;
    data->codecpar->codec_id = AV_CODEC_ID_BIN_DATA;
    data->codecpar->codec_tag = MKTAG('Q', 'D', 'A', 'T');
    data->time_base = AVRational{1, kRate};
  }
  AVStream* audio = avformat.avformat_new_stream(oc, nullptr);
  audio->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
  audio->codecpar->codec_id = AV_CODEC_ID_PCM_S16LE;
  audio->codecpar->sample_rate = kRate;
  audio->codecpar->format = AV_SAMPLE_FMT_S16;
  audio->codecpar->bits_per_coded_sample = 16;
  avutil.av_channel_layout_default(&audio->codecpar->ch_layout, 1);
  audio->time_base = AVRational{1, kRate};
  for (const auto& [key, value] : AContents.AudioMetadata)
    avutil.av_dict_set(&audio->metadata, key.c_str(), value.c_str(), AV_DICT_MATCH_CASE);

  if (AContents.Chapters > 0) {
    oc->chapters = static_cast<AVChapter**>(avutil.av_mallocz(sizeof(AVChapter*) * AContents.Chapters));
    for (int i = 0; i < AContents.Chapters; ++i) {
      auto* ch = static_cast<AVChapter*>(avutil.av_mallocz(sizeof(AVChapter)));
      ch->id = i + 1;
      ch->time_base = AVRational{1, 1000};
      ch->start = i * 1000;
      ch->end = (i + 1) * 1000;
      avutil.av_dict_set(&ch->metadata, "title", Format("Movement %d", i + 1).c_str(), 0);
      oc->chapters[oc->nb_chapters++] = ch;
    }
  }

  if (!Check(avformat.avio_open2(&oc->pb, APath.c_str(), AVIO_FLAG_WRITE, nullptr, nullptr), "open")) return APath;
  if (!Check(avformat.avformat_write_header(oc, nullptr), "header")) return APath;

  PacketPtr pkt(avcodec.av_packet_alloc());
  constexpr int kBlock = 800;
  const int blocks = static_cast<int>(std::lround(AContents.Seconds * kRate / kBlock));
  for (int b = 0; b < blocks; ++b) {
    if (data && b % 5 == 0) {
      avcodec.av_new_packet(pkt.get(), 4);
      std::memcpy(pkt->data, "dat!", 4);
      pkt->stream_index = data->index;
      pkt->pts = pkt->dts =
          avutil.av_rescale_q(static_cast<int64_t>(b) * kBlock, AVRational{1, kRate}, data->time_base);
      pkt->flags |= AV_PKT_FLAG_KEY;
      if (!Check(avformat.av_interleaved_write_frame(oc, pkt.get()), "data packet")) return APath;
    }
    avcodec.av_new_packet(pkt.get(), kBlock * 2);
    std::memset(pkt->data, 0, kBlock * 2);
    pkt->stream_index = audio->index;
    pkt->pts = pkt->dts = avutil.av_rescale_q(static_cast<int64_t>(b) * kBlock, AVRational{1, kRate}, audio->time_base);
    pkt->duration = avutil.av_rescale_q(kBlock, AVRational{1, kRate}, audio->time_base);
    pkt->flags |= AV_PKT_FLAG_KEY;
    if (!Check(avformat.av_interleaved_write_frame(oc, pkt.get()), "audio packet")) return APath;
  }
  Check(avformat.av_write_trailer(oc), "trailer");
  return APath;
}

std::string WriteTransportStream(const std::string& APath, const std::string& ASource, const std::string& AProvider,
                                 const std::string& AService) {
  InputContext in;
  if (!Check(avformat.avformat_open_input(&in.Ctx, ASource.c_str(), nullptr, nullptr), "open source")) return APath;
  if (!Check(avformat.avformat_find_stream_info(in.Ctx, nullptr), "source info")) return APath;
  const int source = avformat.av_find_best_stream(in.Ctx, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  if (!Check(source, "source audio")) return APath;

  OutputContext out;
  if (!Check(avformat.avformat_alloc_output_context2(&out.Ctx, nullptr, "mpegts", APath.c_str()), "alloc ts"))
    return APath;
  AVFormatContext* oc = out.Ctx;
  avutil.av_dict_set(&oc->metadata, "service_provider", AProvider.c_str(), 0);
  avutil.av_dict_set(&oc->metadata, "service_name", AService.c_str(), 0);
  AVStream* st = avformat.avformat_new_stream(oc, nullptr);
  avcodec.avcodec_parameters_copy(st->codecpar, in.Ctx->streams[source]->codecpar);
  st->codecpar->codec_tag = 0;
  st->time_base = in.Ctx->streams[source]->time_base;
  if (!Check(avformat.avio_open2(&oc->pb, APath.c_str(), AVIO_FLAG_WRITE, nullptr, nullptr), "open")) return APath;
  if (!Check(avformat.avformat_write_header(oc, nullptr), "header")) return APath;

  PacketPtr pkt(avcodec.av_packet_alloc());
  while (avformat.av_read_frame(in.Ctx, pkt.get()) >= 0) {
    if (pkt->stream_index == source) {
      avcodec.av_packet_rescale_ts(pkt.get(), in.Ctx->streams[source]->time_base, st->time_base);
      pkt->stream_index = 0;
      pkt->pos = -1;
      if (!Check(avformat.av_interleaved_write_frame(oc, pkt.get()), "packet")) return APath;
    }
    avcodec.av_packet_unref(pkt.get());
  }
  Check(avformat.av_write_trailer(oc), "trailer");
  return APath;
}

double RmsS16(const std::vector<int16_t>& ASamples) {
  if (ASamples.empty()) return 0;
  double sum = 0;
  for (int16_t s : ASamples) sum += static_cast<double>(s) * s;
  return std::sqrt(sum / static_cast<double>(ASamples.size())) / 32768.0;
}

}  // namespace quorvel::test
