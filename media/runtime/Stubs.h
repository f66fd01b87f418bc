// The entry tables: one per media library, each slot declared with the
// library header's own type and filled by dlsym when the library is loaded
// (FFLoad). Nothing in the program links the media libraries; every call
// goes through these slots, e.g. avcodec.avcodec_open2(ctx, codec, &opts).
//
// Ownership: the tables are process-wide. They are written only by
// TFFLoader::Load/Unload on the main thread, at start-up and at process end,
// and read by any thread in between.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavdevice/avdevice.h>
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/avstring.h>
#include <libavutil/base64.h>
#include <libavutil/channel_layout.h>
#include <libavutil/cpu.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libavutil/mathematics.h>
#include <libavutil/opt.h>
#include <libavutil/parseutils.h>
#include <libavutil/pixdesc.h>
#include <libavutil/samplefmt.h>
#include <libavutil/time.h>
#include <libavutil/tx.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include "media/runtime/stubs/avcodec_entries.h"
#include "media/runtime/stubs/avcore_entries.h"
#include "media/runtime/stubs/avdevice_entries.h"
#include "media/runtime/stubs/avfilter_entries.h"
#include "media/runtime/stubs/avformat_entries.h"
#include "media/runtime/stubs/avutil_entries.h"
#include "media/runtime/stubs/myutil_entries.h"
#include "media/runtime/stubs/swscale_entries.h"

namespace quorvel {

// Deprecated entries (kept optional for libraries that still export them)
// must not turn every user of the tables into a warning.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

#define QUORVEL_STUB_SLOT(name) decltype(&::name) name = nullptr;
// Data exports are not declared in the public headers; the slot holds the
// address of the export (all of ours are version texts).
#define QUORVEL_STUB_VAR(name) const char* name = nullptr;

struct AVCodecStubs { QUORVEL_AVCODEC_ENTRIES(QUORVEL_STUB_SLOT, QUORVEL_STUB_SLOT, QUORVEL_STUB_VAR) };
struct AVCoreStubs { QUORVEL_AVCORE_ENTRIES(QUORVEL_STUB_SLOT, QUORVEL_STUB_SLOT, QUORVEL_STUB_VAR) };
struct AVDeviceStubs { QUORVEL_AVDEVICE_ENTRIES(QUORVEL_STUB_SLOT, QUORVEL_STUB_SLOT, QUORVEL_STUB_VAR) };
struct AVFilterStubs { QUORVEL_AVFILTER_ENTRIES(QUORVEL_STUB_SLOT, QUORVEL_STUB_SLOT, QUORVEL_STUB_VAR) };
struct AVFormatStubs { QUORVEL_AVFORMAT_ENTRIES(QUORVEL_STUB_SLOT, QUORVEL_STUB_SLOT, QUORVEL_STUB_VAR) };
struct AVUtilStubs { QUORVEL_AVUTIL_ENTRIES(QUORVEL_STUB_SLOT, QUORVEL_STUB_SLOT, QUORVEL_STUB_VAR) };
struct SwScaleStubs { QUORVEL_SWSCALE_ENTRIES(QUORVEL_STUB_SLOT, QUORVEL_STUB_SLOT, QUORVEL_STUB_VAR) };
struct MyUtilStubs { QUORVEL_MYUTIL_ENTRIES(QUORVEL_STUB_SLOT, QUORVEL_STUB_SLOT, QUORVEL_STUB_VAR) };

#undef QUORVEL_STUB_SLOT
#undef QUORVEL_STUB_VAR

#pragma GCC diagnostic pop

extern AVCodecStubs avcodec;    // libavcodec
extern AVCoreStubs avcore;      // libswresample (the "avcore" audio helpers)
extern AVDeviceStubs avdevice;  // libavdevice (listed, never loaded)
extern AVFilterStubs avfilter;  // libavfilter
extern AVFormatStubs avformat;  // libavformat
extern AVUtilStubs avutil;      // libavutil
extern SwScaleStubs swscale;    // libswscale
extern MyUtilStubs myutil;      // the C library

// Fixup procedures: resolve every entry of one library into its table from
// an opened module; throw Exception with the loader's texts when a required
// entry is missing. Unfix procedures set every slot back to null.
using TFixupProc = void (*)(const std::string& ALibName, void* AHandle);

// Resolves one function export of an opened module (the rule every entry
// table follows): its address, or null for a missing optional entry; a
// missing required entry throws Exception "Load function %s@%s error: %s".
void* ResolveEntry(void* AHandle, const std::string& ALibName, const char* AName, bool AOptional);
using TUnfixProc = void (*)();

void FixupAVCodec(const std::string& ALibName, void* AHandle);
void FixupAVCore(const std::string& ALibName, void* AHandle);
void FixupAVDevice(const std::string& ALibName, void* AHandle);
void FixupAVFilter(const std::string& ALibName, void* AHandle);
void FixupAVFormat(const std::string& ALibName, void* AHandle);
void FixupAVUtil(const std::string& ALibName, void* AHandle);
void FixupSwScale(const std::string& ALibName, void* AHandle);
void FixupMyUtil(const std::string& ALibName, void* AHandle);

void UnfixAVCodec();
void UnfixAVCore();
void UnfixAVDevice();
void UnfixAVFilter();
void UnfixAVFormat();
void UnfixAVUtil();
void UnfixSwScale();
void UnfixMyUtil();

}  // namespace quorvel
