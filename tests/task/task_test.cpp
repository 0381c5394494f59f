// Tasks and waits, walked by hand on a bare system record.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/system_state.h"

namespace {

std::vector<std::string> g_log;

struct Named {
  char name[8];
};

int LogProc(void* data) {
  g_log.push_back(static_cast<Named*>(data)->name);
  return 1;
}
void LogRelease(void* data) { g_log.push_back(std::string("~") + static_cast<Named*>(data)->name); }

class TaskTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_kiv = &state;
    ASSERT_EQ(KivTaskInit(), 1);
    g_log.clear();
  }
  void TearDown() override {
    KivTaskUninit();
    EXPECT_EQ(state.liveAllocations.load(), 0) << "every task's data was freed";
    g_kiv = nullptr;
  }
  KivTask* Make(const char* name, int mode = KIV_TASK_BEHIND, KivTask* where = nullptr,
                KivTaskProc proc = LogProc) {
    void* data = nullptr;
    KivTask* t = KivTaskCreate(proc, LogRelease, sizeof(Named), &data, mode, where, name);
    if (t) std::snprintf(static_cast<Named*>(data)->name, 8, "%s", name);
    return t;
  }
  void Walk() { KivTaskWalkRoot(); }
  KivSystemState state;
};

TEST_F(TaskTest, ChildrenRunBeforeParentsAndPlacement) {
  KivTask* a = Make("a");             // root: a
  KivTask* b = Make("b", KIV_TASK_BEHIND, a);  // root: a b
  Make("a1", KIV_TASK_CHILD, a);
  Make("a2", KIV_TASK_CHILD, a);      // first in a's child list: a2 a1
  ASSERT_NE(b, nullptr);
  Walk();
  EXPECT_EQ(g_log, (std::vector<std::string>{"a2", "a1", "a", "b"}));
  // A parent parked in another state still has its children run.
  KivTaskChangeState(a, 7);
  g_log.clear();
  Walk();
  EXPECT_EQ(g_log, (std::vector<std::string>{"a2", "a1", "b"}));
}

int CreateBehindSelf(void*) {
  g_log.push_back("creator");
  static bool once = false;
  if (!once) {
    once = true;
    void* data;
    KivTask* t = KivTaskCreate(LogProc, nullptr, sizeof(Named), &data, KIV_TASK_BEHIND, nullptr, "new");
    std::snprintf(static_cast<Named*>(data)->name, 8, "new");
    EXPECT_NE(t, nullptr);
  }
  return 1;
}

TEST_F(TaskTest, TaskCreatedDuringProcedureRunsInSamePass) {
  Make("c", KIV_TASK_BEHIND, nullptr, CreateBehindSelf);
  Walk();
  EXPECT_EQ(g_log, (std::vector<std::string>{"creator", "new"}));
}

TEST_F(TaskTest, BlockingTaskHoldsLaterSiblingsButNotTheirReleases) {
  KivTask* first = Make("first");
  KivTask* block = Make("block", KIV_TASK_BEHIND | KIV_TASK_BLOCKING, first);
  KivTask* later = Make("later", KIV_TASK_BEHIND, block);
  KivTask* gone = Make("gone", KIV_TASK_BEHIND, later);
  Make("gone1", KIV_TASK_CHILD, gone);
  Make("late1", KIV_TASK_CHILD, later);
  ASSERT_EQ(KivTaskFree(gone), 1);
  EXPECT_EQ(KivTaskGetState(gone), 2) << "freed, not yet released";
  Walk();
  EXPECT_EQ(g_log, (std::vector<std::string>{"first", "block", "~gone1", "~gone"}));
  KivTaskFree(block);
  g_log.clear();
  Walk();
  EXPECT_EQ(g_log, (std::vector<std::string>{"first", "~block", "late1", "later"}));
}

KivTask* g_released_self = nullptr;
void ReleaseThatCreates(void*) {
  void* data;
  KivTask* t = KivTaskCreate(LogProc, LogRelease, sizeof(Named), &data, KIV_TASK_BEHIND, nullptr, "heir");
  ASSERT_NE(t, nullptr);
  EXPECT_NE(t, g_released_self) << "never the slot being released";
  std::snprintf(static_cast<Named*>(data)->name, 8, "heir");
}

TEST_F(TaskTest, ReleaseProcedureMayCreateATask) {
  void* data;
  g_released_self = KivTaskCreate(LogProc, ReleaseThatCreates, sizeof(Named), &data, KIV_TASK_BEHIND, nullptr, "x");
  std::snprintf(static_cast<Named*>(data)->name, 8, "x");
  // Make the cursor point at the releasing slot so a careless release would reuse it.
  state.tasks.cursor = static_cast<int>(g_released_self - state.tasks.slots);
  KivTaskFree(g_released_self);
  Walk();
  EXPECT_EQ(g_log, (std::vector<std::string>{"heir"}));
  g_log.clear();
  Walk();
  EXPECT_EQ(g_log, (std::vector<std::string>{"heir"})) << "the new task is still linked and runs";
  EXPECT_EQ(state.tasks.live, 1);
}

TEST_F(TaskTest, RefusedOperations) {
  KivTask* t = Make("t");
  KivTask* root = state.tasks.root;
  EXPECT_EQ(KivTaskCreate(LogProc, nullptr, 4, nullptr, KIV_TASK_CHILD, root, "x"), nullptr)
      << "the root has no child list";
  EXPECT_EQ(KivTaskCreate(nullptr, nullptr, 4, nullptr, KIV_TASK_BEHIND, nullptr, "x"), nullptr);
  EXPECT_EQ(KivTaskFree(root), 0);
  EXPECT_EQ(KivTaskFree(nullptr), 0) << "between walks the current task is the root";
  EXPECT_EQ(KivTaskChangeState(t, 0), nullptr);
  EXPECT_EQ(KivTaskChangeState(t, 3), nullptr);
  EXPECT_EQ(KivTaskGetState(t), 1);
  EXPECT_EQ(KivTaskGetTaskData(nullptr), nullptr) << "no default task";
  KivTaskSetTaskData(t);
  EXPECT_NE(KivTaskGetTaskData(nullptr), nullptr);
  EXPECT_EQ(state.tasks.live, 1);
}

TEST_F(TaskTest, PoolHolds256LiveTasks) {
  std::vector<KivTask*> made;
  for (int i = 0; i < 256; ++i) {
    KivTask* t = KivTaskCreate(LogProc, nullptr, 8, nullptr, KIV_TASK_BEHIND, nullptr, "n");
    ASSERT_NE(t, nullptr) << i;
    made.push_back(t);
  }
  EXPECT_EQ(KivTaskCreate(LogProc, nullptr, 8, nullptr, KIV_TASK_BEHIND, nullptr, "n"), nullptr);
  KivTaskFree(made[10]);
  state.tasks.current = state.tasks.root;
  // Released in a walk with procedures that would log: stop them logging.
  for (KivTask* t : made)
    if (t != made[10]) KivTaskChangeState(t, 5);
  Walk();
  EXPECT_NE(KivTaskCreate(LogProc, nullptr, 8, nullptr, KIV_TASK_BEHIND, nullptr, "n"), nullptr);
}

TEST_F(TaskTest, MessagesAndChangeNext) {
  KivTask* t = Make("t");
  KivTaskSetMessage(t, 42);
  EXPECT_EQ(KivTaskGetMessage(t), 42);
  EXPECT_EQ(KivTaskGetMessage(t), 0) << "reading clears it";
  static int calls = 0;
  calls = 0;
  state.tasks.current = t;
  EXPECT_EQ(KivTaskChangeNextImm([](void*) { return ++calls + 100; }), 101);
  state.tasks.current = state.tasks.root;
  Walk();
  EXPECT_EQ(calls, 2);
}

int g_wait_frames_arg = 1;

// Frames in which the task behind a KivWait(n) is held, for several n.
TEST_F(TaskTest, WaitHoldsTheTasksBehindIt) {
  struct Case {
    int frames;
    int held;
  } cases[] = {{1, 2}, {3, 4}, {0, 2}, {-5, 2}};
  for (const Case& c : cases) {
    KivTaskUninit();
    ASSERT_EQ(KivTaskInit(), 1);
    g_log.clear();
    void* data;
    // The waiting task creates the wait behind itself; "b" stands behind it.
    KivTask* w = KivTaskCreate([](void* d) {
      int* n = static_cast<int*>(d);
      if ((*n)++ == 0) KivWait(g_wait_frames_arg);
      return 1;
    }, nullptr, sizeof(int), &data, KIV_TASK_BEHIND, nullptr, "w");
    Make("b", KIV_TASK_BEHIND, w);
    g_wait_frames_arg = c.frames;
    int held = 0;
    for (int pass = 0; pass < 8; ++pass) {
      g_log.clear();
      Walk();
      if (g_log.empty()) ++held; else break;
    }
    EXPECT_EQ(held, c.held) << "KivWait(" << c.frames << ")";
  }
}

TEST_F(TaskTest, WaitTimeEndsAfterItsDuration) {
  KivTask* w = KivTaskCreate([](void* d) {
    int* n = static_cast<int*>(d);
    if ((*n)++ == 0) KivWaitTime(50);
    return 1;
  }, nullptr, sizeof(int), nullptr, KIV_TASK_BEHIND, nullptr, "w");
  Make("b", KIV_TASK_BEHIND, w);
  state.frameTime = 1000;
  Walk();  // the wait is made and takes its start time
  EXPECT_TRUE(g_log.empty());
  state.frameTime = 1049;
  Walk();
  EXPECT_TRUE(g_log.empty());
  state.frameTime = 1050;
  Walk();  // the wait ends this pass; b is held once more by its release order
  g_log.clear();
  Walk();
  EXPECT_EQ(g_log, (std::vector<std::string>{"b"}));
}

TEST_F(TaskTest, ResetKeepsOnlyTheFirstTask) {
  KivTask* first = Make("first");
  Make("c1", KIV_TASK_CHILD, first);
  KivTask* second = Make("second", KIV_TASK_BEHIND, first);
  Make("s1", KIV_TASK_CHILD, second);
  Make("third", KIV_TASK_BEHIND, second);
  KivTaskReset();
  EXPECT_EQ(g_log, (std::vector<std::string>{"~s1", "~second", "~third"}));
  g_log.clear();
  Walk();
  EXPECT_EQ(g_log, (std::vector<std::string>{"c1", "first"}));
}

TEST_F(TaskTest, ReProcessWalksFromTheTaskToItsListEnd) {
  KivTask* a = Make("a");
  KivTask* b = Make("b", KIV_TASK_BEHIND, a);
  Make("c", KIV_TASK_BEHIND, b);
  KivTaskReProcess(b);
  EXPECT_EQ(g_log, (std::vector<std::string>{"b", "c"}));
  EXPECT_EQ(state.tasks.current, state.tasks.root);
}

}  // namespace
