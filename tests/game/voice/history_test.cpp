// The backlog as a player meets it: lines entered by the writer, the page
// built on the headless engine (rows, their places, the scroll limit), the
// mouse over a voiced row and a click that replays it, the sprites every
// path leaves behind, and the save block.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "component_entries.h"
#include "history/history.h"
#include "platform/core/clock.h"
#include "platform/input/input.h"
#include "platform/window/png_capture.h"
#include "platform/window/window.h"
#include "render/soft_screen.h"
#include "sound/sound.h"
#include "sound_fixture.h"
#include "start/game_record.h"
#include "start/game_task.h"
#include "support/golden_frame.h"
#include "support/engine_fixture.h"
#include "support/vm_harness.h"
#include "task/render_list.h"
#include "text/message_window.h"
#include "voice/voice.h"

namespace {

// ---- The entry writer ----

TEST(HistoryEntries, TheNewestIsEntryZeroAndTheOldestFallsOffAfter128) {
  auto h = std::make_unique<HistoryState>();
  for (int i = 1; i <= 129; ++i) {
    const std::string text = "line " + std::to_string(i);
    history_entry_add(h.get(), i % 2 ? "AOI" : "", text.c_str(), i % 3 ? "" : "V001");
  }
  EXPECT_EQ(h->count, 128);
  EXPECT_STREQ(h->entries[0].text, "line 129");
  EXPECT_STREQ(h->entries[127].text, "line 2");  // the first is gone
  EXPECT_STREQ(h->entries[0].name, "AOI");
  // A line without a speaker carries the empty-name code.
  EXPECT_EQ(h->entries[1].name[0], 0);
  EXPECT_EQ(static_cast<uint8_t>(h->entries[1].name[1]), 0x81);
  EXPECT_FALSE(history_entry_has_name(h->entries[1]));
  EXPECT_STREQ(h->entries[3].voice, "V001");  // line 126
}

TEST(HistoryEntries, LongTextsAreCutOnAWholeCharacter) {
  struct Case {
    size_t ascii;   // single-byte characters before a run of double-byte ones
    size_t want;    // bytes kept
  } cases[] = {{253, 253}, {254, 254}, {252, 254}, {0, 254}, {1, 253}};
  for (const Case& c : cases) {
    std::string text(c.ascii, 'a');
    while (text.size() < 300) text += "\x82\xa0";  // あ
    char out[kHistoryFieldBytes];
    history_copy_cut(out, sizeof out, text.c_str());
    EXPECT_EQ(std::strlen(out), c.want) << c.ascii;
    EXPECT_EQ(std::memcmp(out, text.data(), c.want), 0);
  }
}

// ---- The page on the headless engine ----

constexpr const char* kInit = "    call text_init 24, 140, 560, 1000, 120, 140, 520, 0\n";

class HistoryTest : public kivtest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    params.clientWidth = params.screenWidth = 1280;
    params.clientHeight = params.screenHeight = 720;
    char tmpl[] = "/tmp/kivhistXXXXXX";
    dir = mkdtemp(tmpl);
    ASSERT_TRUE(fixture::WriteFile(dir + "/V001.WAV", fixture::Wav(fixture::Sine(800, 0.5, 44100, 2, 0.4), 2, 44100)));
    ASSERT_EQ(KivInit(&params), 1);
    ASSERT_EQ(KivSystemPathSet(dir.c_str()), 1);
    list = KivRenderInit();
    KivRenderSetActive(list);
    KivFontSetType(0);
    KivFontSetEffect(1);
    KivFontSetColor(0xFFFFFF, 0x000000);
    plat::HeadlessInputReset();
  }
  void TearDown() override {
    m.reset();
    KivRenderSetActive(nullptr);
    KivRenderUninit(list);
    plat::HeadlessInputReset();
    EngineTest::TearDown();
    ASSERT_EQ(std::system(("rm -rf '" + dir + "'").c_str()), 0);
  }
  void Start(const std::string& body, bool init = true) {
    m = std::make_unique<vmtest::Machine>(".file \"UNUSED\", \"#FFFFD040\"\nstart:\n" +
                                          std::string(init ? kInit : "") + body + "    nop\n");
    ASSERT_TRUE(m->ok);
    ctx = m->ctx;
    ctx->renderList = list;
    game_reset(ctx);
    m->RunToEnd();
  }
  int Nodes() {
    int n = 0;
    for (KivRenderNode* p = list->head.next; p && p != &list->head; p = p->next) ++n;
    return n;
  }
  void Frame() {
    plat::AdvanceVirtualClock(16);
    KivUpdateTime();
    KivInputUpdate();
    KivRenderLock();
    history_update(ctx);
    KivRenderUnlock();
    ASSERT_EQ(KivRenderFrame(), 1);
  }
  HistoryState& H() { return ctx->history; }
  // The mouse at a point of the client area.
  void Mouse(int x, int y) {
    const plat::Rect origin = g_kiv->window->backend()->ClientRectOnScreen();
    plat::HeadlessSetCursor(origin.left + x, origin.top + y);
  }
  // Compares the drawn frame with a reviewed golden picture
  // (KIV_UPDATE_GOLDEN=1 writes it anew).
  void ExpectGolden(const std::string& name) {
    expect_golden_frame(name, g_kiv->soft->backBuffer);
  }
  float RowY(int r) {
    KivSpriteInfo info{};
    KivSpriteGetInfo(H().textSprites[r], &info);
    return info.y;
  }

  std::string dir;
  KivRenderList* list = nullptr;
  std::unique_ptr<vmtest::Machine> m;
  VmContext* ctx = nullptr;
  vmtest::LogCapture log;
};

// One line of the 24-pixel font lays out 26 pixels high.
constexpr int kLine = 26;

TEST_F(HistoryTest, PageBuildTable) {
  struct Case {
    const char* what;
    int entries;     // unnamed one-line entries
    int newestLines; // lines of entry 0
    int top, bottom, spacing;
    int position;
    int rows, lastPage, height;
    int row0Y;  // text y of row 0 (-1: no row)
  } cases[] = {
      {"all fit", 5, 1, 0, 600, 10, 0, 5, 0, 5 * (kLine + 10), 600 - 10 - kLine},
      {"the scroll limit", 5, 1, 0, 100, 10, 0, 2, 3, 3 * (kLine + 10), 100 - 10 - kLine},
      {"scrolled", 5, 1, 0, 100, 10, 2, 2, 3, 3 * (kLine + 10), 100 - 10 - kLine},
      {"no entries", 0, 1, 0, 600, 10, 0, 0, 0, 0, -1},
      {"newest too tall", 3, 5, 0, 100, 10, 0, 0, 1, 2 * (kLine + 10) + 120 + 10, -1},
      {"position = count", 5, 1, 0, 600, 10, 5, 0, 0, 5 * (kLine + 10), -1},
  };
  for (const Case& c : cases) {
    std::string body = "    call history_init 0, 0, 0, 0, 0, 0, " + std::to_string(c.spacing) +
                       ", 0xFFFFFF, 0xFFD040\n    call history_set_rect 0, " + std::to_string(c.top) + ", 1280, " +
                       std::to_string(c.bottom) + "\n";
    Start(body);
    for (int i = 0; i < c.entries; ++i) {
      std::string text = "line";
      if (i == c.entries - 1)
        for (int l = 1; l < c.newestLines; ++l) text += "<br>more";
      history_line_add(ctx, "", text.c_str(), "");
    }
    ASSERT_EQ(history_begin(ctx), 1) << c.what;
    if (c.position) history_page_build(ctx, c.position);
    EXPECT_EQ(H().rows, c.rows) << c.what;
    EXPECT_EQ(H().lastPage, c.lastPage) << c.what;
    EXPECT_EQ(H().height, c.height) << c.what;
    EXPECT_EQ(H().position, c.position) << c.what;
    if (c.row0Y >= 0 && H().rows > 0) {
      EXPECT_EQ(RowY(0), c.row0Y) << c.what;
    }
    // Rows stack upward: each older one above the newer.
    for (int r = 1; r < H().rows; ++r) EXPECT_LT(RowY(r), RowY(r - 1)) << c.what;
    history_end(ctx);
  }
}

TEST_F(HistoryTest, ScrollBelowZeroIsRefusedAndBeforeTextInitNothingOpens) {
  Start("    call history_set_rect 0, 0, 1280, 600\n", false);
  history_line_add(ctx, "", "line", "");
  const int before = Nodes();
  EXPECT_EQ(history_begin(ctx), 0);
  EXPECT_TRUE(log.HasAny("history_begin : text_init not called"));
  EXPECT_EQ(Nodes(), before);
  Start("    call history_set_rect 0, 0, 1280, 600\n    call history_begin\n    call history_scroll -1\n");
  EXPECT_TRUE(log.HasAny("history_scroll : position error [-1]"));
  EXPECT_EQ(H().position, 0);
}

TEST_F(HistoryTest, EveryPathGivesItsSpritesBack) {
  Start("    call history_init 0, 0, 0, 30, 0, 0, 8, 0xFFFFFF, 0xFFD040\n"
        "    call history_set_rect 0, 0, 1280, 600\n    call history_set file\"#FFFFD040\"\n");
  for (int i = 0; i < 6; ++i) history_line_add(ctx, i % 2 ? "AOI" : "", "line", i % 2 ? "V001" : "");
  const int idle = Nodes();
  struct Case {
    const char* what;
    std::vector<std::function<void()>> steps;
  } cases[] = {
      {"begin, begin, end", {[&] { history_begin(ctx); }, [&] { history_begin(ctx); }, [&] { history_end(ctx); }}},
      {"end, end", {[&] { history_begin(ctx); }, [&] { history_end(ctx); }, [&] { history_end(ctx); }}},
      {"scroll and update after end",
       {[&] { history_begin(ctx); }, [&] { history_end(ctx); },
        [&] {
          value_stack_push(ctx, 2);
          command_handler(command_word(14, 4))(ctx);
        },
        [&] { history_update(ctx); }}},
      {"reset while open", {[&] { history_begin(ctx); }, [&] { history_page_build(ctx, 1); }, [&] { history_reset(ctx); }}},
  };
  for (const Case& c : cases) {
    for (int i = 0; i < 6 && H().count < 6; ++i) history_line_add(ctx, "AOI", "line", "V001");
    for (auto& s : c.steps) s();
    EXPECT_EQ(Nodes(), idle) << c.what;
    EXPECT_EQ(H().highlight, nullptr) << c.what;
    EXPECT_EQ(H().rows, 0) << c.what;
  }
}

// The page as the player sees it: named, unnamed and voiced lines with the
// voice icon; the mouse on a voiced row lights it; a click replays it.
TEST_F(HistoryTest, HoverLightsAVoicedRowAndAClickReplaysIt) {
  Start("    call history_init 140, 0, 140, 30, 100, 30, 12, 0xC0C0C0, 0xFFD040\n"
        "    call history_set_rect 0, 40, 1280, 680\n    call history_set file\"#FFFFD040\"\n");
  history_line_add(ctx, "AOI", "Did you see the sky today?", "V001");
  history_line_add(ctx, "", "The two of them laughed.", "");
  history_line_add(ctx, "BEN", "Bluer than usual, I think.", "");
  history_line_add(ctx, "AOI", "Let us go and look at the stars.", "V001");
  ASSERT_EQ(history_begin(ctx), 1);
  ASSERT_EQ(H().rows, 4);
  ASSERT_NE(H().iconSprites[0], nullptr);
  EXPECT_EQ(H().iconSprites[1], nullptr);
  // The mouse on the newest row's text.
  KivSpriteInfo info{};
  KivSpriteGetInfo(H().textSprites[0], &info);
  Mouse(static_cast<int>(info.x) + 20, static_cast<int>(info.y) + 10);
  Frame();
  KivSpriteInfo t0{}, t1{}, hl{};
  KivSpriteGetInfo(H().textSprites[0], &t0);
  KivSpriteGetInfo(H().textSprites[1], &t1);
  EXPECT_EQ(t0.colour, 0xFFFFD040u);
  EXPECT_EQ(t1.colour, 0xFFC0C0C0u);
  KivRect rect{};
  KivSpriteGetRect(H().highlight, &rect);
  EXPECT_GT(rect.bottom, 0);
  KivSpriteGetInfo(H().highlight, &hl);
  EXPECT_EQ(hl.renderMode, 2);
  EXPECT_EQ(hl.x, t0.x);
  EXPECT_EQ(hl.y, t0.y);
  ExpectGolden("history_hover.png");
  // A click replays the line's voice, with no auto-pan.
  EXPECT_EQ(ctx->voice.channels[0].sound, 0);
  plat::HeadlessSetKey(plat::vk::kLButton, true);
  Frame();
  plat::HeadlessSetKey(plat::vk::kLButton, false);
  EXPECT_NE(ctx->voice.channels[0].sound, 0);
  EXPECT_EQ(ctx->voice.channels[0].panActive, 0);
  voice_release(ctx);
  // The mouse on the unnamed row without a voice lights nothing.
  KivSpriteGetInfo(H().textSprites[1], &info);
  Mouse(static_cast<int>(info.x) + 20, static_cast<int>(info.y) + 10);
  Frame();
  plat::HeadlessSetKey(plat::vk::kLButton, true);
  Frame();
  plat::HeadlessSetKey(plat::vk::kLButton, false);
  KivSpriteGetRect(H().highlight, &rect);
  EXPECT_EQ(rect.bottom, 0);
  EXPECT_EQ(ctx->voice.channels[0].sound, 0);
  history_end(ctx);
}

// ---- Save block ----

TEST_F(HistoryTest, SaveBlockRoundTripsAndDamagedOnesAreRefused) {
  Start("");
  history_line_add(ctx, "AOI", "one", "V001");
  history_line_add(ctx, "", "two", "");
  std::vector<uint8_t> a(0x100000), b(0x100000);
  uint32_t ua = 0, ub = 0, cursor = 0;
  ASSERT_TRUE(history_save(ctx, a, &ua));
  ASSERT_EQ(ua, kHistorySaveBytes);
  history_reset(ctx);
  ASSERT_TRUE(history_restore(ctx, std::span<const uint8_t>(a.data(), ua), &cursor));
  EXPECT_EQ(cursor, ua);
  EXPECT_EQ(H().count, 2);
  ASSERT_TRUE(history_save(ctx, b, &ub));
  ASSERT_EQ(ub, ua);
  EXPECT_EQ(std::memcmp(a.data(), b.data(), ua), 0);
  // Counts no backlog holds: refused, nothing changed.
  for (uint32_t bad : {129u, 0xFFFFFFFFu}) {
    std::vector<uint8_t> d(a.begin(), a.begin() + ua);
    std::memcpy(d.data(), &bad, 4);
    cursor = 0;
    EXPECT_FALSE(history_restore(ctx, d, &cursor)) << bad;
    EXPECT_EQ(cursor, 0u);
    EXPECT_EQ(H().count, 2);
    EXPECT_STREQ(H().entries[0].text, "two");
  }
  // Fields without a zero byte are ended inside their field.
  std::vector<uint8_t> d(a.begin(), a.begin() + ua);
  std::memset(d.data() + 4, 'N', kHistoryEntryBytes);
  cursor = 0;
  ASSERT_TRUE(history_restore(ctx, d, &cursor));
  EXPECT_EQ(std::strlen(H().entries[0].name), 254u);
  EXPECT_EQ(std::strlen(H().entries[0].text), 254u);
  EXPECT_EQ(std::strlen(H().entries[0].voice), 31u);
  ASSERT_EQ(history_begin(ctx), 1);
  history_end(ctx);
}

}  // namespace

namespace {

std::string ReadText(const std::string& path) {
  std::string s;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
    std::fclose(f);
  }
  return s;
}

// The demo's voice scene on its own data: every line speaks, Aoi's ".mix"
// line plays both parts together, Ben's voices play at 60 %, the music is
// lowered while they speak, and the backlog then holds the four lines with
// their voices.
TEST_F(HistoryTest, TheDemoVoiceSceneSpeaksAndPagesBack) {
  const std::string source = ".file \"UNUSED\"\n.define hold_frames r12\nstart:\n    gosub @voice_scene\n    end\n" +
                             ReadText(std::string(DEMO_SOURCE_DIR) + "/voice.kas");
  ASSERT_EQ(KivSystemPathSet((std::string(DEMO_GAME_DIR) + "/data").c_str()), 1);
  m = std::make_unique<vmtest::Machine>(source);
  ASSERT_TRUE(m->ok);
  ctx = m->ctx;
  ctx->renderList = list;
  game_reset(ctx);
  GameRecord& g = m->record();
  std::vector<uint8_t> flags(64);
  g.textReadFlags = flags.data();
  g.textReadFlagsSize = static_cast<uint32_t>(flags.size());
  g.system.word[kSysTextSpeed] = 20;
  g.system.word[kSysBgmVolume] = 5000;
  g.system.word[kSysWindowImage] = -1;
  g.system.word[kSysWindowAlpha] = -1;
  int mixParts = 0, lowered = 0;
  bool benQuieter = false, down = false;
  for (int frame = 0; frame < 3000 && !(H().count == 4 && !voice_is_playing(ctx)); ++frame) {
    plat::AdvanceVirtualClock(16);
    KivUpdateTime();
    ASSERT_TRUE(KivSoundSync());
    // A click (down one frame, up the next) once a line stands and its voice ended.
    const bool waiting = (ctx->text.stateFlags & kTextWaiting) != 0 && !voice_is_playing(ctx);
    down = waiting && !down;
    plat::HeadlessSetKey(plat::vk::kSpace, down);
    KivInputUpdate();
    KivRenderLock();
    game_task_frame(ctx);
    KivRenderUnlock();
    int parts = 0;
    for (const VoiceChannel& ch : ctx->voice.channels) parts += ch.sound != 0;
    mixParts = std::max(mixParts, parts);
    int music = 0;
    KivSoundGetVolume(&music, 2);
    lowered += parts > 0 && music == 2499;
  }
  plat::HeadlessSetKey(plat::vk::kSpace, false);
  EXPECT_EQ(mixParts, 2) << "the .mix line plays two parts together";
  EXPECT_GT(lowered, 10) << "the music is lowered while voices speak";
  EXPECT_TRUE(log.HasAny("text : voice BEN_0001"));
  EXPECT_FALSE(log.HasAny("voice file read")) << log.All();
  // Ben's volume entry: 60 % of the voice channel.
  benQuieter = g.system.word[kSysVoiceInfo + kVoiceInfoWords + 2] == 60;
  EXPECT_TRUE(benQuieter);
  ASSERT_EQ(H().count, 4) << log.All();
  EXPECT_STREQ(H().entries[3].voice, "AOI_0001");
  EXPECT_STREQ(H().entries[1].voice, "AOI_0002");
  ASSERT_EQ(history_begin(ctx), 1);
  EXPECT_EQ(H().rows, 4);
  EXPECT_NE(H().iconSprites[0], nullptr);
  history_end(ctx);
}

}  // namespace

namespace {

// Lines through the real message window: text and set_history enter the
// backlog; _text_n and text_cat never do; a line without a speaker gets the
// empty-name code and a voiced line its voice.
TEST_F(HistoryTest, OnlyWholeLinesEnterTheBacklog) {
  m = std::make_unique<vmtest::Machine>(std::string(".file \"UNUSED\"\nstart:\n") + kInit +
                                        "    call _text_show 0\n"
                                        "    call text \"V001\", \"AOI\", \"one\", 0\n"
                                        "    call _text_n none, none, \"not kept\", 0\n"
                                        "    call text_cat none, none, \" nor this\", 0\n"
                                        "    call set_history \"V001\", none, \"kept without showing\"\n"
                                        "    call text none, none, \"two\", 0\n"
                                        "    end\n");
  ASSERT_TRUE(m->ok);
  ctx = m->ctx;
  ctx->renderList = list;
  game_reset(ctx);
  GameRecord& g = m->record();
  std::vector<uint8_t> flags(64);
  g.textReadFlags = flags.data();
  g.textReadFlagsSize = static_cast<uint32_t>(flags.size());
  g.system.word[kSysWindowImage] = -1;
  g.system.word[kSysWindowAlpha] = -1;
  bool down = false;
  for (int frame = 0; frame < 600 && ctx->script.pc != ctx->script.codeSize; ++frame) {
    plat::AdvanceVirtualClock(16);
    KivUpdateTime();
    ASSERT_TRUE(KivSoundSync());
    down = (ctx->text.stateFlags & kTextWaiting) != 0 && !down;
    plat::HeadlessSetKey(plat::vk::kSpace, down);
    KivInputUpdate();
    KivRenderLock();
    game_task_frame(ctx);
    KivRenderUnlock();
  }
  plat::HeadlessSetKey(plat::vk::kSpace, false);
  ASSERT_EQ(H().count, 3) << log.All();
  EXPECT_STREQ(H().entries[2].name, "AOI");
  EXPECT_STREQ(H().entries[2].text, "one");
  EXPECT_STREQ(H().entries[2].voice, "V001");
  EXPECT_STREQ(H().entries[1].text, "kept without showing");
  EXPECT_STREQ(H().entries[0].text, "two");
  EXPECT_FALSE(history_entry_has_name(H().entries[0]));
  EXPECT_EQ(H().entries[0].voice[0], 0);
}

}  // namespace
