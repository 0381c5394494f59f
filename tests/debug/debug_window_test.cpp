// The debug windows' model on a headless engine in debug mode: creating
// windows of each kind, printing (a silenced state, a line past the limit),
// bound values read and edited between frames, the log file's bytes,
// setting.ini, deleting, and the status dialog's rows and menu.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "debug/debug_window.h"
#include "platform/core/ini_file.h"
#include "platform/debugview/debug_view.h"
#include "support/golden_frame.h"
#include "support/engine_fixture.h"

namespace {

using namespace kivdebug;

class DebugWindowTest : public kivtest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    char tmpl[] = "/tmp/kivdebugXXXXXX";
    folder = mkdtemp(tmpl);
    params.debug = 1;
    ASSERT_EQ(KivInit(&params), 1);
    std::snprintf(g_kiv->baseFolder, sizeof g_kiv->baseFolder, "%s", folder.c_str());
  }
  void TearDown() override {
    EngineTest::TearDown();
    ASSERT_EQ(std::system(("rm -rf '" + folder + "'").c_str()), 0);
  }
  static const WindowSnapshot* Find(const std::vector<WindowSnapshot>& all, int key) {
    for (const auto& w : all)
      if (w.key == key) return &w;
    return nullptr;
  }
  std::string Slurp(const std::string& name) {
    std::ifstream f(folder + "/" + name, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
  }
  std::string folder;
};

TEST_F(DebugWindowTest, KindsKeysAndRows) {
  // Start-up made the status dialog and the "system" log, key 0.
  ASSERT_TRUE(Status().exists);
  ASSERT_NE(Find(Snapshot(), 0), nullptr);
  EXPECT_EQ(Find(Snapshot(), 0)->caption, "system");

  EXPECT_EQ(KivDebugWindowCreate(20, "log", 1), 1);
  EXPECT_EQ(KivDebugWindowCreate(20, "again", 2), 0) << "a key exists once";
  EXPECT_EQ(KivDebugWindowCreate(21, "table", 2), 1);
  EXPECT_EQ(KivDebugWindowCreate(22, "vars", 3), 1);

  EXPECT_EQ(KivDebugPrintf(20, "ignored", "line %d", 1), 1);
  EXPECT_EQ(KivDebugPrintf(21, "label", "%s=%d", "x", 5), 1);
  EXPECT_EQ(KivDebugPrintf(99, nullptr, "x"), 0) << "no such window";
  auto all = Snapshot();
  EXPECT_EQ(all.front().key, 22) << "newest first";
  ASSERT_EQ(Find(all, 20)->rows.size(), 1u);
  EXPECT_EQ(Find(all, 20)->rows[0].label, "") << "a log has one column";
  EXPECT_EQ(Find(all, 20)->rows[0].text, "line 1");
  EXPECT_EQ(Find(all, 21)->rows[0].label, "label");
  EXPECT_EQ(Find(all, 21)->rows[0].text, "x=5");

  // State bit 0 silences printing (and still answers 1).
  EXPECT_EQ(KivDebugWindowSetState(1), 1);
  EXPECT_EQ(KivDebugWindowGetState(), 1);
  EXPECT_EQ(KivDebugPrintf(20, nullptr, "hidden"), 1);
  EXPECT_EQ(Find(Snapshot(), 20)->rows.size(), 1u);
  KivDebugWindowSetState(0);

  // A line past 2048 characters: the box, and the line kept whole.
  plat::HeadlessBoxReset();
  const std::string longLine(3000, 'L');
  EXPECT_EQ(KivDebugPrintf(20, nullptr, "%s", longLine.c_str()), 1);
  ASSERT_EQ(plat::HeadlessBoxLog().size(), 1u);
  EXPECT_EQ(plat::HeadlessBoxLog()[0].text, "print string count over");
  EXPECT_EQ(Find(Snapshot(), 20)->rows.back().text, longLine);

  // The log file: Shift-JIS lines with CRLF, the long one whole.
  KivDebugPrintf(20, nullptr, "%s", kivtest::Sj("日本語").c_str());
  EXPECT_EQ(Slurp("log.txt"), "line 1\r\n" + longLine + "\r\n" + kivtest::Sj("日本語") + "\r\n");

  // A view asks only for the newest rows.
  ASSERT_EQ(Find(Snapshot(1), 20)->rows.size(), 1u);
  EXPECT_EQ(Find(Snapshot(1), 20)->rows[0].text, kivtest::Sj("日本語"));
  EXPECT_EQ(KivDebugWindowDeleteLog(20), 1);
  EXPECT_TRUE(Find(Snapshot(), 20)->rows.empty());
  EXPECT_EQ(KivDebugWindowDeleteLog(98), 0);
  EXPECT_EQ(KivDebugWindowDelete(21), 1);
  EXPECT_EQ(Find(Snapshot(), 21), nullptr);
  EXPECT_EQ(KivDebugWindowDelete(21), 0);
}

TEST_F(DebugWindowTest, BoundValuesAreShownAndEditedBetweenFrames) {
  ASSERT_EQ(KivDebugWindowCreate(11, "mem", 3), 1);
  static int values[4] = {1, -2, 3, 4};
  EXPECT_EQ(KivDebugSetData(11, nullptr, 4), 0);
  EXPECT_EQ(KivDebugSetData(11, values, -1), 0);
  EXPECT_TRUE(Find(Snapshot(), 11)->rows.empty()) << "null values and negative counts are refused";
  EXPECT_EQ(KivDebugSetData(11, values, 4), 0) << "answers 0 as it always did";
  const auto bound = Snapshot();
  auto w = Find(bound, 11);
  ASSERT_EQ(w->rows.size(), 4u);
  EXPECT_EQ(w->rows[1].label, "1");
  EXPECT_EQ(w->rows[1].text, "-2");
  values[1] = 77;
  EXPECT_EQ(Find(Snapshot(), 11)->rows[1].text, "-2") << "read by the game thread between frames";
  ApplyEdits();
  EXPECT_EQ(Find(Snapshot(), 11)->rows[1].text, "77") << "the values themselves";

  EXPECT_TRUE(EditRow(11, 2, "123"));
  EXPECT_TRUE(EditRow(11, 3, "99999999999"));
  EXPECT_FALSE(EditRow(11, 4, "1")) << "past the count";
  EXPECT_EQ(values[2], 3) << "applied between frames, not on the window thread";
  ApplyEdits();
  EXPECT_EQ(values[2], 123);
  EXPECT_EQ(values[3], 2147483647) << "clamped to an int";
  KivDebugWindowDelete(11);
}

TEST_F(DebugWindowTest, PlacesAreReadAndSavedInSettingIni) {
  const std::string ini = folder + "/setting.ini";
  plat::IniWriteString("place", "x", "40", ini);
  plat::IniWriteString("place", "w", "300", ini);
  plat::IniWriteString("DebugWindow", "x", "-5", ini);
  KivDebugStart();  // again, now that the base folder is the test's
  EXPECT_EQ(Status().rect.x, 0) << "a negative x becomes 0";
  ASSERT_EQ(KivDebugWindowCreate(30, "place", 2), 1);
  const auto placed = Snapshot();
  const auto* w = Find(placed, 30);
  EXPECT_EQ(w->rect.x, 40);
  EXPECT_EQ(w->rect.w, 300);
  EXPECT_EQ(w->rect.h, 100) << "default";
  SetRect(30, Rect{7, 8, 90, 91});
  SetRect(-1, Rect{1, 2, 285, 52});
  EXPECT_EQ(KivDebugWindowSavePos(), 1);
  EXPECT_EQ(plat::IniGetInt("place", "x", -1, ini), 7);
  EXPECT_EQ(plat::IniGetInt("place", "h", -1, ini), 91);
  EXPECT_EQ(plat::IniGetInt("DebugWindow", "y", -1, ini), 2);
  EXPECT_EQ(plat::IniGetInt("system", "w", -1, ini), 100);
}

TEST_F(DebugWindowTest, StatusRowsAndMenu) {
  KivDebugWindowCreate(40, "a", 1);
  const StatusSnapshot st = Status();
  ASSERT_EQ(st.rows.size(), 7u);
  const char* names[] = {"mouse", "key", "joy", "fps", "task", "VRAM", "mem_cnt"};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(st.rows[static_cast<size_t>(i)].label, names[i]);
  EXPECT_EQ(st.rows[1].text.size(), 32u);
  EXPECT_EQ(st.rows[5].text, "-");
  EXPECT_EQ(st.rows[6].text.rfind("count = ", 0), 0u);
  EXPECT_EQ(st.menu.front().id, 40);
  MenuChoose(kMenuHideAll);
  for (const auto& w : Snapshot()) EXPECT_FALSE(w.visible);
  MenuChoose(40);
  EXPECT_TRUE(Find(Snapshot(), 40)->visible);
  MenuChoose(kMenuShowAll);
  for (const auto& w : Snapshot()) EXPECT_TRUE(w.visible);
  // "end" asks the window for the orderly end.
  MenuChoose(kMenuEnd);
  plat::Msg msg;
  bool ended = false;
  while (plat::PeekMessage(&msg, true))
    if (msg.message == plat::kMsgApp + 0x69) ended = true;
  EXPECT_TRUE(ended);
}

TEST_F(DebugWindowTest, PrintingWhileViewsReadNeverWaits) {
  ASSERT_EQ(KivDebugWindowCreate(50, "busy", 2), 1);
  static int values[64] = {};
  KivDebugSetData(50, values, 64);
  std::atomic<bool> done{false};
  std::thread reader([&] {
    while (!done.load()) {
      for (const auto& w : Snapshot()) (void)w.rows.size();
      EditRow(50, 3, "5");
    }
  });
  for (int i = 0; i < 2000; ++i) {
    KivDebugPrintf(50, "n", "%d", i);
    values[i % 64] = i;  // the game's own writes
    ApplyEdits();
  }
  done = true;
  reader.join();
  EXPECT_EQ(Find(Snapshot(), 50)->rows.size(), 64u + 2000u);
}

// The views, headless: drawn in memory, compared with reviewed captures,
// and driven by injected input (an edit, closing, the menu's end).
TEST_F(DebugWindowTest, ViewsDrawTheModelAndTakeInput) {
  ASSERT_EQ(KivDebugWindowCreate(12, kivtest::Sj("システムメモリ").c_str(), 3), 1);
  static int values[5] = {0, 1, 22, 333, -4};
  KivDebugSetData(12, values, 5);
  ASSERT_EQ(KivDebugWindowCreate(16, "output", 1), 1);
  KivDebugPrintf(16, nullptr, "%s", kivtest::Sj("こんにちは、ログ。").c_str());
  KivDebugPrintf(16, nullptr, "line %d", 2);
  SetRect(12, Rect{0, 0, 170, 120});
  KivDebugWindowDelete(0);  // the start-up log names files of the run; not drawn here
  // Placed before the views open: the output window's default 100 x 100.
  KivDebugViewsClose();
  KivDebugViewsRefresh();
  auto golden = [&](const std::string& caption, const char* file) {
    plat::HeadlessViewFrame f = plat::HeadlessDebugViewFrame(caption);
    ASSERT_GT(f.width, 0) << caption;
    expect_golden_frame(file, f.pixels.data(), f.width, f.height);
  };
  golden(kivtest::Sj("システムメモリ"), "debug_view_variables.png");
  golden("output", "debug_view_log.png");

  // A double click on row 3 and "42" Enter: stored between frames.
  const std::string vars = kivtest::Sj("システムメモリ");
  plat::DebugViewEvent e;
  e.kind = plat::DebugViewEvent::kEditStart;
  e.value = 3;
  plat::HeadlessDebugViewInject(vars, e);
  e.kind = plat::DebugViewEvent::kEditText;
  e.text = "42";
  plat::HeadlessDebugViewInject(vars, e);
  KivDebugViewsRefresh();
  golden(vars, "debug_view_editing.png");
  e.kind = plat::DebugViewEvent::kEditCommit;
  plat::HeadlessDebugViewInject(vars, e);
  KivDebugViewsRefresh();
  EXPECT_EQ(values[3], 333);
  ApplyEdits();
  EXPECT_EQ(values[3], 42);

  // Closing hides; the menu shows it again.
  e.kind = plat::DebugViewEvent::kClose;
  plat::HeadlessDebugViewInject("output", e);
  KivDebugViewsRefresh();
  EXPECT_FALSE(plat::HeadlessDebugViewFrame("output").visible);
  EXPECT_FALSE(Find(Snapshot(), 16)->visible);
  e.kind = plat::DebugViewEvent::kMenu;
  e.value = kMenuShowAll;
  plat::HeadlessDebugViewInject("status", e);
  KivDebugViewsRefresh();
  EXPECT_TRUE(plat::HeadlessDebugViewFrame("output").visible);
  // Deleting a window closes its view.
  KivDebugWindowDelete(16);
  KivDebugViewsRefresh();
  EXPECT_EQ(plat::HeadlessDebugViewFrame("output").width, 0);
  e.value = kMenuEnd;
  plat::HeadlessDebugViewInject("status", e);
  KivDebugViewsRefresh();
  plat::Msg msg;
  bool ended = false;
  while (plat::PeekMessage(&msg, true))
    if (msg.message == plat::kMsgApp + 0x69) ended = true;
  EXPECT_TRUE(ended) << "the menu's end asks for the orderly end";
}

TEST_F(DebugWindowTest, ALongLogKeepsItsNewestRowsAndTheFileKeepsAll) {
  ASSERT_EQ(KivDebugWindowCreate(60, "long", 1), 1);
  for (int i = 0; i < 20001; ++i) KivDebugPrintf(60, nullptr, "%d", i);
  const auto all = Snapshot();
  const auto* w = Find(all, 60);
  EXPECT_LE(w->rows.size(), 20000u);
  EXPECT_EQ(w->rows.back().text, "20000");
  const std::string file = Slurp("long.txt");
  EXPECT_EQ(file.substr(0, 6), "0\r\n1\r\n");
  EXPECT_EQ(file.substr(file.size() - 7), "20000\r\n");
}

TEST(DebugWindowOff, EveryCallIsANoOpOutsideDebugMode) {
  EXPECT_EQ(KivDebugWindowCreate(1, "x", 1), 0);
  EXPECT_EQ(KivDebugPrintf(1, nullptr, "x"), 1);
  EXPECT_EQ(KivDebugWindowGetState(), 0);
  EXPECT_EQ(KivDebugWindowSetState(1), 0);
}

}  // namespace
