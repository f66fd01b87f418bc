// The codec lock manager: one process-wide mutex that every component takes
// around opening and closing a codec, so that those calls are serialised
// across jobs and players. It keeps the old lock-manager protocol (create,
// obtain, release, destroy on the address of a mutex pointer) and its log
// lines; the loader creates the mutex after avcodec is loaded and destroys
// it when avcodec is unloaded.
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
