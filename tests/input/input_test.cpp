// Input: the key masks and their repeat, the mouse mapping, the cancel masks,
// the inactive window and the joystick, driven frame by frame on the virtual
// clock with injected input (and SDL's virtual joystick for the real
// joystick backend).
#include <SDL.h>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <atomic>
#include <functional>
#include <vector>

#include "support/engine_fixture.h"
#include "kiv.h"
#include "platform/core/clock.h"
#include "platform/input/input.h"
#include "platform/input/sdl_input.h"
#include "platform/window/messages.h"
#include "platform/window/window.h"
#include "core/system_state.h"

namespace {

constexpr uint32_t kEscape = 1u << 0;
constexpr uint32_t kSpace = 1u << 1;
constexpr uint32_t kReturn = 1u << 2;
constexpr uint32_t kLButton = 1u << 23;
constexpr uint32_t kRButton = 1u << 24;
constexpr uint32_t kMButton = 1u << 25;
constexpr uint32_t kFrameMs = 16;

struct Masks {
  int on, push, pull, repeat;
  bool operator==(const Masks&) const = default;
};
Masks KeyMasks() { return {KivInputGetKeyOn(), KivInputGetKeyPush(), KivInputGetKeyPull(), KivInputGetKeyOnEx()}; }
Masks JoyMasks() { return {KivInputGetJoyOn(), KivInputGetJoyPush(), KivInputGetJoyPull(), KivInputGetJoyOnEx()}; }

// A bare system record updated by hand, with injected keyboard and mouse.
class InputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::SetInputBackendKind(plat::Backend::kHeadless);
    plat::HeadlessInputReset();
    plat::UseVirtualClock(true, 1000);
    g_kiv = &state;
    state.active.store(1);
    state.params.clientWidth = state.params.screenWidth = 640;
    state.params.clientHeight = state.params.screenHeight = 480;
    ASSERT_EQ(KivInputInit(), 1);
  }
  void TearDown() override {
    KivInputRelease();
    g_kiv = nullptr;
    plat::UseVirtualClock(false);
    plat::HeadlessInputReset();
    plat::FollowWindowInputBackend();
  }
  // One frame: its time stamp, the update, then the frame's length.
  void Frame() {
    state.frameTime.store(plat::TimeGetMs());
    KivInputUpdate();
    plat::AdvanceVirtualClock(kFrameMs);
  }
  KivSystemState state;
};

TEST_F(InputTest, HeldKeyPushesThenHoldsThenRepeatsAfter500ms) {
  plat::HeadlessSetKey(plat::vk::kSpace, true);
  const uint32_t start = plat::TimeGetMs();
  int repeats = 0;
  for (int f = 0; plat::TimeGetMs() - start <= 600; ++f) {
    uint32_t elapsed = plat::TimeGetMs() - start;
    Frame();
    SCOPED_TRACE(testing::Message() << "frame " << f << " at " << elapsed << " ms");
    Masks want{f >= 1 ? int(kSpace) : 0, f == 0 ? int(kSpace) : 0, 0, elapsed > 500 ? int(kSpace) : 0};
    EXPECT_EQ(KeyMasks(), want);
    repeats += want.repeat != 0;
  }
  EXPECT_EQ(repeats, 6) << "516 .. 596 ms";
  plat::HeadlessSetKey(plat::vk::kSpace, false);
  Frame();
  EXPECT_EQ(KeyMasks(), (Masks{0, 0, int(kSpace), 0}));
}

TEST_F(InputTest, OnlyTheLatestPushRepeats) {
  plat::HeadlessSetKey(plat::vk::kEscape, true);
  Frame();
  for (int f = 0; f < 10; ++f) Frame();  // Escape held 176 ms
  plat::HeadlessSetKey(plat::vk::kReturn, true);
  Frame();
  EXPECT_EQ(KivInputGetKeyPush(), int(kReturn));
  for (int f = 0; f < 40; ++f) Frame();  // 640 ms after Return's push
  EXPECT_EQ(KeyMasks(), (Masks{int(kEscape | kReturn), 0, 0, int(kReturn)}));
  // Return let go: Escape was replaced as the candidate and never repeats.
  plat::HeadlessSetKey(plat::vk::kReturn, false);
  for (int f = 0; f < 40; ++f) {
    Frame();
    EXPECT_EQ(KivInputGetKeyOnEx(), 0) << f;
  }
  // KivInputKeyRepeatClear stops a repeat at once and until the next push.
  plat::HeadlessSetKey(plat::vk::kSpace, true);
  for (int f = 0; f < 40; ++f) Frame();
  EXPECT_EQ(KivInputGetKeyOnEx(), int(kSpace));
  KivInputKeyRepeatClear();
  EXPECT_EQ(KivInputGetKeyOnEx(), 0);
  Frame();
  EXPECT_EQ(KivInputGetKeyOnEx(), 0);
  plat::HeadlessSetKey(plat::vk::kSpace, false);
  plat::HeadlessSetKey(plat::vk::kEscape, false);
  Frame();

  // Pushed together, both repeat; one let go, only the one held repeats.
  constexpr uint32_t kZ = 1u << 28, kX = 1u << 29;
  plat::HeadlessSetKey('Z', true);
  plat::HeadlessSetKey('X', true);
  for (int f = 0; f < 40; ++f) Frame();
  EXPECT_EQ(KivInputGetKeyOnEx(), int(kZ | kX));
  plat::HeadlessSetKey('X', false);
  Frame();
  EXPECT_EQ(KeyMasks(), (Masks{int(kZ), 0, int(kX), int(kZ)}));
}

// A press that begins and ends between two samples (a quick click or tap on
// a slow frame) is still a press: pushed in the next frame, let go
// in the one after, then quiet. A key held across samples is not pushed twice.
TEST_F(InputTest, PressAndReleaseBetweenFramesStillPushesOnce) {
  struct Case {
    int code;
    uint32_t bit;
  } cases[] = {
      {plat::vk::kLButton, kLButton}, {plat::vk::kRButton, kRButton}, {plat::vk::kMButton, kMButton},
      {plat::vk::kSpace, kSpace},     {plat::vk::kReturn, kReturn},   {plat::vk::kEscape, kEscape},
  };
  plat::HeadlessSetCursor(100, 100);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "virtual key " << c.code);
    Frame();
    for (int taps : {1, 3}) {  // several taps in one frame make one push
      for (int t = 0; t < taps; ++t) {
        plat::HeadlessSetKey(c.code, true);
        plat::HeadlessSetKey(c.code, false);
      }
      Frame();
      EXPECT_EQ(KeyMasks(), (Masks{0, int(c.bit), 0, 0}));
      Frame();
      EXPECT_EQ(KeyMasks(), (Masks{0, 0, int(c.bit), 0}));
      Frame();
      EXPECT_EQ(KeyMasks(), (Masks{0, 0, 0, 0}));
    }
    // Held across samples: one push, then held, then let go once.
    plat::HeadlessSetKey(c.code, true);
    Frame();
    EXPECT_EQ(KeyMasks(), (Masks{0, int(c.bit), 0, 0}));
    Frame();
    EXPECT_EQ(KeyMasks(), (Masks{int(c.bit), 0, 0, 0}));
    plat::HeadlessSetKey(c.code, false);
    Frame();
    EXPECT_EQ(KeyMasks(), (Masks{0, 0, int(c.bit), 0}));
  }
}

// The headless backend's own samples: a latched press shows in one sample
// only; a reset forgets it.
TEST(InputSampleLatch, QuickPressShowsInTheNextSampleOnly) {
  plat::SetInputBackendKind(plat::Backend::kHeadless);
  plat::HeadlessInputReset();
  plat::HeadlessSetKey('A', true);
  plat::HeadlessSetKey('A', false);
  EXPECT_TRUE(plat::SampleInput(nullptr).KeyDown('A'));
  EXPECT_FALSE(plat::SampleInput(nullptr).KeyDown('A'));
  plat::HeadlessSetKey(plat::vk::kLButton, true);
  plat::HeadlessSetKey(plat::vk::kLButton, false);
  plat::HeadlessInputReset();
  EXPECT_FALSE(plat::SampleInput(nullptr).KeyDown(plat::vk::kLButton));
  plat::HeadlessSetKey(plat::vk::kLButton, true);
  EXPECT_TRUE(plat::SampleInput(nullptr).KeyDown(plat::vk::kLButton));
  EXPECT_TRUE(plat::SampleInput(nullptr).KeyDown(plat::vk::kLButton));
  plat::HeadlessSetKey(plat::vk::kLButton, false);
  EXPECT_FALSE(plat::SampleInput(nullptr).KeyDown(plat::vk::kLButton));
  plat::HeadlessInputReset();
  plat::FollowWindowInputBackend();
}

// The SDL backend latches the same way: a click and a key tap whose press
// and release events both arrive between two samples read as down once.
TEST(InputSampleLatch, SdlBackendKeepsQuickClicksAndTaps) {
  SDL_SetHint(SDL_HINT_VIDEODRIVER, "dummy");
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) GTEST_SKIP() << SDL_GetError();
  SDL_Window* w = SDL_CreateWindow("latch", 0, 0, 64, 64, SDL_WINDOW_HIDDEN);
  ASSERT_NE(w, nullptr) << SDL_GetError();
  const uint32_t id = SDL_GetWindowID(w);
  plat::SetInputBackendKind(plat::Backend::kReal);
  plat::SampleInput(nullptr);  // whatever came before is consumed
  auto send = [&](uint32_t type) {
    SDL_Event e;
    SDL_zero(e);
    e.type = type;
    if (type == SDL_MOUSEBUTTONDOWN || type == SDL_MOUSEBUTTONUP) {
      e.button.windowID = id;
      e.button.button = SDL_BUTTON_LEFT;
      e.button.x = e.button.y = 10;
    } else {
      e.key.windowID = id;
      e.key.keysym.scancode = SDL_SCANCODE_SPACE;
      e.key.keysym.sym = SDLK_SPACE;
    }
    plat::SdlInputOnEvent(e, w, id);
  };
  for (uint32_t type : {SDL_MOUSEBUTTONDOWN, SDL_MOUSEBUTTONUP, SDL_KEYDOWN, SDL_KEYUP}) send(type);
  plat::InputSample first = plat::SampleInput(nullptr);
  EXPECT_TRUE(first.KeyDown(plat::vk::kLButton));
  EXPECT_TRUE(first.KeyDown(plat::vk::kSpace));
  plat::InputSample second = plat::SampleInput(nullptr);
  EXPECT_FALSE(second.KeyDown(plat::vk::kLButton));
  EXPECT_FALSE(second.KeyDown(plat::vk::kSpace));
  // Held: down in every sample until its release.
  send(SDL_KEYDOWN);
  EXPECT_TRUE(plat::SampleInput(nullptr).KeyDown(plat::vk::kSpace));
  EXPECT_TRUE(plat::SampleInput(nullptr).KeyDown(plat::vk::kSpace));
  send(SDL_KEYUP);
  EXPECT_FALSE(plat::SampleInput(nullptr).KeyDown(plat::vk::kSpace));
  plat::FollowWindowInputBackend();
  SDL_DestroyWindow(w);
  SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

TEST_F(InputTest, MouseButtonPushesOutsideTheClientAreaAreDroppedWhenWindowed) {
  struct Case {
    int fullScreen;
    int x, y;  // cursor relative to the client origin (640 x 480)
    bool pushed;
  } cases[] = {
      {0, 100, 100, true},   {0, 0, 0, true},      {0, 640, 480, true},   // bounds inclusive
      {0, -1, 100, false},   {0, 100, -1, false},  {0, 641, 100, false},  {0, 100, 481, false},
      {1, -50, -50, true},   {1, 2000, 100, true},  // full screen keeps them
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "full " << c.fullScreen << " at " << c.x << "," << c.y);
    state.params.fullScreen = c.fullScreen;
    state.view = plat::Rect{0, 0, 640, 480};
    plat::HeadlessSetCursor(c.x, c.y);
    for (int code : {plat::vk::kLButton, plat::vk::kRButton, plat::vk::kMButton}) plat::HeadlessSetKey(code, true);
    plat::HeadlessSetKey(plat::vk::kSpace, true);
    Frame();
    uint32_t buttons = kLButton | kRButton | kMButton;
    EXPECT_EQ(KivInputGetKeyPush(), int((c.pushed ? buttons : 0) | kSpace)) << "keys are never dropped";
    for (int code : {plat::vk::kLButton, plat::vk::kRButton, plat::vk::kMButton}) plat::HeadlessSetKey(code, false);
    plat::HeadlessSetKey(plat::vk::kSpace, false);
    Frame();
  }
}

TEST_F(InputTest, CancelMasksStayUntilReplaced) {
  plat::HeadlessSetKey(plat::vk::kEscape, true);
  plat::HeadlessSetKey(plat::vk::kSpace, true);
  Frame();
  ASSERT_EQ(KivInputGetKeyPush(), int(kEscape | kSpace));
  KivInputKeyCancel(int(kEscape), 0);
  EXPECT_EQ(KeyMasks(), (Masks{0, int(kSpace), 0, 0})) << "applied at once";
  for (int f = 0; f < 40; ++f) Frame();  // on, then repeat, for Escape: all cancelled
  EXPECT_EQ(KeyMasks(), (Masks{int(kSpace), 0, 0, int(kSpace)}));
  KivInputSetKeyPush(int(kEscape));  // synthetic input is cancelled by the next update
  EXPECT_EQ(KivInputGetKeyPush(), int(kEscape));
  Frame();
  EXPECT_EQ(KivInputGetKeyPush(), 0);
  plat::HeadlessSetKey(plat::vk::kEscape, false);
  Frame();
  EXPECT_EQ(KivInputGetKeyPull(), 0);
  plat::HeadlessSetKey(plat::vk::kEscape, true);
  Frame();
  EXPECT_EQ(KivInputGetKeyPush(), 0);
  KivInputKeyCancel(0, 0);
  Frame();
  EXPECT_EQ(KivInputGetKeyOn(), int(kEscape | kSpace)) << "cancel ended";

  // Events: 16 also zeroes the wheel; the kept mask applies after every update.
  state.input.eventWord.store(16 | 1);
  state.input.wheel.store(1);
  KivInputKeyCancel(0, 16);
  EXPECT_EQ(KivInputGetKeyEx(), 1);
  EXPECT_EQ(KivInputGetWheel(), 0);
  state.input.eventWord.store(16 | 4);  // the next frame's messages
  state.input.wheel.store(-1);
  Frame();
  EXPECT_EQ(KivInputGetKeyEx(), 4);
  EXPECT_EQ(KivInputGetWheel(), 0);
  KivInputKeyCancel(0, 1);
  state.input.eventWord.store(16 | 1);
  state.input.wheel.store(-1);
  Frame();
  EXPECT_EQ(KivInputGetKeyEx(), 16);
  EXPECT_EQ(KivInputGetWheel(), -1);
}

TEST_F(InputTest, SyntheticSettersOrIntoThisFrameOnly) {
  plat::HeadlessSetKey(plat::vk::kSpace, true);
  Frame();
  KivInputSetKeyOn(int(kReturn));
  KivInputSetKeyPush(int(kEscape));
  KivInputSetKeyPull(int(kLButton));
  EXPECT_EQ(KeyMasks(), (Masks{int(kReturn), int(kSpace | kEscape), int(kLButton), 0}));
  Frame();
  EXPECT_EQ(KeyMasks(), (Masks{int(kSpace), 0, 0, 0}));
}

TEST(InputMouse, MappingTable) {
  struct Case {
    const char* what;
    int fullScreen;
    int clientW, clientH, screenW, screenH;
    plat::Rect view;
    plat::Point first, second;  // cursor, relative to the client origin, in two frames
    int x, y, moveX, moveY;     // after the second frame
  } cases[] = {
      {"same size", 0, 640, 480, 640, 480, {}, {10, 20}, {15, 27}, 15, 27, 5, 7},
      {"client twice the screen", 0, 1280, 960, 640, 480, {}, {100, 100}, {301, 51}, 150, 25, 100, -25},
      {"client half the screen", 0, 320, 240, 640, 480, {}, {0, 0}, {319, 239}, 638, 478, 638, 478},
      {"left of the client: negative", 0, 640, 480, 640, 480, {}, {5, 5}, {-10, -480}, -10, -480, -15, -485},
      {"right edge is out", 0, 640, 480, 640, 480, {}, {5, 5}, {640, 480}, -1, -1, 0, 0},
      {"too far left is out", 0, 640, 480, 640, 480, {}, {5, 5}, {-641, 10}, -1, 10, 0, 5},
      {"from no position: no move", 0, 640, 480, 640, 480, {}, {700, 700}, {30, 40}, 30, 40, 0, 0},
      {"full screen, bars at the sides", 1, 640, 480, 640, 480, {160, 0, 1120, 720}, {160, 0}, {640, 360},
       320, 240, 320, 240},
      {"full screen, stretched", 1, 640, 480, 640, 480, {0, 0, 1920, 1080}, {0, 0}, {960, 1079}, 320, 479, 320,
       479},
      {"full screen, picture cut", 1, 640, 480, 640, 480, {-80, -60, 1360, 1020}, {0, 0}, {0, 0}, 35, 26, 0, 0},
  };
  plat::SetInputBackendKind(plat::Backend::kHeadless);
  plat::Backend windowKind = plat::WindowBackendKind();
  plat::SetWindowBackendKind(plat::Backend::kHeadless);
  plat::HeadlessInputReset();
  // The cursor is in screen coordinates; the client area starts at (200, 100).
  plat::WindowDesc desc;
  desc.x = 200;
  desc.y = 100;
  plat::Window* window = plat::Window::Create(desc, plat::DefWindowProc);
  ASSERT_NE(window, nullptr);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    KivSystemState state;
    g_kiv = &state;
    state.window = window;
    state.active.store(1);
    state.params.fullScreen = c.fullScreen;
    state.params.clientWidth = c.clientW;
    state.params.clientHeight = c.clientH;
    state.params.screenWidth = c.screenW;
    state.params.screenHeight = c.screenH;
    state.view = c.view;
    ASSERT_EQ(KivInputInit(), 1);
    EXPECT_EQ(KivInputGetMouseX(), -1);
    for (plat::Point p : {c.first, c.second}) {
      plat::HeadlessSetCursor(200 + p.x, 100 + p.y);
      KivInputUpdate();
    }
    EXPECT_EQ(KivInputGetMouseX(), c.x);
    EXPECT_EQ(KivInputGetMouseY(), c.y);
    EXPECT_EQ(KivInputGetMouseMoveX(), c.moveX);
    EXPECT_EQ(KivInputGetMouseMoveY(), c.moveY);
    KivInputRelease();
    g_kiv = nullptr;
  }
  window->Destroy();
  plat::SetWindowBackendKind(windowKind);
  plat::HeadlessInputReset();
  plat::FollowWindowInputBackend();
}

// ---- Joystick ----

// The same frames through the injected device and through SDL's virtual
// joystick: axis values in the -1000..1000 range, the threshold at 800.
struct JoyFrame {
  int x, y;
  uint32_t buttons;
  int on, push, pull;
};
const JoyFrame kJoyFrames[] = {
    {0, 0, 0, 0, 0, 0},
    {0, -801, 0, 0, 1, 0},           // up
    {0, -1000, 0, 1, 0, 0},          // still up: held
    {0, -800, 0, 0, 0, 1},           // 800 is not beyond the threshold
    {0, 1000, 0, 0, 2, 0},           // down
    {-801, 800, 0, 0, 4, 2},         // left
    {801, 0, 0, 0, 8, 4},            // right
    {800, 0, 1u << 0, 0, 1 << 4, 8},  // button 0 is bit 4
    {0, 0, 1u << 0 | 1u << 9, 1 << 4, 1 << 13, 0},
    {0, 0, 1u << 10, 0, 0, 1 << 4 | 1 << 13},  // button 10 is not read
};

void ExpectJoyFrames(const std::function<void(const JoyFrame&)>& set) {
  for (size_t i = 0; i < std::size(kJoyFrames); ++i) {
    const JoyFrame& f = kJoyFrames[i];
    SCOPED_TRACE(testing::Message() << "frame " << i);
    set(f);
    KivInputUpdate();
    EXPECT_EQ(JoyMasks(), (Masks{f.on, f.push, f.pull, 0}));
  }
}

TEST(InputJoystick, InjectedDeviceThresholdsButtonsAndLostReads) {
  plat::SetInputBackendKind(plat::Backend::kHeadless);
  plat::HeadlessInputReset();
  KivSystemState state;
  g_kiv = &state;
  state.active.store(1);
  ASSERT_EQ(KivInputInit(), 1);
  KivInputUpdate();
  EXPECT_EQ(JoyMasks(), (Masks{0, 0, 0, 0})) << "no joystick";
  KivInputRelease();

  plat::HeadlessSetJoystick(true);
  ASSERT_EQ(KivInputInit(), 1);
  ExpectJoyFrames([](const JoyFrame& f) { plat::HeadlessSetJoyState({f.x, f.y, f.buttons}); });
  // A read that fails leaves last frame's masks; the next good read goes on.
  plat::HeadlessSetJoyState({0, 0, 1u << 1});
  plat::HeadlessSetJoyLost(true);
  KivInputUpdate();
  EXPECT_EQ(JoyMasks(), (Masks{0, 0, 1 << 4 | 1 << 13, 0}));
  plat::HeadlessSetJoyLost(false);
  KivInputUpdate();
  EXPECT_EQ(JoyMasks(), (Masks{0, 1 << 5, 0, 0}));
  KivInputClear();
  EXPECT_EQ(JoyMasks(), (Masks{0, 0, 0, 0}));
  // Unplugged: it reads as let go.
  plat::HeadlessSetJoystick(false);
  KivInputUpdate();
  EXPECT_EQ(JoyMasks(), (Masks{0, 0, 1 << 5, 0}));
  KivInputRelease();
  g_kiv = nullptr;
  plat::HeadlessInputReset();
  plat::FollowWindowInputBackend();
}

// The raw SDL axis value that reads as `v` in -1000..1000.
Sint16 RawAxis(int v) {
  int64_t mag = (static_cast<int64_t>(v < 0 ? -v : v) * 32767 + 999) / 1000;
  return static_cast<Sint16>(v < 0 ? -mag : mag);
}

TEST(InputJoystick, SdlVirtualJoystick) {
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_JOYSTICK), 0) << SDL_GetError();
  if (SDL_NumJoysticks() != 0) {
    SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
    GTEST_SKIP() << "a real game controller is attached";
  }
  int index = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, 2, 11, 0);
  ASSERT_GE(index, 0) << SDL_GetError();
  SDL_Joystick* device = SDL_JoystickOpen(index);
  ASSERT_NE(device, nullptr) << SDL_GetError();

  plat::SetInputBackendKind(plat::Backend::kReal);
  KivSystemState state;
  g_kiv = &state;
  state.active.store(1);
  ASSERT_EQ(KivInputInit(), 1);
  ASSERT_NE(state.input.joystick, nullptr);
  // Keyboard and mouse come from the SDL snapshot, which no window feeds here.
  ExpectJoyFrames([device](const JoyFrame& f) {
    SDL_JoystickSetVirtualAxis(device, 0, RawAxis(f.x));
    SDL_JoystickSetVirtualAxis(device, 1, RawAxis(f.y));
    for (int b = 0; b < 11; ++b) SDL_JoystickSetVirtualButton(device, b, (f.buttons >> b) & 1u);
  });
  KivInputRelease();
  g_kiv = nullptr;
  plat::FollowWindowInputBackend();

  SDL_JoystickClose(device);
  SDL_JoystickDetachVirtual(index);
  SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
}

// ---- Through the engine ----

std::vector<Masks> g_keys;
std::vector<std::pair<int, int>> g_mouse;
std::atomic<int> g_frame{0};

class InputEngineTest : public kivtest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    plat::HeadlessInputReset();
    plat::FollowWindowInputBackend();
    params.x = 100;
    params.y = 50;
    params.mode |= KIV_MODE_RUN_INACTIVE;  // tasks go on, to watch the masks
  }
  void TearDown() override {
    EngineTest::TearDown();
    plat::HeadlessInputReset();
  }
};

TEST_F(InputEngineTest, InactiveOrMinimisedWindowReadsNothing) {
  using kivtest::g_start;
  using kivtest::g_task;
  g_keys.clear();
  g_mouse.clear();
  g_frame = 0;
  g_start = [] { return KivTaskCreate(kivtest::TaskThunk, nullptr, 4, nullptr, KIV_TASK_BEHIND, nullptr, "t") != nullptr; };
  // Frame 2 posts the deactivation (handled on the window thread while
  // frames go on), frame 6 the activation, frame 10 a minimise, frame 14 the
  // restore; every frame records what the game sees.
  g_task = [](void*) {
    g_keys.push_back(KeyMasks());
    g_mouse.emplace_back(KivInputGetMouseX(), KivInputGetMouseY());
    auto* w = static_cast<plat::Window*>(KivGetWindowHandle());
    KivSystemState* s = g_kiv;
    int f = g_frame++;
    auto post_and_wait = [&](uint32_t m, uintptr_t wp, bool want_quiet) {
      w->Post(m, wp, 0);
      // A real sleep: the virtual clock must not run on (and start the key
      // repeat) while the window thread takes its time.
      while ((s->active.load() && !s->minimised.load()) == want_quiet)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    if (f == 2) post_and_wait(plat::kMsgActivate, 0, true);
    if (f == 6) post_and_wait(plat::kMsgActivate, 1, false);
    if (f == 10) post_and_wait(plat::kMsgSize, plat::kSizeMinimized, true);
    if (f == 14) post_and_wait(plat::kMsgSize, plat::kSizeRestored, false);
    if (f == 17) KivEnd();
    return 1;
  };
  plat::HeadlessSetKey(plat::vk::kSpace, true);
  plat::HeadlessSetCursor(100 + 32, 50 + 18);
  ASSERT_EQ(KivInit(&params), 1);
  EXPECT_EQ(KivRun(), 0);
  ASSERT_EQ(g_keys.size(), 18u);
  for (size_t f = 0; f < g_keys.size(); ++f) {
    SCOPED_TRACE(testing::Message() << "frame " << f);
    bool quiet = (f >= 3 && f <= 6) || (f >= 11 && f <= 14);
    if (quiet) {
      EXPECT_EQ(g_keys[f], (Masks{0, 0, 0, 0}));
      EXPECT_EQ(g_mouse[f], std::make_pair(-1, -1));
    } else {
      // Pushed in the first frame only: the held key is not pushed again
      // when the window comes back.
      EXPECT_EQ(g_keys[f], (Masks{f == 0 ? 0 : int(kSpace), f == 0 ? int(kSpace) : 0, 0, 0}));
      EXPECT_EQ(g_mouse[f], std::make_pair(32, 18));
    }
  }
}

TEST_F(InputEngineTest, InitFaultFailsStartUp) {
  KivFaultSet(static_cast<uint32_t>(KivFault::kInput));
  EXPECT_EQ(KivInit(&params), 0);
  KivFaultSet(0);
}

}  // namespace
