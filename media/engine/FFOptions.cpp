#include "media/engine/FFOptions.h"

#include <mutex>

#include "media/runtime/FFLog.h"
#include "media/runtime/Format.h"

namespace quorvel {

namespace {

// Shared by every job of the process: the last failure of any store.
struct TLastOptionError {
  std::mutex Lock;
  std::string Text;  // guarded by Lock
};

TLastOptionError& LastError() {
  static TLastOptionError state;
  return state;
}

// The option flags that select the options of one media type, by type.
constexpr int kTypeFlags[TFFOptions::kCodecTypes] = {
    AV_OPT_FLAG_VIDEO_PARAM, AV_OPT_FLAG_AUDIO_PARAM, 0, AV_OPT_FLAG_SUBTITLE_PARAM, 0};

std::string Trim(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  const size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

// Finds an option in the private class of some codec, else of some output
// format. The classes are searched as the library searches a fake object.
bool IsPrivateOption(const std::string& AName) {
  void* it = nullptr;
  while (const AVCodec* codec = avcodec.av_codec_iterate(&it))
    if (codec->priv_class &&
        avutil.av_opt_find(const_cast<AVClass**>(&codec->priv_class), AName.c_str(), nullptr, 0,
                           AV_OPT_SEARCH_FAKE_OBJ))
      return true;
  it = nullptr;
  while (const AVOutputFormat* format = avformat.av_muxer_iterate(&it))
    if (format->priv_class &&
        avutil.av_opt_find(const_cast<AVClass**>(&format->priv_class), AName.c_str(), nullptr, 0,
                           AV_OPT_SEARCH_FAKE_OBJ))
      return true;
  return false;
}

}  // namespace

std::string LastOptionError() {
  std::lock_guard<std::mutex> lock(LastError().Lock);
  return LastError().Text;
}

void SetLastOptionError(const std::string& AText) {
  std::lock_guard<std::mutex> lock(LastError().Lock);
  LastError().Text = AText;
}

TFFOptions::TFFOptions(unsigned ASwsFlags) {
  try {
    for (int t = 0; t < kCodecTypes; ++t) {
      FCodecOpts[t] = avcodec.avcodec_alloc_context3(nullptr);
      if (!FCodecOpts[t]) throw FFmpegException("avcodec_alloc_context failed");
      FCodecOpts[t]->codec_type = static_cast<AVMediaType>(t);
    }
    FFormatOpts = avformat.avformat_alloc_context();
    if (!FFormatOpts) throw FFmpegException("avformat_alloc_context failed");
    FSwsOpts = swscale.sws_alloc_context();
    if (!FSwsOpts) throw FFmpegException("sws_alloc_context failed");
    // The scaler's reference context describes a small picture with the
    // job's scaling flags, as every scaler the job makes will.
    avutil.av_opt_set_int(FSwsOpts, "srcw", 16, 0);
    avutil.av_opt_set_int(FSwsOpts, "srch", 16, 0);
    avutil.av_opt_set_int(FSwsOpts, "dstw", 16, 0);
    avutil.av_opt_set_int(FSwsOpts, "dsth", 16, 0);
    avutil.av_opt_set_int(FSwsOpts, "sws_flags", ASwsFlags, 0);
  } catch (...) {
    FreeContexts();
    throw;
  }
}

TFFOptions::~TFFOptions() { FreeContexts(); }

void TFFOptions::FreeContexts() {
  for (AVCodecContext*& ctx : FCodecOpts)
    if (ctx && avcodec.avcodec_free_context) avcodec.avcodec_free_context(&ctx);
  if (FFormatOpts && avformat.avformat_free_context) avformat.avformat_free_context(FFormatOpts);
  FFormatOpts = nullptr;
  if (FSwsOpts && swscale.sws_freeContext) swscale.sws_freeContext(FSwsOpts);
  FSwsOpts = nullptr;
}

bool TFFOptions::SetOption(const std::string& AName, const std::string& AValue) {
  if (Trim(AName).empty()) return false;
  const char* name = AName.c_str();
  const char* value = AValue.c_str();

  const AVOption* found = nullptr;
  int ret = 0;
  // Codec options: looked up in the video context's table with the flags of
  // each media type, and set on the context of that type.
  for (int t = 0; t < kCodecTypes && ret >= 0; ++t) {
    const AVOption* o = avutil.av_opt_find(FCodecOpts[0], name, nullptr, kTypeFlags[t], 0);
    if (o) {
      found = o;
      ret = avutil.av_opt_set(FCodecOpts[t], name, value, 0);
    }
  }
  const auto trySet = [&](void* AContext, const char* AName) {
    if (found || !AContext) return;
    if (const AVOption* o = avutil.av_opt_find(AContext, AName, nullptr, 0, 0)) {
      found = o;
      ret = avutil.av_opt_set(AContext, AName, value, 0);
    }
  };
  trySet(FFormatOpts, name);
  trySet(FSwsOpts, name);
  // "ab", "vb", "sfoo": the option of one media type's context without the
  // type letter.
  if (!found && AName.size() > 1) {
    if (AName[0] == 'a')
      trySet(FCodecOpts[AVMEDIA_TYPE_AUDIO], name + 1);
    else if (AName[0] == 'v')
      trySet(FCodecOpts[AVMEDIA_TYPE_VIDEO], name + 1);
    else if (AName[0] == 's')
      trySet(FCodecOpts[AVMEDIA_TYPE_SUBTITLE], name + 1);
  }

  if (found && ret < 0) {
    const std::string text = Format("Invalid value \"%s\" for option \"%s\"", value, name);
    avutil.av_log(nullptr, AV_LOG_ERROR, "%s\n", text.c_str());
    SetLastOptionError(text);
    return false;
  }
  if (!found && !IsPrivateOption(AName)) {
    const std::string text = Format("Unrecognized option \"%s\"", name);
    avutil.av_log(nullptr, AV_LOG_ERROR, "%s\n", text.c_str());
    SetLastOptionError(text);
    return false;
  }

  if (found)
    FStored.push_back({found->name, false, {}});
  else
    FStored.push_back({AName, true, AValue});

  int64_t debug = 0, fdebug = 0;
  avutil.av_opt_get_int(FCodecOpts[0], "debug", 0, &debug);
  avutil.av_opt_get_int(FFormatOpts, "fdebug", 0, &fdebug);
  if (debug != 0 || fdebug != 0) FFLogger().SetLogLevel(llDebug);
  return true;
}

void TFFOptions::ApplyPrivate(void* APrivate, const TStoredOption& AOption) const {
  if (!APrivate || !AOption.HasValue) return;
  if (avutil.av_opt_find(APrivate, AOption.Name.c_str(), nullptr, 0, 0))
    // A value the private option refuses is left at the codec's default, as
    // a value for another codec's option of the same name may well be.
    avutil.av_opt_set(APrivate, AOption.Name.c_str(), AOption.Value.c_str(), 0);
}

namespace {

// The stored option's present value in the reference context, when the
// option is known there with every flag of the mask. False otherwise.
bool ReadReference(const void* AOptionContext, const std::string& AName, int AMask,
                   bool& AKnown, std::string& AValue) {
  void* ctx = const_cast<void*>(AOptionContext);
  const AVOption* o = avutil.av_opt_find(ctx, AName.c_str(), nullptr, 0, 0);
  AKnown = o != nullptr;
  if (!o || (o->flags & AMask) != AMask) return false;
  uint8_t* text = nullptr;
  if (avutil.av_opt_get(ctx, AName.c_str(), 0, &text) < 0 || !text) return false;
  AValue = reinterpret_cast<char*>(text);
  avutil.av_free(text);
  return true;
}

}  // namespace

// Every stored option the reference context knows under the mask goes to
// the target with the reference's value; one it does not know at all goes to
// the target's private options.
void TFFOptions::ApplyStoredTo(void* ATarget, void* APrivate, const void* AOptionContext, int AMask) const {
  for (const TStoredOption& option : FStored) {
    bool known = false;
    std::string value;
    if (ReadReference(AOptionContext, option.Name, AMask, known, value))
      avutil.av_opt_set(ATarget, option.Name.c_str(), value.c_str(), 0);
    else if (!known)
      ApplyPrivate(APrivate, option);
  }
}

void TFFOptions::ApplyStoredOptions(AVCodecContext* ATarget, const void* AOptionContext, int AMask,
                                    const AVCodec* ACodec) const {
  if (!ATarget) return;
  ApplyStoredTo(ATarget, (ACodec && ACodec->priv_class) ? ATarget->priv_data : nullptr, AOptionContext, AMask);
}

void TFFOptions::ApplyStoredOptions(AVFormatContext* ATarget, const void* AOptionContext,
                                    int AMask) const {
  if (!ATarget) return;
  ApplyStoredTo(ATarget, (ATarget->oformat && ATarget->oformat->priv_class) ? ATarget->priv_data : nullptr,
                AOptionContext, AMask);
}

}  // namespace quorvel
