#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "media/runtime/Exception.h"
#include "media/runtime/FFLoad.h"
#include "media/runtime/FFLog.h"
#include "media/runtime/Format.h"
#include "media/runtime/InterruptCB.h"
#include "media/runtime/MainThread.h"
#include "media/runtime/Stubs.h"

namespace quorvel {
namespace {

struct TEvent {
  TObject* Sender;
  uint32_t ThreadID;
  TLogLevel Level;
  std::string Msg;
  bool OnMainThread;
};

// Collects OnLog events from any thread.
class TEventLog {
public:
  TLogEvent Handler() {
    return [this](TObject* sender, uint32_t tid, TLogLevel level, const std::string& msg) {
      std::lock_guard<std::mutex> lock(FLock);
      FEvents.push_back({sender, tid, level, msg, IsMainThread()});
    };
  }
  std::vector<TEvent> Events() {
    std::lock_guard<std::mutex> lock(FLock);
    return FEvents;
  }
  std::vector<std::string> Messages() {
    std::vector<std::string> result;
    for (const TEvent& e : Events()) result.push_back(e.Msg);
    return result;
  }

private:
  std::mutex FLock;
  std::vector<TEvent> FEvents;
};

using Lines = std::vector<std::string>;

// A context of our own that the library's log functions accept: the first
// field is the class description, the second the parent context.
struct TFakeContext {
  const AVClass* Class;
  void* Parent;
};
const char* ParentName(void*) { return "parent"; }
const char* ChildName(void*) { return "child"; }
AVClass MakeClass(const char* name, const char* (*itemName)(void*), int parentOffset) {
  AVClass c{};
  c.class_name = name;
  c.item_name = itemName;
  c.version = LIBAVUTIL_VERSION_INT;
  c.parent_log_context_offset = parentOffset;
  return c;
}
const AVClass kParentClass = MakeClass("ParentClass", ParentName, 0);
const AVClass kChildClass = MakeClass("ChildClass", ChildName, offsetof(TFakeContext, Parent));

// A real library context (the scaler's; its class comes from the library).
struct TSwsFree {
  void operator()(SwsContext* c) const { swscale.sws_freeContext(c); }
};
using TRealContext = std::unique_ptr<SwsContext, TSwsFree>;
TRealContext MakeRealContext() { return TRealContext(swscale.sws_alloc_context()); }

// "[name @ 0x..]" as the library's class of a context names it.
std::string RealPrefix(void* ctx) {
  const AVClass* cls = *static_cast<const AVClass* const*>(ctx);
  return Format("[%s @ %p]", cls->item_name(ctx), ctx);
}

class FFLogTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(FFLoader().Load(TLibraries{TLibrary::avUtil, TLibrary::myUtil, TLibrary::swScale}))
        << FFLoader().LastErrMsg();
  }

  void SetUp() override {
    // Every test starts with no pending text and no repeat run.
    FinalizeFFLogger();
    FLogger = std::make_unique<TFFLogger>();
    FLogger->SetLogLevel(llInfo);
    FLogger->SetOnLog(FEvents.Handler());
  }
  void TearDown() override { FLogger.reset(); }

  // A library message through the library itself, into the installed callback.
  static void Lib(void* ctx, int level, const char* text) { avutil.av_log(ctx, level, "%s", text); }

  TEventLog FEvents;
  std::unique_ptr<TFFLogger> FLogger;
};

TEST(FFLogLevelTest, MapsBothWays) {
  const struct {
    TLogLevel Level;
    int AV;
  } toAV[] = {{llQuiet, -8}, {llPanic, 0},    {llFatal, 8},    {llError, 16},
              {llWarning, 24}, {llInfo, 32}, {llVerbose, 40}, {llDebug, 48}};
  for (const auto& c : toAV) {
    EXPECT_EQ(LogLevelToAV(c.Level), c.AV);
    EXPECT_EQ(AVToLogLevel(c.AV), c.Level) << c.AV;
  }
  const struct {
    int AV;
    TLogLevel Level;
  } fromAV[] = {{-100, llQuiet}, {-9, llQuiet},  {-7, llPanic},  {7, llPanic},     {15, llFatal},
                {23, llError},   {31, llWarning}, {39, llInfo}, {47, llVerbose}, {56, llDebug},
                {1000, llDebug}};
  for (const auto& c : fromAV) EXPECT_EQ(AVToLogLevel(c.AV), c.Level) << c.AV;
}

TEST_F(FFLogTest, FragmentsWithContextMakeOneLineWithOnePrefix) {
  TRealContext ctx = MakeRealContext();
  ASSERT_NE(ctx, nullptr);
  Lib(ctx.get(), AV_LOG_INFO, "abc");
  Lib(ctx.get(), AV_LOG_INFO, "def\n");
  const std::string expected = RealPrefix(ctx.get()) + "abcdef";

  const std::vector<TEvent> events = FEvents.Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].Msg, expected);
  EXPECT_EQ(events[0].Sender, FLogger.get());
  EXPECT_EQ(events[0].ThreadID, CurrentThreadID());
  EXPECT_EQ(events[0].Level, llInfo);
}

TEST_F(FFLogTest, ParentContextIsNamedFirst) {
  TFakeContext parent{&kParentClass, nullptr};
  TFakeContext child{&kChildClass, &parent};
  Lib(&child, AV_LOG_WARNING, "msg\n");
  TFakeContext orphan{&kChildClass, nullptr};
  Lib(&orphan, AV_LOG_WARNING, "alone\n");
  EXPECT_EQ(FEvents.Messages(),
            (Lines{Format("[parent @ %p] [child @ %p]msg", static_cast<void*>(&parent),
                          static_cast<void*>(&child)),
                   Format("[child @ %p]alone", static_cast<void*>(&orphan))}));
  EXPECT_EQ(FEvents.Events()[0].Level, llWarning);
}

TEST_F(FFLogTest, OneFragmentWithSeveralLines) {
  Lib(nullptr, AV_LOG_INFO, "a\nb\nc");
  EXPECT_EQ(FEvents.Messages(), (Lines{"a", "b"}));
  Lib(nullptr, AV_LOG_INFO, "d\n");
  EXPECT_EQ(FEvents.Messages(), (Lines{"a", "b", "cd"}));
}

TEST_F(FFLogTest, PartialLinesOfThreadsNeverMix) {
  Lib(nullptr, AV_LOG_INFO, "x");
  uint32_t threadB = 0;
  std::thread([&] {
    threadB = CurrentThreadID();
    Lib(nullptr, AV_LOG_INFO, "y\n");
  }).join();
  Lib(nullptr, AV_LOG_INFO, "z\n");
  const std::vector<TEvent> events = FEvents.Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].Msg, "y");
  EXPECT_EQ(events[0].ThreadID, threadB);
  EXPECT_EQ(events[1].Msg, "xz");
  EXPECT_EQ(events[1].ThreadID, CurrentThreadID());
}

TEST_F(FFLogTest, RepeatedLinesAreCounted) {
  for (int i = 0; i < 3; ++i) Lib(nullptr, AV_LOG_INFO, "same\n");
  Lib(nullptr, AV_LOG_ERROR, "other\n");
  const std::vector<TEvent> events = FEvents.Events();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].Msg, "same");
  EXPECT_EQ(events[1].Msg, "    Last message repeated 2 times");
  // The repeat line carries the level of the message that ended the run.
  EXPECT_EQ(events[1].Level, llError);
  EXPECT_EQ(events[2].Msg, "other");
}

TEST_F(FFLogTest, RepeatsCountAcrossThreads) {
  Lib(nullptr, AV_LOG_INFO, "shared\n");
  std::thread([] { Lib(nullptr, AV_LOG_INFO, "shared\n"); }).join();
  Lib(nullptr, AV_LOG_INFO, "next\n");
  EXPECT_EQ(FEvents.Messages(), (Lines{"shared", "    Last message repeated 1 times", "next"}));
}

// Tails of lines are no repeats: suppressing them would lose the line end
// and glue the pending text to the next line.
TEST_F(FFLogTest, OnlyWholeLinesAreRepeats) {
  const struct {
    const char* Name;
    std::vector<const char*> Fragments;
    Lines Expected;
  } cases[] = {
      {"same tail twice", {"ab", "c\n", "ab", "c\n", "x\n"}, {"abc", "abc", "x"}},
      {"tail equals a whole line", {"c\n", "ab", "c\n", "c\n"}, {"c", "abc", "c"}},
      {"whole line after a tail", {"a", "same\n", "same\n", "end\n"}, {"asame", "same", "end"}},
  };
  for (const auto& c : cases) {
    FinalizeFFLogger();
    const size_t before = FEvents.Messages().size();
    for (const char* f : c.Fragments) Lib(nullptr, AV_LOG_INFO, f);
    const Lines all = FEvents.Messages();
    EXPECT_EQ(Lines(all.begin() + before, all.end()), c.Expected) << c.Name;
  }
}

TEST_F(FFLogTest, MessagesAboveTheLevelAreIgnored) {
  Lib(nullptr, AV_LOG_INFO, "same\n");
  Lib(nullptr, AV_LOG_VERBOSE, "same\n");  // above info: no repeat either
  Lib(nullptr, AV_LOG_DEBUG, "hidden\n");
  Lib(nullptr, AV_LOG_INFO, "other\n");
  EXPECT_EQ(FEvents.Messages(), (Lines{"same", "other"}));

  FLogger->SetLogLevel(llDebug);
  EXPECT_EQ(avutil.av_log_get_level(), AV_LOG_DEBUG);
  Lib(nullptr, AV_LOG_DEBUG, "shown\n");
  EXPECT_EQ(FEvents.Messages().back(), "shown");
}

TEST_F(FFLogTest, OptLogLevel) {
  const struct {
    const char* Arg;
    TLogLevel Level;
  } cases[] = {{"WARNING", llWarning}, {"20", llError}, {"-8", llQuiet},
               {"Debug", llDebug},     {"info", llInfo}, {"40", llVerbose}};
  for (const auto& c : cases) {
    FLogger->OptLogLevel(c.Arg);
    EXPECT_EQ(FLogger->LogLevel(), c.Level) << c.Arg;
    EXPECT_EQ(avutil.av_log_get_level(), LogLevelToAV(c.Level)) << c.Arg;
  }
  for (const char* bad : {"loud", "", "12x", "99999999999"}) {
    EXPECT_THROW(FLogger->OptLogLevel(bad), EConvertError) << bad;
  }
  EXPECT_EQ(FLogger->LogLevel(), llVerbose);
}

TEST_F(FFLogTest, ComponentMessageLevelRules) {
  const struct {
    TLogLevel Current, Message;
    bool Delivered;
  } cases[] = {
      {llError, llWarning, false}, {llError, llVerbose, true}, {llError, llQuiet, true},
      {llError, llError, true},    {llError, llDebug, false},  {llQuiet, llVerbose, false},
      {llQuiet, llQuiet, true},    {llQuiet, llPanic, false},  {llDebug, llDebug, true},
  };
  for (const auto& c : cases) {
    FLogger->SetLogLevel(c.Current);
    const size_t before = FEvents.Events().size();
    FLogger->Log(nullptr, c.Message, "message");
    EXPECT_EQ(FEvents.Events().size() - before, c.Delivered ? 1u : 0u)
        << "level " << c.Current << " message " << c.Message;
  }
}

TEST_F(FFLogTest, ComponentMessageCarriesItsData) {
  TObject sender;
  FLogger->Log(&sender, llWarning, "value %d of %s", 42, "x");
  FLogger->Log(&sender, llError, std::string("100% plain"));
  const std::vector<TEvent> events = FEvents.Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].Sender, &sender);
  EXPECT_EQ(events[0].ThreadID, CurrentThreadID());
  EXPECT_EQ(events[0].Level, llWarning);
  EXPECT_EQ(events[0].Msg, "value 42 of x");
  EXPECT_EQ(events[1].Msg, "100% plain");
}

TEST_F(FFLogTest, WithoutOnLogFragmentsAreStillAssembled) {
  FLogger->SetOnLog(nullptr);
  Lib(nullptr, AV_LOG_INFO, "abc");
  Lib(nullptr, AV_LOG_INFO, "full\n");  // assembled with abc, delivered to nobody
  Lib(nullptr, AV_LOG_INFO, "def");
  FLogger->Log(nullptr, llError, "nobody listens");
  FLogger->SetOnLog(FEvents.Handler());
  Lib(nullptr, AV_LOG_INFO, "ghi\n");
  EXPECT_EQ(FEvents.Messages(), (Lines{"defghi"}));
}

TEST_F(FFLogTest, LongMessagesAreNeverCut) {
  TRealContext ctx = MakeRealContext();
  ASSERT_NE(ctx, nullptr);
  const std::string prefix = RealPrefix(ctx.get());
  // Around the first buffer, the first grown one and several growth steps.
  for (size_t length : {2000u, 2047u, 2048u, 4095u, 4096u, 6144u, 20000u}) {
    std::string text(length, 'x');
    text.back() = 'y';
    Lib(ctx.get(), AV_LOG_INFO, (text + "\n").c_str());
    ASSERT_FALSE(FEvents.Messages().empty());
    EXPECT_EQ(FEvents.Messages().back(), prefix + text) << length;
  }
}

TEST_F(FFLogTest, TextIsKeptAsUTF8) {
  const std::string name = "Gr\xC3\xBC\xC3\x9F" "e \xE6\x97\xA5\xE6\x9C\xAC.mp3";
  Lib(nullptr, AV_LOG_ERROR, (name + ": No such file\n").c_str());
  EXPECT_EQ(FEvents.Messages(), (Lines{name + ": No such file"}));
}

TEST_F(FFLogTest, FailingHandlerDoesNotUnwindThroughTheLibrary) {
  FLogger->SetOnLog([](TObject*, uint32_t, TLogLevel, const std::string&) { throw Exception("handler"); });
  Lib(nullptr, AV_LOG_INFO, "first\n");
  FLogger->SetOnLog(FEvents.Handler());
  Lib(nullptr, AV_LOG_INFO, "second\n");
  EXPECT_EQ(FEvents.Messages(), (Lines{"second"}));
}

TEST_F(FFLogTest, OnlyOneCollector) {
  EXPECT_EQ(&FFLogger(), FLogger.get());
  EXPECT_FALSE(FLogger->AutoCreated());
  try {
    TFFLogger second;
    FAIL() << "a second collector was created";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Allow creating only one instance of TFFLogger.");
  }
  EXPECT_EQ(&FFLogger(), FLogger.get());

  // Without the application's collector an automatic one is made when asked
  // for; a collector created before anything was logged replaces it.
  FLogger.reset();
  TFFLogger& automatic = FFLogger();
  EXPECT_TRUE(automatic.AutoCreated());
  EXPECT_EQ(&FFLogger(), &automatic);
  FLogger = std::make_unique<TFFLogger>();
  EXPECT_EQ(&FFLogger(), FLogger.get());
}

// Once a line went through the automatic collector, or another thread got
// hold of it, that thread may still be using it: it is never replaced, and a
// second collector is refused instead.
TEST_F(FFLogTest, AutomaticCollectorInUseIsNeverReplaced) {
  const struct {
    const char* Name;
    void (*Use)();
  } cases[] = {
      {"a library line", [] { Lib(nullptr, AV_LOG_INFO, "to the automatic one\n"); }},
      {"a component line", [] { FFLogger().Log(nullptr, llInfo, std::string("a component's line")); }},
      {"another thread", [] { std::thread([] { FFLogger().SetLogLevel(llInfo); }).join(); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    FLogger.reset();
    FinalizeFFLogger();  // a fresh process, as far as the collector knows
    TFFLogger& automatic = FFLogger();
    c.Use();
    try {
      TFFLogger second;
      ADD_FAILURE() << "the automatic collector was replaced while in use";
    } catch (const Exception& e) {
      EXPECT_STREQ(e.what(), "Allow creating only one instance of TFFLogger.");
    }
    EXPECT_EQ(&FFLogger(), &automatic);
    EXPECT_TRUE(FFLogger().AutoCreated());
  }
  FinalizeFFLogger();
}

TEST(FFLogInstallTest, InstallingNeedsAVUtil) {
  const bool wasLoaded = FFLoader().Loaded(TLibrary::avUtil);
  FFLoader().Unload(TLibrary::avUtil);
  {
    TFFLogger logger;
    EXPECT_THROW(logger.InstallAVLogCallback(), Exception);
    // Without the library only the collector's own level changes.
    logger.SetLogLevel(llDebug);
    EXPECT_EQ(logger.LogLevel(), llDebug);
  }
  if (wasLoaded) {
    ASSERT_TRUE(FFLoader().Load(TLibrary::avUtil)) << FFLoader().LastErrMsg();
  }
}

TEST_F(FFLogTest, DirectDeliveryRunsOnTheLoggingThread) {
  InstallMainThread(nullptr);
  FLogger->SetTriggerEventInMainThread(false);
  std::thread([] {
    Lib(nullptr, AV_LOG_INFO, "direct\n");
  }).join();
  UninstallMainThread();
  const std::vector<TEvent> events = FEvents.Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_FALSE(events[0].OnMainThread);
}

// Wakes the test's main thread the way the application's queued invocation would.
class TWakeHost : public TMainThreadHost {
public:
  void WakeUp() override {
    {
      std::lock_guard<std::mutex> lock(FLock);
      FWoken = true;
    }
    FCond.notify_all();
  }
  void Wait() {
    std::unique_lock<std::mutex> lock(FLock);
    FCond.wait_for(lock, std::chrono::milliseconds(20), [&] { return FWoken; });
    FWoken = false;
  }

private:
  std::mutex FLock;
  std::condition_variable FCond;
  bool FWoken = false;
};

// Several threads log through the library at once while the main thread
// logs too and serves their deliveries: no deadlock, and every line arrives
// once, on the main thread, in each thread's order.
TEST_F(FFLogTest, ConcurrentLoggingDeliversEveryLineOnceInOrder) {
  constexpr int kThreads = 6;
  constexpr int kLines = 300;
  TWakeHost host;
  InstallMainThread(&host);
  ASSERT_TRUE(FLogger->TriggerEventInMainThread());
  TRealContext real = MakeRealContext();
  ASSERT_NE(real, nullptr);
  void* ctx = real.get();
  TFakeContext parent{&kParentClass, nullptr};
  TFakeContext child{&kChildClass, &parent};

  std::vector<uint32_t> tids(kThreads);
  std::atomic<int> finished{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < kThreads; ++t) {
    workers.emplace_back([&, t] {
      tids[t] = CurrentThreadID();
      for (int i = 0; i < kLines; ++i) {
        void* context = (t % 2) ? ctx : static_cast<void*>(&child);
        avutil.av_log(context, AV_LOG_INFO, "w%d ", t);
        avutil.av_log(context, AV_LOG_WARNING, "line %d\n", i);
        avutil.av_log(nullptr, AV_LOG_INFO, "w%d plain %d\nw%d second %d\n", t, i, t, i);
        FLogger->Log(nullptr, llError, "w%d component %d", t, i);
      }
      ++finished;
      host.WakeUp();
    });
  }
  int mainLines = 0;
  while (finished < kThreads) {
    host.Wait();
    ProcessMainThreadCalls();
    avutil.av_log(ctx, AV_LOG_INFO, "main %d\n", mainLines);
    FLogger->Log(nullptr, llInfo, "main component %d", mainLines);
    ++mainLines;
  }
  for (std::thread& w : workers) w.join();
  ProcessMainThreadCalls();
  UninstallMainThread();

  const std::string ctxPrefix = RealPrefix(ctx);
  const std::string childPrefix = Format("[parent @ %p] [child @ %p]", static_cast<void*>(&parent),
                                         static_cast<void*>(&child));

  std::map<uint32_t, Lines> byThread;
  for (const TEvent& e : FEvents.Events()) {
    ASSERT_TRUE(e.OnMainThread) << e.Msg;
    byThread[e.ThreadID].push_back(e.Msg);
  }
  for (int t = 0; t < kThreads; ++t) {
    Lines expected;
    const std::string& prefix = (t % 2) ? ctxPrefix : childPrefix;
    for (int i = 0; i < kLines; ++i) {
      expected.push_back(Format("%sw%d line %d", prefix.c_str(), t, i));
      expected.push_back(Format("w%d plain %d", t, i));
      expected.push_back(Format("w%d second %d", t, i));
      expected.push_back(Format("w%d component %d", t, i));
    }
    const Lines& got = byThread[tids[t]];
    EXPECT_EQ(got.size(), expected.size()) << "thread " << t;
    for (size_t i = 0; i < std::min(got.size(), expected.size()); ++i) {
      ASSERT_EQ(got[i], expected[i]) << "thread " << t << " line " << i;
    }
  }
  Lines expectedMain;
  for (int k = 0; k < mainLines; ++k) {
    expectedMain.push_back(Format("%smain %d", ctxPrefix.c_str(), k));
    expectedMain.push_back(Format("main component %d", k));
  }
  EXPECT_EQ(byThread[CurrentThreadID()], expectedMain);
  EXPECT_EQ(byThread.size(), static_cast<size_t>(kThreads + 1));
}

}  // namespace
}  // namespace quorvel
