// How the engine ends: from its start callback, from a task, from the
// worker, and through the close question. For each: how often the end
// callback runs and on which thread, KivRun's result, and that no engine
// thread is left running.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>

#include "support/engine_fixture.h"
#include "platform/window/messages.h"

using namespace kivtest;

namespace {

std::atomic<int> g_frames{0};
std::atomic<int> g_frames_after_end{0};
std::atomic<bool> g_ended{false};
std::thread::id g_game_thread;
char g_base_folder[260];

void EndFromWorker(intptr_t) { KivEnd(); }

class ShutdownTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    g_frames = 0;
    g_frames_after_end = 0;
    g_ended = false;
  }
  // Creates one task whose body runs each frame.
  static int StartWithTask() {
    g_game_thread = std::this_thread::get_id();
    return KivTaskCreate(TaskThunk, nullptr, 8, nullptr, KIV_TASK_BEHIND, nullptr, "test") != nullptr;
  }
  int RunEngine() {
    EXPECT_EQ(KivInit(&params), 1);
    int code = KivRun();
    // Every engine thread has ended by the time KivRun returns.
    EXPECT_TRUE(!g_kiv->gameThread || g_kiv->gameThread->Ended());
    EXPECT_TRUE(g_kiv->workerThread->Ended());
    EXPECT_EQ(IsSystemEnd(), 1);
    std::snprintf(g_base_folder, sizeof g_base_folder, "%s", KivGetFilePath());
    EXPECT_EQ(KivUninit(), 1);
    return code;
  }
};

TEST_F(ShutdownTest, StartCallbackReturningZeroEndsWithoutEndCallback) {
  g_start = [] { return 0; };
  EXPECT_EQ(RunEngine(), 0);
  EXPECT_EQ(g_end_calls.load(), 0);
}

TEST_F(ShutdownTest, EndFromTaskFinishesTheFrameOnly) {
  g_start = StartWithTask;
  g_task = [](void*) {
    if (g_ended) ++g_frames_after_end;
    if (++g_frames == 5) {
      g_ended = true;
      KivEnd();
    }
    return 1;
  };
  EXPECT_EQ(RunEngine(), 0);
  EXPECT_EQ(g_frames.load(), 5);
  EXPECT_EQ(g_frames_after_end.load(), 0) << "no task runs after the current frame";
  EXPECT_EQ(g_end_calls.load(), 1);
  EXPECT_EQ(g_end_thread, g_game_thread);
  EXPECT_NE(g_end_thread, std::this_thread::get_id());
}

TEST_F(ShutdownTest, EndFromWorker) {
  g_start = StartWithTask;
  g_task = [](void*) {
    if (++g_frames == 3) {
      EXPECT_EQ(KivAttachWorkProcess(EndFromWorker, 0), 1);
    }
    return 1;
  };
  EXPECT_EQ(RunEngine(), 0);
  EXPECT_GE(g_frames.load(), 3);
  EXPECT_EQ(g_end_calls.load(), 1);
  EXPECT_EQ(g_end_thread, g_game_thread);
}

TEST_F(ShutdownTest, CloseAnsweredYesEnds) {
  plat::HeadlessBoxScript({plat::kIdYes});
  g_start = StartWithTask;
  g_task = [](void*) {
    if (++g_frames == 2) static_cast<plat::Window*>(KivGetWindowHandle())->backend()->PressCloseButton();
    return 1;
  };
  EXPECT_EQ(RunEngine(), 0);
  EXPECT_EQ(g_end_calls.load(), 1);
  EXPECT_EQ(g_end_thread, g_game_thread);
  auto boxes = plat::HeadlessBoxLog();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, Sj("本当に終了しますか？"));
  EXPECT_EQ(boxes[0].caption, "Test");
  EXPECT_EQ(boxes[0].type, plat::kMbYesNo | plat::kMbIconQuestion);
}

TEST_F(ShutdownTest, CloseAnsweredNoChangesNothing) {
  plat::HeadlessBoxScript({plat::kIdNo});
  g_start = StartWithTask;
  g_task = [](void*) {
    int n = ++g_frames;
    auto* w = static_cast<plat::Window*>(KivGetWindowHandle());
    // Sent, so the answer is known before the frame goes on.
    if (n == 2) w->Send(plat::kMsgClose, 0, 0);
    if (n == 10) KivEnd();
    return 1;
  };
  EXPECT_EQ(RunEngine(), 0);
  EXPECT_EQ(g_frames.load(), 10) << "the engine ran on after the No";
  EXPECT_EQ(g_end_calls.load(), 1);
  EXPECT_EQ(plat::HeadlessBoxLog().size(), 1u);
}

// Close requests that reach the window before KivRun has started the game
// (during KivInit's boxes, the host's own start-up) wait for the game to
// run and then end it in order; requests that meet are handled once.
TEST_F(ShutdownTest, RequestsBeforeTheGameRunsEndItOnceInOrder) {
  struct Case {
    const char* name;
    std::vector<uint32_t> requests;  // posted between KivInit and KivRun
    std::vector<int> answers;        // scripted box answers
    int questions;                   // close questions asked
    bool ends;                       // ends by the request (else by the task at frame 10)
  } cases[] = {
      {"close, Yes", {plat::kMsgClose}, {plat::kIdYes}, 1, true},
      {"close, box not shown", {plat::kMsgClose}, {}, 1, true},
      {"close, No", {plat::kMsgClose}, {plat::kIdNo}, 1, false},
      {"termination signal", {plat::kMsgEndSession}, {}, 0, true},
      {"close twice, Yes", {plat::kMsgClose, plat::kMsgClose}, {plat::kIdYes, plat::kIdYes}, 1, true},
      {"signal, then close", {plat::kMsgEndSession, plat::kMsgClose}, {plat::kIdYes}, 0, true},
      {"close, then signal", {plat::kMsgClose, plat::kMsgEndSession}, {plat::kIdYes}, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    plat::HeadlessBoxReset();
    plat::HeadlessBoxScript(c.answers);
    g_frames = 0;
    g_end_calls = 0;
    g_start = StartWithTask;
    static bool ends_by_request;
    static std::atomic<bool> ended_by_task;
    static std::chrono::steady_clock::time_point started;
    ends_by_request = c.ends;
    ended_by_task = false;
    started = std::chrono::steady_clock::now();
    g_task = [](void*) {
      const int n = ++g_frames;
      // After a No the game goes on until it ends itself; a request that
      // ends the game must do so long before the safety stop (the virtual
      // clock runs frames as fast as they go, so that stop is in real time).
      if (ended_by_task) return 1;
      if ((!ends_by_request && n >= 10 && !plat::HeadlessBoxLog().empty()) ||
          std::chrono::steady_clock::now() - started > std::chrono::seconds(20)) {
        ended_by_task = true;
        KivEnd();
      }
      return 1;
    };
    ASSERT_EQ(KivInit(&params), 1);
    auto* w = static_cast<plat::Window*>(KivGetWindowHandle());
    for (uint32_t m : c.requests) ASSERT_TRUE(w->Post(m, 0, 0));
    EXPECT_EQ(KivRun(), 0);
    EXPECT_TRUE(g_kiv->gameThread->Ended());
    EXPECT_TRUE(g_kiv->workerThread->Ended());
    EXPECT_EQ(KivUninit(), 1);
    EXPECT_EQ(g_end_calls.load(), 1) << "the game ended in order, once";
    EXPECT_GE(g_frames.load(), 1) << "the game ran before it ended";
    EXPECT_EQ(ended_by_task.load(), !c.ends);
    int questions = 0;
    for (const auto& box : plat::HeadlessBoxLog()) questions += box.text == Sj("本当に終了しますか？");
    EXPECT_EQ(questions, c.questions);
  }
}

TEST_F(ShutdownTest, EndCallbackGetsFirstRootTaskData) {
  static void* data = nullptr;
  g_start = [] {
    g_game_thread = std::this_thread::get_id();
    return KivTaskCreate(TaskThunk, nullptr, 64, &data, KIV_TASK_BEHIND, nullptr, "first") != nullptr;
  };
  g_task = [](void*) {
    KivEnd();
    return 1;
  };
  EXPECT_EQ(RunEngine(), 0);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(g_end_data, data);
}

TEST_F(ShutdownTest, AttachedCallsRunOnTheirThreadsInOrder) {
  static std::vector<int> order;
  static std::thread::id window_thread, worker_thread;
  order.clear();
  window_thread = std::this_thread::get_id();
  g_start = StartWithTask;
  g_task = [](void*) {
    int n = ++g_frames;
    if (n == 1) {
      for (int i = 0; i < 5; ++i)
        KivAttachProcess([](intptr_t a) {
          EXPECT_EQ(std::this_thread::get_id(), window_thread);
          order.push_back(static_cast<int>(a));
        }, i);
      KivAttachWorkProcess([](intptr_t) { worker_thread = std::this_thread::get_id(); }, 0);
    }
    if (n == 200) KivEnd();
    return 1;
  };
  EXPECT_EQ(RunEngine(), 0);
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
  EXPECT_NE(worker_thread, std::thread::id{});
  EXPECT_NE(worker_thread, window_thread);
  EXPECT_NE(worker_thread, g_game_thread);
}

TEST_F(ShutdownTest, PostsToEndedThreadsFail) {
  g_start = StartWithTask;
  g_task = [](void*) {
    KivEnd();
    return 1;
  };
  ASSERT_EQ(KivInit(&params), 1);
  std::shared_ptr<plat::Thread> worker;
  EXPECT_EQ(KivRun(), 0);
  // The worker is gone: attaching to it fails at once instead of looping.
  EXPECT_EQ(KivAttachWorkProcess(EndFromWorker, 0), 0);
  EXPECT_EQ(KivAttachProcess(EndFromWorker, 0), 0);
  EXPECT_EQ(KivUninit(), 1);
}

TEST_F(ShutdownTest, LiveAllocationCounterEndsAtZero) {
  params.debug = 1;
  g_start = [] {
    // A block the host frees itself, a list, and a render list.
    void* b = KivMemoryAlloc(100, 1);
    KivList* l = KivListCreate();
    KivListPush(l, 1, 1);
    KivListRelease(l);
    KivMemoryFree(b);
    KivRenderSetActive(KivRenderInit());
    return StartWithTask();
  };
  g_task = [](void*) {
    if (++g_frames == 3) KivEnd();
    return 1;
  };
  g_end = [](void*) {
    KivRenderList* list = KivRenderGetActive();
    KivRenderSetActive(nullptr);
    KivRenderUninit(list);
  };
  EXPECT_EQ(RunEngine(), 0);
  // KivUninit ran the leak report: with nothing left, it wrote no line.
  std::ifstream in(std::string(g_base_folder) + "/log.txt", std::ios::binary);
  EXPECT_TRUE(in.is_open()) << "debug mode created log.txt";
  std::stringstream ss;
  ss << in.rdbuf();
  EXPECT_EQ(ss.str().find(Sj("メモリの解放忘れ")), std::string::npos) << ss.str();
}

}  // namespace
