// Opening inputs: the container, its streams' decoders, the settings
// written back from the file, and the read-timeout guard around every
// blocking call.
#include <cmath>

#include "media/engine/CustomFFmpeg.h"
#include "media/runtime/FFLog.h"
#include "media/runtime/FFUtils.h"
#include "media/runtime/Format.h"
#include "media/runtime/InterruptCB.h"
#include "media/runtime/UnicodeProtocol.h"

namespace quorvel {

namespace {

struct TDictGuard {
  AVDictionary* Dict = nullptr;
  ~TDictGuard() {
    if (Dict) avutil.av_dict_free(&Dict);
  }
};

int64_t StrictnessOf(const TFFOptions* AOptions, AVMediaType AType) {
  int64_t strict = 0;
  if (AOptions) avutil.av_opt_get_int(AOptions->CodecOptions(AType), "strict", 0, &strict);
  return strict;
}

}  // namespace

bool TCustomFFmpeg::open_input_file(const std::string& AFileName) {
  if (Fnb_input_files >= FMaxFiles) {
    FLastErrMsg = Format("max input files %d reached", FMaxFiles);
    return false;
  }
  // Codec names and the video channel given for this input are spent by it,
  // whatever the outcome.
  struct TSpent {
    TCustomFFmpeg& Job;
    ~TSpent() {
      Job.Fvideo_codec_name.clear();
      Job.Faudio_codec_name.clear();
      Job.Fsubtitle_codec_name.clear();
      Job.Fvideo_channel = 0;
    }
  } spent{*this};

  // Forced format
  const AVInputFormat* format = nullptr;
  if (!Flast_asked_format.empty()) {
    format = avformat.av_find_input_format(Flast_asked_format.c_str());
    if (!format) throw FFmpegException(Format("Unknown input format: \"%s\"", Flast_asked_format.c_str()));
    Flast_asked_format.clear();
  }

  const std::string url = FileNameToURL(AFileName);
  // A file this job writes to is no input of it.
  const int output = output_index_of(URLToFileName(url));
  if (output >= 0) {
    FLastErrMsg = Format("%s: the input file is output file #%d of this job", AFileName.c_str(), output);
    return false;
  }

  // Container
  AVFormatContext* raw = avformat.avformat_alloc_context();
  if (!raw) throw FFmpegException("avformat_alloc_context failed");

  // Parameters for demuxers that cannot tell them (raw audio and video)
  TDictGuard params;
  avutil.av_dict_set_int(&params.Dict, "sample_rate", Faudio_sample_rate, 0);
  avutil.av_dict_set_int(&params.Dict, "channels", Faudio_channels, 0);
  if (Fframe_rate.num > 0 && Fframe_rate.den > 0)
    avutil.av_dict_set(&params.Dict, "framerate", Format("%d/%d", Fframe_rate.num, Fframe_rate.den).c_str(), 0);
  if (Fframe_width > 0 && Fframe_height > 0)
    avutil.av_dict_set(&params.Dict, "video_size", Format("%dx%d", Fframe_width, Fframe_height).c_str(), 0);
  if (Fframe_pix_fmt >= 0)
    avutil.av_dict_set(&params.Dict, "pixel_format",
                       avutil.av_get_pix_fmt_name(static_cast<AVPixelFormat>(Fframe_pix_fmt)), 0);
  if (Fvideo_channel != 0) avutil.av_dict_set_int(&params.Dict, "channel", Fvideo_channel, 0);
  if (!Fvideo_standard.empty()) avutil.av_dict_set(&params.Dict, "standard", Fvideo_standard.c_str(), 0);
  if (NextInputProbePackets > 0)
    avutil.av_dict_set_int(&params.Dict, "max_probe_packets", NextInputProbePackets, 0);
  NextInputProbePackets = 0;

  // Stored options
  apply_stored_options(raw, omDecoding);

  // Forced decoders
  AVCodecID videoId, audioId, subtitleId;
  if (!find_codec_by_name(Fvideo_codec_name, AVMEDIA_TYPE_VIDEO, false,
                          StrictnessOf(FOptions.get(), AVMEDIA_TYPE_VIDEO), videoId) ||
      !find_codec_by_name(Faudio_codec_name, AVMEDIA_TYPE_AUDIO, false,
                          StrictnessOf(FOptions.get(), AVMEDIA_TYPE_AUDIO), audioId) ||
      !find_codec_by_name(Fsubtitle_codec_name, AVMEDIA_TYPE_SUBTITLE, false,
                          StrictnessOf(FOptions.get(), AVMEDIA_TYPE_SUBTITLE), subtitleId)) {
    avformat.avformat_free_context(raw);
    return false;
  }
  raw->video_codec_id = videoId;
  raw->audio_codec_id = audioId;
  raw->subtitle_codec_id = subtitleId;

  // A demuxer that would wait for data answers "again" instead
  raw->flags |= AVFMT_FLAG_NONBLOCK;

  TReadGuard guard(*this);
  // Open (frees the context on failure)
  int error = OpenInputURL(&raw, url, format, &params.Dict);
  if (error < 0) {
    FLastErrMsg = ErrorText(AFileName, error);
    return false;
  }
  TInputContextPtr ic(raw);

  // Program selection
  if (Fopt_programid != 0) {
    for (unsigned i = 0; i < ic->nb_streams; ++i) ic->streams[i]->discard = AVDISCARD_ALL;
    bool found = false;
    for (unsigned p = 0; p < ic->nb_programs; ++p) {
      AVProgram* program = ic->programs[p];
      if (program->id != Fopt_programid) {
        program->discard = AVDISCARD_ALL;
        continue;
      }
      found = true;
      for (unsigned k = 0; k < program->nb_stream_indexes; ++k)
        ic->streams[program->stream_index[k]]->discard = AVDISCARD_DEFAULT;
    }
    if (!found) {
      FLastErrMsg = "Specified program id not found";
      return false;
    }
    Fopt_programid = 0;
  }

  // Floop_input is read by the packet loop: containers no longer loop.

  // The owner may adjust the context before the streams are probed.
  if (OnBeforeFindStreamInfo) OnBeforeFindStreamInfo(this, ic.get());

  // Probe
  guard.Restart();
  error = avformat.avformat_find_stream_info(ic.get(), nullptr);
  if (error < 0 && Fverbose >= 0) {
    FLastErrMsg = Format("%s: could not find codec parameters", AFileName.c_str());
    FFLogger().Log(this, llVerbose, FLastErrMsg);
    return false;
  }

  // Start position
  int64_t timestamp = Fstart_time;
  if (ic->start_time != AV_NOPTS_VALUE) timestamp += ic->start_time;
  if (Fstart_time != 0) {
    guard.Restart();
    if (avformat.av_seek_frame(ic.get(), -1, timestamp, AVSEEK_FLAG_BACKWARD) < 0 && Fverbose > 0)
      FFLogger().Log(this, llVerbose, "%s: could not seek to position %0.3f", AFileName.c_str(),
                     static_cast<double>(timestamp) / AV_TIME_BASE);
    Fstart_time = 0;
  }

  // Streams
  TAVInputFileSlot& slot = Finput_files[static_cast<size_t>(Fnb_input_files)];
  std::vector<TCodecContextPtr> codecs;
  std::vector<const AVCodec*> chosen;
  for (unsigned i = 0; i < ic->nb_streams; ++i) {
    AVStream* st = ic->streams[i];
    const AVCodecParameters* par = st->codecpar;
    if (par->codec_type < AVMEDIA_TYPE_VIDEO || par->codec_type > AVMEDIA_TYPE_ATTACHMENT)
      throw FFmpegException("invalid codec_type");

    const AVCodec* named = nullptr;
    if (par->codec_type == AVMEDIA_TYPE_VIDEO && !Fvideo_codec_name.empty())
      named = avcodec.avcodec_find_decoder_by_name(Fvideo_codec_name.c_str());
    else if (par->codec_type == AVMEDIA_TYPE_AUDIO && !Faudio_codec_name.empty())
      named = avcodec.avcodec_find_decoder_by_name(Faudio_codec_name.c_str());
    else if (par->codec_type == AVMEDIA_TYPE_SUBTITLE && !Fsubtitle_codec_name.empty())
      named = avcodec.avcodec_find_decoder_by_name(Fsubtitle_codec_name.c_str());
    chosen.push_back(named);

    const AVCodec* decoder = named ? named : avcodec.avcodec_find_decoder(par->codec_id);
    TCodecContextPtr dec(avcodec.avcodec_alloc_context3(decoder));
    if (!dec) throw FFmpegException("avcodec_alloc_context failed");
    if (avcodec.avcodec_parameters_to_context(dec.get(), par) < 0)
      throw FFmpegException("avcodec_parameters_to_context failed");
    dec->thread_count = Fthread_count;
    dec->pkt_timebase = st->time_base;

    switch (par->codec_type) {
      case AVMEDIA_TYPE_VIDEO: {
        apply_stored_options(dec.get(), AVMEDIA_TYPE_VIDEO, omVideoDecoding, decoder);
        Fframe_height = dec->height;
        Fframe_width = dec->width;
        const AVRational sar = st->sample_aspect_ratio.num ? st->sample_aspect_ratio : dec->sample_aspect_ratio;
        const double a = sar.num && sar.den ? av_q2d(sar) : 0;
        if (static_cast<int64_t>(dec->width) * dec->height != 0)
          Fframe_aspect_ratio = static_cast<float>(a != 0 ? a * dec->width / dec->height
                                                         : static_cast<double>(dec->width) / dec->height);
        else if (a == 0)
          Fframe_aspect_ratio = 1.3333334f;
        if (dec->pix_fmt == AV_PIX_FMT_NONE) dec->pix_fmt = static_cast<AVPixelFormat>(0);
        Fframe_pix_fmt = dec->pix_fmt;
        if (dec->lowres) {
          Fframe_height >>= dec->lowres;
          Fframe_width >>= dec->lowres;
          dec->height = Fframe_height;
          dec->width = Fframe_width;
        }
        // The motion-vector debug bit (0x20) of the decoders that still honour it.
        if (Fme_threshold) dec->debug |= 0x20;
        // The codec-level rate is the library's average; the container's
        // real base rate may differ (variable or field rates).
        const AVRational codecRate = st->avg_frame_rate;
        const AVRational rate = st->r_frame_rate;
        if ((codecRate.num != rate.num || codecRate.den != rate.den) && codecRate.den && rate.den &&
            Fverbose >= 0)
          FFLogger().Log(this, llInfo,
                         "Seems stream %d codec frame rate differs from container frame rate: %2.2f (%d/%d) -> "
                         "%2.2f (%d/%d)",
                         static_cast<int>(i), av_q2d(codecRate), codecRate.num, codecRate.den, av_q2d(rate),
                         rate.num, rate.den);
        Fframe_rate = rate;
        if (Fvideo_disable)
          st->discard = AVDISCARD_ALL;
        else if (Fvideo_discard)
          st->discard = static_cast<AVDiscard>(Fvideo_discard);
        break;
      }
      case AVMEDIA_TYPE_AUDIO:
        apply_stored_options(dec.get(), AVMEDIA_TYPE_AUDIO, omAudioDecoding, decoder);
        Fchannel_layout = dec->ch_layout.order == AV_CHANNEL_ORDER_NATIVE
                              ? static_cast<int64_t>(dec->ch_layout.u.mask)
                              : 0;
        Faudio_channels = dec->ch_layout.nb_channels;
        Faudio_sample_rate = dec->sample_rate;
        Faudio_sample_fmt = dec->sample_fmt;
        Faudio_source_bits = SourceBits(*st->codecpar);
        if (Faudio_disable) st->discard = AVDISCARD_ALL;
        if (dec->lowres) Faudio_sample_rate >>= dec->lowres;
        break;
      case AVMEDIA_TYPE_SUBTITLE:
        if (Fsubtitle_disable) st->discard = AVDISCARD_ALL;
        break;
      default:
        break;
    }
    codecs.push_back(std::move(dec));
  }

  // The run's expected length, the time stamp offset and the chosen decoders.
  if (ic->duration != AV_NOPTS_VALUE && ic->duration > FTotalOutputDuration) FTotalOutputDuration = ic->duration;
  slot.ts_offset = Fcopy_ts ? Finput_ts_offset : Finput_ts_offset - timestamp;
  slot.codecs = std::move(codecs);
  Finput_codecs.insert(Finput_codecs.end(), chosen.begin(), chosen.end());
  if (Fverbose >= 0) avformat.av_dump_format(ic.get(), Fnb_input_files, ic->url, 0);
  slot.ctx = std::move(ic);
  ++Fnb_input_files;
  return true;
}

}  // namespace quorvel
