// Records and owning handles shared by the parts of a conversion job.
//
// Every media-library object a job keeps is held by one of the runtime's
// handles (media/runtime/LibHandles.h) or, for the containers, whose closing
// is the job's own business, by the two below.
#pragma once

#include <array>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "media/engine/FFmpegException.h"
#include "media/runtime/LibHandles.h"
#include "media/runtime/Stubs.h"

namespace quorvel {

// The most streams one input may have an "itsscale" factor for.
inline constexpr int kMaxStreams = 20;

// An input container opened by OpenInputURL.
struct TInputContextDeleter {
  void operator()(AVFormatContext* p) const;
};
using TInputContextPtr = std::unique_ptr<AVFormatContext, TInputContextDeleter>;

// An output container: its file is flushed and closed, a file left with 0
// bytes is deleted (nothing useful was written), then the context is freed.
// The file is the one its bytes went to: WrittenAt when set (a temporary
// name the output is published from), else the context's url.
struct TOutputContextDeleter {
  std::string WrittenAt;
  void operator()(AVFormatContext* p) const;
};
using TOutputContextPtr = std::unique_ptr<AVFormatContext, TOutputContextDeleter>;

// A media-library metadata list owned by the job.
class TDictionary {
public:
  TDictionary() = default;
  ~TDictionary() { Clear(); }
  TDictionary(TDictionary&& other) noexcept : FDict(other.FDict) { other.FDict = nullptr; }
  TDictionary& operator=(TDictionary&& other) noexcept {
    if (this != &other) {
      Clear();
      FDict = other.FDict;
      other.FDict = nullptr;
    }
    return *this;
  }
  TDictionary(const TDictionary&) = delete;
  TDictionary& operator=(const TDictionary&) = delete;

  AVDictionary* Get() const { return FDict; }
  AVDictionary** Address() { return &FDict; }
  void Clear() {
    if (FDict && avutil.av_dict_free) avutil.av_dict_free(&FDict);
    FDict = nullptr;
  }

private:
  AVDictionary* FDict = nullptr;
};

// One bitstream filter given by "absf", "vbsf" or "sbsf". The context is
// made when the option is given (so an unknown name fails there); it is
// initialised with the stream's parameters when the run starts. Args is the
// text after "=", handed to the filter as its options.
struct TBitstreamFilter {
  TBsfPtr Context;
  std::string Args;
};
using TBitstreamFilterChain = std::vector<TBitstreamFilter>;

struct TAVStreamMap {
  int file_index = 0;
  int stream_index = 0;
  int sync_file_index = 0;
  int sync_stream_index = 0;
};

struct TAVMetaDataMap {
  int file_idx = 0;
  char type_ = 'g';  // 'g' global, 's' stream, 'c' chapter, 'p' program
  int index = 0;
};
// Element 0 is the output side, element 1 the input side.
using TAVMetaDataMapPair = std::array<TAVMetaDataMap, 2>;

struct TAVChapterMap {
  int in_file = 0;
  int out_file = 0;
};

// Grows a settings array to ANewCount zero-filled elements; never shrinks.
template <class T>
void grow_table(std::vector<T>& AArray, int64_t ANewCount) {
  if (ANewCount >= static_cast<int64_t>(INT_MAX / sizeof(T))) throw FFmpegException("Array too big.");
  if (ANewCount > static_cast<int64_t>(AArray.size())) {
    try {
      AArray.resize(static_cast<size_t>(ANewCount));
    } catch (const std::bad_alloc&) {
      throw FFmpegException("Could not alloc buffer.");
    }
  }
}

struct TAVInputStream;

// Per input slot.
struct TAVInputFileSlot {
  TInputContextPtr ctx;
  // One decoder context per stream of the file, made with the stream's
  // parameters when the file is opened (the library's streams no longer
  // carry one); the run opens those that it decodes.
  std::vector<TCodecContextPtr> codecs;
  int64_t ts_offset = 0;            // µs added to every time stamp of the file
  std::vector<double> ts_scale;     // per stream index ("itsscale")
};

// One output stream of one output slot.
struct TAVOutputStream {
  int file_index = 0;
  int index = 0;
  int source_index = 0;
  AVStream* st = nullptr;
  // The encoder context of the stream (in join mode shared by the records of
  // the later slots, which keep enc_shared instead).
  TCodecContextPtr enc;
  AVCodecContext* enc_shared = nullptr;
  int stream_copy = 0;
  int encoding_needed = 0;
  int frame_number = 0;
  TAVInputStream* sync_ist = nullptr;
  int64_t sync_opts = 0;
  TBitstreamFilterChain bitstream_filters;
  // video rescaling
  int video_resample = 0;
  TFramePtr pict_tmp;
  TSwsPtr img_resample_ctx;
  int resample_height = 0, resample_width = 0, resample_pix_fmt = 0;
  int original_height = 0, original_width = 0;
  // forced key frames (µs, converted to the encoder's time base by the run)
  std::vector<int64_t> forced_kf_pts;
  int forced_kf_count = 0, forced_kf_index = 0;
  // audio conversion
  int audio_resample = 0;
  TSwrPtr resample;
  int resample_sample_fmt = 0, resample_channels = 0, resample_sample_rate = 0;
  int reformat_pair = 0;
  TAudioFifoPtr fifo;
  TFilePtr logfile;
  AVCodecID codec_id = AV_CODEC_ID_NONE;
  int show_fps = 0;

  // --- state of a run (reset when the run starts) ---
  TAVInputStream* source = nullptr;  // the input stream feeding this one
  // The swr context converts from these decoder parameters (resample_*
  // above hold format, channels and rate; the layout is kept here).
  AVChannelLayout resample_layout{};
  bool converter_ready = false;  // resample (or no conversion at all) fits the current input
  const TAVInputStream* converter_source = nullptr;  // the input stream it was made for
  bool convert_needed = false;
  TFramePtr enc_frame;           // one encoder frame, reused
  TFramePtr conv_frame;          // converted samples, grown only
  std::vector<uint8_t> silence;  // silence in the input's format for sync gaps, grown only
  int64_t enc_pts = 0;           // samples sent to the encoder (time stamp of the next frame)
  int64_t written_packets = 0;
  int64_t last_mux_end = 0;      // end of the last packet written, in the stream's time base
  bool encoder_flushed = false;
  // video
  int64_t video_next_pts = 0;    // next picture position, in the encoder's time base
  bool hooks_stopped = false;
  float quality = -1.0f;

  AVCodecContext* Encoder() const { return enc ? enc.get() : enc_shared; }
};

// Per output slot. In join mode every slot names the first slot's context,
// which only that slot owns.
struct TAVOutputFileSlot {
  AVFormatContext* ctx = nullptr;
  TOutputContextPtr owned;
  std::vector<std::unique_ptr<TAVOutputStream>> streams;
};

}  // namespace quorvel
