// Button groups frame by frame: the virtual clock, the injected mouse and
// left button, and a timed sound stand-in in place of the sound family.
// Every row of the step table checks the call's result, hovered and pressed
// sprites, the cell row of every button and the sounds started.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/input/input.h"
#include "support/sprite_scene.h"
#include "ui/button_sound.h"
#include "ui/ui.h"

using namespace kivtest;
using kivtools::Image;

namespace {

// Sounds that play for a fixed time on the frame clock: "hover" 300 ms and
// its duplicates, "click" 200 ms; "missing" fails to load.
struct TimedSounds {
  std::map<KivSoundId, std::string> name;
  std::map<KivSoundId, uint32_t> length, until;
  std::vector<std::string> started;
  std::vector<KivSoundId> released;
  int copies = 0;
  int next = 0;
  bool copiesFail = false;

  KivSoundId Make(const std::string& n, uint32_t ms) {
    const KivSoundId id = 0x50000000 | ++next;
    name[id] = n;
    length[id] = ms;
    return id;
  }
  std::string Take() {
    std::string out;
    for (const std::string& s : started) out += (out.empty() ? "" : " ") + s;
    started.clear();
    return out;
  }
};
TimedSounds* g_sounds = nullptr;

KivSoundId Load(const char* file, int type) {
  EXPECT_EQ(type, 4);
  const std::string f = file;
  if (f == "hover") return g_sounds->Make("h0", 300);
  if (f == "click") return g_sounds->Make("c", 200);
  return 0;
}
KivSoundId Copy(KivSoundId src, int type) {
  EXPECT_EQ(type, 4);
  ++g_sounds->copies;
  if (g_sounds->copiesFail || !g_sounds->name.count(src)) return 0;
  return g_sounds->Make("h" + std::to_string(g_sounds->copies), g_sounds->length[src]);
}
int Play(KivSoundId id) {
  g_sounds->until[id] = KivtimeGetTime() + g_sounds->length[id];
  g_sounds->started.push_back(g_sounds->name[id]);
  return 1;
}
int Playing(KivSoundId id) {
  auto it = g_sounds->until.find(id);
  return it != g_sounds->until.end() && KivtimeGetTime() < it->second ? 1 : 0;
}
int Release(KivSoundId id) {
  g_sounds->released.push_back(id);
  return 1;
}
const KivButtonSoundCalls kTimed{Load, Copy, Play, Playing, Release};

// A 32 x 96 sheet of three 32 x 32 cell rows; `clearLeft`: its left half
// is fully transparent.
Image Sheet(bool clearLeft = false) {
  Image img{32, 96, std::vector<uint32_t>(32 * 96)};
  for (int y = 0; y < 96; ++y)
    for (int x = 0; x < 32; ++x)
      img.pixels[static_cast<size_t>(y) * 32 + x] = (clearLeft && x < 16 ? 0u : 0xFF000000u) | (y / 32 * 80) << 16 | 0x40;
  return img;
}

class ButtonTest : public SpriteSceneTest {
 protected:
  void SetUp() override {
    SpriteSceneTest::SetUp();
    g_sounds = &sounds;
    KivButtonSoundUse(&kTimed);
    plat::HeadlessInputReset();
    g_kiv->active = 1;
    g_kiv->minimised = 0;
    g_kiv->frameTime = 1000;
    origin = g_kiv->window->backend()->ClientRectOnScreen();
  }
  void TearDown() override {
    KivButtonSoundUse(nullptr);
    g_sounds = nullptr;
    SpriteSceneTest::TearDown();
  }
  KivSprite* Button(float x, float y, int priority, bool clearLeft = false) {
    KivSprite* s = FromImage(Sheet(clearLeft), priority);
    if (s) {
      KivSpriteSetOffsetRect(s, 32, 32);
      KivSpriteRectSetPos(s, 0, 0);
      KivSpriteSetPos(s, x, y);
    }
    return s;
  }
  // The mouse at a client point with the left button up or down, sampled
  // as the frame does.
  void Input(int x, int y, bool down) {
    plat::HeadlessSetCursor(origin.left + x, origin.top + y);
    plat::HeadlessSetKey(plat::vk::kLButton, down);
    KivInputUpdate();
  }
  static int Row(KivSprite* s) {
    KivRect r{};
    KivSpriteGetRect(s, &r);
    return r.top / 32;
  }
  TimedSounds sounds;
  plat::Rect origin;
};

TEST_F(ButtonTest, StepTable) {
  KivButton* g = KivButtonCreate("hover", "click");
  ASSERT_NE(g, nullptr);
  EXPECT_NE(g->hoverSounds[4], 0);
  KivSprite* A = Button(10, 10, 20);
  KivSprite* B = Button(60, 10, 20);
  KivSprite* D = Button(26, 60, 10);        // in front of F where they overlap
  KivSprite* F = Button(10, 60, 20);
  KivSprite* E = Button(110, 10, 20, true);  // alpha-tested; its left half is clear
  KivSprite* G = Button(160, 10, 20);        // keeps its cell
  ASSERT_TRUE(A && B && D && E && F && G);
  ASSERT_EQ(KivButtonEntry(g, A), 1);  // 0x1
  ASSERT_EQ(KivButtonEntryEx(g, B, 0x2), 1);
  ASSERT_EQ(KivButtonEntryEx(g, F, 0x1), 1);
  ASSERT_EQ(KivButtonEntryEx(g, D, 0x1), 1);
  ASSERT_EQ(KivButtonEntryEx(g, E, 0x10001), 1);
  ASSERT_EQ(KivButtonEntryEx(g, G, 0x5), 1);
  KivSpriteRectSetPos(G, 0, 1);

  struct Step {
    const char* what;
    uint32_t dt;
    int x, y;
    bool down;
    std::function<void()> before;
    KivSprite* result;
    KivSprite* hovered;
    KivSprite* pressed;
    const char* rows;  // A B D F E G
    const char* sounds;
  };
  const std::vector<Step> table = {
      {"outside", 16, 250, 150, false, nullptr, nullptr, nullptr, nullptr, "000001", ""},
      {"enter A", 16, 12, 20, false, nullptr, nullptr, A, nullptr, "100001", "h0"},
      {"stay on A", 16, 20, 30, false, nullptr, nullptr, A, nullptr, "100001", ""},
      {"A to B", 16, 62, 20, false, nullptr, nullptr, B, nullptr, "010001", "h1"},
      {"quick hover 3", 10, 12, 20, false, nullptr, nullptr, A, nullptr, "100001", "h2"},
      {"quick hover 4", 10, 62, 20, false, nullptr, nullptr, B, nullptr, "010001", "h3"},
      {"quick hover 5", 10, 12, 20, false, nullptr, nullptr, A, nullptr, "100001", "h4"},
      {"quick hover 6: all five play, the first again", 10, 62, 20, false, nullptr, nullptr, B, nullptr,
       "010001", "h0"},
      {"leave", 400, 250, 150, false, nullptr, nullptr, nullptr, nullptr, "000001", ""},
      {"overlap: the front one", 16, 30, 70, false, nullptr, nullptr, D, nullptr, "001001", "h0"},
      {"behind only", 16, 12, 70, false, nullptr, nullptr, F, nullptr, "000101", "h1"},
      {"disabled front item blocks", 16, 30, 70, false, [&] { KivButtonCtrl(g, D, 0); }, nullptr, nullptr,
       nullptr, "000001", ""},
      {"0x10000 on a clear pixel", 16, 112, 20, false, nullptr, nullptr, nullptr, nullptr, "000001", ""},
      {"0x10000 on a solid pixel", 16, 130, 20, false, nullptr, nullptr, E, nullptr, "000011", "h2"},
      {"mouse -1", 16, -400, 20, false, nullptr, nullptr, nullptr, nullptr, "000001", ""},
      {"0x4 hovered", 400, 170, 20, false, nullptr, nullptr, G, nullptr, "000001", "h0"},
      {"0x4 pressed", 16, 170, 20, true, nullptr, nullptr, G, G, "000001", "c"},
      {"click after its sound", 300, 170, 20, false, nullptr, G, G, nullptr, "000001", ""},
      {"0x1 press on A: the click, no hover sound", 16, 12, 20, true, nullptr, nullptr, A, A, "200001", "c"},
      {"frozen while the click sounds", 100, 62, 20, false, nullptr, nullptr, A, A, "200001", ""},
      {"still frozen", 99, 62, 20, false, nullptr, nullptr, A, A, "200001", ""},
      {"reported once, after the sound", 1, 62, 20, false, nullptr, A, A, nullptr, "200001", ""},
      {"then B", 16, 62, 20, false, nullptr, nullptr, B, nullptr, "010001", "h0"},
      {"0x1 press on A", 16, 12, 20, true, nullptr, nullptr, A, A, "200001", "c"},
      {"held", 300, 12, 20, true, nullptr, A, A, nullptr, "200001", ""},
      {"0x1 held past the repeat delay: no second click", 600, 12, 20, true, nullptr, nullptr, A, nullptr,
       "200001", ""},
      // The walk ends at the pressed item: A, after B in it, keeps its
      // pressed cell until a walk reaches it again.
      {"0x2 on B from the held button's repeat", 16, 62, 20, true, nullptr, nullptr, B, B, "220001", "c"},
      {"held", 300, 62, 20, true, nullptr, B, B, nullptr, "220001", ""},
      {"0x2 repeats while held", 300, 62, 20, true, nullptr, nullptr, B, B, "220001", "c"},
      {"and reports again", 300, 62, 20, true, nullptr, B, B, nullptr, "220001", ""},
      {"injected click", 16, 250, 150, false, [&] { EXPECT_EQ(KivButtonSetReaction(g, A), 0); }, nullptr, B, A,
       "220001", "c"},
      {"a second injection is ignored", 100, 250, 150, false, [&] { KivButtonSetReaction(g, B); }, nullptr, B, A,
       "220001", ""},
      {"injected click reported", 150, 250, 150, false, nullptr, A, B, nullptr, "220001", ""},
      {"idle", 16, 250, 150, false, nullptr, nullptr, nullptr, nullptr, "000001", ""},
  };
  KivButtonState st{};
  for (const Step& r : table) {
    SCOPED_TRACE(r.what);
    g_kiv->frameTime = g_kiv->frameTime + r.dt;
    Input(r.x, r.y, r.down);
    if (r.before) r.before();
    KivSprite* got = KivButtonGetReaction(g, &st);
    EXPECT_EQ(got, r.result);
    EXPECT_EQ(st.clicked, r.result);
    EXPECT_EQ(st.hovered, r.hovered);
    EXPECT_EQ(st.pressed, r.pressed);
    const std::string rows = {char('0' + Row(A)), char('0' + Row(B)), char('0' + Row(D)),
                              char('0' + Row(F)), char('0' + Row(E)), char('0' + Row(G))};
    EXPECT_EQ(rows, r.rows);
    EXPECT_EQ(sounds.Take(), r.sounds);
  }
  ASSERT_EQ(KivButtonRelease(g), 1);
  EXPECT_EQ(sounds.released.size(), 6u) << "five hover sounds and the click";
  EXPECT_EQ(KivButtonRelease(g), 0) << "released already";
}

TEST_F(ButtonTest, ClickSoundZeroReportsOnTheNextCall) {
  KivButton* g = KivButtonCreateEx(0, 0);
  KivSprite* A = Button(10, 10, 20);
  ASSERT_TRUE(g && A);
  EXPECT_EQ(sounds.copies, 0) << "no duplicates of no sound";
  KivButtonEntry(g, A);
  Input(12, 20, true);
  KivButtonState st{};
  EXPECT_EQ(KivButtonGetReaction(g, &st), nullptr);
  EXPECT_EQ(st.pressed, A);
  g_kiv->frameTime = g_kiv->frameTime + 16;
  Input(12, 20, true);
  EXPECT_EQ(KivButtonGetReaction(g, &st), A);
  EXPECT_EQ(KivButtonGetReaction(g, &st), nullptr);
  EXPECT_EQ(sounds.Take(), "");
  KivButtonRelease(g);
}

TEST_F(ButtonTest, ReactionExPressesFromItsFlagAndSetsEveryCell) {
  KivButton* g = KivButtonCreateEx(0, 0);
  KivSprite* A = Button(10, 10, 20);
  KivSprite* B = Button(60, 10, 20);
  ASSERT_TRUE(g && A && B);
  KivButtonEntry(g, A);  // the head of the list: the walk meets B after A
  KivButtonEntry(g, B);
  KivSpriteRectSetPos(A, 0, 1);
  KivSpriteRectSetPos(B, 0, 1);
  // B is first in the walk; with the press flag the walk goes on to A.
  KivButtonState st{};
  EXPECT_EQ(KivButtonGetReactionEx(g, 62, 20, 1, &st), nullptr);
  EXPECT_EQ(st.pressed, B);
  EXPECT_EQ(Row(B), 2);
  EXPECT_EQ(Row(A), 0) << "every enabled item's cell is set in that call";
  EXPECT_EQ(KivButtonGetReactionEx(g, 62, 20, 0, &st), B);
  // Without the flag the left button does not press.
  Input(12, 20, true);
  EXPECT_EQ(KivButtonGetReactionEx(g, 12, 20, 0, &st), nullptr);
  EXPECT_EQ(st.hovered, A);
  EXPECT_EQ(st.pressed, nullptr);
  // A NULL group clears the out record.
  st.clicked = A;
  EXPECT_EQ(KivButtonGetReactionEx(nullptr, 0, 0, 1, &st), nullptr);
  EXPECT_EQ(st.clicked, nullptr);
  EXPECT_EQ(KivButtonGetReaction(nullptr, nullptr), nullptr);
  KivButtonRelease(g);
}

TEST_F(ButtonTest, DeletingOrReleasingThePendingSpriteDropsItsClick) {
  KivButton* g = KivButtonCreate("hover", "click");
  KivSprite* A = Button(10, 10, 20);
  KivSprite* B = Button(60, 10, 20);
  ASSERT_TRUE(g && A && B);
  KivButtonEntry(g, A);
  KivButtonEntry(g, B);
  Input(12, 20, true);
  KivButtonState st{};
  KivButtonGetReaction(g, &st);
  ASSERT_EQ(st.pressed, A);
  ASSERT_EQ(KivButtonDelete(g, A), 1);
  EXPECT_EQ(g->pressed, nullptr);
  EXPECT_EQ(g->forced, 0);
  EXPECT_EQ(KivButtonDelete(g, A), 0) << "gone already";
  // An injected click on B, then B's sprite released while it is pending.
  KivButtonSetReaction(g, B);
  ASSERT_EQ(g->pressed, B);
  ASSERT_EQ(KivSpriteRelease(list, B), 1);
  EXPECT_EQ(g->pressed, nullptr);
  EXPECT_EQ(g->forced, 0);
  EXPECT_EQ(g->items, nullptr) << "a released sprite leaves its groups";
  for (int i = 0; i < 30; ++i) {
    g_kiv->frameTime = g_kiv->frameTime + 16;
    Input(12, 20, false);
    EXPECT_EQ(KivButtonGetReaction(g, &st), nullptr) << "no click for a sprite that is gone";
  }
  EXPECT_EQ(KivButtonCtrl(g, A, 0), 0);
  EXPECT_EQ(KivButtonSetPos(g, A, 1), 0);
  EXPECT_EQ(KivButtonCtrl(g, nullptr, 0), 0);
  KivButtonRelease(g);
}

TEST_F(ButtonTest, FailedHoverLoadGivesNoDuplicatesAndTheGroupStillWorks) {
  KivButton* g = KivButtonCreate("missing", "click");
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(sounds.copies, 0);
  for (KivSoundId id : g->hoverSounds) EXPECT_EQ(id, 0);
  EXPECT_NE(g->clickSound, 0);
  KivButtonRelease(g);
  // Duplicates that find no channel stay 0.
  sounds.copiesFail = true;
  g = KivButtonCreate("hover", nullptr);
  ASSERT_NE(g, nullptr);
  EXPECT_NE(g->hoverSounds[0], 0);
  EXPECT_EQ(g->hoverSounds[1], 0);
  EXPECT_EQ(g->clickSound, 0);
  KivSprite* A = Button(10, 10, 20);
  KivButtonEntry(g, A);
  Input(12, 20, false);
  KivButtonGetReaction(g, nullptr);
  EXPECT_EQ(sounds.Take(), "h0");
  g_kiv->frameTime = g_kiv->frameTime + 10;
  Input(62, 20, false);
  KivButtonGetReaction(g, nullptr);
  Input(12, 20, false);
  KivButtonGetReaction(g, nullptr);
  EXPECT_EQ(sounds.Take(), "") << "the next free hover sound is 0: nothing plays";
  KivButtonRelease(g);
  EXPECT_EQ(KivButtonCreate(nullptr, nullptr)->hoverSounds[0], 0);
}

TEST_F(ButtonTest, CreateAndReleaseCyclesKeepTheLiveCount) {
  KivSprite* A = Button(10, 10, 20);
  ASSERT_NE(A, nullptr);
  const int before = KivMemoryLive();
  const int groups = KivButtonLiveGroups();
  for (int i = 0; i < 50; ++i) {
    KivButton* g = i % 2 ? KivButtonCreate("hover", "click") : KivButtonCreateEx(0, 0);
    ASSERT_NE(g, nullptr);
    for (int k = 0; k < 5; ++k) KivButtonEntryEx(g, A, k);
    KivButtonDelete(g, A);
    ASSERT_EQ(KivButtonRelease(g), 1);
  }
  EXPECT_EQ(KivMemoryLive(), before);
  EXPECT_EQ(KivButtonLiveGroups(), groups);
  // Groups the game leaves behind are freed at shut-down.
  KivButton* left = KivButtonCreateEx(0, 0);
  KivButtonEntry(left, A);
  EXPECT_EQ(KivButtonLiveGroups(), groups + 1);
  KivButtonReleaseAll();
  EXPECT_EQ(KivButtonLiveGroups(), 0);
  EXPECT_EQ(KivMemoryLive(), before);
}

}  // namespace
