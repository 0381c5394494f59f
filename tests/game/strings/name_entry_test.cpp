// The player-name entry on the headless engine: the script's set_playername
// opens the screen, the text field takes the input method's composition and
// commits (posted to the window as the SDL backend posts them), the buttons
// are pressed, and what the player sees is compared with reviewed frames.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "component_entries.h"
#include "debug/debug_window.h"
#include "platform/core/shell_open.h"
#include "image_encoder.h"
#include "platform/window/message_box.h"
#include "platform/window/png_capture.h"
#include "platform/window/window.h"
#include "save/save.h"
#include "strings/strings.h"
#include "support/sprite_scene.h"
#include "support/vm_harness.h"
#include "text/text_layout.h"
#include "ui/text_field.h"
#include "sound/sound.h"
#include "platform/audio/audio.h"

namespace {

using kivtest::Sj;

class NameEntryTest : public kivtest::SpriteSceneTest {
 protected:
  void AdjustParams() override {
    params.clientWidth = params.screenWidth = 640;
    params.clientHeight = params.screenHeight = 400;
  }
  void SetUp() override {
    SpriteSceneTest::SetUp();
    Write("name_base.pgd", Solid(640, 400, 0xFF304060u));
    Write("name_bt00.pgd", Solid(60, 30, 0xFF808080u));
    Write("name_bt01.pgd", Solid(60, 30, 0xFF40A040u));
    Write("name_bt02.pgd", Solid(60, 30, 0xFFA04040u));
  }
  static kivtools::Image Solid(int w, int h, uint32_t argb) {
    kivtools::Image img;
    img.width = w;
    img.height = h;
    img.pixels.assign(static_cast<size_t>(w) * h, argb);
    return img;
  }
  void Write(const std::string& name, const kivtools::Image& img) {
    kivtools::GeOptions o;
    o.method = 1;
    std::vector<uint8_t> ge = kivtools::EncodeGe(img, o);
    std::ofstream(folder + "/" + name, std::ios::binary).write(reinterpret_cast<const char*>(ge.data()), ge.size());
  }
  // One frame: the script, then the window's messages, then the picture.
  void Frame(vmtest::Machine& m) {
    m.Run();
    Pump();
    KivRenderFrame();
  }
  static void Pump() {
    plat::Msg msg;
    while (plat::PeekMessage(&msg, true)) plat::DispatchMessage(msg);
  }
  void Post(uint32_t message, const std::string& utf8, int cursor = 0) {
    g_kiv->window->Post(message, 0, reinterpret_cast<intptr_t>(new plat::TextInputEvent{utf8, cursor}));
    Pump();
  }
  void Press(vmtest::Machine& m, int button) {
    PlayerNameState& p = m.ctx->playerName;
    ASSERT_NE(p.button, nullptr);
    KivButtonSetReaction(p.button, p.sprites[1 + button]);
  }
  std::string FieldText() { return kivfield::View().text; }
  void ExpectGolden(const char* name) {
    KivRenderFrame();
    plat::Frame f = g_kiv->window->backend()->LastFrame();
    ASSERT_GT(f.width, 0);
    const std::string golden = std::string(KIV_GOLDEN_DIR) + "/" + name;
    if (const char* u = std::getenv("KIV_UPDATE_GOLDEN"); u && std::string(u) == "1") {
      ASSERT_TRUE(plat::CapturePng(golden, f.pixels.data(), f.width, f.height, f.width));
    }
    std::vector<uint32_t> want;
    int w = 0, h = 0;
    ASSERT_TRUE(plat::ReadPng(golden, &want, &w, &h)) << golden << " (KIV_UPDATE_GOLDEN=1 writes it)";
    ASSERT_EQ(w, f.width);
    ASSERT_EQ(h, f.height);
    int differ = 0;
    for (size_t i = 0; i < want.size(); ++i) differ += (want[i] & 0xFFFFFFu) != (f.pixels[i] & 0xFFFFFFu);
    EXPECT_EQ(differ, 0) << name;
  }
};

constexpr const char* kScript = "main:\n    call set_playername \"ユウ\", 4 -> r1\n    mov r2, 1\n";

TEST_F(NameEntryTest, ComposingAndCommittingShowInTheField) {
  vmtest::Machine m(kScript);
  m.ctx->renderList = list;
  Frame(m);
  Frame(m);
  ASSERT_TRUE(kivfield::View().exists);
  EXPECT_EQ(FieldText(), Sj("ユウ"));
  Post(plat::kMsgTextComposition, "き", 1);
  ExpectGolden("name_entry_composing.png");
  Post(plat::kMsgTextCommit, "キ");
  EXPECT_EQ(FieldText(), Sj("ユウキ"));
  ExpectGolden("name_entry_committed.png");
}

TEST_F(NameEntryTest, AcceptRefuseAndCancel) {
  struct Case {
    const char* typed;  // replaces the field's text ("" keeps it)
    int button;
    int state;           // after the next frame: 1 still entering, else finished
    int result;          // r1 once finished
    const char* name;    // the player name afterwards
    int beeps;
  } cases[] = {
      {"abc", 1, 1, 0, "ユウ", 1},             // half-width: beep, the name comes back
      {"　", 1, 1, 0, "ユウ", 1},               // only full-width spaces
      {"ユウキ", 1, 0, 1, "ユウキ", 0},         // accepted
      {"ユウキ", 2, 0, 0, "ユウ", 0},           // cancelled
      {"", 0, 1, 0, "ユウ", 0},                 // button 0 restores the shown name
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    vmtest::Machine m(kScript);
    m.ctx->renderList = list;
    player_name_set_direct(m.ctx, Sj("前").c_str());
    Frame(m);
    Frame(m);
    const intptr_t field = m.ctx->playerName.field;
    ASSERT_NE(field, 0);
    if (*c.typed) {
      KivTextFieldSetText(field, "");
      Post(plat::kMsgTextCommit, c.typed);
    }
    const int before = kivfield::BeepCount();
    Press(m, c.button);
    Frame(m);
    Frame(m);
    Frame(m);
    if (!c.state) {
      EXPECT_EQ(m.ctx->playerName.state, 0);
      EXPECT_EQ(m.Reg(2), 0) << "the run that ends the entry yields: the script goes on next frame";
    }
    Frame(m);
    EXPECT_EQ(kivfield::BeepCount() - before, c.beeps);
    EXPECT_EQ(m.ctx->playerName.state != 0 ? 1 : 0, c.state);
    if (!c.state) {
      EXPECT_EQ(m.Reg(1), c.result);
      EXPECT_EQ(m.Reg(2), 1) << "the script went on";
      EXPECT_FALSE(kivfield::View().exists) << "the field is gone";
      EXPECT_EQ(m.ctx->playerName.sprites[0], nullptr);
      EXPECT_EQ(m.ctx->playerName.changed, c.result);
    } else if (c.button != 0 || *c.typed == 0) {
      EXPECT_EQ(FieldText(), Sj("ユウ")) << "the shown name is back in the field";
    }
    EXPECT_EQ(std::string(m.ctx->playerName.name), Sj(c.name));
  }
}

// A field the window thread cannot make (one is already there): its box
// tells the player, and the buttons still work: accept beeps over the empty
// field, cancel ends the entry.
TEST_F(NameEntryTest, WithoutItsFieldTheEntryStillEndsByCancel) {
  plat::UseHeadless(true);
  plat::HeadlessBoxReset();
  const intptr_t other = KivTextFieldCreate(0, 0, 10, 10, 12, 4);
  ASSERT_NE(other, 0);
  vmtest::Machine m(kScript);
  m.ctx->renderList = list;
  Frame(m);
  Frame(m);
  EXPECT_EQ(m.ctx->playerName.field, 0);
  ASSERT_FALSE(plat::HeadlessBoxLog().empty());
  EXPECT_EQ(plat::HeadlessBoxLog().back().text, Sj("名前変更に失敗"));
  const int before = kivfield::BeepCount();
  Press(m, 1);
  for (int i = 0; i < 3; ++i) Frame(m);
  EXPECT_EQ(kivfield::BeepCount() - before, 1) << "accepting an empty field beeps";
  EXPECT_EQ(m.ctx->playerName.state, 1);
  Press(m, 2);
  for (int i = 0; i < 4; ++i) Frame(m);
  EXPECT_EQ(m.ctx->playerName.state, 0);
  EXPECT_EQ(m.Reg(1), 0) << "cancelled";
  EXPECT_EQ(m.Reg(2), 1) << "the script went on";
  EXPECT_EQ(m.ctx->playerName.sprites[0], nullptr);
  KivTextFieldDestroy(other);
}

TEST_F(NameEntryTest, CountStopsAtThreeCharactersAndSaveKeepsTheName) {
  vmtest::Machine m("main:\n    call set_playername \"ユ\", 3 -> r1\n    mov r2, 1\n");
  m.ctx->renderList = list;
  Frame(m);
  Frame(m);
  const int before = kivfield::BeepCount();
  plat::AudioDevice* device = KivSoundDevice();
  ASSERT_NE(device, nullptr);
  const int buffers = device->mixer().BufferCount();
  Post(plat::kMsgTextCommit, "ウキアイ");
  EXPECT_EQ(FieldText(), Sj("ユウキ")) << "n = 3 whole characters";
  EXPECT_EQ(kivfield::BeepCount() - before, 1);
  EXPECT_EQ(device->mixer().BufferCount(), buffers + 1) << "the beep is a tone in the mixer";
  // An unconvertible character is refused whole with a beep.
  Post(plat::kMsgTextCommit, "\xF0\x9F\x98\x80");
  EXPECT_EQ(FieldText(), Sj("ユウキ"));
  EXPECT_EQ(kivfield::BeepCount() - before, 2);
  EXPECT_EQ(device->mixer().BufferCount(), buffers + 1) << "one tone buffer, played again";
  Press(m, 1);
  Frame(m);
  Frame(m);
  Frame(m);
  EXPECT_EQ(m.Reg(1), 1);
  EXPECT_EQ(std::string(player_name_get(m.ctx)), Sj("ユウキ"));
  char shown[kTextBufferBytes];
  text_convert(m.ctx, shown, "/n");
  EXPECT_EQ(std::string(shown), Sj("ユウキ")) << "the message window says the name";

  std::vector<uint8_t> block(64);
  uint32_t used = 0;
  ASSERT_TRUE(player_name_save(m.ctx, block, &used));
  player_name_set_direct(m.ctx, "x");
  uint32_t cursor = 0;
  ASSERT_TRUE(player_name_restore(m.ctx, block, &cursor));
  EXPECT_EQ(std::string(player_name_get(m.ctx)), Sj("ユウキ"));
  EXPECT_EQ(m.ctx->playerName.changed, 1);
}

TEST_F(NameEntryTest, EditingKeysAndAResetMidEntryTearsItDown) {
  vmtest::Machine m(kScript);
  m.ctx->renderList = list;
  Frame(m);
  Frame(m);
  Post(plat::kMsgTextCommit, "キ");
  auto key = [&](uintptr_t vk) {
    g_kiv->window->Post(plat::kMsgKeyDown, vk, 0);
    Pump();
  };
  key(0x24);  // Home
  key(0x2E);  // Delete
  EXPECT_EQ(FieldText(), Sj("ウキ"));
  key(0x23);  // End
  key(0x08);  // Backspace
  EXPECT_EQ(FieldText(), Sj("ウ"));
  key(0x25);  // Left
  Post(plat::kMsgTextCommit, "ユ");
  EXPECT_EQ(FieldText(), Sj("ユウ"));
  const int live = KivMemoryLive();
  // A load resets the game: the screen goes with it.
  game_reset(m.ctx);
  EXPECT_FALSE(kivfield::View().exists);
  EXPECT_EQ(m.ctx->playerName.state, 0);
  EXPECT_EQ(m.ctx->playerName.button, nullptr);
  EXPECT_LT(KivMemoryLive(), live) << "sprites and buttons freed";
}

}  // namespace

namespace {

// The debug and odd-job commands with the engine in debug mode: the
// script's text printed as a line (never a format), debug_output expanded
// into window 16, the debug windows' state, window titles through the
// window thread, and app_exec resolved against the base folder.
class DebugCommandTest : public kivtest::SpriteSceneTest {
 protected:
  void AdjustParams() override { params.debug = 1; }
  static void Pump() {
    plat::Msg msg;
    while (plat::PeekMessage(&msg, true)) plat::DispatchMessage(msg);
  }
};

std::vector<std::string> g_opened;
bool RecordOpen(const std::string& path) {
  g_opened.push_back(path);
  return true;
}

TEST_F(DebugCommandTest, DebugLinesStatesTitleAndOpen) {
  ASSERT_EQ(KivDebugWindowCreate(16, "output", 1), 1);
  std::snprintf(g_kiv->baseFolder, sizeof g_kiv->baseFolder, "%s", folder.c_str());
  vmtest::Machine m(R"(main:
    call debug_print "%d%n%s"
    call debug_output "v=%d h=%x t=%t q=%q", 7, 255, str0, 0, 0, 0, 0
    call debug_window_set_state 1
    call debug_print "silenced"
    call debug_window_get_state -> r1
    call debug_window_set_state 0
    call is_debug -> r2
    call app_exec file"manual.html"
    call set_window_title "Title"
    mov r3, 1
)");
  std::memcpy(m.ctx->stringVariables[0], "txt", 4);
  plat::SetShellOpenHandler(RecordOpen);
  g_opened.clear();
  m.Run();
  EXPECT_EQ(m.Reg(3), 0) << "set_window_title yields";
  m.Run();
  plat::SetShellOpenHandler(nullptr);
  EXPECT_EQ(m.Reg(1), 1);
  EXPECT_EQ(m.Reg(2), 1);
  std::vector<std::string> lines;
  for (const auto& w : kivdebug::Snapshot())
    if (w.key == 16)
      for (const auto& r : w.rows) lines.push_back(r.text);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0], "%d%n%s") << "the script's text is a line, not a format";
  EXPECT_EQ(lines[1], "v=7 h=000000FF t=txt q=");
  for (const auto& l : lines) EXPECT_NE(l, "silenced");
  ASSERT_EQ(g_opened.size(), 1u);
  EXPECT_EQ(g_opened[0], folder + "/MANUAL.HTML") << "resolved against the base folder";
  Pump();  // the title reaches the window on its own thread
}

}  // namespace
