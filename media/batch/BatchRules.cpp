#include "media/batch/BatchRules.h"

#include <cmath>

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

}  // namespace quorvel
