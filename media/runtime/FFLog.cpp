#include "media/runtime/FFLog.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <algorithm>
#include <strings.h>
#include <deque>
#include <thread>
#include <vector>

#include "media/runtime/Exception.h"
#include "media/runtime/Format.h"
#include "media/runtime/InterruptCB.h"
#include "media/runtime/MainThread.h"
#include "media/runtime/Stubs.h"

namespace quorvel {

namespace {

// The library's level as we last applied it; the library callback drops
// everything above it. Starts at the library's own default.
std::atomic<int> g_avLogLevel{AV_LOG_INFO};

// The pending partial line of one thread.
struct TLogItem {
  uint32_t ThreadID = 0;
  std::string LogMsg;  // text received so far that has no line feed yet; guarded by the log lock
  std::unique_ptr<TLogItem> Next;
};

// One item per thread that ever logged through the library callback; items
// live until the process ends (FinalizeFFLogger).
class TLogList {
public:
  ~TLogList() { Clear(); }

  TLogItem* FindOrAdd(uint32_t AThreadID) {
    std::lock_guard<std::mutex> lock(FLock);
    for (TLogItem* item = FHeader.get(); item; item = item->Next.get())
      if (item->ThreadID == AThreadID) return item;
    // New threads go to the head: a thread that just started logging is
    // likely to log again soon.
    auto item = std::make_unique<TLogItem>();
    item->ThreadID = AThreadID;
    item->Next = std::move(FHeader);
    FHeader = std::move(item);
    return FHeader.get();
  }

  void Clear() {
    std::lock_guard<std::mutex> lock(FLock);
    // Unlinked one by one: a long chain of unique_ptr would free recursively.
    while (FHeader) FHeader = std::move(FHeader->Next);
  }

private:
  std::mutex FLock;  // guards the links (FHeader, Next)
  std::unique_ptr<TLogItem> FHeader;
};

// State of the library callback. Lock is the log lock; it is only ever held
// while lines are assembled, never while one is delivered, so a logging
// thread that waits for the main thread holds nothing the main thread needs.
struct TLogState {
  std::mutex Lock;
  std::string PrevText;  // the previous complete text, for repeat suppression; guarded by Lock
  int RepeatCount = 0;   // guarded by Lock
  TLogList List;         // the items' LogMsg are guarded by Lock
};

TLogState& LogState() {
  static TLogState state;
  return state;
}

// The process-wide collector. Recursive: creating a collector may destroy
// the automatic one, and FFLogger() constructs one, under the same lock.
//
// The automatic collector may be replaced by the application's only while
// no other thread can hold it: before any line was logged and before any
// thread but the one that caused it to be created asked for it. Afterwards a
// second collector is refused, as it is while the application's exists.
struct TInstanceState {
  std::recursive_mutex Lock;
  TFFLogger* Instance = nullptr;  // guarded by Lock
  std::thread::id AutoCreator;    // the thread FFLogger() made the automatic one for; guarded by Lock
  // The automatically created collector. Declared last so that at exit it
  // goes before the lock it needs.
  std::unique_ptr<TFFLogger> AutoOwner;  // guarded by Lock
};

TInstanceState& InstanceState() {
  static TInstanceState state;
  return state;
}

// A line went through the collector (or another thread got hold of the
// automatic one): from now on it stays until the process ends.
std::atomic<bool> g_collectorInUse{false};

struct TLevelName {
  const char* Name;
  int AVLevel;
};
constexpr TLevelName kLevelNames[] = {
    {"quiet", AV_LOG_QUIET},     {"panic", AV_LOG_PANIC}, {"fatal", AV_LOG_FATAL},
    {"error", AV_LOG_ERROR},     {"warning", AV_LOG_WARNING}, {"info", AV_LOG_INFO},
    {"verbose", AV_LOG_VERBOSE}, {"debug", AV_LOG_DEBUG},
};

int StrToInt(const std::string& AText) {
  const char* begin = AText.c_str();
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(begin, &end, 10);
  if (AText.empty() || end != begin + AText.size() || errno == ERANGE || value < INT_MIN ||
      value > INT_MAX)
    throw EConvertError(Format("'%s' is not a valid integer value", AText.c_str()));
  return static_cast<int>(value);
}

int FormatFragment(char* ABuffer, size_t ASize, const char* AFormat, va_list AArgs) {
  va_list args;
  va_copy(args, AArgs);
  const int result = myutil.vsnprintf ? myutil.vsnprintf(ABuffer, ASize, AFormat, args)
                                      : std::vsnprintf(ABuffer, ASize, AFormat, args);
  va_end(args);
  return result;
}

// Appends the library's message to AText. Most messages fit the first
// buffer; a longer one is formatted alone into a buffer of 4096 bytes grown
// by 2048 until it fits, so nothing is ever cut.
void AppendMessage(std::string& AText, const char* AFormat, va_list AArgs) {
  constexpr size_t kFirstSize = 2048;
  char first[kFirstSize] = {};
  const size_t room = AText.size() < kFirstSize ? kFirstSize - AText.size() : 1;
  int written = FormatFragment(first, room, AFormat, AArgs);
  if (written < 0) {
    // A format error: growing would not help. Keep what was produced.
    first[room - 1] = '\0';
    AText += first;
    return;
  }
  if (static_cast<size_t>(written) < room) {
    AText.append(first, static_cast<size_t>(written));
    return;
  }
  size_t size = 4096;
  while (size <= static_cast<size_t>(written)) size += 2048;
  std::vector<char> big(size, '\0');
  written = FormatFragment(big.data(), big.size(), AFormat, AArgs);
  if (written < 0) {
    big.back() = '\0';
    AText += big.data();
  } else {
    AText.append(big.data(), std::min(static_cast<size_t>(written), size - 1));
  }
}

const char* ItemName(const AVClass* AClass, void* AContext) {
  if (AClass->item_name) return AClass->item_name(AContext);
  return AClass->class_name ? AClass->class_name : "NULL";
}

// "[parent @ 0x..] [name @ 0x..]" of a library context whose first field is
// its class description.
std::string ContextPrefix(void* AContext) {
  const AVClass* cls = *static_cast<const AVClass* const*>(AContext);
  if (!cls) return {};
  std::string prefix;
  if (cls->parent_log_context_offset) {
    void* parent = *reinterpret_cast<void* const*>(static_cast<const uint8_t*>(AContext) +
                                                   cls->parent_log_context_offset);
    if (parent) {
      const AVClass* parentClass = *static_cast<const AVClass* const*>(parent);
      if (parentClass) prefix = Format("[%s @ %p] ", ItemName(parentClass, parent), parent);
    }
  }
  prefix += Format("[%s @ %p]", ItemName(cls, AContext), AContext);
  return prefix;
}

thread_local bool t_realTimeThread = false;

// Lines of real-time threads waiting for delivery. Bounded: a thread that
// logs without pause while nobody delivers must not eat the memory; the
// lines beyond the bound are counted and reported as lost.
struct TPostedLines {
  static constexpr size_t kMaxLines = 4096;
  std::mutex Lock;  // guards Lines and Lost; held only to push or to take
  std::deque<TLogInfo> Lines;
  int Lost = 0;
};

TPostedLines& PostedLines() {
  static TPostedLines posted;
  return posted;
}

void PostLine(const TLogInfo& AInfo) {
  TPostedLines& p = PostedLines();
  std::lock_guard<std::mutex> lock(p.Lock);
  if (p.Lines.size() < TPostedLines::kMaxLines)
    p.Lines.push_back(AInfo);
  else
    ++p.Lost;
}

// Raises OnLog, on the main thread when asked to. A real-time thread's line
// is queued instead (DeliverPostedLogLines).
void RaiseLog(const TLogEvent& AHandler, bool AInMainThread, const TLogInfo& AInfo) {
  if (t_realTimeThread) {
    PostLine(AInfo);
    return;
  }
  DeliverPostedLogLines();
  auto call = [&] { AHandler(AInfo.Sender, AInfo.ThreadID, AInfo.LogLevel, AInfo.LogMsg); };
  if (AInMainThread)
    CallInMainThread(call);
  else
    call();
}

// Hands the lines one library fragment completed to OnLog. Runs with no lock
// held, on the thread that logged, so the lines of one thread keep their order.
void DeliverLibraryLines(uint32_t AThreadID, TLogLevel ALevel, const std::vector<std::string>& ALines) {
  TLogEvent handler;
  bool inMainThread;
  TObject* sender;
  {
    // Held while reading the collector so that it cannot go away meanwhile.
    TInstanceState& s = InstanceState();
    std::lock_guard<std::recursive_mutex> lock(s.Lock);
    TFFLogger& logger = FFLogger();
    handler = logger.OnLog();
    inMainThread = logger.TriggerEventInMainThread();
    sender = &logger;
  }
  if (!handler) return;
  for (const std::string& line : ALines) {
    try {
      RaiseLog(handler, inMainThread, TLogInfo{sender, AThreadID, ALevel, line});
    } catch (...) {
      // The library called us: nothing may unwind through its frames.
    }
  }
}

}  // namespace

int LogLevelToAV(TLogLevel ALevel) { return (static_cast<int>(ALevel) - 1) * 8; }

TLogLevel AVToLogLevel(int AAVLevel) {
  int value = AAVLevel / 8 + 1;
  if (value < llQuiet) value = llQuiet;
  if (value > llDebug) value = llDebug;
  return static_cast<TLogLevel>(value);
}

TFFLogger::TFFLogger(TObject* /*AOwner*/) {
  TInstanceState& s = InstanceState();
  std::lock_guard<std::recursive_mutex> lock(s.Lock);
  if (s.Instance && s.Instance->FAutoCreated && !g_collectorInUse.load() &&
      s.AutoCreator == std::this_thread::get_id())
    s.AutoOwner.reset();
  if (s.Instance) throw Exception("Allow creating only one instance of TFFLogger.");
  FLogLevel = AVToLogLevel(g_avLogLevel.load());
  s.Instance = this;
}

TFFLogger::~TFFLogger() {
  TInstanceState& s = InstanceState();
  std::lock_guard<std::recursive_mutex> lock(s.Lock);
  if (s.Instance == this) s.Instance = nullptr;
}

TFFLogger& FFLogger() {
  TInstanceState& s = InstanceState();
  std::lock_guard<std::recursive_mutex> lock(s.Lock);
  if (!s.Instance) {
    s.AutoOwner = std::make_unique<TFFLogger>();
    s.AutoOwner->FAutoCreated = true;
    s.AutoCreator = std::this_thread::get_id();
  } else if (s.Instance->FAutoCreated && s.AutoCreator != std::this_thread::get_id()) {
    g_collectorInUse = true;
  }
  return *s.Instance;
}

void TFFLogger::SetLogLevel(TLogLevel AValue) {
  if (FLogLevel.exchange(AValue) != AValue) ApplyLogLevel();
}

void TFFLogger::ApplyLogLevel() {
  if (!avutil.av_log_set_level) return;
  const int level = LogLevelToAV(FLogLevel.load());
  g_avLogLevel = level;
  avutil.av_log_set_level(level);
}

void TFFLogger::OptLogLevel(const std::string& AArg) {
  for (const TLevelName& entry : kLevelNames) {
    if (strcasecmp(AArg.c_str(), entry.Name) == 0) {
      SetLogLevel(AVToLogLevel(entry.AVLevel));
      return;
    }
  }
  SetLogLevel(AVToLogLevel(StrToInt(AArg)));
}

TLogEvent TFFLogger::OnLog() const {
  std::lock_guard<std::mutex> lock(FEventLock);
  return FOnLog;
}

void TFFLogger::SetOnLog(TLogEvent AValue) {
  std::lock_guard<std::mutex> lock(FEventLock);
  FOnLog = std::move(AValue);
}

void TFFLogger::Log(TObject* Sender, TLogLevel ALogLevel, const std::string& ALogMsg) {
  g_collectorInUse = true;
  const TLogEvent handler = OnLog();
  if (!handler) return;
  const TLogLevel level = FLogLevel.load();
  if (!(ALogLevel <= level || (ALogLevel == llVerbose && level != llQuiet))) return;
  // Each event carries its own data: several threads may log at once.
  RaiseLog(handler, TriggerEventInMainThread(), TLogInfo{Sender, CurrentThreadID(), ALogLevel, ALogMsg});
}

void TFFLogger::Log(TObject* Sender, TLogLevel ALogLevel, const char* AFormat, ...) {
  va_list args;
  va_start(args, AFormat);
  std::string text;
  try {
    text = FormatV(AFormat, args);
  } catch (...) {
    va_end(args);
    throw;
  }
  va_end(args);
  Log(Sender, ALogLevel, text);
}

void TFFLogger::InstallAVLogCallback() {
  if (!avutil.av_log_set_callback || !avutil.av_log_set_level)
    throw Exception("Cannot install the log callback: avutil is not loaded.");
  avutil.av_log_set_callback(&FFLogCallback);
  ApplyLogLevel();
}

void FFLogCallback(void* APtr, int ALevel, const char* AFormat, va_list AArgs) {
  if (ALevel > g_avLogLevel.load()) return;
  g_collectorInUse = true;
  try {
    const uint32_t threadID = CurrentThreadID();
    std::vector<std::string> lines;  // completed under the lock, delivered after it
    {
      TLogState& s = LogState();
      std::lock_guard<std::mutex> lock(s.Lock);
      TLogItem* item = s.List.FindOrAdd(threadID);
      const bool lineStart = item->LogMsg.empty();
      std::string text;
      // A new line starts: name the context it comes from.
      if (APtr && lineStart) text = ContextPrefix(APtr);
      AppendMessage(text, AFormat, AArgs);
      // Only whole lines count as repeats. The tail of a line ("def\n"
      // after "abc") may well equal the previous text, yet dropping it would
      // glue this thread's pending text to its next line.
      if (lineStart && !text.empty() && text.back() == '\n' && text == s.PrevText) {
        ++s.RepeatCount;
        return;
      }
      if (s.RepeatCount > 0) {
        lines.push_back(Format("    Last message repeated %d times", s.RepeatCount));
        s.RepeatCount = 0;
      }
      // A tail is no whole line: it must not make the next whole line a repeat.
      if (lineStart)
        s.PrevText = text;
      else
        s.PrevText.clear();
      item->LogMsg += text;
      size_t feed;
      while ((feed = item->LogMsg.find('\n')) != std::string::npos) {
        lines.push_back(item->LogMsg.substr(0, feed));
        item->LogMsg.erase(0, feed + 1);
      }
    }
    if (!lines.empty()) DeliverLibraryLines(threadID, AVToLogLevel(ALevel), lines);
  } catch (...) {
    // Out of memory while logging: drop the message rather than unwind
    // through the library.
  }
}

void SetRealTimeThread(bool AValue) { t_realTimeThread = AValue; }

bool IsRealTimeThread() { return t_realTimeThread; }

void DeliverPostedLogLines() {
  if (t_realTimeThread) return;
  TPostedLines& p = PostedLines();
  for (;;) {
    TLogInfo info;
    {
      std::lock_guard<std::mutex> lock(p.Lock);
      if (p.Lines.empty()) {
        if (p.Lost == 0) return;
        info = TLogInfo{nullptr, 0, llWarning, Format("    %d log lines lost", p.Lost)};
        p.Lost = 0;
      } else {
        info = std::move(p.Lines.front());
        p.Lines.pop_front();
      }
    }
    const TLogEvent handler = FFLogger().OnLog();
    if (!handler) continue;
    try {
      auto call = [&] { handler(info.Sender, info.ThreadID, info.LogLevel, info.LogMsg); };
      if (FFLogger().TriggerEventInMainThread())
        CallInMainThread(call);
      else
        call();
    } catch (...) {
      // A handler's failure must not stop the lines after it.
    }
  }
}

void FinalizeFFLogger() {
  {
    TInstanceState& s = InstanceState();
    std::lock_guard<std::recursive_mutex> lock(s.Lock);
    s.AutoOwner.reset();
    s.AutoCreator = std::thread::id();
    g_collectorInUse = false;
  }
  TLogState& s = LogState();
  std::lock_guard<std::mutex> lock(s.Lock);
  s.List.Clear();
  s.PrevText.clear();
  s.RepeatCount = 0;
  TPostedLines& p = PostedLines();
  std::lock_guard<std::mutex> postedLock(p.Lock);
  p.Lines.clear();
  p.Lost = 0;
}

}  // namespace quorvel
