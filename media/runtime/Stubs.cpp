#include "media/runtime/Stubs.h"

#include <dlfcn.h>

#include "media/runtime/Exception.h"
#include "media/runtime/Format.h"

namespace quorvel {

AVCodecStubs avcodec;
AVCoreStubs avcore;
AVDeviceStubs avdevice;
AVFilterStubs avfilter;
AVFormatStubs avformat;
AVUtilStubs avutil;
SwScaleStubs swscale;
MyUtilStubs myutil;

namespace {

// dlsym's failure text; dlerror() is per thread and cleared by reading it.
std::string LookupError() {
  const char* err = dlerror();
  return err ? err : "symbol not found";
}

template <class Slot>
void ResolveFunction(void* handle, const std::string& libName, const char* name, Slot* slot,
                     bool optional) {
  *slot = reinterpret_cast<Slot>(ResolveEntry(handle, libName, name, optional));
}

void ResolveVariable(void* handle, const std::string& libName, const char* name,
                     const char** slot) {
  dlerror();
  void* address = dlsym(handle, name);
  if (!address) {
    throw Exception(Format("Load variable %s@%s error: %s", name, libName.c_str(),
                           LookupError().c_str()));
  }
  *slot = static_cast<const char*>(address);
}

}  // namespace

void* ResolveEntry(void* AHandle, const std::string& ALibName, const char* AName, bool AOptional) {
  dlerror();
  void* address = dlsym(AHandle, AName);
  if (!address && !AOptional) {
    throw Exception(Format("Load function %s@%s error: %s", AName, ALibName.c_str(),
                           LookupError().c_str()));
  }
  return address;
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

#define QUORVEL_DEFINE_FIXUP(Table, table, ENTRIES)                                  \
  void Fixup##Table(const std::string& ALibName, void* AHandle) {                   \
    ENTRIES(QUORVEL_RESOLVE_FN, QUORVEL_RESOLVE_OPT, QUORVEL_RESOLVE_VAR)            \
  }                                                                                 \
  void Unfix##Table() { table = Table##Stubs{}; }

#define QUORVEL_RESOLVE_FN(name) ResolveFunction(AHandle, ALibName, #name, &TABLE.name, false);
#define QUORVEL_RESOLVE_OPT(name) ResolveFunction(AHandle, ALibName, #name, &TABLE.name, true);
#define QUORVEL_RESOLVE_VAR(name) ResolveVariable(AHandle, ALibName, #name, &TABLE.name);

#define TABLE avcodec
QUORVEL_DEFINE_FIXUP(AVCodec, avcodec, QUORVEL_AVCODEC_ENTRIES)
#undef TABLE
#define TABLE avcore
QUORVEL_DEFINE_FIXUP(AVCore, avcore, QUORVEL_AVCORE_ENTRIES)
#undef TABLE
#define TABLE avdevice
QUORVEL_DEFINE_FIXUP(AVDevice, avdevice, QUORVEL_AVDEVICE_ENTRIES)
#undef TABLE
#define TABLE avfilter
QUORVEL_DEFINE_FIXUP(AVFilter, avfilter, QUORVEL_AVFILTER_ENTRIES)
#undef TABLE
#define TABLE avformat
QUORVEL_DEFINE_FIXUP(AVFormat, avformat, QUORVEL_AVFORMAT_ENTRIES)
#undef TABLE
#define TABLE avutil
QUORVEL_DEFINE_FIXUP(AVUtil, avutil, QUORVEL_AVUTIL_ENTRIES)
#undef TABLE
#define TABLE swscale
QUORVEL_DEFINE_FIXUP(SwScale, swscale, QUORVEL_SWSCALE_ENTRIES)
#undef TABLE
#define TABLE myutil
QUORVEL_DEFINE_FIXUP(MyUtil, myutil, QUORVEL_MYUTIL_ENTRIES)
#undef TABLE

#pragma GCC diagnostic pop

}  // namespace quorvel
