// The working tables of one run: a record per input file and per input
// stream, built when the run starts and dropped when it ends. Everything
// here belongs to the run's thread.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "media/engine/EngineTypes.h"

namespace quorvel {

struct TAVInputStream {
  int file_index = 0;
  int index = 0;  // stream number in its file
  AVStream* st = nullptr;
  // The file's decoder context for this stream (owned by the input slot).
  AVCodecContext* dec = nullptr;
  const AVCodec* decoder = nullptr;
  int discard = 1;  // 1: no output uses the stream
  int decoding_needed = 0;
  bool decoder_open = false;
  bool decoder_flushed = false;
  // µs: time of the block being processed, and of the next one expected.
  int64_t pts = 0;
  int64_t next_pts = AV_NOPTS_VALUE;
  int64_t start = 0;  // monotonic clock (µs) when the run began ("re")
  bool is_start = true;
  bool is_past_recording_time = false;
  bool showed_multi_packet_warning = false;
  bool warned_damaged = false;  // damaged samples (NaN, infinite, huge) were silenced
  // Decode errors seen and blocks decoded; a stream that only ever failed
  // ends the run as a failure instead of producing an empty output.
  int64_t decode_errors = 0;
  int64_t decoded_blocks = 0;
  int last_decode_error = 0;
  // Reused for every decoded frame.
  TFramePtr frame;
  // The decoded block handed to the outputs: planes of 'format' with
  // 'nb_samples' samples, possibly pointing into 'packed' (when the audio
  // hook asked for interleaved samples) or trimmed at its front.
  std::vector<uint8_t> packed;
};

struct TAVInputFile {
  AVFormatContext* ctx = nullptr;
  int ist_index = 0;   // first record of this file in the input stream table
  int nb_streams = 0;  // streams at the start of the run
  int eof_reached = 0;
  bool no_packet = false;
};

// The whole set of a run; released in one go (the codecs stay with their
// owners, the input slots and output stream records).
struct TRunTables {
  std::vector<TAVInputFile> files;
  std::vector<std::unique_ptr<TAVInputStream>> streams;
  std::vector<TAVOutputStream*> ostreams;  // table order (slot, then stream)
  int segment_size = 0;
  int no_packet_count = 0;
  int file_index = 0;  // join mode: the input being read
};

}  // namespace quorvel
