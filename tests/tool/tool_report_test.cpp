// The system report: an injected machine saved and compared byte for byte
// with a reviewed file (tests/golden/senfar_report.txt; KIV_UPDATE_GOLDEN=1
// writes it anew), the save dialog's rules, closing mid-report, and the real
// backend on this machine.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <functional>
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
  m.displays = {{"DP-1", 2560, 1440, 144, "RGB888", {{2560, 1440, 144}, {1920, 1080, 60}}}, {"HDMI-1", 1920, 1080, 60, "", {}}};
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
  EXPECT_NE(ReadText(out).find("DeviceName\t: " + std::string(300, 'D') + "\r\n"), std::string::npos);
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
  void Beep() override { ++beeps; }
  bool ShowDiagnostics(const DiagnosticsReport& r) override {
    shown = r;
    return show_works;
  }
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
  int beeps = 0;
  DiagnosticsReport shown;
  bool show_works = true;
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
  EXPECT_TRUE(app.model().save_enabled) << "情報を保存 stays enabled while a report runs";
  const int beeps = ui.beeps;
  for (int i = 0; i < 2000 && app.report_running(); ++i) {
    ui.Drain();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_FALSE(app.report_running());
  EXPECT_TRUE(app.model().get_enabled);
  EXPECT_TRUE(app.model().save_enabled);
  EXPECT_EQ(ui.beeps, beeps + 1) << "the beep when the report completes";
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

// Every row the report has always had, in its order: the name each line
// starts with (a value row may carry the GL limit it now shows in
// parentheses after the name), per renderer member its flag rows.
std::vector<std::string> ExpectedAdapterRows() {
  std::vector<std::string> rows = {"---------- グラフィックアダプタ 00 ----------", "Descprition\t: ", "Driver\t\t: ",
                                   "DeviceName\t: ", "Product\t\t: ", "Version\t\t: ", "SubVersion\t: ", "Build\t\t: ",
                                   "", "", "[ Display Mode ]", "Width = ", "Height = ", "RefreshRate = ", "Format",
                                   "", "[ Caps ]", "DeviceType", "AdapterOrdinal = "};
  const std::vector<std::pair<std::string, int>> members = {
      {"Caps", 1}, {"Caps2", 5}, {"Caps3", 4}, {"PresentationIntervals", 5}, {"CursorCaps", 2}, {"DevCaps", 20},
      {"PrimitiveMiscCaps", 17}, {"RasterCaps", 16}, {"ZCmpCaps", 8}, {"SrcBlendCaps", 14}, {"DestBlendCaps", 14},
      {"AlphaCmpCaps", 8}, {"ShadeCaps", 4}, {"TextureCaps", 16}, {"TextureFilterCaps", 12},
      {"CubeTextureFilterCaps", 12}, {"VolumeTextureFilterCaps", 12}, {"TextureAddressCaps", 6},
      {"VolumeTextureAddressCaps", 6}, {"LineCaps", 6}, {"MaxTextureWidth", 0}, {"MaxTextureHeight", 0},
      {"MaxVolumeExtent", 0}, {"MaxTextureRepeat", 0}, {"MaxTextureAspectRatio", 0}, {"MaxAnisotropy", 0},
      {"MaxVertexW", 0}, {"GuardBandLeft", 0}, {"GuardBandTop", 0}, {"GuardBandRight", 0}, {"GuardBandBottom", 0},
      {"ExtentsAdjust", 0}, {"StencilCaps", 9}, {"FVFCaps", 3}, {"TextureOpCaps", 26}, {"MaxTextureBlendStages", 0},
      {"MaxSimultaneousTextures", 0}, {"VertexProcessingCaps", 8}, {"MaxActiveLights", 0}, {"MaxUserClipPlanes", 0},
      {"MaxVertexBlendMatrices", 0}, {"MaxVertexBlendMatrixIndex", 0}, {"MaxPointSize", 0},
      {"MaxPrimitiveCount", 0}, {"MaxVertexIndex", 0}, {"MaxStreams", 0}, {"MaxStreamStride", 0},
      {"VertexShaderVersion", 0}, {"MaxVertexShaderConst", 0}, {"PixelShaderVersion", 0},
      {"PixelShader1xMaxValue", 0}, {"DevCaps2", 7}, {"MasterAdapterOrdinal", 0}, {"AdapterOrdinalInGroup", 0},
      {"NumberOfAdaptersInGroup", 0}, {"DeclTypes", 10}, {"NumSimultaneousRTs", 0}, {"StretchRectFilterCaps", 4},
      {"VS20Caps", 0}, {"PS20Caps", 0}, {"VertexTextureFilterCaps", 12}, {"MaxVShaderInstructionsExecuted", 0},
      {"MaxPShaderInstructionsExecuted", 0}, {"MaxVertexShader30InstructionSlots", 0},
      {"MaxPixelShader30InstructionSlots", 0}};
  for (auto& [name, flags] : members) {
    rows.push_back(name + " ");
    for (int i = 0; i < flags; ++i) rows.push_back("\t");
  }
  rows.push_back("");
  return rows;
}

std::vector<std::string> ExpectedSoundRows() {
  std::vector<std::string> rows = {"Description\t\t\t\t\t\t= ", "Module\t\t\t\t\t\t\t= ", "[ Caps ]",
                                   "dwFlags\t\t\t\t\t\t\t= "};
  for (const char* f : {"\tDSCAPS_CERTIFIED\t\t\t: ", "\tDSCAPS_CONTINUOUSRATE\t\t: ", "\tDSCAPS_EMULDRIVER\t\t\t: ",
                        "\tDSCAPS_PRIMARY16BIT\t\t\t: ", "\tDSCAPS_PRIMARY8BIT\t\t\t: ", "\tDSCAPS_PRIMARYMONO\t\t\t: ",
                        "\tDSCAPS_PRIMARYSTEREO\t\t: ", "\tDSCAPS_SECONDARY16BIT\t\t: ", "\tDSCAPS_SECONDARY8BIT\t\t: ",
                        "\tDSCAPS_SECONDARYMONO\t\t: ", "\tDSCAPS_SECONDARYSTEREO\t\t: "})
    rows.push_back(f);
  for (const char* c :
       {"dwMinSecondarySampleRate\t\t= ", "dwMaxSecondarySampleRate\t\t= ", "dwPrimaryBuffers\t\t\t\t= ",
        "dwMaxHwMixingAllBuffers\t\t\t= ", "dwMaxHwMixingStaticBuffers\t\t= ", "dwMaxHwMixingStreamingBuffers\t= ",
        "dwFreeHwMixingAllBuffers\t\t= ", "dwFreeHwMixingStaticBuffers\t\t= ", "dwFreeHwMixingStreamingBuffers\t= ",
        "dwMaxHw3DAllBuffers\t\t\t\t= ", "dwMaxHw3DStaticBuffers\t\t\t= ", "dwMaxHw3DStreamingBuffers\t\t= ",
        "dwFreeHw3DAllBuffers\t\t\t= ", "dwFreeHw3DStaticBuffers\t\t\t= ", "dwFreeHw3DStreamingBuffers\t\t= ",
        "dwTotalHwMemBytes\t\t\t\t= ", "dwFreeHwMemBytes\t\t\t\t= ", "dwMaxContigFreeHwMemBytes\t\t= ",
        "dwUnlockTransferRateHwBuffers\t= ", "dwPlayCpuOverheadSwBuffers\t\t= "})
    rows.push_back(c);
  return rows;
}

// `rows` from `at` holds each expected prefix in order, one row each, with
// only rows of its own in between; returns the index after the last match,
// or -1 with the first missing prefix in *missing.
long MatchInOrder(const std::vector<std::string>& rows, size_t at, const std::vector<std::string>& expected,
                  std::string* missing) {
  for (const std::string& e : expected) {
    bool empty = e.empty();
    while (at < rows.size() && !(empty ? rows[at].empty() : rows[at].rfind(e, 0) == 0 ||
                                             (e.back() == ' ' && rows[at].rfind(e.substr(0, e.size() - 1) + " (", 0) == 0)))
      ++at;
    if (at == rows.size()) {
      *missing = e;
      return -1;
    }
    ++at;
  }
  return static_cast<long>(at);
}

TEST_F(ToolReportTest, EveryRowOfTheReportIsPresentInOrder) {
  plat::HeadlessMachine m = InjectedMachine();
  m.displays.resize(1);
  m.renderers.resize(1);
  plat::SetHeadlessMachine(m);
  std::vector<std::string> rows = Build(FixedContext());
  std::string missing;
  long at = MatchInOrder(rows, 0,
                         {"[環境]", "AppPath\t\t\t/opt/ゲーム", "SaveFoldPath\t/opt/ゲーム/save", "", "Example Linux 12",
                          "OpenGL 4.5 ( 4.5 (Compatibility Profile) Mesa 22.3.6 )", "HDD ", "Memory 12288 / 16384 MB",
                          "MMX\t\t: 1", "SSE\t\t: 1", "SSE2\t: 1", ""},
                         &missing);
  ASSERT_GE(at, 0) << "environment: " << missing;
  at = MatchInOrder(rows, static_cast<size_t>(at), ExpectedAdapterRows(), &missing);
  ASSERT_GE(at, 0) << "renderer: " << missing;
  at = MatchInOrder(rows, static_cast<size_t>(at), {"---------- サウンドアダプタ ----------"}, &missing);
  ASSERT_GE(at, 0);
  at = MatchInOrder(rows, static_cast<size_t>(at), ExpectedSoundRows(), &missing);
  ASSERT_GE(at, 0) << "sound: " << missing;
  // Each flag word has exactly its flag rows, and what this platform lacks
  // says so.
  auto find = [&](const std::string& row) { return std::find(rows.begin(), rows.end(), row) - rows.begin(); };
  long caps2 = find(std::string("Caps2 = ") + kReportUnavailable);
  ASSERT_LT(caps2, static_cast<long>(rows.size()));
  for (long i = 1; i <= 5; ++i) EXPECT_EQ(rows[caps2 + i].substr(0, 10), "\tD3DCAPS2_") << rows[caps2 + i];
  EXPECT_EQ(rows[caps2 + 6].rfind("Caps3 = ", 0), 0u);
  // The GL limits stand in the Direct3D rows, named.
  EXPECT_NE(find("MaxTextureWidth (GL_MAX_TEXTURE_SIZE) = 8192"), static_cast<long>(rows.size()));
  EXPECT_NE(find("MaxPointSize (GL_ALIASED_POINT_SIZE_RANGE) = 255.000000"), static_cast<long>(rows.size()));
  EXPECT_NE(find(std::string("GuardBandLeft = ") + kReportUnavailable), static_cast<long>(rows.size()));
  EXPECT_NE(find("VertexShaderVersion = 4.0"), static_cast<long>(rows.size()));
  EXPECT_NE(find("PixelShaderVersion = 5.0"), static_cast<long>(rows.size()));
  EXPECT_NE(find("ビデオメモリ (GLX_RENDERER_VIDEO_MEMORY_MESA) : 2048 M"), static_cast<long>(rows.size()));
  EXPECT_NE(find("\tDSCAPS_PRIMARY16BIT\t\t\t: 1"), static_cast<long>(rows.size()));
  EXPECT_NE(find("\tDSCAPS_PRIMARYSTEREO\t\t: 1"), static_cast<long>(rows.size()));
  EXPECT_NE(find("\tDSCAPS_PRIMARYMONO\t\t\t: 0"), static_cast<long>(rows.size()));
}

// The failure rows, worded as they always were.
TEST_F(ToolReportTest, FailureRows) {
  struct Case {
    const char* what;
    std::function<void(plat::HeadlessMachine&)> change;
    std::vector<std::string> rows;  // in this order, in the report
    std::vector<std::string> absent;
  };
  const std::vector<Case> cases = {
      {"nothing to draw with", [](plat::HeadlessMachine& m) { m.displays.clear(); m.renderers.clear(); },
       {"DirectX9非対応", "---------- サウンドアダプタ ----------"}, {"---------- グラフィックアダプタ 00 ----------"}},
      {"a display without a renderer",
       [](plat::HeadlessMachine& m) { m.renderers = {plat::RendererInfo{}, plat::RendererInfo{}}; },
       {"---------- グラフィックアダプタ 00 ----------", "DeviceName\t: DP-1", "Deviceの作成に失敗",
        "---------- グラフィックアダプタ 01 ----------", "Deviceの作成に失敗"},
       {"AdapterOrdinal = 0", "AdapterOrdinal = 1"}},
      {"a renderer that tells no limits",
       [](plat::HeadlessMachine& m) { m.renderers[0].max_texture_size = 0; },
       {"---------- グラフィックアダプタ 00 ----------", "DeviceCapsの取得に失敗",
        "---------- グラフィックアダプタ 01 ----------"},
       {"AdapterOrdinal = 0", "AdapterOrdinal = 1"}},
      {"an output that cannot be opened", [](plat::HeadlessMachine& m) {},
       {"Description\t\t\t\t\t\t= Headless output", "DirectSoundObjectの作成に失敗"},
       {"Description\t\t\t\t\t\t= Broken output"}},
      {"an output that tells nothing",
       [](plat::HeadlessMachine& m) { m.sound_devices[0].frequency = 0; },
       {"Module\t\t\t\t\t\t\t= headless", "DirectSoundCapsの取得に失敗"}, {"dwFlags\t\t\t\t\t\t\t= " + std::string(kReportUnavailable)}},
      {"no sound output", [](plat::HeadlessMachine& m) { m.sound_devices.clear(); },
       {"---------- サウンドアダプタ ----------", "サウンド出力が見つかりません"}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    plat::HeadlessMachine m = InjectedMachine();
    c.change(m);
    plat::SetHeadlessMachine(m);
    std::vector<std::string> rows = Build(FixedContext());
    std::string missing;
    EXPECT_GE(MatchInOrder(rows, 0, c.rows, &missing), 0) << missing;
    for (const std::string& a : c.absent) EXPECT_EQ(std::find(rows.begin(), rows.end(), a), rows.end()) << a;
    if (c.rows.back() == "サウンド出力が見つかりません") {
      EXPECT_EQ(rows.back(), c.rows.back()) << "the report's last line";
    }
  }
}

// The diagnostics window's model over an injected machine: what it shows,
// the programs it offers to start, saving it, and the box when no window
// can be opened.
TEST_F(ToolReportTest, DiagnosticsWindowModel) {
  std::string bin = root + "/bin";
  ASSERT_EQ(::mkdir(bin.c_str(), 0755), 0);
  std::ofstream(bin + "/glxinfo") << "#!/bin/sh\necho fake\n";
  ASSERT_EQ(::chmod((bin + "/glxinfo").c_str(), 0755), 0);
  const char* old_path = std::getenv("PATH");
  std::string saved_path = old_path ? old_path : "";
  ::setenv("PATH", (bin + ":/nonexistent").c_str(), 1);
  plat::HeadlessMachine m = InjectedMachine();
  m.renderers[0].extensions = {"GL_ARB_one", "GL_EXT_two"};
  m.input_devices = {{"AT Keyboard", "keyboard"}, {"Pad", "joystick"}};
  plat::SetHeadlessMachine(m);
  TestUi ui;
  ToolApp app(StateIn(root), &ui);
  app.Init();
  ASSERT_TRUE(app.Press(ToolPage::kMain, main_ctl::kDxdiag));
  ::setenv("PATH", saved_path.c_str(), 1);
  std::string text = report_text(ui.shown.lines);
  for (const char* want : {"[ ディスプレイ ]\r\n00: DP-1\r\n  現在のモード     : 2560 x 1440, 144 Hz\r\n",
                           "    1920 x 1080, 60 Hz\r\n", "  GL_RENDERER      : llvmpipe (LLVM 15.0.6, 256 bits)\r\n",
                           "  GL_VENDOR        : Mesa\r\n", "  GL_VERSION       : 4.5 (Compatibility Profile) Mesa 22.3.6\r\n",
                           "  ビデオメモリ     : 2048 MB\r\n", "  GL 拡張 (2)\r\n    GL_ARB_one\r\n    GL_EXT_two\r\n",
                           "01: HDMI-1\r\n  GL コンテキストを作成できませんでした\r\n",
                           "[ サウンド出力 ]\r\nHeadless output (headless)\r\n  48000 Hz, 2 ch",
                           "Broken output (pulseaudio)\r\n  開けませんでした\r\n",
                           "[ 入力デバイス ]\r\nAT Keyboard (keyboard)\r\nPad (joystick)\r\n"})
    EXPECT_NE(text.find(want), std::string::npos) << want << "\n" << text;
  EXPECT_EQ(ui.shown.programs, std::vector<std::string>{"glxinfo"});
  ASSERT_TRUE(app.SaveDiagnostics(root + "/diag.txt"));
  EXPECT_EQ(ReadText(root + "/diag.txt"), text);
  EXPECT_TRUE(plat::HeadlessBoxLog().empty());

  ui.show_works = false;
  ASSERT_TRUE(app.Press(ToolPage::kMain, main_ctl::kDxdiag));
  ASSERT_EQ(plat::HeadlessBoxLog().size(), 1u);
  EXPECT_EQ(plat::HeadlessBoxLog()[0].text, plat::Sjis("DirectX診断ツールの起動に失敗しました。"));
  EXPECT_EQ(plat::HeadlessBoxLog()[0].caption, plat::Sjis("エラー"));
  EXPECT_EQ(plat::HeadlessBoxLog()[0].type, plat::kMbOk | plat::kMbIconWarning);
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
