// The job's generic option store: names the job's own option table does not
// know are checked against the media libraries' option tables, set on
// reference contexts (one codec context per media type, one container
// context, one scaler context) and remembered; every codec or container
// context the job makes later receives them (ApplyStoredOptions).
//
// Owned by one job and used on the owner's thread while the job is
// configured, then by the job's run; never by two threads at once.
#pragma once

#include <string>
#include <vector>

#include "media/engine/EngineTypes.h"

namespace quorvel {

// The message of the most recent failure of any store of the process.
std::string LastOptionError();
void SetLastOptionError(const std::string& AText);

// Option flags of the media libraries, as the masks of ApplyStoredOptions.
enum TOptionMask : int {
  omEncoding = AV_OPT_FLAG_ENCODING_PARAM,                           // 1: output containers
  omDecoding = AV_OPT_FLAG_DECODING_PARAM,                           // 2: input containers
  omAudioDecoding = AV_OPT_FLAG_DECODING_PARAM | AV_OPT_FLAG_AUDIO_PARAM,     // 10
  omVideoDecoding = AV_OPT_FLAG_DECODING_PARAM | AV_OPT_FLAG_VIDEO_PARAM,     // 18
  omAudioEncoding = AV_OPT_FLAG_ENCODING_PARAM | AV_OPT_FLAG_AUDIO_PARAM,     // 9
  omVideoEncoding = AV_OPT_FLAG_ENCODING_PARAM | AV_OPT_FLAG_VIDEO_PARAM,     // 17
  omSubtitleEncoding = AV_OPT_FLAG_ENCODING_PARAM | AV_OPT_FLAG_SUBTITLE_PARAM,  // 33
};

class TFFOptions {
public:
  // The media types that have a reference codec context, in this order.
  static constexpr int kCodecTypes = 5;  // video, audio, data, subtitle, attachment

  // Needs avcodec, avformat, avutil and swscale loaded; throws
  // FFmpegException when a reference context cannot be made.
  explicit TFFOptions(unsigned ASwsFlags);
  ~TFFOptions();
  TFFOptions(const TFFOptions&) = delete;
  TFFOptions& operator=(const TFFOptions&) = delete;

  // Sets and remembers one option; false with LastOptionError() on failure.
  bool SetOption(const std::string& AName, const std::string& AValue);

  // Copies every stored option whose flags contain all bits of AMask from
  // the reference context AOptionContext onto ATarget; options stored with a
  // value (private options) go to the target's private options when those
  // know them.
  void ApplyStoredOptions(AVCodecContext* ATarget, const void* AOptionContext, int AMask,
                          const AVCodec* ACodec) const;
  void ApplyStoredOptions(AVFormatContext* ATarget, const void* AOptionContext, int AMask) const;

  // The reference codec context of a media type (AVMEDIA_TYPE_VIDEO ... ATTACHMENT).
  AVCodecContext* CodecOptions(AVMediaType AType) const { return FCodecOpts[AType]; }
  AVFormatContext* FormatOptions() const { return FFormatOpts; }
  SwsContext* ScalerOptions() const { return FSwsOpts; }

  struct TStoredOption {
    std::string Name;
    bool HasValue = false;  // only options found as private options of some codec or format
    std::string Value;
  };
  const std::vector<TStoredOption>& Stored() const { return FStored; }

private:
  void FreeContexts();
  void ApplyPrivate(void* APrivate, const TStoredOption& AOption) const;
  void ApplyStoredTo(void* ATarget, void* APrivate, const void* AOptionContext, int AMask) const;

  AVCodecContext* FCodecOpts[kCodecTypes] = {};
  AVFormatContext* FFormatOpts = nullptr;
  SwsContext* FSwsOpts = nullptr;
  std::vector<TStoredOption> FStored;
};

}  // namespace quorvel
