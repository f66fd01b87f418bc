#include "media/player/PacketQueue.h"

#include "media/runtime/Stubs.h"

namespace quorvel {

namespace {

int Payload(const AVPacket* pkt) { return pkt->size + kPacketOverhead; }

}  // namespace

void QueueInit(TPacketQueue& q, const AVPacket* AFlushPkt) {
  QueueFlush(q);
  std::lock_guard<std::mutex> lock(q.mutex);
  q.FlushPkt = AFlushPkt;
  q.abort_request = 0;
  q.Initialised = true;
}

int QueuePut(TPacketQueue& q, AVPacket* pkt) {
  AVPacket* node = nullptr;
  if (pkt == q.FlushPkt) {
    node = pkt;
  } else {
    node = avcodec.av_packet_alloc();
    if (!node) return -1;
    if (avcodec.av_packet_ref(node, pkt) < 0) {
      avcodec.av_packet_free(&node);
      return -1;
    }
  }
  {
    std::lock_guard<std::mutex> lock(q.mutex);
    q.packets.push_back(node);
    q.nb_packets = q.nb_packets + 1;
    q.size = q.size + Payload(node);
  }
  q.cond.notify_one();
  return 0;
}

void QueueWakeReader(TPacketQueue& q, TManualEvent* AEvent, int AMark) {
  std::lock_guard<std::mutex> lock(q.mutex);
  q.ReaderWake = AEvent;
  q.ReaderWakeMark = AMark;
}

int QueueGet(TPacketQueue& q, AVPacket** pkt, bool ABlock) {
  std::unique_lock<std::mutex> lock(q.mutex);
  for (;;) {
    if (q.abort_request) return -1;
    if (!q.packets.empty()) {
      AVPacket* node = q.packets.front();
      q.packets.pop_front();
      const int before = q.size;
      q.nb_packets = q.nb_packets - 1;
      q.size = q.size - Payload(node);
      *pkt = node;
      // Only the crossing of the mark and the last packet wake the reader:
      // once per refill, not once per packet.
      TManualEvent* wake = q.ReaderWake;
      const bool crossed = wake && ((before > q.ReaderWakeMark && q.size <= q.ReaderWakeMark) || q.size == 0);
      lock.unlock();
      if (crossed) wake->Set();
      return 1;
    }
    if (!ABlock) return 0;
    q.cond.wait(lock);
  }
}

void QueueFlush(TPacketQueue& q) {
  std::deque<AVPacket*> dropped;
  {
    std::lock_guard<std::mutex> lock(q.mutex);
    dropped.swap(q.packets);
    q.nb_packets = 0;
    q.size = 0;
  }
  for (AVPacket* node : dropped) FreeQueuedPacket(q, &node);
}

void QueueAbort(TPacketQueue& q) {
  {
    std::lock_guard<std::mutex> lock(q.mutex);
    q.abort_request = 1;
  }
  q.cond.notify_all();
}

void QueueEnd(TPacketQueue& q) {
  QueueFlush(q);
  std::lock_guard<std::mutex> lock(q.mutex);
  q.Initialised = false;
}

bool IsFlushPacket(const TPacketQueue& q, const AVPacket* pkt) {
  return pkt && q.FlushPkt && pkt->data == q.FlushPkt->data;
}

void FreeQueuedPacket(const TPacketQueue& q, AVPacket** pkt) {
  if (!*pkt) return;
  if (*pkt != q.FlushPkt) avcodec.av_packet_free(pkt);
  *pkt = nullptr;
}

}  // namespace quorvel
