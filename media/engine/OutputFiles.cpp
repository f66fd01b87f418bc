// Creating outputs: the container, its streams and encoders' settings, the
// file opened for writing, and the join set-up.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "media/engine/AudioFit.h"
#include "media/engine/CustomFFmpeg.h"
#include "media/runtime/FFLog.h"
#include "media/runtime/FFUtils.h"
#include "media/runtime/InterruptCB.h"
#include "media/runtime/Format.h"
#include "media/runtime/UnicodeProtocol.h"

namespace quorvel {

namespace {

// The same file, whatever name leads to it.
bool SameFile(const std::string& AFirst, const std::string& ASecond) {
  struct stat a {}, b {};
  if (::stat(AFirst.c_str(), &a) != 0 || ::stat(ASecond.c_str(), &b) != 0) return false;
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

int TCustomFFmpeg::input_index_of(const std::string& AFileName) const {
  for (int i = 0; i < Fnb_input_files; ++i) {
    const AVFormatContext* ic = Finput_files[static_cast<size_t>(i)].ctx.get();
    if (ic && ic->url && SameFile(URLToFileName(ic->url), AFileName)) return i;
  }
  return -1;
}

int TCustomFFmpeg::output_index_of(const std::string& AFileName) const {
  for (int j = 0; j < Fnb_output_files; ++j) {
    const AVFormatContext* oc = Foutput_files[static_cast<size_t>(j)].ctx;
    if (oc && oc->url && !(oc->oformat->flags & AVFMT_NOFILE) && SameFile(URLToFileName(oc->url), AFileName)) return j;
  }
  return -1;
}

namespace {

constexpr int kQP2Lambda = FF_QP2LAMBDA;  // 118

// Sets the codec options' global-header flag too, as the option context
// stands for every encoder this job makes for such a format.
void SetGlobalHeader(AVCodecContext* AEncoder, AVCodecContext* AOptions) {
  AEncoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  if (AOptions) AOptions->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
}

}  // namespace

TAVOutputStream* TCustomFFmpeg::add_output_stream(AVFormatContext* AContext, int AFileIndex) {
  std::vector<std::unique_ptr<TAVOutputStream>>& streams = Foutput_files[static_cast<size_t>(AFileIndex)].streams;
  grow_table(streams, static_cast<int64_t>(streams.size()) + 1);
  try {
    streams.back() = std::make_unique<TAVOutputStream>();
  } catch (const std::bad_alloc&) {
    streams.pop_back();
    throw FFmpegException("Could not alloc output stream");
  }
  TAVOutputStream* ost = streams.back().get();
  ost->file_index = AFileIndex;
  ost->index = static_cast<int>(AContext->nb_streams) - 1;
  return ost;
}

void TCustomFFmpeg::check_audio_video_sub_inputs(bool AJoin, bool& AHasVideo, bool& AHasAudio,
                                                 bool& AHasSubtitle) {
  AHasVideo = AHasAudio = AHasSubtitle = false;
  const int count = AJoin ? std::min(Fnb_input_files, 1) : Fnb_input_files;
  for (int i = 0; i < count; ++i) {
    const AVFormatContext* ic = Finput_files[static_cast<size_t>(i)].ctx.get();
    for (unsigned j = 0; j < ic->nb_streams; ++j) {
      switch (ic->streams[j]->codecpar->codec_type) {
        case AVMEDIA_TYPE_VIDEO:
          AHasVideo = true;
          break;
        case AVMEDIA_TYPE_AUDIO:
          AHasAudio = true;
          break;
        case AVMEDIA_TYPE_SUBTITLE:
          AHasSubtitle = true;
          break;
        case AVMEDIA_TYPE_DATA:
        case AVMEDIA_TYPE_ATTACHMENT:
          break;
        default:
          throw FFmpegException("invalid codec_type of input file");
      }
    }
  }
}

// The library stream of a new output stream, with the id "streamid" gave
// for its position. On failure the codec name and language given for it are
// dropped.
AVStream* TCustomFFmpeg::new_output_stream(AVFormatContext* AContext, std::string& ACodecName,
                                           std::string* ALanguage) {
  const size_t position = AContext->nb_streams;
  AVStream* st = avformat.avformat_new_stream(AContext, nullptr);
  if (!st) {
    ACodecName.clear();
    if (ALanguage) ALanguage->clear();
    throw FFmpegException("Could not alloc stream");
  }
  if (position < Fstreamid_map.size()) st->id = Fstreamid_map[position];
  return st;
}

void TCustomFFmpeg::new_audio_stream(AVFormatContext* AContext, int AFileIndex) {
  AVStream* st = new_output_stream(AContext, Faudio_codec_name, &Faudio_language);
  TAVOutputStream* ost = add_output_stream(AContext, AFileIndex);
  ost->st = st;
  Foutput_codecs.push_back(nullptr);

  const AVCodec* codec = nullptr;
  AVCodecID id = AV_CODEC_ID_NONE;
  if (Faudio_stream_copy != 1) {
    if (Faudio_codec_name == kSourceDepthCodec) Faudio_codec_name = SourceDepthPcm(AContext->oformat, Faudio_source_bits);
    if (!Faudio_codec_name.empty()) {
      int64_t strict = 0;
      avutil.av_opt_get_int(FOptions->CodecOptions(AVMEDIA_TYPE_AUDIO), "strict", 0, &strict);
      if (!find_codec_by_name(Faudio_codec_name, AVMEDIA_TYPE_AUDIO, true, strict, id)) {
        Faudio_codec_name.clear();
        Faudio_language.clear();
        throw FFmpegException(FLastErrMsg);
      }
      codec = avcodec.avcodec_find_encoder_by_name(Faudio_codec_name.c_str());
      Foutput_codecs.back() = codec;
    } else {
      id = avformat.av_guess_codec(AContext->oformat, nullptr, AContext->url, nullptr, AVMEDIA_TYPE_AUDIO);
      codec = avcodec.avcodec_find_encoder(id);
    }
  }

  ost->enc.reset(avcodec.avcodec_alloc_context3(codec));
  if (!ost->enc) throw FFmpegException("avcodec_alloc_context failed");
  AVCodecContext* enc = ost->enc.get();
  ost->bitstream_filters = std::move(Faudio_bitstream_filters);
  Faudio_bitstream_filters.clear();
  enc->thread_count = Fthread_count;
  enc->codec_type = AVMEDIA_TYPE_AUDIO;
  if (Faudio_codec_tag) enc->codec_tag = Faudio_codec_tag;
  if (AContext->oformat->flags & AVFMT_GLOBALHEADER)
    SetGlobalHeader(enc, FOptions->CodecOptions(AVMEDIA_TYPE_AUDIO));

  // Without a layout the encoders of today refuse the channel count alone;
  // the usual layout for that many channels stands in.
  const auto setChannels = [&](int AChannels, int64_t ALayout) {
    avutil.av_channel_layout_uninit(&enc->ch_layout);
    if (ALayout && __builtin_popcountll(static_cast<uint64_t>(ALayout)) == AChannels)
      avutil.av_channel_layout_from_mask(&enc->ch_layout, static_cast<uint64_t>(ALayout));
    else
      avutil.av_channel_layout_default(&enc->ch_layout, AChannels);
  };

  if (Faudio_stream_copy) {
    ost->stream_copy = 1;
    setChannels(Faudio_channels, 0);
    enc->sample_rate = Faudio_sample_rate;
  } else {
    enc->codec_id = id;
    apply_stored_options(enc, AVMEDIA_TYPE_AUDIO, omAudioEncoding, codec);
    if (Faudio_qscale > -99999) {
      enc->flags |= AV_CODEC_FLAG_QSCALE;
      enc->global_quality = static_cast<int>(kQP2Lambda * Faudio_qscale);
    }
    setChannels(Faudio_channels, Fchannel_layout);
    enc->sample_fmt = static_cast<AVSampleFormat>(Faudio_sample_fmt);
    enc->sample_rate = Faudio_sample_rate;
    if (codec && codec->sample_fmts) {
      bool listed = false;
      for (const AVSampleFormat* f = codec->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f)
        listed = listed || *f == enc->sample_fmt;
      if (!listed) enc->sample_fmt = codec->sample_fmts[0];
    }
    // What the encoder cannot take (the source's 96 kHz in MP3, its 5.1 in
    // WMA) becomes the nearest it can, and the job says so.
    const std::string codecName = codec && codec->name ? codec->name : "the encoder";
    const int rate = NearestSampleRate(codec, Faudio_sample_rate);
    if (rate != Faudio_sample_rate) {
      FFLogger().Log(this, llWarning, "Requested sampling rate unsupported using closest supported (%d)", rate);
      FAudioFitNotes.push_back(Format("%s takes no %d Hz: %d Hz used", codecName.c_str(), Faudio_sample_rate, rate));
      enc->sample_rate = rate;
    }
    AVChannelLayout fit{};
    FitChannelLayout(codec, enc->ch_layout, fit);
    if (avutil.av_channel_layout_compare(&fit, &enc->ch_layout) != 0) {
      const std::string from = LayoutName(enc->ch_layout), to = LayoutName(fit);
      const bool fewer = fit.nb_channels < enc->ch_layout.nb_channels;
      const std::string note = Format("%s takes no %s: %s %s", codecName.c_str(), from.c_str(),
                                      fewer ? "folded down to" : "written as", to.c_str());
      FFLogger().Log(this, llWarning, "%s", note.c_str());
      FAudioFitNotes.push_back(note);
    }
    avutil.av_channel_layout_uninit(&enc->ch_layout);
    enc->ch_layout = fit;  // takes over the layout
    const int64_t bitRate = FitBitRate(codec, *enc);
    if (bitRate != enc->bit_rate) {
      const std::string used = bitRate > 0 ? Format("%d kbit/s used", static_cast<int>(bitRate / 1000))
                                           : std::string("its own choice of quality used");
      const std::string note = Format("%s takes no %d kbit/s at %d Hz %s: %s", codecName.c_str(),
                                      static_cast<int>(enc->bit_rate / 1000), enc->sample_rate,
                                      LayoutName(enc->ch_layout).c_str(), used.c_str());
      FFLogger().Log(this, llWarning, "%s", note.c_str());
      FAudioFitNotes.push_back(note);
      enc->bit_rate = bitRate;
    }
  }
  enc->time_base = AVRational{1, Faudio_sample_rate};
  if (!Faudio_language.empty()) {
    avutil.av_dict_set(&st->metadata, "language", Faudio_language.c_str(), 0);
    Faudio_language.clear();
  }
  Faudio_disable = false;
  Faudio_codec_name.clear();
  Faudio_stream_copy = 0;
}

namespace {

// "start,end,q/start,end,q/...": a quantizer below 1 is a quality factor.
void ParseRcOverride(AVCodecContext* AEncoder, const std::string& AText) {
  if (AText.empty()) return;
  std::vector<RcOverride> overrides;
  const char* p = AText.c_str();
  for (;;) {
    int start = 0, end = 0, q = 0;
    if (std::sscanf(p, "%d,%d,%d", &start, &end, &q) != 3) throw FFmpegException("error parsing rc_override");
    RcOverride o{};
    o.start_frame = start;
    o.end_frame = end;
    if (q > 0) {
      o.qscale = q;
      o.quality_factor = 1.0f;
    } else {
      o.qscale = 0;
      o.quality_factor = -q / 100.0f;
    }
    overrides.push_back(o);
    p = std::strchr(p, '/');
    if (!p) break;
    ++p;
  }
  AEncoder->rc_override =
      static_cast<RcOverride*>(avutil.av_malloc(sizeof(RcOverride) * overrides.size()));
  if (!AEncoder->rc_override) throw FFmpegException("Could not alloc buffer.");
  std::copy(overrides.begin(), overrides.end(), AEncoder->rc_override);
  AEncoder->rc_override_count = static_cast<int>(overrides.size());
  AEncoder->rc_initial_buffer_occupancy = AEncoder->rc_buffer_size * 3 / 4;
}

uint16_t* CopyMatrix(const std::vector<uint16_t>& AMatrix) {
  if (AMatrix.empty()) return nullptr;
  auto* m = static_cast<uint16_t*>(avutil.av_malloc(sizeof(uint16_t) * 64));
  if (!m) throw FFmpegException("Could not alloc buffer.");
  std::copy(AMatrix.begin(), AMatrix.begin() + 64, m);
  return m;
}

}  // namespace

void TCustomFFmpeg::new_video_stream(AVFormatContext* AContext, int AFileIndex) {
  AVStream* st = new_output_stream(AContext, Fvideo_codec_name, &Fvideo_language);
  TAVOutputStream* ost = add_output_stream(AContext, AFileIndex);
  ost->st = st;
  Foutput_codecs.push_back(nullptr);

  const AVCodec* codec = nullptr;
  AVCodecID id = AV_CODEC_ID_NONE;
  if (Fvideo_stream_copy != 1) {
    if (!Fvideo_codec_name.empty()) {
      int64_t strict = 0;
      avutil.av_opt_get_int(FOptions->CodecOptions(AVMEDIA_TYPE_VIDEO), "strict", 0, &strict);
      if (!find_codec_by_name(Fvideo_codec_name, AVMEDIA_TYPE_VIDEO, true, strict, id)) {
        Fvideo_codec_name.clear();
        Fvideo_language.clear();
        throw FFmpegException(FLastErrMsg);
      }
      codec = avcodec.avcodec_find_encoder_by_name(Fvideo_codec_name.c_str());
      Foutput_codecs.back() = codec;
    } else {
      id = avformat.av_guess_codec(AContext->oformat, nullptr, AContext->url, nullptr, AVMEDIA_TYPE_VIDEO);
      codec = avcodec.avcodec_find_encoder(id);
    }
  }

  ost->enc.reset(avcodec.avcodec_alloc_context3(codec));
  if (!ost->enc) throw FFmpegException("avcodec_alloc_context failed");
  AVCodecContext* enc = ost->enc.get();
  ost->bitstream_filters = std::move(Fvideo_bitstream_filters);
  Fvideo_bitstream_filters.clear();
  enc->thread_count = Fthread_count;
  enc->codec_type = AVMEDIA_TYPE_VIDEO;
  if (Fvideo_codec_tag) enc->codec_tag = Fvideo_codec_tag;
  if ((Fvideo_global_header & 1) || (Fvideo_global_header == 0 && (AContext->oformat->flags & AVFMT_GLOBALHEADER)))
    SetGlobalHeader(enc, FOptions->CodecOptions(AVMEDIA_TYPE_VIDEO));
  if (Fvideo_global_header & 2) {
    enc->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
    FOptions->CodecOptions(AVMEDIA_TYPE_VIDEO)->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
  }

  if (Fvideo_stream_copy) {
    ost->stream_copy = 1;
    const double pictureRatio =
        Fframe_width && Fframe_height ? static_cast<double>(Fframe_width) / Fframe_height : 4.0 / 3.0;
    enc->sample_aspect_ratio = st->sample_aspect_ratio = avutil.av_d2q(Fframe_aspect_ratio / pictureRatio, 255);
  } else {
    enc->codec_id = id;
    apply_stored_options(enc, AVMEDIA_TYPE_VIDEO, omVideoEncoding, codec);
    AVRational rate = Fframe_rate.num ? Fframe_rate : AVRational{25, 1};
    if (rate.den == 0) rate.den = 1;
    if (codec && codec->supported_framerates && !Fforce_fps)
      rate = codec->supported_framerates[avutil.av_find_nearest_q_idx(rate, codec->supported_framerates)];
    enc->time_base = AVRational{rate.den, rate.num};
    enc->framerate = rate;
    enc->width = Fframe_width;
    enc->height = Fframe_height;
    // Without a size the picture is taken to be 4:3.
    const double pictureRatio =
        Fframe_width && Fframe_height ? static_cast<double>(Fframe_width) / Fframe_height : 4.0 / 3.0;
    enc->sample_aspect_ratio = st->sample_aspect_ratio = avutil.av_d2q(Fframe_aspect_ratio / pictureRatio, 255);
    enc->pix_fmt = static_cast<AVPixelFormat>(Fframe_pix_fmt);
    if (codec && codec->pix_fmts) {
      bool listed = false;
      for (const AVPixelFormat* f = codec->pix_fmts; *f != AV_PIX_FMT_NONE; ++f)
        listed = listed || *f == enc->pix_fmt;
      if (!listed) enc->pix_fmt = codec->pix_fmts[0];
    }
    if (Fintra_only) enc->gop_size = 0;
    // "sameq" alone asks for fixed quality; the run takes each picture's
    // quality from the decoded source.
    if (Fvideo_qscale != 0 || Fsame_quality) {
      enc->flags |= AV_CODEC_FLAG_QSCALE;
      enc->global_quality = static_cast<int>(kQP2Lambda * Fvideo_qscale);
    }
    enc->intra_matrix = CopyMatrix(Fintra_matrix);
    enc->inter_matrix = CopyMatrix(Finter_matrix);
    ParseRcOverride(enc, Fvideo_rc_override_string);
    enc->intra_dc_precision = Fintra_dc_precision - 8;
    if (Fdo_psnr) enc->flags |= AV_CODEC_FLAG_PSNR;
    if (Fdo_pass == 1) enc->flags |= AV_CODEC_FLAG_PASS1;
    if (Fdo_pass == 2) enc->flags |= AV_CODEC_FLAG_PASS2;
    if (!Fforced_key_frames.empty()) {
      size_t pos = 0;
      while (pos <= Fforced_key_frames.size()) {
        size_t comma = Fforced_key_frames.find(',', pos);
        if (comma == std::string::npos) comma = Fforced_key_frames.size();
        ost->forced_kf_pts.push_back(
            parse_time_option("force_key_frames", Fforced_key_frames.substr(pos, comma - pos), true));
        pos = comma + 1;
      }
      ost->forced_kf_count = static_cast<int>(ost->forced_kf_pts.size());
    }
  }
  if (!Fvideo_language.empty()) {
    avutil.av_dict_set(&st->metadata, "language", Fvideo_language.c_str(), 0);
    Fvideo_language.clear();
  }
  Fvideo_disable = false;
  Fvideo_codec_name.clear();
  Fforced_key_frames.clear();
  Fvideo_stream_copy = 0;
  Fframe_pix_fmt = -1;
}

void TCustomFFmpeg::new_subtitle_stream(AVFormatContext* AContext, int AFileIndex) {
  AVStream* st = new_output_stream(AContext, Fsubtitle_codec_name, &Fsubtitle_language);
  TAVOutputStream* ost = add_output_stream(AContext, AFileIndex);
  ost->st = st;
  Foutput_codecs.push_back(nullptr);

  const AVCodec* codec = nullptr;
  AVCodecID id = AV_CODEC_ID_NONE;
  if (Fsubtitle_stream_copy != 1) {
    if (!Fsubtitle_codec_name.empty()) {
      int64_t strict = 0;
      avutil.av_opt_get_int(FOptions->CodecOptions(AVMEDIA_TYPE_SUBTITLE), "strict", 0, &strict);
      if (!find_codec_by_name(Fsubtitle_codec_name, AVMEDIA_TYPE_SUBTITLE, true, strict, id)) {
        Fsubtitle_codec_name.clear();
        Fsubtitle_language.clear();
        throw FFmpegException(FLastErrMsg);
      }
      codec = avcodec.avcodec_find_encoder_by_name(Fsubtitle_codec_name.c_str());
      Foutput_codecs.back() = codec;
    } else {
      id = avformat.av_guess_codec(AContext->oformat, nullptr, AContext->url, nullptr, AVMEDIA_TYPE_SUBTITLE);
      codec = avcodec.avcodec_find_encoder(id);
    }
  }
  ost->enc.reset(avcodec.avcodec_alloc_context3(codec));
  if (!ost->enc) throw FFmpegException("avcodec_alloc_context failed");
  AVCodecContext* enc = ost->enc.get();
  ost->bitstream_filters = std::move(Fsubtitle_bitstream_filters);
  Fsubtitle_bitstream_filters.clear();
  enc->thread_count = Fthread_count;
  enc->codec_type = AVMEDIA_TYPE_SUBTITLE;
  if (Fsubtitle_codec_tag) enc->codec_tag = Fsubtitle_codec_tag;
  if (AContext->oformat->flags & AVFMT_GLOBALHEADER)
    SetGlobalHeader(enc, FOptions->CodecOptions(AVMEDIA_TYPE_SUBTITLE));
  if (Fsubtitle_stream_copy) {
    ost->stream_copy = 1;
  } else {
    enc->codec_id = id;
    // Like audio and video: stored options flow from the option context
    // into the new encoder.
    apply_stored_options(enc, AVMEDIA_TYPE_SUBTITLE, omSubtitleEncoding, codec);
  }
  if (!Fsubtitle_language.empty()) {
    avutil.av_dict_set(&st->metadata, "language", Fsubtitle_language.c_str(), 0);
    Fsubtitle_language.clear();
  }
  Fsubtitle_disable = false;
  Fsubtitle_codec_name.clear();
  Fsubtitle_stream_copy = 0;
}

namespace {

// Whether a local output file could be made, without making it: 0, or the
// error its creation would meet (the folder missing or not writable, the
// file there and read-only). Names of other protocols pass.
int CheckOutputPath(const std::string& AURL) {
  const char* protocol = avformat.avio_find_protocol_name(AURL.c_str());
  if (!protocol || (std::strcmp(protocol, "file") != 0 && std::strcmp(protocol, "unicode") != 0)) return 0;
  std::string path = URLToFileName(AURL);
  if (path.rfind("file:", 0) == 0) path.erase(0, 5);
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return AVERROR(EISDIR);
    return ::access(path.c_str(), W_OK) == 0 ? 0 : AVERROR(errno);
  }
  const std::string::size_type slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? std::string(".") : slash == 0 ? std::string("/") : path.substr(0, slash);
  return ::access(folder.c_str(), W_OK | X_OK) == 0 ? 0 : AVERROR(errno);
}

}  // namespace

int TCustomFFmpeg::open_output_file(const std::string& AFileName, bool AJoin) {
  if (FJoinMode) {
    FLastErrMsg = "Cannot join more than one output file.";
    return -1;
  }
  if (Fnb_output_files >= FMaxFiles) {
    FLastErrMsg = Format("max output files %d reached", FMaxFiles);
    return -1;
  }
  // A video filter chain needs the filter path.
  FEnableFilter = !Fvfilters.empty();
  const std::string url = FileNameToURL(AFileName);
  // The bytes' own destination, when it is not the output's name.
  const std::string writePath = std::move(Fnext_write_path);
  Fnext_write_path.clear();
  const std::string writeURL = writePath.empty() ? url : FileNameToURL(writePath);

  // Format
  const AVOutputFormat* format = nullptr;
  if (!Flast_asked_format.empty()) {
    format = avformat.av_guess_format(Flast_asked_format.c_str(), nullptr, nullptr);
    if (!format) {
      FLastErrMsg =
          Format("Requested output format '%s' is not a suitable output format", Flast_asked_format.c_str());
      return -1;
    }
    Flast_asked_format.clear();
  } else {
    format = avformat.av_guess_format(nullptr, URLToFileName(url).c_str(), nullptr);
    if (!format) {
      FLastErrMsg = Format("Unable to find a suitable output format for '%s'", AFileName.c_str());
      return -1;
    }
  }

  // The context is made for its format, so that the format's
  // private options exist before the stored ones are applied.
  AVFormatContext* raw = nullptr;
  if (avformat.avformat_alloc_output_context2(&raw, format, nullptr, url.c_str()) < 0 || !raw)
    throw FFmpegException("avformat_alloc_context failed");
  TOutputContextPtr oc(raw);
  oc->interrupt_callback = MakeAVIOInterruptCB();

  // Live feeds ("ffm") are no longer muxed by the libraries: the format
  // name is refused where the format is chosen above.

  // Stream kinds
  bool useVideo = Fvideo_stream_copy || format->video_codec != AV_CODEC_ID_NONE || !Fvideo_codec_name.empty();
  bool useAudio = Faudio_stream_copy || format->audio_codec != AV_CODEC_ID_NONE || !Faudio_codec_name.empty();
  bool useSubtitle =
      Fsubtitle_stream_copy || format->subtitle_codec != AV_CODEC_ID_NONE || !Fsubtitle_codec_name.empty();

  // Only kinds that the inputs have
  if (Fnb_input_files > 0) {
    bool hasVideo = false, hasAudio = false, hasSubtitle = false;
    try {
      check_audio_video_sub_inputs(AJoin, hasVideo, hasAudio, hasSubtitle);
    } catch (const Exception& e) {
      FLastErrMsg = Format("check_audio_video_sub_inputs fail: %s", e.what());
      return -1;
    }
    useVideo = useVideo && hasVideo;
    useAudio = useAudio && hasAudio;
    useSubtitle = useSubtitle && hasSubtitle;
  }
  if (Faudio_disable) useAudio = false;
  if (Fvideo_disable) useVideo = false;
  if (Fsubtitle_disable) useSubtitle = false;

  // Streams; the slot is taken first so that the stream records
  // have a home, and given back on failure.
  const int slotIndex = Fnb_output_files;
  TAVOutputFileSlot& slot = Foutput_files[static_cast<size_t>(slotIndex)];
  const size_t codecCount = Foutput_codecs.size();
  const auto giveBack = [&] {
    slot.streams.clear();
    slot.ctx = nullptr;
    Foutput_codecs.resize(codecCount);
  };
  const auto create = [&](void (TCustomFFmpeg::*ACreate)(AVFormatContext*, int), const char* AText) {
    try {
      (this->*ACreate)(oc.get(), slotIndex);
      return true;
    } catch (const Exception& e) {
      FLastErrMsg = Format(AText, e.what());
      return false;
    }
  };
  if ((useVideo && !create(&TCustomFFmpeg::new_video_stream, "new_video_stream fail: %s")) ||
      (useAudio && !create(&TCustomFFmpeg::new_audio_stream, "new_audio_stream fail: %s")) ||
      (useSubtitle && !create(&TCustomFFmpeg::new_subtitle_stream, "new_subtitle_stream fail: %s"))) {
    giveBack();
    return -1;
  }

  // The recording time stamp (as the creation time today's muxers
  // write) and the pending metadata
  if (Frecording_timestamp != 0) {
    const std::time_t seconds = static_cast<std::time_t>(Frecording_timestamp);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[40];
    std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%S.000000Z", &utc);
    avutil.av_dict_set(&oc->metadata, "creation_time", text, 0);
  }
  avutil.av_dict_copy(&oc->metadata, Fmetadata.Get(), 0);
  Fmetadata.Clear();

  // Numbered names
  if ((format->flags & AVFMT_NEEDNUMBER) && !avformat.av_filename_number_test(url.c_str())) {
    FLastErrMsg = ErrorText(AFileName, -33);
    giveBack();
    return -1;
  }

  // The file; an existing one is replaced, but never one of the job's
  // own inputs (opening it for writing would empty it before it is read)
  if (!(format->flags & AVFMT_NOFILE)) {
    const int input = input_index_of(URLToFileName(url));
    if (input >= 0) {
      FLastErrMsg = Format("%s: the output file is input file #%d of this job", AFileName.c_str(), input);
      giveBack();
      return -1;
    }
    int error = 0;
    if (CreateOutputFiles) {
      TReadGuard guard(*this);
      error = OpenOutputIO(&oc->pb, writeURL, AVIO_FLAG_WRITE);
      oc.get_deleter().WrittenAt = writePath;
    } else {
      // The bytes go to the write path, and the output is renamed to its
      // own name at the end: both must be possible.
      error = CheckOutputPath(writeURL);
      if (error >= 0 && writeURL != url) error = CheckOutputPath(url);
    }
    if (error < 0) {
      FLastErrMsg = ErrorText(AFileName, error);
      giveBack();
      return -1;
    }
  }

  // Muxing parameters
  oc->max_delay = static_cast<int>(Fmux_max_delay * 1000000);
  if (oc->priv_data) {
    avutil.av_opt_set_int(oc->priv_data, "preload", static_cast<int64_t>(Fmux_preload * 1000000), 0);
    if (Floop_output >= 0) avutil.av_opt_set_int(oc->priv_data, "loop", Floop_output, 0);
  }
  oc->flags |= AVFMT_FLAG_NONBLOCK;
  apply_stored_options(oc.get(), omEncoding);

  // Per-output settings are consumed: the next output starts afresh.
  Fstreamid_map.clear();
  Fforced_key_frames.clear();
  slot.ctx = oc.get();
  slot.owned = std::move(oc);
  ++Fnb_output_files;
  if (AJoin && Fnb_input_files > 1) FJoinMode = true;
  return Fnb_output_files;
}

void TCustomFFmpeg::prepare_join() {
  if (!FJoinMode) return;
  int64_t total = 0;
  for (int i = 0; i < Fnb_input_files; ++i) {
    const AVFormatContext* ic = Finput_files[static_cast<size_t>(i)].ctx.get();
    if (ic->duration != AV_NOPTS_VALUE && ic->duration > 0) total += ic->duration;
  }
  FTotalOutputDuration = total == 0 ? -1 : total;
  for (int i = 1; i < Fnb_input_files && Fnb_output_files < FMaxFiles; ++i) {
    TAVOutputFileSlot& previous = Foutput_files[static_cast<size_t>(Fnb_output_files - 1)];
    TAVOutputFileSlot& slot = Foutput_files[static_cast<size_t>(Fnb_output_files)];
    slot.ctx = previous.ctx;
    for (unsigned k = 0; k < slot.ctx->nb_streams; ++k) {
      TAVOutputStream* ost = add_output_stream(slot.ctx, Fnb_output_files);
      const TAVOutputStream& first = *Foutput_files[0].streams[k];
      ost->index = static_cast<int>(k);
      ost->st = slot.ctx->streams[k];
      ost->enc_shared = first.Encoder();
      ost->stream_copy = first.stream_copy;
    }
    ++Fnb_output_files;
  }
}

}  // namespace quorvel
