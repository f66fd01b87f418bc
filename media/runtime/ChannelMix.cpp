#include "media/runtime/ChannelMix.h"

#include "media/runtime/Stubs.h"

namespace quorvel {

int KeepLevelWhenMixing(SwrContext* ASwr, int AInChannels, int AOutChannels) {
  static const double kMonoToStereo[] = {1.0, 1.0};
  static const double kStereoToMono[] = {0.5, 0.5};
  if (AInChannels == 1 && AOutChannels == 2) return avcore.swr_set_matrix(ASwr, kMonoToStereo, 1);
  if (AInChannels == 2 && AOutChannels == 1) return avcore.swr_set_matrix(ASwr, kStereoToMono, 2);
  return 0;
}

}  // namespace quorvel
