#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "media/runtime/FFBaseComponent.h"
#include "media/runtime/FFLoad.h"
#include "media/runtime/InterruptCB.h"

namespace quorvel {
namespace {

// A component-like object whose answer the test controls.
struct Answer : TObject {
  explicit Answer(bool value) : Value(value) {}
  bool Ask(TObject*) {
    ++Calls;
    return Value.load();
  }
  bool AskAgain(TObject*) { return !Value.load(); }
  std::atomic<bool> Value;
  std::atomic<int> Calls{0};
};

TInterruptProc AskOf(Answer* a) { return TInterruptProc::Of<Answer, &Answer::Ask>(a); }

class InterruptCBTest : public ::testing::Test {
protected:
  void TearDown() override { InterruptCB().Clear(); }
  static size_t Count() {
    const size_t n = InterruptCB().LockList().size();
    InterruptCB().UnlockList();
    return n;
  }
};

TEST_F(InterruptCBTest, AddIsIdempotentPerThreadSenderAndFunction) {
  Answer yes(true), other(true);
  const uint32_t me = CurrentThreadID();
  InterruptCB().Add(me, &yes, AskOf(&yes));
  InterruptCB().Add(me, &yes, AskOf(&yes));
  EXPECT_EQ(Count(), 1u);
  // The same function bound to another object is still the same callback.
  InterruptCB().Add(me, &yes, AskOf(&other));
  EXPECT_EQ(Count(), 1u);
  // Another sender, another function or another thread is a new item.
  InterruptCB().Add(me, &other, AskOf(&other));
  InterruptCB().Add(me, &yes, TInterruptProc::Of<Answer, &Answer::AskAgain>(&yes));
  InterruptCB().Add(me + 1, &yes, AskOf(&yes));
  EXPECT_EQ(Count(), 4u);

  InterruptCB().Remove(me, &other, TInterruptProc::Of<Answer, &Answer::AskAgain>(&other));  // unknown
  EXPECT_EQ(Count(), 4u);
  InterruptCB().Remove(me, &other, AskOf(&other));
  EXPECT_EQ(Count(), 3u);
}

TEST_F(InterruptCBTest, FirstItemOfTheThreadDecides) {
  Answer no(false), yes(true);
  const uint32_t me = CurrentThreadID();
  EXPECT_FALSE(InterruptCB().Interrupt(me));
  InterruptCB().Add(me, &no, AskOf(&no));
  InterruptCB().Add(me, &yes, AskOf(&yes));
  EXPECT_FALSE(InterruptCB().Interrupt(me));
  EXPECT_EQ(yes.Calls, 0);
  EXPECT_EQ(no.Calls, 1);
  EXPECT_FALSE(InterruptCB().Interrupt(me + 1));

  // The library's callback asks for the thread it runs on.
  EXPECT_EQ(InterruptCallback(nullptr), 0);
  no.Value = true;
  EXPECT_EQ(InterruptCallback(nullptr), 1);
  int fromOtherThread = -1;
  std::thread([&] { fromOtherThread = InterruptCallback(nullptr); }).join();
  EXPECT_EQ(fromOtherThread, 0);
}

// A blocking network open in the library gives up when the component that
// registered for this thread says so.
TEST_F(InterruptCBTest, GivesUpABlockingLibraryRead) {
  ASSERT_TRUE(FFLoader().Load(TLibraries{TLibrary::avUtil, TLibrary::avCodec, TLibrary::avFormat}))
      << FFLoader().LastErrMsg();

  // A server that takes the connection (the kernel's backlog does) and never answers.
  const int server = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(server, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(server, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(server, 4), 0);
  socklen_t len = sizeof addr;
  ::getsockname(server, reinterpret_cast<sockaddr*>(&addr), &len);
  const std::string url = "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/silent.mp3";

  Answer stop(false);
  InterruptCB().Add(CurrentThreadID(), &stop, AskOf(&stop));
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    stop.Value = true;
  });

  AVFormatContext* ctx = avformat.avformat_alloc_context();
  ctx->interrupt_callback = MakeAVIOInterruptCB();
  const int ret = avformat.avformat_open_input(&ctx, url.c_str(), nullptr, nullptr);
  stopper.join();
  EXPECT_EQ(ret, AVERROR_EXIT);
  EXPECT_EQ(ctx, nullptr);  // freed by the failed open
  EXPECT_GT(stop.Calls, 0);
  ::close(server);
}

}  // namespace
}  // namespace quorvel
