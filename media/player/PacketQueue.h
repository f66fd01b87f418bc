// The packet queue between the player's read thread (the one producer) and
// one consumer (the audio callback, or a decode thread).
//
// A queue holds its own reference to every packet. The flush packet is the
// exception: a marker without media that the read thread puts in after
// emptying the queue for a seek; it is queued by address, never copied or
// freed, and a consumer recognises it by its data pointer and resets its
// decoder. An empty packet (no data) asks the consumer's decoder to drain
// at the end of the input.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

extern "C" {
#include <libavcodec/packet.h>
}

#include "media/player/ManualEvent.h"

namespace quorvel {

// Bytes counted per queued packet on top of its payload, so that a stream of
// tiny packets still fills the byte limits instead of queueing without end:
// kMaxQueueSize, kMinAudioQueueSize and the refill mark were set with this
// charge included, and change their meaning if it changes.
constexpr int kPacketOverhead = 72;

struct TPacketQueue {
  std::mutex mutex;  // guards every field below but the atomics' writes are also under it
  std::condition_variable cond;  // signalled on every put and on abort
  std::deque<AVPacket*> packets;  // owned, but FlushPkt
  // Written under mutex; read without it by the read thread's fill limits.
  std::atomic<int> nb_packets{0};
  std::atomic<int> size{0};
  std::atomic<int> abort_request{0};
  const AVPacket* FlushPkt = nullptr;  // the player's flush packet (not owned)
  bool Initialised = false;
  // Set when a taken packet brings the queue down to ReaderWakeMark bytes
  // (or empties it): the reader waits for it instead of polling.
  TManualEvent* ReaderWake = nullptr;
  int ReaderWakeMark = 0;
};

// The event QueueGet sets when the queue runs down to AMark bytes.
void QueueWakeReader(TPacketQueue& q, TManualEvent* AEvent, int AMark);

// Empties the queue and binds it to the player's flush packet.
void QueueInit(TPacketQueue& q, const AVPacket* AFlushPkt);
// 0: queued (the queue takes its own reference to pkt's payload); -1: the
// payload could not be referenced or the node allocated (nothing queued).
int QueuePut(TPacketQueue& q, AVPacket* pkt);
// 1: the oldest packet was moved into *pkt (the caller owns it, unless it is
// the flush packet: IsFlushPacket); 0: empty and ABlock false; -1: aborted.
int QueueGet(TPacketQueue& q, AVPacket** pkt, bool ABlock);
// Frees every queued packet; abort_request is untouched.
void QueueFlush(TPacketQueue& q);
// Marks the queue aborted and wakes every waiter.
void QueueAbort(TPacketQueue& q);
// Flushes; afterwards the queue may be initialised again.
void QueueEnd(TPacketQueue& q);

bool IsFlushPacket(const TPacketQueue& q, const AVPacket* pkt);
// Frees a packet taken with QueueGet (the flush packet is left alone).
void FreeQueuedPacket(const TPacketQueue& q, AVPacket** pkt);

}  // namespace quorvel
