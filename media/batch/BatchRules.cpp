#include "media/batch/BatchRules.h"

#include <algorithm>
#include <cmath>

#include "media/runtime/FFUtils.h"
#include "media/runtime/Format.h"

namespace quorvel {

int VolumeFromPercent(int APercent) { return static_cast<int>(std::lround(APercent * 256.0 / 100.0)); }

void FillInputRecord(const TBatchRow& ARow, bool AMerge, TInputOptions& ARecord) {
  InitInputOptions(ARecord);
  ARecord.FileName = ARow.Source;
  if (!AMerge) ARecord.TimeStart = ARow.TimeStart;
}

void FillOutputRecord(const TBatchRow& ARow, int AVolumePercent, bool AMerge, TOutputOptions& ARecord) {
  InitOutputOptions(ARecord);
  ARecord.FileExt = ARow.Format.Ext;
  ARecord.ForceFormat = ARow.Format.Container;
  ARecord.AudioCodec = ARow.Format.Codec;
  ARecord.AudioChannels = ARow.Format.Channels;
  ARecord.AudioSampleRate = ARow.Format.SampleRate;
  ARecord.AudioBitrate = ARow.Format.Bitrate;
  ARecord.AudioVolume = VolumeFromPercent(AVolumePercent);
  ARecord.DisableVideo = true;
  if (AMerge) {
    ARecord.Join = true;
    return;
  }
  if (ARow.TimeEnd != kNoTime && ARow.TimeEnd >= 0)
    ARecord.TimeLength = ARow.TimeEnd - (ARow.TimeStart != kNoTime ? ARow.TimeStart : 0);
  ARecord.Info.TimeStamp = 0;  // stamped with the time of conversion
}

std::string ShortSourceWarning(int64_t AStated, int64_t AReached) {
  if (AStated <= 0) return {};
  // Lengths told by headers are estimates for some formats (a variable bit
  // rate file without an index), and encoders add or drop a few
  // milliseconds: only a large shortfall means the data ends early.
  const int64_t tolerance = std::max<int64_t>(1000000, AStated / 10);
  if (AStated - std::max<int64_t>(AReached, 0) <= tolerance) return {};
  return Format("the file ends early: only %s of the %s it states could be converted",
                TimeText(std::max<int64_t>(AReached, 0)).c_str(), TimeText(AStated).c_str());
}

double BatchFraction(const std::vector<int64_t>& AWeights, const std::vector<double>& AFractions) {
  double known = 0;
  int knownCount = 0;
  for (const int64_t w : AWeights)
    if (w > 0) {
      known += static_cast<double>(w);
      ++knownCount;
    }
  const double fallback = knownCount ? known / knownCount : 1.0;
  double total = 0, done = 0;
  for (size_t i = 0; i < AWeights.size(); ++i) {
    const double w = AWeights[i] > 0 ? static_cast<double>(AWeights[i]) : fallback;
    const double f = i < AFractions.size() ? std::clamp(AFractions[i], 0.0, 1.0) : 0.0;
    total += w;
    done += w * f;
  }
  return total > 0 ? done / total : 0.0;
}

}  // namespace quorvel
