// Platform threads, queues, events, sent messages, the clock and text
// encoding.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/core/backend.h"
#include "platform/core/clock.h"
#include "platform/window/messages.h"
#include "platform/core/text_encoding.h"
#include "platform/core/threads.h"
#include "platform/window/window.h"

namespace {

TEST(Queue, PostPeekOrderAndEndedThread) {
  plat::Event go(true);
  std::vector<uint32_t> got;
  auto t = plat::Thread::Start([&] {
    go.Wait(plat::kInfinite);
    plat::Msg m;
    while (plat::PeekMessage(&m, true)) got.push_back(m.message);
  });
  ASSERT_TRUE(t);
  for (uint32_t i = 1; i <= 5; ++i) EXPECT_TRUE(plat::PostThreadMessage(t.get(), 0x400 + i, i, 0));
  go.Set();
  EXPECT_TRUE(t->WaitEnded(5000));
  EXPECT_EQ(got, (std::vector<uint32_t>{0x401, 0x402, 0x403, 0x404, 0x405}));
  EXPECT_FALSE(plat::PostThreadMessage(t.get(), 0x400, 0, 0)) << "a post to an ended thread fails";
  t->Release();
}

TEST(Queue, WaitMessageWakesOnPost) {
  std::atomic<int> seen{0};
  auto t = plat::Thread::Start([&] {
    for (;;) {
      plat::Msg m;
      if (plat::PeekMessage(&m, true)) {
        if (m.message == plat::kMsgQuit) return;
        seen.fetch_add(1);
      } else {
        plat::WaitMessage();
      }
    }
  });
  for (int i = 0; i < 100; ++i) plat::PostThreadMessage(t.get(), plat::kMsgUser, 0, 0);
  plat::PostThreadMessage(t.get(), plat::kMsgQuit, 0, 0);
  EXPECT_TRUE(t->WaitEnded(5000));
  EXPECT_EQ(seen.load(), 100);
  t->Release();
}

intptr_t CountingProc(plat::Window* w, uint32_t msg, uintptr_t wp, intptr_t lp) {
  if (msg == plat::kMsgUser) return static_cast<intptr_t>(wp) * 2;
  if (msg == plat::kMsgDestroy) return 0;
  return plat::DefWindowProc(w, msg, wp, lp);
}

TEST(Window, SendFromAnotherThreadIsServedWhileWaiting) {
  plat::UseHeadless(true);
  plat::Window* w = plat::Window::Create(plat::WindowDesc{}, CountingProc);
  ASSERT_NE(w, nullptr);
  plat::Event done(true);
  std::atomic<intptr_t> result{0};
  auto t = plat::Thread::Start([&] {
    result = w->Send(plat::kMsgUser, 21, 0);
    done.Set();
  });
  // The window thread waits on an event but still serves the sent call.
  EXPECT_EQ(plat::MsgWaitForEvent(&done, 5000), plat::WaitResult::kEvent);
  EXPECT_EQ(result.load(), 42);
  EXPECT_TRUE(t->WaitEnded(5000));
  t->Release();
  w->Destroy();
  EXPECT_FALSE(w->Post(plat::kMsgUser, 0, 0)) << "posts to a destroyed window fail";
  EXPECT_EQ(w->Send(plat::kMsgUser, 1, 0), 0);
  plat::Msg m;
  while (plat::PeekMessage(&m, true)) {
  }
}

TEST(Window, SendToAThreadThatEndsReturnsZero) {
  plat::UseHeadless(true);
  plat::Window* w = nullptr;
  plat::Event made(true), stop(true);
  auto owner = plat::Thread::Start([&] {
    w = plat::Window::Create(plat::WindowDesc{}, CountingProc);
    made.Set();
    stop.Wait(plat::kInfinite);  // never serves its queue
  });
  made.Wait(plat::kInfinite);
  std::atomic<intptr_t> r{-1};
  auto sender = plat::Thread::Start([&] { r = w->Send(plat::kMsgUser, 5, 0); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  stop.Set();
  EXPECT_TRUE(owner->WaitEnded(5000));
  EXPECT_TRUE(sender->WaitEnded(5000)) << "the sender is released when the owner's queue closes";
  EXPECT_EQ(r.load(), 0);
  owner->Release();
  sender->Release();
}

TEST(Event, AutoAndManualReset) {
  plat::Event manual(true), automatic(false);
  manual.Set();
  EXPECT_TRUE(manual.Wait(0));
  EXPECT_TRUE(manual.Wait(0));
  automatic.Set();
  EXPECT_TRUE(automatic.Wait(0));
  EXPECT_FALSE(automatic.Wait(0));
  EXPECT_FALSE(automatic.Wait(5));
}

TEST(Clock, VirtualClockWrapsAndSleepAdvances) {
  plat::UseVirtualClock(true, 0xFFFFFFFEu);
  EXPECT_EQ(plat::TimeGetMs(), 0xFFFFFFFEu);
  plat::Sleep(5);
  EXPECT_EQ(plat::TimeGetMs(), 3u);
  EXPECT_EQ(plat::TimeGetMs() - 0xFFFFFFFEu, 5u) << "unsigned differences survive the wrap";
  plat::UseVirtualClock(false);
  uint32_t a = plat::TimeGetMs();
  plat::Sleep(20);
  uint32_t b = plat::TimeGetMs();
  EXPECT_GE(b - a, 19u);
}

TEST(TextEncoding, Cp932RoundTripAndBadBytes) {
  const char* utf8 = "本当に終了しますか？";
  std::string sj = plat::Utf8ToCp932(utf8);
  // Shift-JIS: two bytes a character here, starting with a lead byte.
  EXPECT_EQ(sj.size(), 20u);
  EXPECT_TRUE(plat::IsSjisLead(static_cast<unsigned char>(sj[0])));
  EXPECT_EQ(plat::Cp932ToUtf8(sj), utf8);
  EXPECT_EQ(plat::Cp932ToUtf8("plain"), "plain");
  // A lone lead byte at the end does not crash or vanish silently.
  EXPECT_EQ(plat::Cp932ToUtf8(std::string("a\x81", 2)), "a?");
  // Half-width katakana and the yen-free backslash stay as they are.
  EXPECT_EQ(plat::Cp932ToUtf8("\xB1"), "ｱ");
  EXPECT_STREQ(plat::Sjis(utf8), sj.c_str());
}

}  // namespace
