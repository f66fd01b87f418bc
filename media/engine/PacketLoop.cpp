// The packet loop of a run: choosing the input to read, correcting time
// stamps, decoding, copying or re-encoding into the outputs, progress
// reports, join mode, and the end of a run (draining, trailers, the final
// report).
#include <algorithm>
#include <cmath>
#include <thread>

#include "media/engine/CustomFFmpeg.h"
#include "media/runtime/FFLog.h"
#include "media/runtime/FFUtils.h"
#include "media/runtime/Format.h"
#include "media/runtime/InterruptCB.h"
#include "media/runtime/UnicodeProtocol.h"

namespace quorvel {

namespace {

constexpr AVRational kMicroseconds{1, AV_TIME_BASE};

std::string KindName(AVMediaType AType) { return StreamKindName(static_cast<int>(AType)); }

// Registers the job's stop callback for the run's thread, so that a
// blocking library call gives up once the job is stopped.
class TBrokenGuard {
public:
  explicit TBrokenGuard(TCustomFFmpeg* AJob)
      : FJob(AJob), FThread(CurrentThreadID()),
        FProc(TInterruptProc::Of<TCustomFFmpeg, &TCustomFFmpeg::broken_cb>(AJob)) {
    InterruptCB().Add(FThread, FJob, FProc);
  }
  ~TBrokenGuard() { InterruptCB().Remove(FThread, FJob, FProc); }
  TBrokenGuard(const TBrokenGuard&) = delete;
  TBrokenGuard& operator=(const TBrokenGuard&) = delete;

private:
  TCustomFFmpeg* FJob;
  uint32_t FThread;
  TInterruptProc FProc;
};

}  // namespace

bool TCustomFFmpeg::broken_cb(TObject* Sender) { return Sender == this && FBroken.Cancelled(); }

// The output position of a stream in seconds.
static double OutputTime(const TAVOutputStream& ost) {
  const AVCodecContext* enc = ost.Encoder();
  if (ost.encoding_needed && enc->codec_type == AVMEDIA_TYPE_AUDIO && enc->sample_rate > 0)
    return static_cast<double>(ost.sync_opts) / enc->sample_rate;
  if (ost.encoding_needed && enc->codec_type == AVMEDIA_TYPE_VIDEO)
    return static_cast<double>(ost.video_next_pts) * av_q2d(enc->time_base);
  return static_cast<double>(ost.last_mux_end) * av_q2d(ost.st->time_base);
}

void TCustomFFmpeg::run_transcode() {
  Fvideo_size = Faudio_size = Fextra_size = 0;
  Fnb_frames_dup = Fnb_frames_drop = 0;
  Fdecoding_failed = false;
  setup_transcode();
  try {
    packet_loop();
    end_run();
  } catch (...) {
    release_tables();
    throw;
  }
  release_tables();
}

void TCustomFFmpeg::packet_loop() {
  // Only the reading gives up on a stop: draining and the trailers must
  // still reach the output.
  TBrokenGuard guard(this);
  Ftimer_start = avutil.av_gettime_relative();
  Flast_report = Ftimer_start;
  FTables.file_index = 0;
  for (TAVInputFile& file : FTables.files) file.no_packet = false;
  FTables.no_packet_count = 0;

  while (!FBroken.Cancelled()) {
    wait_while_paused();
    if (FBroken.Cancelled()) break;

    // 1. the input whose outputs lag most
    int fileIndex = -1;
    if (FJoinMode) {
      fileIndex = FTables.file_index;
      for (const TAVOutputStream* ost : FTables.ostreams) {
        if (ost->file_index != fileIndex) continue;
        const int type = ost->Encoder()->codec_type;
        if (type >= 0 && type < 4 && ost->frame_number >= Fmax_frames[static_cast<size_t>(type)]) {
          fileIndex = -1;
          break;
        }
      }
    } else {
      double smallestOutput = 1e100, smallestInput = 1e100;
      for (const TAVOutputStream* ost : FTables.ostreams) {
        const TAVInputStream* ist = ost->source;
        const TAVInputFile& file = FTables.files[static_cast<size_t>(ist->file_index)];
        if (ist->is_past_recording_time || file.no_packet) continue;
        const double opts = OutputTime(*ost);
        const double ipts = static_cast<double>(ist->pts);
        if (!file.eof_reached) {
          if (ipts < smallestInput) {
            smallestInput = ipts;
            if (Finput_sync) fileIndex = ist->file_index;
          }
          if (opts < smallestOutput) {
            smallestOutput = opts;
            if (!Finput_sync) fileIndex = ist->file_index;
          }
        }
        const int type = ost->Encoder()->codec_type;
        if (type >= 0 && type < 4 && ost->frame_number >= Fmax_frames[static_cast<size_t>(type)]) {
          fileIndex = -1;
          break;
        }
      }
    }

    // 2.
    if (fileIndex < 0) {
      if (FJoinMode || FTables.no_packet_count == 0) break;
      for (TAVInputFile& file : FTables.files) file.no_packet = false;
      FTables.no_packet_count = 0;
      FBroken.WaitFor(std::chrono::milliseconds(10));
      continue;
    }

    // 3. size limit
    if (Flimit_filesize != 0) {
      const AVFormatContext* oc = Foutput_files[0].ctx;
      if (oc->pb && avformat.avio_size(oc->pb) >= Flimit_filesize) break;
      if (oc->pb && oc->pb->pos + (oc->pb->buf_ptr - oc->pb->buffer) >= Flimit_filesize) break;
    }

    // 4. read
    TAVInputFile& file = FTables.files[static_cast<size_t>(fileIndex)];
    AVPacket* pkt = Fpkt.get();
    const int result = avformat.av_read_frame(file.ctx, pkt);
    if (result == AVERROR(EAGAIN)) {
      file.no_packet = true;
      ++FTables.no_packet_count;
      continue;
    }
    if (result < 0) {
      // A stop makes the library give up a read; that is no input error.
      if (result != AVERROR_EOF && result != AVERROR_INVALIDDATA && result != AVERROR_EXIT && !FBroken.Cancelled())
        throw FFmpegException(ErrorText(Format("Error while reading input #%d", fileIndex), result));
      file.eof_reached = 1;
      if (Fopt_shortest && !FJoinMode) break;
      if (FJoinMode) {
        join_step(fileIndex);
        if (fileIndex >= Fnb_input_files - 1) break;
      }
      continue;
    }

    // 5.
    for (TAVInputFile& f : FTables.files) f.no_packet = false;
    FTables.no_packet_count = 0;
    if (Fdo_pkt_dump) avformat.av_pkt_dump_log2(nullptr, AV_LOG_DEBUG, pkt, Fdo_hex_dump, file.ctx->streams[pkt->stream_index]);

    // 6. streams that appeared later or that no output uses
    TAVInputStream* ist = nullptr;
    if (pkt->stream_index < file.nb_streams) {
      ist = FTables.streams[static_cast<size_t>(file.ist_index + pkt->stream_index)].get();
      if (ist->discard) ist = nullptr;
    }
    if (ist) {
      // 7. time stamps
      const AVRational tb = ist->st->time_base;
      const int64_t offset = avutil.av_rescale_q(Finput_files[static_cast<size_t>(fileIndex)].ts_offset, kMicroseconds, tb);
      if (pkt->dts != AV_NOPTS_VALUE) pkt->dts += offset;
      if (pkt->pts != AV_NOPTS_VALUE) pkt->pts += offset;
      const std::vector<double>& scales = Finput_files[static_cast<size_t>(fileIndex)].ts_scale;
      if (static_cast<size_t>(pkt->stream_index) < scales.size() && scales[static_cast<size_t>(pkt->stream_index)] != 0) {
        const double scale = scales[static_cast<size_t>(pkt->stream_index)];
        if (pkt->dts != AV_NOPTS_VALUE) pkt->dts = std::llround(static_cast<double>(pkt->dts) * scale);
        if (pkt->pts != AV_NOPTS_VALUE) pkt->pts = std::llround(static_cast<double>(pkt->pts) * scale);
      }
      if (pkt->dts != AV_NOPTS_VALUE && ist->next_pts != AV_NOPTS_VALUE &&
          (file.ctx->iformat->flags & AVFMT_TS_DISCONT) && !Fcopy_ts) {
        const int64_t dtsUs = avutil.av_rescale_q(pkt->dts, tb, kMicroseconds);
        const int64_t delta = dtsUs - ist->next_pts;
        if (std::llabs(delta) > static_cast<int64_t>(Fdts_delta_threshold * 1000000) || dtsUs + 1 < ist->pts) {
          int64_t& tsOffset = Finput_files[static_cast<size_t>(fileIndex)].ts_offset;
          tsOffset -= delta;
          if (Fverbose > 2)
            FFLogger().Log(this, llVerbose, "timestamp discontinuity %lld, new offset= %lld",
                           static_cast<long long>(delta), static_cast<long long>(tsOffset));
          const int64_t d = avutil.av_rescale_q(delta, kMicroseconds, tb);
          pkt->dts -= d;
          if (pkt->pts != AV_NOPTS_VALUE) pkt->pts -= d;
        }
      }

      // 8. recording time
      if (Frecording_time != INT64_MAX) {
        const int64_t stamp = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
        if (stamp != AV_NOPTS_VALUE &&
            avutil.av_compare_ts(stamp, tb, Frecording_time + Fstart_time, kMicroseconds) >= 0) {
          ist->is_past_recording_time = true;
          ist = nullptr;
        }
      }
    }

    // 9.
    if (ist && process_packet(*ist, pkt) < 0) {
      const std::string text = Format("Error while decoding stream #%d.%d (%s)", ist->file_index, ist->index,
                                      KindName(ist->st->codecpar->codec_type).c_str());
      if (Fexit_on_error) throw FFmpegException(text + ": " + ErrorMessage(ist->last_decode_error));
      if (Fverbose >= 0) FFLogger().Log(this, llVerbose, text);
      avcodec.av_packet_unref(pkt);
      continue;
    }

    // 10.
    avcodec.av_packet_unref(pkt);
    const int64_t now = avutil.av_gettime_relative();
    if (now - Flast_report > ReportInterval) {
      Flast_report = now;
      report_progress(false, FJoinMode ? FTables.file_index : fileIndex);
    }
  }
}

int TCustomFFmpeg::process_packet(TAVInputStream& ist, AVPacket* pkt) {
  if (ist.next_pts == AV_NOPTS_VALUE) ist.next_pts = ist.pts;
  const AVRational tb = ist.st->time_base;
  if (pkt && pkt->dts != AV_NOPTS_VALUE) ist.next_pts = ist.pts = avutil.av_rescale_q(pkt->dts, tb, kMicroseconds);

  if (!ist.decoding_needed) {
    if (!pkt) return 0;
    ist.pts = ist.next_pts;
    for (TAVOutputStream* ost : FTables.ostreams)
      if (ost->source == &ist && !ost->encoding_needed) copy_packet(ist, *ost, pkt);
    // Advance the clock by one packet.
    const AVCodecParameters* par = ist.st->codecpar;
    if (pkt->duration > 0)
      ist.next_pts += avutil.av_rescale_q(pkt->duration, tb, kMicroseconds);
    else if (par->codec_type == AVMEDIA_TYPE_AUDIO && par->sample_rate > 0 && par->frame_size > 0)
      ist.next_pts += static_cast<int64_t>(AV_TIME_BASE) * par->frame_size / par->sample_rate;
    else if (par->codec_type == AVMEDIA_TYPE_VIDEO && ist.st->avg_frame_rate.num > 0)
      ist.next_pts += avutil.av_rescale_q(1, AVRational{ist.st->avg_frame_rate.den, ist.st->avg_frame_rate.num},
                                          kMicroseconds);
    return 0;
  }

  AVCodecContext* dec = ist.dec;
  if (dec->codec_type == AVMEDIA_TYPE_SUBTITLE) {
    if (!pkt) return 0;
    AVSubtitle subtitle{};
    int got = 0;
    const int used = avcodec.avcodec_decode_subtitle2(dec, &subtitle, &got, pkt);
    if (used < 0) {
      ist.last_decode_error = used;
      ++ist.decode_errors;
      return -1;
    }
    ++ist.decoded_blocks;
    if (got) {
      if (Fstart_time == 0 || ist.pts >= Fstart_time)
        for (TAVOutputStream* ost : FTables.ostreams)
          if (ost->source == &ist && ost->encoding_needed) {
            TAVOutputStream& rec = encoder_record(*ost);
            AVCodecContext* enc = rec.Encoder();
            if (subtitle.pts == AV_NOPTS_VALUE) {
              if (Fexit_on_error) {
                avcodec.avsubtitle_free(&subtitle);
                throw FFmpegException("Subtitle packets must have a pts");
              }
              FFLogger().Log(this, llError, "Subtitle packets must have a pts");
              continue;
            }
            std::vector<uint8_t> buffer(1024 * 1024);
            const int size = avcodec.avcodec_encode_subtitle(enc, buffer.data(), static_cast<int>(buffer.size()), &subtitle);
            if (size < 0) {
              avcodec.avsubtitle_free(&subtitle);
              throw FFmpegException("Subtitle encoding failed");
            }
            AVPacket* out = Fout_pkt.get();
            avcodec.av_packet_unref(out);
            if (avcodec.av_new_packet(out, size) < 0) {
              avcodec.avsubtitle_free(&subtitle);
              throw FFmpegException("Subtitle encoding failed");
            }
            std::copy(buffer.begin(), buffer.begin() + size, out->data);
            out->pts = out->dts = avutil.av_rescale_q(subtitle.pts - Fstart_time, kMicroseconds, rec.st->time_base);
            write_packet(rec, out);
          }
      avcodec.avsubtitle_free(&subtitle);
    }
    return 0;
  }

  if (!pkt && ist.decoder_flushed) return 0;
  // Every send is followed by receiving all that is ready, so the decoder
  // never refuses a packet for want of room.
  const int sent = avcodec.avcodec_send_packet(dec, pkt);
  if (sent < 0 && sent != AVERROR_EOF) {
    ist.last_decode_error = sent;
    ++ist.decode_errors;
    return -1;
  }
  for (;;) {
    AVFrame* frame = ist.frame.get();
    const int got = avcodec.avcodec_receive_frame(dec, frame);
    if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) break;
    if (got < 0) {
      ist.last_decode_error = got;
      ++ist.decode_errors;
      return -1;
    }
    ++ist.decoded_blocks;
    if (dec->codec_type == AVMEDIA_TYPE_AUDIO)
      handle_decoded_audio(ist, frame);
    else if (dec->codec_type == AVMEDIA_TYPE_VIDEO)
      handle_decoded_video(ist, frame);
    avutil.av_frame_unref(frame);
  }
  if (!pkt) {
    ist.decoder_flushed = true;
    ist.pts = ist.next_pts;
  }
  return 0;
}

void TCustomFFmpeg::copy_packet(TAVInputStream& ist, TAVOutputStream& ost, const AVPacket* pkt) {
  TAVOutputStream& rec = encoder_record(ost);
  const AVRational otb = rec.st->time_base;
  const int64_t start = avutil.av_rescale_q(Fstart_time, kMicroseconds, otb);
  if (rec.frame_number == 0 && !(pkt->flags & AV_PKT_FLAG_KEY) && !Fcopy_initial_nonkeyframes) return;
  // Before the output's start time nothing is copied.
  if (Fstart_time != 0 && ist.pts < Fstart_time) return;
  if (ist.st->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
    Faudio_size += pkt->size;
  else if (ist.st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
    Fvideo_size += pkt->size;
  AVPacket* out = Fout_pkt.get();
  avcodec.av_packet_unref(out);
  if (avcodec.av_packet_ref(out, pkt) < 0) throw FFmpegException("av_packet_ref failed");
  const AVRational itb = ist.st->time_base;
  out->pts = pkt->pts == AV_NOPTS_VALUE ? AV_NOPTS_VALUE : avutil.av_rescale_q(pkt->pts, itb, otb) - start;
  out->dts = pkt->dts == AV_NOPTS_VALUE ? avutil.av_rescale_q(ist.pts, kMicroseconds, otb) - start
                                        : avutil.av_rescale_q(pkt->dts, itb, otb) - start;
  out->duration = avutil.av_rescale_q(pkt->duration, itb, otb);
  write_packet(rec, out);
  ++rec.frame_number;
}

void TCustomFFmpeg::write_packet(TAVOutputStream& ost, AVPacket* pkt) {
  AVFormatContext* oc = Foutput_files[static_cast<size_t>(ost.file_index)].ctx;
  pkt->stream_index = ost.st->index;
  const auto mux = [&](AVPacket* p) {
    if (p->dts != AV_NOPTS_VALUE)
      ost.last_mux_end = std::max(ost.last_mux_end, p->dts + std::max<int64_t>(p->duration, 0));
    else if (p->pts != AV_NOPTS_VALUE)
      ost.last_mux_end = std::max(ost.last_mux_end, p->pts + std::max<int64_t>(p->duration, 0));
    const int error = avformat.av_interleaved_write_frame(oc, p);
    if (error < 0) throw FFmpegException(ErrorText("av_interleaved_write_frame()", error));
    ++ost.written_packets;
  };
  if (ost.bitstream_filters.empty()) {
    mux(pkt);
    return;
  }
  // Each filter of the chain in order; a filter that fails keeps the packet
  // as it was (unless errors end the run).
  std::vector<TPacketPtr> current;
  current.emplace_back(avcodec.av_packet_clone(pkt));
  avcodec.av_packet_unref(pkt);
  for (TBitstreamFilter& filter : ost.bitstream_filters) {
    AVBSFContext* bsf = filter.Context.get();
    std::vector<TPacketPtr> next;
    for (TPacketPtr& p : current) {
      if (!p) continue;
      TPacketPtr keep(avcodec.av_packet_clone(p.get()));
      int error = avcodec.av_bsf_send_packet(bsf, p.get());
      while (error >= 0) {
        TPacketPtr outPkt(avcodec.av_packet_alloc());
        error = avcodec.av_bsf_receive_packet(bsf, outPkt.get());
        if (error < 0) break;
        next.push_back(std::move(outPkt));
      }
      if (error < 0 && error != AVERROR(EAGAIN) && error != AVERROR_EOF) {
        const AVCodecContext* enc = ost.Encoder();
        const std::string text =
            ErrorText(Format("%s failed for stream %d, codec %s", bsf->filter->name, ost.st->index,
                             ost.stream_copy || !enc->codec ? "copy" : enc->codec->name),
                      error);
        if (Fexit_on_error) throw FFmpegException(text);
        FFLogger().Log(this, llError, text);
        next.push_back(std::move(keep));
      }
    }
    current = std::move(next);
  }
  for (TPacketPtr& p : current) {
    p->stream_index = ost.st->index;
    mux(p.get());
  }
}

void TCustomFFmpeg::receive_packets(TAVOutputStream& ost) {
  AVCodecContext* enc = ost.Encoder();
  AVPacket* out = Fout_pkt.get();
  for (;;) {
    const int error = avcodec.avcodec_receive_packet(enc, out);
    if (error == AVERROR(EAGAIN) || error == AVERROR_EOF) return;
    if (error < 0)
      throw FFmpegException(enc->codec_type == AVMEDIA_TYPE_VIDEO ? "Video encoding failed" : "Audio encoding failed");
    if (enc->codec_type == AVMEDIA_TYPE_VIDEO) {
      Fvideo_size += out->size;
      if (ost.logfile && enc->stats_out) myutil.fprintf(ost.logfile.get(), "%s", enc->stats_out);
    } else {
      Faudio_size += out->size;
    }
    avcodec.av_packet_rescale_ts(out, enc->time_base, ost.st->time_base);
    write_packet(ost, out);
    avcodec.av_packet_unref(out);
    ++ost.frame_number;
  }
}

void TCustomFFmpeg::flush_encoders(TAVInputStream& ist) {
  for (TAVOutputStream* ost : FTables.ostreams) {
    if (ost->source != &ist || !ost->encoding_needed) continue;
    TAVOutputStream& rec = encoder_record(*ost);
    AVCodecContext* enc = rec.Encoder();
    if (enc->codec_type == AVMEDIA_TYPE_AUDIO) {
      drain_audio_encoder(rec);
    } else if (enc->codec_type == AVMEDIA_TYPE_VIDEO && !rec.encoder_flushed) {
      if (avcodec.avcodec_send_frame(enc, nullptr) < 0) throw FFmpegException("Video encoding failed");
      receive_packets(rec);
      rec.encoder_flushed = true;
    }
  }
}

void TCustomFFmpeg::join_step(int AInput) {
  // 1. the decoders of the ended input give what they hold
  for (auto& ist : FTables.streams) {
    if (ist->file_index != AInput || !ist->decoding_needed) continue;
    process_packet(*ist, nullptr);
    avcodec.avcodec_flush_buffers(ist->dec);
    ist->decoder_flushed = true;
  }
  // 2.-4. The encoders go on: the next input's samples continue the same
  // frames, so the joined output has no gap and no second encoder delay in
  // it. Their state lives in the first group's records.
  if (AInput >= Fnb_input_files - 1) return;
  // 5., 6. the next input starts where the output has got to
  double maxOpts = 0;
  for (const TAVOutputStream* ost : FTables.ostreams) {
    if (ost->file_index != 0) continue;
    maxOpts = std::max(maxOpts, OutputTime(*ost));
  }
  for (TAVOutputStream* ost : FTables.ostreams)
    if (ost->file_index == AInput) ost->show_fps = 0;
  Finput_files[static_cast<size_t>(AInput + 1)].ts_offset += std::llround(maxOpts * 1000000);
  FTables.file_index = AInput + 1;
}

void TCustomFFmpeg::end_run() {
  // 1. whatever the decoders and encoders still hold
  for (auto& ist : FTables.streams)
    if (ist->decoding_needed && !ist->decoder_flushed) process_packet(*ist, nullptr);
  for (auto& ist : FTables.streams)
    if (ist->decoding_needed) flush_encoders(*ist);

  // An input that never decoded a single block is broken, not converted.
  for (auto& ist : FTables.streams)
    if (ist->decoding_needed && ist->decode_errors > 0 && ist->decoded_blocks == 0)
      throw FFmpegException(Format("Error while decoding stream #%d.%d (%s): %s", ist->file_index, ist->index,
                                   KindName(ist->st->codecpar->codec_type).c_str(),
                                   ErrorMessage(ist->last_decode_error).c_str()));

  // 2. trailers; a write that failed on the way is an error, not an output
  const int outputs = FJoinMode ? 1 : Fnb_output_files;
  for (int j = 0; j < outputs; ++j) {
    AVFormatContext* oc = Foutput_files[static_cast<size_t>(j)].ctx;
    const int error = avformat.av_write_trailer(oc);
    if (error < 0) throw FFmpegException(ErrorText("av_write_trailer()", error));
    if (oc->pb) {
      avformat.avio_flush(oc->pb);
      if (oc->pb->error < 0) throw FFmpegException(ErrorText(URLToFileName(oc->url ? oc->url : ""), oc->pb->error));
    }
  }

  // 3.
  report_progress(true, -1);
  // 5.
  FFinished = !FBroken.Cancelled();
}

void TCustomFFmpeg::report_progress(bool AIsLast, int AFileIndex) {
  const AVFormatContext* oc = Foutput_files[0].ctx;
  int64_t total = 0;
  if (oc && oc->pb) {
    total = avformat.avio_size(oc->pb);
    if (total < 0) total = oc->pb->pos + (oc->pb->buf_ptr - oc->pb->buffer);
  }
  std::string line;
  double t = 1e10;
  int frameNumber = -1, fps = -1;
  float quality = -1.0f;
  bool firstVideo = true;
  for (const TAVOutputStream* ost : FTables.ostreams) {
    const AVCodecContext* enc = ost->Encoder();
    const float q = ost->stream_copy ? -1.0f : ost->quality;
    if (enc->codec_type == AVMEDIA_TYPE_VIDEO) {
      if (!firstVideo) line += Format("q=%2.1f ", q);
      if (firstVideo && ost->show_fps == 1) {
        if (ost->frame_number == 0 && !AIsLast) return;
        const double elapsed = static_cast<double>(avutil.av_gettime_relative() - Ftimer_start) / 1000000.0;
        frameNumber = ost->frame_number;
        fps = elapsed > 1 ? static_cast<int>(frameNumber / elapsed + 0.5) : 0;
        quality = q;
        line += Format("frame=%5d fps=%3d q=%3.1f ", frameNumber, fps, static_cast<double>(q));
        if (AIsLast) line += "L";
        firstVideo = false;
      }
    }
    const double pts = OutputTime(*ost);
    if (pts > 0 && pts < t) t = pts;
  }
  if (t == 1e10) t = 0;
  if (t < 0.01) t = 0.01;
  if (OnProgress || Fverbose > 0 || AIsLast) {
    const double bitrate = static_cast<double>(total) * 8 / t / 1000.0;
    line += Format("size=%8.0fkB time=%0.2f bitrate=%6.1fkbits/s", static_cast<double>(total) / 1024, t, bitrate);
    if (Fnb_frames_dup || Fnb_frames_drop) line += Format(" dup=%d drop=%d", Fnb_frames_dup, Fnb_frames_drop);
    if (FShowDupOrDrop && Fverbose >= 0 && OnProgress) {
      FShowDupOrDrop = false;
      FFLogger().Log(this, llVerbose, line);
    }
    if (OnProgress)
      OnProgress(this, AFileIndex, frameNumber, fps, quality, static_cast<float>(bitrate), total,
                 static_cast<int64_t>(t * 1000000), FTotalOutputDuration);
    else if (Fverbose >= 0)
      FFLogger().Log(this, llVerbose, line);
  }
  if (AIsLast && Fverbose >= 0) {
    const int64_t raw = Fvideo_size + Faudio_size + Fextra_size;
    // With nothing encoded there is no overhead to speak of.
    const double overhead = raw > 0 ? static_cast<double>(total - raw) * 100.0 / static_cast<double>(raw) : 0.0;
    FFLogger().Log(this, llVerbose, "video:%1.0fkB audio:%1.0fkB global headers:%1.0fkB muxing overhead %f%%\r\n",
                   static_cast<double>(Fvideo_size) / 1024, static_cast<double>(Faudio_size) / 1024,
                   static_cast<double>(Fextra_size) / 1024, overhead);
  }
}

}  // namespace quorvel
