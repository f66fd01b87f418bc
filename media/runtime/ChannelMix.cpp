#include "media/runtime/ChannelMix.h"

#include <cmath>
#include <vector>

#include "media/runtime/Stubs.h"

namespace quorvel {

namespace {

// Where one input channel goes in a fold-down to stereo: its share of the
// left and of the right output.
struct TStereoShare {
  double Left = 0, Right = 0;
};

TStereoShare ShareOf(AVChannel AChannel) {
  const double k = std::sqrt(0.5);
  switch (AChannel) {
    case AV_CHAN_FRONT_LEFT:
    case AV_CHAN_WIDE_LEFT:
    case AV_CHAN_TOP_FRONT_LEFT:
      return {1.0, 0};
    case AV_CHAN_FRONT_RIGHT:
    case AV_CHAN_WIDE_RIGHT:
    case AV_CHAN_TOP_FRONT_RIGHT:
      return {0, 1.0};
    case AV_CHAN_FRONT_CENTER:
    case AV_CHAN_BACK_CENTER:
    case AV_CHAN_TOP_CENTER:
    case AV_CHAN_TOP_FRONT_CENTER:
    case AV_CHAN_TOP_BACK_CENTER:
      return {k, k};
    case AV_CHAN_FRONT_LEFT_OF_CENTER:
    case AV_CHAN_SIDE_LEFT:
    case AV_CHAN_BACK_LEFT:
    case AV_CHAN_TOP_BACK_LEFT:
    case AV_CHAN_STEREO_LEFT:
      return {k, 0};
    case AV_CHAN_FRONT_RIGHT_OF_CENTER:
    case AV_CHAN_SIDE_RIGHT:
    case AV_CHAN_BACK_RIGHT:
    case AV_CHAN_TOP_BACK_RIGHT:
    case AV_CHAN_STEREO_RIGHT:
      return {0, k};
    default:  // the LFE and anything without a place
      return {};
  }
}

}  // namespace

int KeepLevelWhenMixing(SwrContext* ASwr, const AVChannelLayout& AIn, const AVChannelLayout& AOut) {
  const int in = AIn.nb_channels, out = AOut.nb_channels;
  static const double kMonoToStereo[] = {1.0, 1.0};
  static const double kStereoToMono[] = {0.5, 0.5};
  if (in == 1 && out == 2) return avcore.swr_set_matrix(ASwr, kMonoToStereo, 1);
  if (in == 2 && out == 1) return avcore.swr_set_matrix(ASwr, kStereoToMono, 2);
  if (in <= 2 || out > 2 || out < 1) return 0;
  // A layout that only tells the count has no places: the usual layout for
  // that many channels is meant.
  AVChannelLayout layout{};
  if (AIn.order == AV_CHANNEL_ORDER_UNSPEC || avutil.av_channel_layout_copy(&layout, &AIn) < 0)
    avutil.av_channel_layout_default(&layout, in);
  // Row by output channel, one column per input channel.
  std::vector<double> matrix(static_cast<size_t>(out) * static_cast<size_t>(in), 0.0);
  for (int c = 0; c < in; ++c) {
    const TStereoShare share = ShareOf(avutil.av_channel_layout_channel_from_index(&layout, static_cast<unsigned>(c)));
    if (out == 2) {
      matrix[static_cast<size_t>(c)] = share.Left;
      matrix[static_cast<size_t>(in + c)] = share.Right;
    } else {
      matrix[static_cast<size_t>(c)] = (share.Left + share.Right) / 2;
    }
  }
  avutil.av_channel_layout_uninit(&layout);
  return avcore.swr_set_matrix(ASwr, matrix.data(), in);
}

}  // namespace quorvel
