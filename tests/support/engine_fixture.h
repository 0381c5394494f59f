// Runs the engine headless inside a test: the in-memory window, scripted
// message boxes and (by default) the virtual clock. Tests hand the engine
// plain functions, so the fixture keeps the test's hooks in globals.
#pragma once
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "core/fault_inject.h"
#include "kiv.h"
#include "platform/core/backend.h"
#include "platform/core/clock.h"
#include "platform/window/messages.h"
#include "platform/window/message_box.h"
#include "platform/core/text_encoding.h"
#include "core/system_state.h"

namespace kivtest {

inline std::function<int()> g_start;
inline std::function<void(void*)> g_end;
inline std::atomic<int> g_end_calls{0};
inline std::thread::id g_end_thread;
inline void* g_end_data = nullptr;

inline int StartThunk() { return g_start ? g_start() : 1; }
inline void EndThunk(void* data) {
  g_end_calls.fetch_add(1);
  g_end_thread = std::this_thread::get_id();
  g_end_data = data;
  if (g_end) g_end(data);
}

// A task procedure that runs a test-supplied function every frame.
inline std::function<int(void*)> g_task;
inline int TaskThunk(void* data) { return g_task ? g_task(data) : 1; }

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::UseHeadless(true);
    plat::UseVirtualClock(true, 1000);
    plat::HeadlessBoxReset();
    KivFaultSet(0);
    g_start = nullptr;
    g_end = nullptr;
    g_task = nullptr;
    g_end_calls = 0;
    g_end_thread = {};
    g_end_data = nullptr;
    KivDefaultCreate(&params);
    params.title = "Test";
    params.clientWidth = params.screenWidth = 320;
    params.clientHeight = params.screenHeight = 180;
    params.mode &= ~KIV_MODE_GPU;
    params.startCallback = StartThunk;
    params.endCallback = EndThunk;
  }
  void TearDown() override {
    if (g_kiv) KivUninit();
    KivFaultSet(0);
    plat::UseVirtualClock(false);
  }

  KivSystemParameters params{};
};

// Shift-JIS form of a UTF-8 literal, for comparing with logged boxes.
inline std::string Sj(const char* utf8) { return plat::Utf8ToCp932(utf8); }

}  // namespace kivtest
