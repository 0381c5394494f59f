// The demo game's choice (demo/choice.kas) on the demo's own pictures: the
// block shows over the day stage under the message window, a click or the
// cursor keys and Enter take a choice, and the branch taken says its own
// line before the story joins again.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "choice/choices.h"
#include "platform/window/png_capture.h"
#include "render/soft_screen.h"
#include "support/golden_frame.h"
#include "support/game_frames.h"

namespace {

using kivtest::GameFrameTest;

// Ben's line on each branch, as the message window logs it.
const char* const kBranchLines[] = {"text  きっと朝の風が", "text  冬が近いから", "text  ……葵と一緒に"};

class ChoiceDemoTest : public GameFrameTest {
 protected:
  void SetUp() override {
    GameFrameTest::SetUp();
    ASSERT_EQ(KivSystemPathSet((std::string(DEMO_GAME_DIR) + "/data").c_str()), 1);
  }
  // The day stage and the story's message window, then the demo's choice
  // scene; r1 says 1 once the story has joined again.
  void StartScene() {
    std::ifstream in(std::string(DEMO_SOURCE_DIR) + "/choice.kas");
    const std::string scene((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(scene.empty());
    Start(".file \"UNUSED\"\n"
          "start:\n"
          "    call sp_set file\"BG_DAY\", 0, 10, 0\n"
          "    call run 0, 0, 0\n"
          "    call text_init 28, 220, 580, 840, 110, 220, 544, 12\n"
          "    call text_set_base file\"#C8101828\", 0, 530, 0\n"
          "    call text_set_rect 0, 1280, 190, 0, 0\n"
          "    call text_set_color 1, \"ベン\", 0xC0D8FF, 0x102040\n"
          "    call _text_show 1\n"
          "    gosub @choice_scene\n"
          "    mov r1, 1\n"
          "stay: call wait_frame\n    jmp @stay\n" +
          scene);
    for (int i = 0; i < 200 && !C().active; ++i) Frame();
    ASSERT_EQ(C().active, 1) << log.All();
    ASSERT_EQ(C().count, 3);
  }
  // Frames until the branch's line shows, clicking it on when it waits.
  int LineShown() {
    for (int i = 0; i < 400; ++i) {
      for (int b = 0; b < 3; ++b)
        if (log.HasAny(kBranchLines[b])) return b + 1;
      Frame();
    }
    return 0;
  }
  // The centre of choice i (0-based) on the screen.
  static int ChoiceY(int i) { return 170 + 80 * i + 30; }
  ChoiceState& C() { return ctx->choice; }

  void ExpectGolden(const char* name) {
    expect_golden_frame(name, g_kiv->soft->backBuffer);
  }
};

TEST_F(ChoiceDemoTest, ClickingChoiceTwoSaysBranchTwosLineAndJoins) {
  MouseTo(1200, 40);  // away from every choice
  StartScene();
  Frame();
  ExpectGolden("choice_demo_idle.png");
  MouseTo(640, ChoiceY(1));
  Frame();
  Frame();
  EXPECT_EQ(C().cursor, 1);
  ExpectGolden("choice_demo_hovered.png");
  Key(plat::vk::kLButton);
  EXPECT_EQ(C().active, 0);
  EXPECT_EQ(LineShown(), 2) << log.All();
  // The line waits for a click; then the branches join and the story goes on.
  for (int i = 0; i < 200 && m->Reg(1) != 1; ++i) Key(plat::vk::kLButton);
  EXPECT_EQ(m->Reg(1), 1) << log.All();
  EXPECT_FALSE(log.HasAny(kBranchLines[0]));
  EXPECT_FALSE(log.HasAny(kBranchLines[2]));
}

TEST_F(ChoiceDemoTest, DownDownEnterTakesChoiceThree) {
  // The mouse rests on choice 1 (where the last click left it) and does not
  // move: it selects choice 1, and the keys step on from there.
  MouseTo(640, ChoiceY(0));
  StartScene();
  Frame();
  EXPECT_EQ(C().cursor, 0);
  Key(plat::vk::kDown);
  Key(plat::vk::kDown);
  EXPECT_EQ(C().cursor, 2);
  Key(plat::vk::kReturn);
  EXPECT_EQ(C().active, 0);
  EXPECT_EQ(LineShown(), 3) << log.All();
  for (int i = 0; i < 200 && m->Reg(1) != 1; ++i) Key(plat::vk::kReturn);
  EXPECT_EQ(m->Reg(1), 1) << log.All();
}

}  // namespace
