// Setting up a run: the working tables, the binding of every output stream
// to the input stream that feeds it, the codec parameters for copying or
// encoding, the opened codecs, metadata and chapters, and the headers.
#include <algorithm>
#include <climits>
#include <cstring>

#include "media/engine/CoverArt.h"
#include "media/engine/CustomFFmpeg.h"
#include "media/engine/TagMap.h"
#include "media/runtime/CodecLock.h"
#include "media/runtime/FFLog.h"
#include "media/runtime/FFUtils.h"
#include "media/runtime/Format.h"

namespace quorvel {

namespace {

constexpr int kMinBitBufferSize = 262144;

std::string KindName(AVMediaType AType) { return StreamKindName(static_cast<int>(AType)); }

// Copies AFrom into *ATo, keeping the entries ATo already has.
void CopyMetadata(AVDictionary** ATo, const AVDictionary* AFrom) {
  if (AFrom) avutil.av_dict_copy(ATo, AFrom, AV_DICT_DONT_OVERWRITE);
}

// Sets a FLAC or ALAC encoder to 16 bits for a source of up to 16 (the
// codec's 16-bit format of the same layout), else to 24 in its 32-bit one.
void KeepSourceDepth(const AVCodec* ACodec, AVCodecContext* AEncoder, int ASourceBits) {
  if (!ACodec->sample_fmts) return;
  const bool wide = ASourceBits > 16;
  const bool planar = avutil.av_sample_fmt_is_planar(AEncoder->sample_fmt);
  const AVSampleFormat wanted = wide ? (planar ? AV_SAMPLE_FMT_S32P : AV_SAMPLE_FMT_S32)
                                     : (planar ? AV_SAMPLE_FMT_S16P : AV_SAMPLE_FMT_S16);
  for (const AVSampleFormat* f = ACodec->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f) {
    if (avutil.av_get_packed_sample_fmt(*f) != avutil.av_get_packed_sample_fmt(wanted)) continue;
    AEncoder->sample_fmt = *f;
    AEncoder->bits_per_raw_sample = wide ? 24 : 16;
    return;
  }
}

// A sample format is "better" for a target when it keeps at least the
// source's precision: same format first, then the planar/packed twin, then
// any format at least as wide (integer before float for integer sources),
// then the widest one offered.
AVSampleFormat BestSampleFormat(const AVCodec* ACodec, AVSampleFormat AWanted) {
  if (!ACodec || !ACodec->sample_fmts || AWanted == AV_SAMPLE_FMT_NONE) return AWanted;
  const AVSampleFormat* list = ACodec->sample_fmts;
  const AVSampleFormat packed = avutil.av_get_packed_sample_fmt(AWanted);
  const AVSampleFormat planar = avutil.av_get_planar_sample_fmt(AWanted);
  for (const AVSampleFormat* f = list; *f != AV_SAMPLE_FMT_NONE; ++f)
    if (*f == AWanted) return *f;
  for (const AVSampleFormat* f = list; *f != AV_SAMPLE_FMT_NONE; ++f)
    if (*f == packed || *f == planar) return *f;
  const int wantedBytes = avutil.av_get_bytes_per_sample(AWanted);
  const bool wantedFloat = packed == AV_SAMPLE_FMT_FLT || packed == AV_SAMPLE_FMT_DBL;
  AVSampleFormat best = AV_SAMPLE_FMT_NONE;
  int bestScore = INT_MIN;
  for (const AVSampleFormat* f = list; *f != AV_SAMPLE_FMT_NONE; ++f) {
    const AVSampleFormat p = avutil.av_get_packed_sample_fmt(*f);
    const bool isFloat = p == AV_SAMPLE_FMT_FLT || p == AV_SAMPLE_FMT_DBL;
    const int bytes = avutil.av_get_bytes_per_sample(*f);
    int score = bytes >= wantedBytes ? 1000 - bytes : bytes;  // wide enough, and the narrowest of those
    if (isFloat == wantedFloat) score += 100;
    if (score > bestScore) {
      bestScore = score;
      best = *f;
    }
  }
  return best == AV_SAMPLE_FMT_NONE ? list[0] : best;
}

}  // namespace

void TCustomFFmpeg::release_tables() {
  for (TAVOutputStream* ost : FTables.ostreams) {
    if (!ost) continue;
    ost->source = nullptr;
    ost->sync_ist = nullptr;
    ost->resample.reset();
    ost->enc_frame.reset();
    avutil.av_channel_layout_uninit(&ost->resample_layout);
  }
  FTables = TRunTables{};
}

TAVOutputStream& TCustomFFmpeg::encoder_record(TAVOutputStream& ost) {
  if (!FJoinMode || ost.file_index == 0) return ost;
  return *Foutput_files[0].streams[static_cast<size_t>(ost.index)];
}

TAVInputStream* TCustomFFmpeg::select_input_stream(const TAVOutputStream& ost, int AOutputSlot) {
  const AVMediaType type = ost.Encoder()->codec_type;
  const auto usable = [&](const TAVInputStream& ist) {
    return ist.st->discard != AVDISCARD_ALL && ist.st->codecpar->codec_type == type;
  };
  const auto inProgram = [&](const TAVInputStream& ist) {
    if (Fopt_programid == 0) return true;
    const AVFormatContext* ic = FTables.files[static_cast<size_t>(ist.file_index)].ctx;
    for (unsigned p = 0; p < ic->nb_programs; ++p) {
      const AVProgram* program = ic->programs[p];
      if (program->id != Fopt_programid) continue;
      for (unsigned k = 0; k < program->nb_stream_indexes; ++k)
        if (static_cast<int>(program->stream_index[k]) == ist.index) return true;
    }
    return false;
  };
  // An unused stream of the kind; the one the container knows most
  // frames of wins (the first of equal ones)
  TAVInputStream* found = nullptr;
  int64_t bestFrames = -1;
  for (auto& ist : FTables.streams) {
    if (ist->discard != 1 || !usable(*ist) || !inProgram(*ist)) continue;
    if (FJoinMode && ist->file_index != AOutputSlot) continue;
    if (ist->st->nb_frames > bestFrames) {
      bestFrames = ist->st->nb_frames;
      found = ist.get();
    }
  }
  // Any stream of the kind, used or not: the last one
  if (!found && Fopt_programid == 0 && !FJoinMode)
    for (auto& ist : FTables.streams)
      if (usable(*ist)) found = ist.get();
  if (!found) {
    avformat.av_dump_format(Foutput_files[static_cast<size_t>(AOutputSlot)].ctx, AOutputSlot,
                            Foutput_files[static_cast<size_t>(AOutputSlot)].ctx->url, 1);
    throw FFmpegException(Format("Could not find input stream matching output stream #%d.%d (%s)", AOutputSlot,
                                 ost.index, KindName(type).c_str()));
  }
  return found;
}

void TCustomFFmpeg::bind_output_streams() {
  // 2.1
  int total = 0;
  for (int j = 0; j < Fnb_output_files; ++j) {
    AVFormatContext* oc = Foutput_files[static_cast<size_t>(j)].ctx;
    if (oc->nb_streams == 0 && !(oc->oformat->flags & AVFMT_NOSTREAMS)) {
      avformat.av_dump_format(oc, j, oc->url, 1);
      throw FFmpegException(Format("Output file #%d does not contain any stream", j));
    }
    total += static_cast<int>(Foutput_files[static_cast<size_t>(j)].streams.size());
  }
  FTables.segment_size = static_cast<int>(Foutput_files[0].streams.size());

  // 2.2
  const auto inputStream = [&](int AFile, int AStream) -> TAVInputStream* {
    if (AFile < 0 || AFile >= Fnb_input_files) return nullptr;
    const TAVInputFile& file = FTables.files[static_cast<size_t>(AFile)];
    if (AStream < 0 || AStream >= file.nb_streams) return nullptr;
    return FTables.streams[static_cast<size_t>(file.ist_index + AStream)].get();
  };
  if (!Fstream_maps.empty()) {
    if (static_cast<int>(Fstream_maps.size()) != total)
      throw FFmpegException("Number of stream maps must match number of output streams");
    for (const TAVStreamMap& map : Fstream_maps) {
      if (!inputStream(map.file_index, map.stream_index))
        throw FFmpegException(Format("Could not find input stream #%d.%d", map.file_index, map.stream_index));
      if (!inputStream(map.sync_file_index, map.sync_stream_index))
        throw FFmpegException(
            Format("Could not find sync stream #%d.%d", map.sync_file_index, map.sync_stream_index));
    }
  }

  // 2.3
  for (int j = 0; j < Fnb_output_files; ++j) {
    TAVOutputFileSlot& slot = Foutput_files[static_cast<size_t>(j)];
    for (auto& record : slot.streams) {
      TAVOutputStream& ost = *record;
      const size_t n = FTables.ostreams.size();
      ost.st = slot.ctx->streams[ost.index];
      TAVInputStream* ist = nullptr;
      if (Fstream_maps.empty()) {
        ist = select_input_stream(ost, j);
        ost.sync_ist = ist;
      } else {
        const TAVStreamMap& map = Fstream_maps[n];
        ist = inputStream(map.file_index, map.stream_index);
        const AVMediaType outType = ost.Encoder()->codec_type;
        if (ist->st->codecpar->codec_type != outType) {
          avformat.av_dump_format(slot.ctx, j, slot.ctx->url, 1);
          throw FFmpegException(Format("Codec type mismatch for mapping #%d.%d (%s) -> #%d.%d (%s)",
                                       map.file_index, map.stream_index,
                                       KindName(ist->st->codecpar->codec_type).c_str(), j, ost.index,
                                       KindName(outType).c_str()));
        }
        ost.sync_ist = inputStream(map.sync_file_index, map.sync_stream_index);
      }
      ist->discard = 0;
      ost.source = ist;
      ost.source_index = static_cast<int>(std::find_if(FTables.streams.begin(), FTables.streams.end(),
                                                       [&](const auto& s) { return s.get() == ist; }) -
                                          FTables.streams.begin());
      ost.show_fps = 1;
      FTables.ostreams.push_back(&ost);
    }
  }
}

void TCustomFFmpeg::set_codec_parameters(TAVOutputStream& ost) {
  TAVInputStream& ist = *ost.source;
  AVCodecContext* dec = ist.dec;
  AVStream* st = ost.st;
  // Only the first group of a join owns its encoder and stream parameters.
  if (FJoinMode && ost.file_index != 0) {
    ost.encoding_needed = encoder_record(ost).encoding_needed;
    if (ost.encoding_needed) ist.decoding_needed = 1;
    return;
  }
  AVCodecContext* enc = ost.Encoder();
  if (Fmetadata_streams_autocopy == 1) CopyMetadata(&st->metadata, ist.st->metadata);
  st->disposition = ist.st->disposition;
  enc->bits_per_raw_sample = dec->bits_per_raw_sample;
  enc->chroma_sample_location = dec->chroma_sample_location;

  if (ost.stream_copy) {
    const AVCodecParameters* in = ist.st->codecpar;
    if (static_cast<uint64_t>(in->extradata_size) + AV_INPUT_BUFFER_PADDING_SIZE > UINT32_MAX)
      throw FFmpegException("icodec.extradata_size is invalid (too large)");
    switch (in->codec_type) {
      case AVMEDIA_TYPE_AUDIO:
        if (Faudio_volume != 256) throw FFmpegException("-acodec copy and -vol are incompatible (frames are not decoded)");
        if (OnAudioHook)
          throw FFmpegException("-acodec copy and AudioHook are incompatible (frames are not decoded)");
        break;
      case AVMEDIA_TYPE_VIDEO:
        if (OnInputVideoHook || OnOutputVideoHook)
          throw FFmpegException("-vcodec copy and VideoHook are incompatible (frames are not decoded)");
        if (Fusing_vhook) throw FFmpegException("-vcodec copy and -vhook are incompatible (frames are not decoded)");
        if (FPostHooks != 0)
          throw FFmpegException("-vcodec copy and PostHooks are incompatible (frames are not decoded)");
        break;
      case AVMEDIA_TYPE_SUBTITLE:
      case AVMEDIA_TYPE_DATA:
      case AVMEDIA_TYPE_ATTACHMENT:
        break;
      default:
        throw FFmpegException("invalid codec_type of output stream");
    }
    const uint32_t tag = st->codecpar->codec_tag ? st->codecpar->codec_tag : enc->codec_tag;
    if (avcodec.avcodec_parameters_copy(st->codecpar, in) < 0) throw FFmpegException("av_mallocz fail");
    // The input's tag only where the output container agrees with it.
    uint32_t outTag = tag;
    if (!outTag) {
      const AVOutputFormat* of = Foutput_files[static_cast<size_t>(ost.file_index)].ctx->oformat;
      if (!of->codec_tag || avformat.av_codec_get_id(of->codec_tag, in->codec_tag) == in->codec_id ||
          avformat.av_codec_get_tag(of->codec_tag, in->codec_id) == 0)
        outTag = in->codec_tag;
    }
    st->codecpar->codec_tag = outTag;
    if (in->codec_type == AVMEDIA_TYPE_AUDIO &&
        ((in->block_align == 1 && in->codec_id == AV_CODEC_ID_MP3) || in->codec_id == AV_CODEC_ID_AC3))
      st->codecpar->block_align = 0;
    // Time base: the codec's frame duration when the container's is finer
    // than a millisecond and coarser values suffice.
    AVRational tb = ist.st->time_base;
    if (!Fcopy_tb && dec->time_base.num && dec->time_base.den) {
      const int ticks = std::max(dec->ticks_per_frame, 1);
      if (av_q2d(dec->time_base) * ticks > av_q2d(ist.st->time_base) && av_q2d(ist.st->time_base) < 0.001) {
        int num = 0, den = 0;
        avutil.av_reduce(&num, &den, static_cast<int64_t>(dec->time_base.num) * ticks, dec->time_base.den, INT_MAX);
        tb = AVRational{num, den};
      }
    }
    st->time_base = tb;
    enc->time_base = tb;
    enc->codec_type = in->codec_type;
    enc->codec_id = in->codec_id;
    return;
  }

  switch (enc->codec_type) {
    case AVMEDIA_TYPE_AUDIO: {
      // The encoder's sample format is settled when it is opened.
      ost.fifo.reset();
      ost.reformat_pair = -6;
      ost.audio_resample = dec->sample_rate != enc->sample_rate || Faudio_sync_method > 1;
      ost.resample_sample_fmt = dec->sample_fmt;
      ost.resample_channels = dec->ch_layout.nb_channels;
      ost.resample_sample_rate = dec->sample_rate;
      ist.decoding_needed = 1;
      ost.encoding_needed = 1;
      break;
    }
    case AVMEDIA_TYPE_SUBTITLE:
      ist.decoding_needed = 1;
      ost.encoding_needed = 1;
      break;
    case AVMEDIA_TYPE_VIDEO: {
      if (enc->pix_fmt == AV_PIX_FMT_NONE)
        throw FFmpegException("Video pixel format is unknown, stream cannot be encoded");
      if (enc->width <= 0 || enc->height <= 0) {
        enc->width = dec->width;
        enc->height = dec->height;
      }
      ost.video_resample = enc->width != dec->width || enc->height != dec->height || enc->pix_fmt != dec->pix_fmt;
      if (ost.video_resample) enc->bits_per_raw_sample = 0;
      ost.original_height = dec->height;
      ost.original_width = dec->width;
      ost.resample_height = dec->height;
      ost.resample_width = dec->width;
      ost.resample_pix_fmt = dec->pix_fmt;
      ist.decoding_needed = 1;
      ost.encoding_needed = 1;
      break;
    }
    default:
      throw FFmpegException("invalid codec_type of output stream");
  }

  // Two-pass statistics.
  if (ost.encoding_needed && (enc->flags & (AV_CODEC_FLAG_PASS1 | AV_CODEC_FLAG_PASS2))) {
    const size_t position = static_cast<size_t>(
        std::find(FTables.ostreams.begin(), FTables.ostreams.end(), &ost) - FTables.ostreams.begin());
    std::string name = Format("%s-%d.log", Fpass_logfilename_prefix.empty() ? "ffmpeg2pass"
                                                                              : Fpass_logfilename_prefix.c_str(),
                              static_cast<int>(position));
    if (name.size() > 1023) name.resize(1023);
    if (enc->flags & AV_CODEC_FLAG_PASS1) {
      ost.logfile.reset(myutil.fopen(name.c_str(), "wb"));
      if (!ost.logfile) throw FFmpegException(Format("Cannot write log file %s for pass-1 encoding", name.c_str()));
    } else {
      TFilePtr file(myutil.fopen(name.c_str(), "rb"));
      if (!file) throw FFmpegException(Format("Cannot read file: Error reading log file \"%s\" for pass-2 encoding",
                                              name.c_str()));
      std::string text;
      char chunk[4096];
      size_t got = 0;
      while ((got = myutil.fread(chunk, 1, sizeof(chunk), file.get())) > 0) text.append(chunk, got);
      enc->stats_in = static_cast<char*>(avutil.av_malloc(text.size() + 1));
      if (!enc->stats_in)
        throw FFmpegException(Format(
            "Could not allocate file buffer: Error reading log file \"%s\" for pass-2 encoding", name.c_str()));
      std::memcpy(enc->stats_in, text.c_str(), text.size() + 1);
    }
  }
}

void TCustomFFmpeg::open_encoders() {
  const size_t count = FJoinMode ? static_cast<size_t>(FTables.segment_size) : FTables.ostreams.size();
  for (size_t n = 0; n < count; ++n) {
    TAVOutputStream& ost = *FTables.ostreams[n];
    AVCodecContext* enc = ost.Encoder();
    if (!ost.encoding_needed) continue;
    const AVCodec* codec = n < Foutput_codecs.size() ? Foutput_codecs[n] : nullptr;
    if (!codec) codec = avcodec.avcodec_find_encoder(enc->codec_id);
    const std::string kind = KindName(enc->codec_type);
    if (!codec) {
      dump_stream_mapping();
      const std::string text = Format("Encoder (codec id %d) not found for output stream #%d.%d (%s)",
                                      static_cast<int>(enc->codec_id), ost.file_index, ost.index, kind.c_str());
      FFLogger().Log(this, llError, text);
      throw FFmpegException(text);
    }
    if (enc->codec_type == AVMEDIA_TYPE_AUDIO) {
      // The decoder's sample format when the encoder takes it, else the one
      // that loses the least; an encoder without a list takes what it was given.
      AVSampleFormat wanted = enc->sample_fmt;
      if (ost.source && ost.source->dec->sample_fmt != AV_SAMPLE_FMT_NONE) wanted = ost.source->dec->sample_fmt;
      enc->sample_fmt = BestSampleFormat(codec, wanted);
      if (enc->sample_fmt == AV_SAMPLE_FMT_NONE) enc->sample_fmt = AV_SAMPLE_FMT_S16;
      // Lossless encoders write as many bits as the source had; a wider
      // format than the source holds only widened samples.
      const int bits = avutil.av_get_bytes_per_sample(enc->sample_fmt) * 8;
      if (enc->bits_per_raw_sample <= 0 || enc->bits_per_raw_sample > bits) enc->bits_per_raw_sample = bits;
      // FLAC and ALAC keep the source's depth, 16 or 24 bits (a lossy or
      // float source counts as 16), rather than the width of the decoder's
      // samples.
      if (ost.source && (codec->id == AV_CODEC_ID_FLAC || codec->id == AV_CODEC_ID_ALAC))
        KeepSourceDepth(codec, enc, SourceBits(*ost.source->st->codecpar));
      if (enc->sample_rate <= 0) enc->sample_rate = ost.source ? ost.source->dec->sample_rate : 44100;
      if (!avutil.av_channel_layout_check(&enc->ch_layout) || enc->ch_layout.nb_channels <= 0)
        avutil.av_channel_layout_default(&enc->ch_layout, 2);
      enc->time_base = AVRational{1, enc->sample_rate};
    }
    if (ost.source && ost.source->dec->subtitle_header_size > 0 && ost.source->dec->subtitle_header) {
      enc->subtitle_header = static_cast<uint8_t*>(avutil.av_mallocz(ost.source->dec->subtitle_header_size + 1));
      if (!enc->subtitle_header) {
        FFLogger().Log(this, llError, "av_malloc failed");
        throw FFmpegException("av_malloc failed");
      }
      std::memcpy(enc->subtitle_header, ost.source->dec->subtitle_header, ost.source->dec->subtitle_header_size);
      enc->subtitle_header_size = ost.source->dec->subtitle_header_size;
    }
    if (FJoinMode) ost.codec_id = enc->codec_id;
    int error = 0;
    {
      TCodecLock lock;
      error = avcodec.avcodec_open2(enc, codec, nullptr);
    }
    if (error < 0) {
      dump_stream_mapping();
      const std::string text = Format(
          "Error while opening encoder for output stream #%d.%d (%s) - maybe incorrect parameters such as "
          "bit_rate, rate, width or height. Please check error log message to find out more detail information.",
          ost.file_index, ost.index, kind.c_str());
      FFLogger().Log(this, llError, text);
      throw FFmpegException(text + " (" + ErrorMessage(error) + ")");
    }
    if (avcodec.avcodec_parameters_from_context(ost.st->codecpar, enc) < 0)
      throw FFmpegException("avcodec_parameters_from_context failed");
    ost.st->time_base = enc->time_base;
    Fextra_size += enc->extradata_size;
  }
  // Bitstream filters see the stream's final parameters.
  for (TAVOutputStream* ost : FTables.ostreams) {
    if (FJoinMode && ost->file_index != 0) continue;
    for (TBitstreamFilter& filter : ost->bitstream_filters) {
      AVBSFContext* bsf = filter.Context.get();
      if (avcodec.avcodec_parameters_copy(bsf->par_in, ost->st->codecpar) < 0)
        throw FFmpegException("av_mallocz fail");
      bsf->time_base_in = ost->st->time_base;
      if (!filter.Args.empty()) {
        AVDictionary* opts = nullptr;
        avutil.av_dict_parse_string(&opts, filter.Args.c_str(), "=", ":", 0);
        if (bsf->filter->priv_class) avutil.av_opt_set_dict(bsf->priv_data, &opts);
        avutil.av_dict_free(&opts);
      }
      const int error = avcodec.av_bsf_init(bsf);
      if (error < 0) throw FFmpegException(ErrorText(bsf->filter->name, error));
    }
  }
}

void TCustomFFmpeg::open_decoders() {
  for (auto& record : FTables.streams) {
    TAVInputStream& ist = *record;
    if (!ist.decoding_needed) continue;
    const size_t position = static_cast<size_t>(&record - FTables.streams.data());
    const AVCodec* codec = position < Finput_codecs.size() ? Finput_codecs[position] : nullptr;
    if (!codec) codec = avcodec.avcodec_find_decoder(ist.dec->codec_id);
    const std::string kind = KindName(ist.dec->codec_type);
    if (!codec) {
      dump_stream_mapping();
      const std::string text = Format("Decoder (codec id %d) not found for input stream #%d.%d (%s)",
                                      static_cast<int>(ist.dec->codec_id), ist.file_index, ist.index, kind.c_str());
      FFLogger().Log(this, llError, text);
      throw FFmpegException(text);
    }
    int error = 0;
    {
      TCodecLock lock;
      error = avcodec.avcodec_open2(ist.dec, codec, nullptr);
    }
    if (error < 0) {
      dump_stream_mapping();
      const std::string text =
          Format("Error while opening decoder for input stream #%d.%d (%s)", ist.file_index, ist.index, kind.c_str());
      FFLogger().Log(this, llError, text);
      throw FFmpegException(text);
    }
    ist.decoder = codec;
    ist.decoder_open = true;
  }
}

void TCustomFFmpeg::copy_metadata_maps() {
  const auto fail = [&](const char* AKind, int ANumber) {
    dump_stream_mapping();
    const std::string text = Format("Invalid %s index %d while processing metadata maps", AKind, ANumber);
    FFLogger().Log(this, llError, text);
    throw FFmpegException(text);
  };
  // The dictionary of one side of a map; checks its numbers.
  const auto side = [&](const TAVMetaDataMap& AMap, bool AOutput) -> AVDictionary** {
    AVFormatContext* ctx = nullptr;
    if (AOutput) {
      if (AMap.file_idx >= Fnb_output_files) fail("output file", AMap.file_idx);
      ctx = Foutput_files[static_cast<size_t>(AMap.file_idx)].ctx;
    } else {
      if (AMap.file_idx >= Fnb_input_files) fail("input file", AMap.file_idx);
      ctx = Finput_files[static_cast<size_t>(AMap.file_idx)].ctx.get();
    }
    switch (AMap.type_) {
      case 's':
        if (AMap.index < 0 || AMap.index >= static_cast<int>(ctx->nb_streams)) fail("stream", AMap.index);
        return &ctx->streams[AMap.index]->metadata;
      case 'c':
        if (AMap.index < 0 || AMap.index >= static_cast<int>(ctx->nb_chapters)) fail("chapter", AMap.index);
        return &ctx->chapters[AMap.index]->metadata;
      case 'p':
        if (AMap.index < 0 || AMap.index >= static_cast<int>(ctx->nb_programs)) fail("program", AMap.index);
        return &ctx->programs[AMap.index]->metadata;
      default:
        return &ctx->metadata;
    }
  };
  for (const TAVMetaDataMapPair& pair : Fmeta_data_maps) {
    if (pair[0].file_idx < 0 || pair[1].file_idx < 0) continue;
    AVDictionary** to = side(pair[0], true);
    AVDictionary** from = side(pair[1], false);
    CopyMetadata(to, *from);
  }
  if (Fmetadata_global_autocopy == 1 && Fnb_input_files > 0) {
    const int outputs = FJoinMode ? 1 : Fnb_output_files;
    for (int j = 0; j < outputs; ++j) CarryTags(Finput_files[0].ctx.get(), Foutput_files[static_cast<size_t>(j)].ctx);
  }
}

void TCustomFFmpeg::copy_chapters(int AInput, int AOutput) {
  AVFormatContext* is = Finput_files[static_cast<size_t>(AInput)].ctx.get();
  AVFormatContext* os = Foutput_files[static_cast<size_t>(AOutput)].ctx;
  for (unsigned i = 0; i < is->nb_chapters; ++i) {
    const AVChapter* in = is->chapters[i];
    const int64_t tsOff = avutil.av_rescale_q(Fstart_time - Finput_files[static_cast<size_t>(AInput)].ts_offset,
                                              AVRational{1, AV_TIME_BASE}, in->time_base);
    const int64_t rt = Frecording_time == INT64_MAX
                           ? INT64_MAX
                           : avutil.av_rescale_q(Frecording_time, AVRational{1, AV_TIME_BASE}, in->time_base);
    if (in->end < tsOff) continue;
    if (rt != INT64_MAX && in->start >= tsOff + rt) break;
    auto* out = static_cast<AVChapter*>(avutil.av_mallocz(sizeof(AVChapter)));
    if (!out) throw FFmpegException("av_mallocz fail");
    out->id = in->id;
    out->time_base = in->time_base;
    out->start = std::max<int64_t>(0, in->start - tsOff);
    out->end = std::min(rt, in->end - tsOff);
    if (Fmetadata_chapters_autocopy == 1) CopyMetadata(&out->metadata, in->metadata);
    auto* grown = static_cast<AVChapter**>(
        avutil.av_realloc(os->chapters, sizeof(AVChapter*) * (static_cast<size_t>(os->nb_chapters) + 1)));
    if (!grown) {
      avutil.av_dict_free(&out->metadata);
      avutil.av_free(out);
      throw FFmpegException("av_realloc fail");
    }
    os->chapters = grown;
    os->chapters[os->nb_chapters++] = out;
  }
}

void TCustomFFmpeg::write_headers() {
  const int outputs = FJoinMode ? 1 : Fnb_output_files;
  bool allRtp = true;
  for (int j = 0; j < outputs; ++j) {
    AVFormatContext* oc = Foutput_files[static_cast<size_t>(j)].ctx;
    const int error = avformat.avformat_write_header(oc, nullptr);
    if (error < 0) {
      dump_stream_mapping();
      const std::string text = Format("Could not write header for output file #%d (incorrect codec parameters ?)", j);
      FFLogger().Log(this, llError, text);
      throw FFmpegException(text + " (" + ErrorMessage(error) + ")");
    }
    allRtp = allRtp && std::strcmp(oc->oformat->name, "rtp") == 0;
  }
  if (allRtp && outputs > 0) {
    std::vector<AVFormatContext*> contexts;
    for (int j = 0; j < outputs; ++j) contexts.push_back(Foutput_files[static_cast<size_t>(j)].ctx);
    char sdp[2048];
    avformat.av_sdp_create(contexts.data(), outputs, sdp, sizeof(sdp));
    FFLogger().Log(this, llInfo, std::string("SDP:\r\n") + sdp);
  }
}

void TCustomFFmpeg::dump_stream_mapping() {
  const int outputs = FJoinMode ? 1 : Fnb_output_files;
  for (int j = 0; j < outputs; ++j) {
    AVFormatContext* oc = Foutput_files[static_cast<size_t>(j)].ctx;
    avformat.av_dump_format(oc, j, oc->url, 1);
  }
  if (Fverbose < 0) return;
  FFLogger().Log(this, llVerbose, "Stream mapping:");
  for (const TAVOutputStream* ost : FTables.ostreams) {
    if (!ost->source) continue;
    FFLogger().Log(this, llVerbose, "  Stream #%d.%d -> #%d.%d (%s)", ost->source->file_index, ost->source->index,
                   FJoinMode ? 0 : ost->file_index, ost->index,
                   KindName(ost->Encoder()->codec_type).c_str());
    if (ost->sync_ist && ost->sync_ist != ost->source)
      FFLogger().Log(this, llVerbose, " [sync #%d.%d (%s)]", ost->sync_ist->file_index, ost->sync_ist->index,
                     KindName(ost->sync_ist->st->codecpar->codec_type).c_str());
  }
}

void TCustomFFmpeg::setup_transcode() {
  try {
    // Input tables
    const int64_t now = avutil.av_gettime_relative();
    int streamCount = 0;
    for (int i = 0; i < Fnb_input_files; ++i) {
      TAVInputFileSlot& slot = Finput_files[static_cast<size_t>(i)];
      TAVInputFile file;
      file.ctx = slot.ctx.get();
      file.ist_index = streamCount;
      file.nb_streams = static_cast<int>(file.ctx->nb_streams);
      FTables.files.push_back(file);
      for (int k = 0; k < file.nb_streams; ++k) {
        auto ist = std::make_unique<TAVInputStream>();
        ist->file_index = i;
        ist->index = k;
        ist->st = file.ctx->streams[k];
        ist->dec = slot.codecs[static_cast<size_t>(k)].get();
        if (Frate_emu) ist->start = now;
        ist->frame.reset(avutil.av_frame_alloc());
        if (!ist->frame) throw FFmpegException("av_mallocz fail");
        FTables.streams.push_back(std::move(ist));
      }
      streamCount += file.nb_streams;
    }

    // Output tables, binding, codec parameters
    bind_output_streams();
    for (TAVOutputStream* ost : FTables.ostreams) set_codec_parameters(*ost);
    // A stream that feeds no output is not even read: the demuxer skips it
    // (a discarded video track costs nothing).
    for (auto& ist : FTables.streams)
      if (ist->discard) ist->st->discard = AVDISCARD_ALL;

    Fpkt.reset(avcodec.av_packet_alloc());
    Fout_pkt.reset(avcodec.av_packet_alloc());
    if (!Fpkt || !Fout_pkt) throw FFmpegException(Format("Cannot allocate %d bytes output buffer", kMinBitBufferSize));

    // 3., 4.
    open_encoders();
    open_decoders();

    // Clocks
    for (auto& ist : FTables.streams) {
      ist->pts = 0;
      ist->next_pts = AV_NOPTS_VALUE;
      ist->is_start = true;
    }

    // 6., 7.
    copy_metadata_maps();
    if (!Fchapter_maps.empty()) {
      for (const TAVChapterMap& map : Fchapter_maps) {
        if (map.in_file < 0 || map.out_file < 0) continue;
        if (map.in_file >= Fnb_input_files) {
          dump_stream_mapping();
          const std::string text = Format("Invalid input file index %d in chapter mapping.", map.in_file);
          FFLogger().Log(this, llError, text);
          throw FFmpegException(text);
        }
        if (map.out_file >= Fnb_output_files) {
          dump_stream_mapping();
          const std::string text = Format("Invalid output file index %d in chapter mapping.", map.out_file);
          FFLogger().Log(this, llError, text);
          throw FFmpegException(text);
        }
        copy_chapters(map.in_file, map.out_file);
      }
    } else {
      for (int i = 0; i < Fnb_input_files; ++i) {
        if (Finput_files[static_cast<size_t>(i)].ctx->nb_chapters == 0) continue;
        const int outputs = FJoinMode ? 1 : Fnb_output_files;
        for (int j = 0; j < outputs; ++j) copy_chapters(i, j);
        break;
      }
    }

    // The source's cover picture, as each output keeps one; a picture
    // that cannot go along is left out, never failing the run.
    const int outputs = FJoinMode ? 1 : Fnb_output_files;
    std::vector<int> coverStreams(static_cast<size_t>(std::max(outputs, 0)), -1);
    const AVStream* cover = Fnb_input_files > 0 && Fmetadata_global_autocopy == 1
                                ? SourceCover(Finput_files[0].ctx.get())
                                : nullptr;
    for (int j = 0; cover && j < outputs; ++j) {
      std::string warning;
      coverStreams[static_cast<size_t>(j)] = AddCover(cover, Foutput_files[static_cast<size_t>(j)].ctx, warning);
      if (!warning.empty()) FFLogger().Log(this, llWarning, "Output file #%d: %s", j, warning.c_str());
    }

    // 8., 9.
    write_headers();
    for (int j = 0; cover && j < outputs; ++j) {
      const int error =
          WriteCover(cover, Foutput_files[static_cast<size_t>(j)].ctx, coverStreams[static_cast<size_t>(j)]);
      if (error < 0)
        FFLogger().Log(this, llWarning, "Output file #%d: the cover picture was left out (%s)", j,
                       ErrorMessage(error).c_str());
    }
    dump_stream_mapping();
  } catch (...) {
    release_tables();
    throw;
  }
}

}  // namespace quorvel
