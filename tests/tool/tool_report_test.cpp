// The system report: an injected machine saved and compared byte for byte
// with a reviewed file (tests/golden/senfar_report.txt; KIV_UPDATE_GOLDEN=1
// writes it anew), the save dialog's rules, closing mid-report, and the real
// backend on this machine.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <thread>

#include "Tool/tool_app.h"
#include "Tool/tool_report.h"
#include "platform/core/backend.h"
#include "platform/core/text_encoding.h"
#include "platform/machine/machine_info.h"
#include "platform/window/message_box.h"
#include "platform/window/messages.h"

namespace {

std::string ReadText(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

plat::HeadlessMachine InjectedMachine() {
  plat::HeadlessMachine m = plat::DefaultHeadlessMachine();
  m.os = plat::OsInfo{true, "Example Linux 12 (fixture)", "Linux", "6.1.0-test", "x86_64"};
  m.disk = plat::DiskInfo{};  // the disk query fails
  m.memory = plat::MemoryInfo{true, uint64_t(16384) << 20, uint64_t(4096) << 20};
  m.cpu = plat::CpuInfo{"Example CPU @ 3.00GHz", 8, true, true, true, true, false};
  m.displays = {{"DP-1", 2560, 1440, 144}, {"HDMI-1", 1920, 1080, 60}};
  plat::RendererInfo r = m.renderers[0];
  r.vendor = "Mesa";
  r.renderer = "llvmpipe (LLVM 15.0.6, 256 bits)";
  r.version = "4.5 (Compatibility Profile) Mesa 22.3.6";
  r.glsl_version = "4.50";
  r.gl_major = 4;
  r.gl_minor = 5;
  m.renderers = {r, plat::RendererInfo{}};  // the second display: no context
  plat::SoundDeviceInfo failing;
  failing.name = "Broken output";
  failing.driver = "pulseaudio";
  m.sound_devices = {m.sound_devices[0], failing};
  return m;
}

ReportContext FixedContext() {
  ReportContext ctx;
  ctx.tool_folder = "/opt/ゲーム";
  ctx.save_folder = "/opt/ゲーム/save";
  ctx.tool_file = "/opt/ゲーム/Senfar";
  ctx.game_file = "/opt/ゲーム/Orvane";
  return ctx;
}

std::vector<std::string> Build(const ReportContext& ctx) {
  std::vector<std::string> rows;
  report_build(ctx, [&](const std::string& row) {
    rows.push_back(row);
    return true;
  });
  return rows;
}

class ToolReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::UseHeadless(true);
    plat::SetMachineHeadless(true);
    plat::HeadlessBoxReset();
    plat::SetHeadlessMachine(InjectedMachine());
    char tmpl[] = "/tmp/senfarreportXXXXXX";
    root = mkdtemp(tmpl);
  }
  void TearDown() override {
    plat::SetHeadlessMachineHook(nullptr);
    plat::SetHeadlessMachine(plat::DefaultHeadlessMachine());
    plat::HeadlessBoxReset();
    ASSERT_EQ(std::system(("rm -rf '" + root + "'").c_str()), 0);
  }
  std::string root;
};

TEST_F(ToolReportTest, InjectedMachineMatchesTheReviewedFile) {
  std::vector<std::string> rows = Build(FixedContext());
  std::string out = root + "/report.txt";
  ASSERT_TRUE(report_save_text(out, rows));
  std::string golden_path = std::string(KIV_GOLDEN_DIR) + "/senfar_report.txt";
  if (std::getenv("KIV_UPDATE_GOLDEN")) {
    ASSERT_TRUE(report_save_text(golden_path, rows));
  }
  std::string golden = ReadText(golden_path);
  ASSERT_FALSE(golden.empty()) << golden_path;
  EXPECT_EQ(ReadText(out), golden);
}

TEST_F(ToolReportTest, NoRendererSectionWhenString5IsZero) {
  ReportContext ctx = FixedContext();
  ctx.gpu_section = false;
  std::string text = report_text(Build(ctx));
  EXPECT_EQ(text.find("グラフィックアダプタ"), std::string::npos);
  EXPECT_EQ(text.find("[ Caps ]\r\nVertexShaderVersion"), std::string::npos);
  EXPECT_NE(text.find("---------- サウンドアダプタ ----------\r\n"), std::string::npos);
}

TEST_F(ToolReportTest, LongRowsAreSavedWhole) {
  plat::HeadlessMachine m = InjectedMachine();
  m.displays[0].name = std::string(300, 'D');
  plat::SetHeadlessMachine(m);
  std::string out = root + "/long.txt";
  ASSERT_TRUE(report_save_text(out, Build(FixedContext())));
  EXPECT_NE(ReadText(out).find("Descprition\t: " + std::string(300, 'D') + "\r\n"), std::string::npos);
}

// A window for the tool that a test drives: posts queue until drained.
class TestUi : public ToolUiHooks {
 public:
  void Post(std::function<void()> fn) override {
    std::lock_guard lock(mutex);
    queue.push_back(std::move(fn));
    ++posted;
  }
  void Refresh() override {}
  std::string AskSavePath(bool* confirmed) override {
    *confirmed = false;
    return save_as;
  }
  void Close() override { closed = true; }
  int Drain() {
    std::deque<std::function<void()>> batch;
    {
      std::lock_guard lock(mutex);
      batch.swap(queue);
    }
    for (auto& fn : batch) fn();
    return static_cast<int>(batch.size());
  }
  std::mutex mutex;
  std::deque<std::function<void()>> queue;
  std::atomic<int> posted{0};
  std::string save_as;
  bool closed = false;
};

ToolState& StateIn(const std::string& root) {
  static ToolState state;
  state.tool_folder = root;
  state.tool_file = root + "/Senfar";
  state.save_folder = plat::Utf8ToCp932(root);
  state.strings.program = "Orvane";
  state.save_available = true;
  return state;
}

void RunReport(ToolApp& app, TestUi& ui) {
  ASSERT_TRUE(app.Press(ToolPage::kInfo, info_ctl::kGet));
  EXPECT_FALSE(app.model().get_enabled);
  EXPECT_FALSE(app.model().save_enabled) << "no save while a report runs";
  EXPECT_FALSE(app.Press(ToolPage::kInfo, info_ctl::kSave));
  for (int i = 0; i < 2000 && app.report_running(); ++i) {
    ui.Drain();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_FALSE(app.report_running());
  EXPECT_TRUE(app.model().get_enabled);
  EXPECT_TRUE(app.model().save_enabled);
}

TEST_F(ToolReportTest, SavingAddsTxtAsksBeforeReplacingAndReportsFailure) {
  TestUi ui;
  ToolApp app(StateIn(root), &ui);
  app.Init();
  RunReport(app, ui);
  ASSERT_GT(app.model().rows.size(), 20u);

  ui.save_as = root + "/report";  // a new name without extension
  ASSERT_TRUE(app.Press(ToolPage::kInfo, info_ctl::kSave));
  std::string saved = ReadText(root + "/report.txt");
  EXPECT_EQ(saved, report_text(app.model().rows));
  ASSERT_EQ(plat::HeadlessBoxLog().size(), 1u);
  EXPECT_EQ(plat::HeadlessBoxLog()[0].caption, plat::Sjis("完了"));

  // Replacing is asked; "no" keeps the old file.
  std::ofstream(root + "/old.txt") << "keep";
  ui.save_as = root + "/old.txt";
  plat::HeadlessBoxReset();
  plat::HeadlessBoxScript({plat::kIdNo});
  ASSERT_TRUE(app.Press(ToolPage::kInfo, info_ctl::kSave));
  EXPECT_EQ(ReadText(root + "/old.txt"), "keep");
  ASSERT_EQ(plat::HeadlessBoxLog().size(), 1u);
  EXPECT_EQ(plat::HeadlessBoxLog()[0].type & 0xF, plat::kMbYesNo);
  plat::HeadlessBoxReset();
  plat::HeadlessBoxScript({plat::kIdYes});
  ASSERT_TRUE(app.Press(ToolPage::kInfo, info_ctl::kSave));
  EXPECT_EQ(ReadText(root + "/old.txt"), saved);

  // A folder that does not exist: an error box naming the file.
  plat::HeadlessBoxReset();
  ui.save_as = root + "/missing/report.txt";
  ASSERT_TRUE(app.Press(ToolPage::kInfo, info_ctl::kSave));
  ASSERT_EQ(plat::HeadlessBoxLog().size(), 1u);
  EXPECT_EQ(plat::HeadlessBoxLog()[0].caption, plat::Sjis("エラー"));
  EXPECT_NE(plat::Cp932ToUtf8(plat::HeadlessBoxLog()[0].text).find(ui.save_as), std::string::npos);
}

TEST_F(ToolReportTest, AFailedThreadStartLeavesTheButtonEnabled) {
  TestUi ui;
  ToolApp app(StateIn(root), &ui);
  app.Init();
  ReportRunner::FailNextStart();
  ASSERT_TRUE(app.Press(ToolPage::kInfo, info_ctl::kGet));
  ASSERT_EQ(plat::HeadlessBoxLog().size(), 1u);
  EXPECT_EQ(plat::HeadlessBoxLog()[0].text, plat::Sjis("処理を開始出来ませんでした。"));
  EXPECT_TRUE(app.model().get_enabled);
  EXPECT_FALSE(app.report_running());
  RunReport(app, ui);  // and it works when pressed again
}

TEST_F(ToolReportTest, ClosingMidReportStopsItAndDropsQueuedRows) {
  std::mutex m;
  std::condition_variable cv;
  bool entered = false, released = false;
  plat::SetHeadlessMachineHook([&](const char* what) {
    if (std::string(what) != "memory") return;
    std::unique_lock lock(m);
    entered = true;
    cv.notify_all();
    cv.wait(lock, [&] { return released; });
  });
  TestUi ui;
  ToolApp app(StateIn(root), &ui);
  app.Init();
  ASSERT_TRUE(app.Press(ToolPage::kInfo, info_ctl::kGet));
  {
    std::unique_lock lock(m);
    ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(10), [&] { return entered; }));
  }
  ui.Drain();
  size_t rows_before = app.model().rows.size();
  EXPECT_GT(rows_before, 3u);
  EXPECT_EQ(app.model().rows[0], "[環境]");

  // The window closes while the probe is held: the close waits for the
  // thread, which stops at its next row once the probe returns.
  std::thread closer([&] { app.Close(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  {
    std::lock_guard lock(m);
    released = true;
  }
  cv.notify_all();
  closer.join();
  EXPECT_TRUE(ui.closed);
  EXPECT_FALSE(app.report_running());
  int posted = ui.posted.load();
  ui.Drain();
  EXPECT_EQ(app.model().rows.size(), rows_before) << "no rows after the close";
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(ui.posted.load(), posted) << "the thread has ended";
  EXPECT_FALSE(app.Press(ToolPage::kInfo, info_ctl::kGet));
}

// The real backend on this machine.
TEST(ToolReportReal, ReadsThisMachine) {
  plat::SetMachineHeadless(false);
  plat::OsInfo os = plat::MachineOs();
  std::string release = ReadText("/etc/os-release");
  if (release.empty()) release = ReadText("/usr/lib/os-release");
  if (release.find("PRETTY_NAME=") != std::string::npos) {
    EXPECT_FALSE(os.pretty_name.empty());
    EXPECT_NE(release.find(os.pretty_name), std::string::npos) << os.pretty_name;
    EXPECT_NE(report_os_name(os).find(os.pretty_name + " ( Linux "), std::string::npos);
  }
  plat::MemoryInfo mem = plat::MachineMemory();
  std::istringstream meminfo(ReadText("/proc/meminfo"));
  std::string key;
  uint64_t kb = 0;
  meminfo >> key >> kb;
  ASSERT_EQ(key, "MemTotal:");
  EXPECT_TRUE(mem.ok);
  EXPECT_EQ(mem.total_bytes, kb * 1024);
  plat::DiskInfo disk = plat::MachineDisk("/");
  EXPECT_TRUE(disk.ok);
  EXPECT_GT(disk.total_bytes, 0u);
  plat::RendererInfo r = plat::MachineRenderer(0);
  ASSERT_TRUE(r.has_context) << "no GL context through EGL";
  EXPECT_NE(r.renderer.find("llvmpipe"), std::string::npos) << r.renderer;
  EXPECT_GE(r.gl_major, 2);
  EXPECT_GT(r.max_texture_size, 0);
  plat::SetMachineHeadless(true);
}

}  // namespace
