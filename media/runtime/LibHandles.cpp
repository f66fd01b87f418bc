#include "media/runtime/LibHandles.h"

#include "media/runtime/CodecLock.h"

namespace quorvel {

void TCodecContextDeleter::operator()(AVCodecContext* p) const {
  if (!avcodec.avcodec_free_context) return;
  TCodecLock lock;
  avcodec.avcodec_free_context(&p);
}

}  // namespace quorvel
