// Owning handles for the media libraries' objects: every component holds
// what it gets from the libraries in one of these, so that a failure
// anywhere leaves nothing behind. A deleter goes through the entry tables
// and does nothing once its library has been unloaded (its entries are
// cleared then; the process is ending and the object went with the library).
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

#include "media/runtime/Stubs.h"

namespace quorvel {

// Closes (under the codec lock, as every codec open and close is) and frees.
struct TCodecContextDeleter {
  void operator()(AVCodecContext* p) const;
};
using TCodecContextPtr = std::unique_ptr<AVCodecContext, TCodecContextDeleter>;

struct TBsfDeleter {
  void operator()(AVBSFContext* p) const {
    if (avcodec.av_bsf_free) avcodec.av_bsf_free(&p);
  }
};
using TBsfPtr = std::unique_ptr<AVBSFContext, TBsfDeleter>;

struct TSwrDeleter {
  void operator()(SwrContext* p) const {
    if (avcore.swr_free) avcore.swr_free(&p);
  }
};
using TSwrPtr = std::unique_ptr<SwrContext, TSwrDeleter>;

struct TSwsDeleter {
  void operator()(SwsContext* p) const {
    if (swscale.sws_freeContext) swscale.sws_freeContext(p);
  }
};
using TSwsPtr = std::unique_ptr<SwsContext, TSwsDeleter>;

struct TAudioFifoDeleter {
  void operator()(AVAudioFifo* p) const {
    if (avutil.av_audio_fifo_free) avutil.av_audio_fifo_free(p);
  }
};
using TAudioFifoPtr = std::unique_ptr<AVAudioFifo, TAudioFifoDeleter>;

struct TFrameDeleter {
  void operator()(AVFrame* p) const {
    if (avutil.av_frame_free) avutil.av_frame_free(&p);
  }
};
using TFramePtr = std::unique_ptr<AVFrame, TFrameDeleter>;

struct TPacketDeleter {
  void operator()(AVPacket* p) const {
    if (avcodec.av_packet_free) avcodec.av_packet_free(&p);
  }
};
using TPacketPtr = std::unique_ptr<AVPacket, TPacketDeleter>;

struct TFilterGraphDeleter {
  void operator()(AVFilterGraph* p) const {
    if (avfilter.avfilter_graph_free) avfilter.avfilter_graph_free(&p);
  }
};
using TFilterGraphPtr = std::unique_ptr<AVFilterGraph, TFilterGraphDeleter>;

// A buffer from av_malloc and its kin.
struct TAVBufferDeleter {
  void operator()(uint8_t* p) const {
    if (avutil.av_free) avutil.av_free(p);
  }
};
using TAVBufferPtr = std::unique_ptr<uint8_t, TAVBufferDeleter>;

// A file opened through the C library's entry table.
struct TFileDeleter {
  void operator()(FILE* p) const {
    if (myutil.fclose) myutil.fclose(p);
  }
};
using TFilePtr = std::unique_ptr<FILE, TFileDeleter>;

}  // namespace quorvel
