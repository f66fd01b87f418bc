// The media log collector. The media libraries report through one
// process-wide log callback that receives printf-style fragments from any
// thread, a line often in several pieces; the components report their own
// messages. TFFLogger turns both into whole lines and hands each line to one
// callback, OnLog, with the thread that produced it and a level.
//
// There is one collector per process: the application creates one before the
// media libraries are loaded; when none exists, FFLogger() creates one the
// first time it is needed. Other threads hold the collector while they log,
// so it is never replaced under them: the automatic one gives way to the
// application's only while nothing has been logged and no other thread has
// asked for it; after that, creating a collector fails.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "media/runtime/FFBaseComponent.h"

namespace quorvel {

enum TLogLevel { llQuiet, llPanic, llFatal, llError, llWarning, llInfo, llVerbose, llDebug };

// The media libraries' numeric level of a TLogLevel: (value - 1) * 8.
int LogLevelToAV(TLogLevel ALevel);
// The TLogLevel of a library level: L / 8 (toward zero) + 1, clamped to llQuiet..llDebug.
TLogLevel AVToLogLevel(int AAVLevel);

// The data of one event being raised.
struct TLogInfo {
  TObject* Sender = nullptr;
  uint32_t ThreadID = 0;
  TLogLevel LogLevel = llQuiet;
  std::string LogMsg;
};

using TLogEvent =
    std::function<void(TObject* Sender, uint32_t AThreadID, TLogLevel ALogLevel, const std::string& ALogMsg)>;

class TFFLogger : public TFFBaseComponent {
public:
  // Replaces an automatically created collector that nothing has logged
  // through yet; throws Exception when another collector exists already.
  explicit TFFLogger(TObject* AOwner = nullptr);
  ~TFFLogger() override;
  TFFLogger(const TFFLogger&) = delete;
  TFFLogger& operator=(const TFFLogger&) = delete;

  bool AutoCreated() const { return FAutoCreated; }

  TLogLevel LogLevel() const { return FLogLevel.load(); }
  // A new value is applied to the media library when avutil is loaded.
  void SetLogLevel(TLogLevel AValue);
  // The engine's log-level option: a level name (any letter case) or a
  // decimal library level. Throws EConvertError for anything else.
  void OptLogLevel(const std::string& AArg);

  bool TriggerEventInMainThread() const { return FTriggerEventInMainThread.load(); }
  void SetTriggerEventInMainThread(bool AValue) { FTriggerEventInMainThread = AValue; }

  TLogEvent OnLog() const;
  void SetOnLog(TLogEvent AValue);

  // A component's own message. Passes when ALogLevel <= LogLevel, and
  // llVerbose passes at every level but llQuiet.
  void Log(TObject* Sender, TLogLevel ALogLevel, const std::string& ALogMsg);
  void Log(TObject* Sender, TLogLevel ALogLevel, const char* AFormat, ...)
      __attribute__((format(printf, 4, 5)));

  // Installs FFLogCallback as the library's log callback and applies
  // LogLevel. Throws Exception when avutil's log entries are not resolved.
  void InstallAVLogCallback();

private:
  friend TFFLogger& FFLogger();

  void ApplyLogLevel();

  bool FAutoCreated = false;
  std::atomic<bool> FTriggerEventInMainThread{true};
  std::atomic<TLogLevel> FLogLevel{llInfo};
  mutable std::mutex FEventLock;  // guards FOnLog (set on the main thread, read by loggers)
  TLogEvent FOnLog;
};

// The process-wide collector; creates one (AutoCreated) when none exists.
TFFLogger& FFLogger();

// The media library's log callback (av_log_set_callback's signature).
void FFLogCallback(void* APtr, int ALevel, const char* AFormat, va_list AArgs);

// Threads that keep time (an audio callback, a player's read or refresh
// thread) must never wait for the main thread, not even for a log line. Such a
// thread marks itself; its lines (its own and the media libraries') are then
// queued instead of delivered, in order, and handed to OnLog later by
// DeliverPostedLogLines. The mark is per thread and off by default.
void SetRealTimeThread(bool AValue);
bool IsRealTimeThread();
// Hands the queued lines of real-time threads to OnLog, oldest first, on the
// calling thread's usual path (through the main thread when the collector
// asks for it). Does nothing on a real-time thread. Every ordinary log line
// delivers the queued ones before itself, so the order of lines is kept;
// threads that wait on real-time threads call this while they wait.
void DeliverPostedLogLines();

// Process end: frees an automatically created collector, the per-thread
// pending lines and the repeat state.
void FinalizeFFLogger();

}  // namespace quorvel
