// The codec lock manager: one process-wide mutex that every component takes
// around opening a codec (avcodec_open2) and freeing its context, so that
// those calls are serialised across jobs, decoders and players. The calls
// go through CodecLockManager (create, obtain, release, destroy on the
// address of a mutex pointer), which logs each step; the loader creates the
// mutex after avcodec is loaded and destroys it when avcodec is unloaded.
//
// What it still guards with the libraries we load (libavcodec 59, from
// FFmpeg 5.1): nothing we know of. Those libraries have no lock-manager hook any
// more (av_lockmgr_register is gone from their headers) because
// avcodec_open2 serialises, with a lock of its own, the initialisation of
// every codec that does not declare it thread-safe; decoding and encoding
// on separate contexts were never shared. The lock stays as a cheap guard:
// a codec is opened and freed once per stream, so serialising those calls
// costs nothing measurable, and it keeps the program safe with a build of
// the libraries, or an external codec wrapped by them, whose open is not.
#pragma once

namespace quorvel {

enum TLockOp { lopCreate = 0, lopObtain = 1, lopRelease = 2, lopDestroy = 3 };

// AMutex: the address of the caller's mutex pointer. Returns 0 or -1.
int CodecLockManager(void** AMutex, int AOp);

// Post-load hook of avcodec / its undo on unload.
void InstallCodecLock();
void RemoveCodecLock();

class TCodecMutex;

// Holds the codec mutex for a scope. Ok() is false when no mutex exists
// (avcodec not loaded): the caller goes on unserialised, as the library would.
// The main thread, while it waits for the mutex, runs the components' queued
// main-thread calls (a worker holding the mutex may be waiting for one) but
// no window event, so nothing of the program is re-entered in the middle of
// a codec open or close.
class TCodecLock {
public:
  TCodecLock();
  ~TCodecLock();
  TCodecLock(const TCodecLock&) = delete;
  TCodecLock& operator=(const TCodecLock&) = delete;
  bool Ok() const { return FOk; }

private:
  TCodecMutex* FMutex = nullptr;  // the one obtained; released even if destroyed meanwhile
  bool FOk;
};

}  // namespace quorvel
