// The settings pages, headless: config.dat's words as read from a file, the
// controls they show, presses, and the bytes "保存して終了" writes back.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Tool/tool.h"
#include "Tool/tool_pages.h"
#include "platform/core/backend.h"
#include "platform/machine/machine_info.h"

namespace {

struct Expect {
  ToolPage page;
  int id;
  bool checked;
  bool enabled;
};

struct Step {
  ToolPage page;  // kMain: select adapter `id`
  int id;
};

struct Case {
  const char* name;
  std::vector<int32_t> words;  // as stored (fewer: a short file)
  int displays;                // headless displays
  std::vector<int> gl_major;   // renderer per display; 0: no context
  std::vector<Step> steps;
  std::vector<Expect> expect;  // after the steps
  std::vector<int32_t> saved;  // the 8 words written
};

plat::RendererInfo Renderer(int gl_major) {
  plat::RendererInfo r;
  if (gl_major == 0) return r;
  r.has_context = true;
  r.renderer = "GL" + std::to_string(gl_major);
  r.gl_major = gl_major;
  r.gl_minor = 0;
  return r;
}

std::vector<uint8_t> Bytes(const std::vector<int32_t>& words) {
  std::vector<uint8_t> out;
  for (int32_t w : words)
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(static_cast<uint32_t>(w) >> (8 * i)));
  return out;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

class ToolPagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::UseHeadless(true);
    plat::SetMachineHeadless(true);
    char tmpl[] = "/tmp/senfarpagesXXXXXX";
    root = mkdtemp(tmpl);
  }
  void TearDown() override {
    plat::SetHeadlessMachine(plat::DefaultHeadlessMachine());
    ASSERT_EQ(std::system(("rm -rf '" + root + "'").c_str()), 0);
  }
  std::string root;
};

constexpr ToolPage S = ToolPage::kSystem, G = ToolPage::kGraphics, SEL = ToolPage::kMain;
const std::vector<int32_t> kDefaults = {320, 180, 1280, 720, 0x4419, 0, 1, 2};

TEST_F(ToolPagesTest, ControlTable) {
  using namespace system_ctl;
  using namespace graphics_ctl;
  const std::vector<Case> cases = {
      {"defaults 0x4419", kDefaults, 1, {4}, {},
       {{S, kInactiveRun, true, true}, {S, kScreenSaver, false, true}, {S, kResolution, true, true},
        {S, kAspectKeep, true, true}, {S, kSync, true, true}, {S, system_ctl::kTimeSync, true, true},
        {G, kUseGpu, true, true}, {G, kUseShader, true, true}, {G, kFullBilinear, true, true},
        {G, kFullBicubic, false, true}, {G, kTexBilinear, true, true}},
       kDefaults},
      // Bit 0x2 stands for bilinear only in a group with no choice of its
      // own, and it is never written back.
      {"0x2 alone", {0, 0, 640, 480, 0x2, 0, 1, 2}, 1, {4}, {},
       {{G, kFullBilinear, true, true}, {G, kTexBilinear, true, true}},
       {0, 0, 640, 480, 0x4400, 0, 1, 2}},
      {"0x2 with texture nearest", {0, 0, 640, 480, 0x2002, 0, 1, 2}, 1, {4}, {},
       {{G, kFullBilinear, true, true}, {G, kTexNearest, true, true}, {G, kTexBilinear, false, true}},
       {0, 0, 640, 480, 0x2400, 0, 1, 2}},
      {"0x2 with full-screen nearest", {0, 0, 640, 480, 0x202, 0, 1, 2}, 1, {4}, {},
       {{G, kFullNearest, true, true}, {G, kFullBilinear, false, true}, {G, kTexBilinear, true, true}},
       {0, 0, 640, 480, 0x4200, 0, 1, 2}},
      {"word 6 = 0", {1, 2, 1280, 720, 0x4419, 0, 0, 2}, 1, {4}, {},
       {{S, kResolution, false, true}, {S, kAspectKeep, true, false}, {S, kCenter, false, false},
        {S, kEdgeCut, false, false}},
       {1, 2, 1280, 720, 0x4419, 0, 0, 2}},
      {"word 6 = 7 shows and saves 1", {1, 2, 1280, 720, 0x4419, 0, 7, 2}, 1, {4}, {},
       {{S, kResolution, true, true}, {S, kAspectKeep, true, true}},
       {1, 2, 1280, 720, 0x4419, 0, 1, 2}},
      {"word 7 = 0", {1, 2, 1280, 720, 0x4419, 0, 1, 0}, 1, {4}, {},
       {{S, kSync, false, true}, {S, kVSync, false, false}, {S, system_ctl::kTimeSync, true, false}},
       {1, 2, 1280, 720, 0x4419, 0, 1, 0}},
      {"word 7 = 9 shows and saves 2", {1, 2, 1280, 720, 0x4419, 0, 1, 9}, 1, {4}, {},
       {{S, kSync, true, true}, {S, system_ctl::kTimeSync, true, true}},
       {1, 2, 1280, 720, 0x4419, 0, 1, 2}},
      {"clearing 1013", kDefaults, 1, {4}, {{S, kResolution}},
       {{S, kResolution, false, true}, {S, kAspectKeep, true, false}},
       {320, 180, 1280, 720, 0x4419, 0, 0, 2}},
      {"clearing 1010, choosing 1003", kDefaults, 1, {4}, {{S, kSync}, {S, kCenter}},
       {{S, kSync, false, true}, {S, kCenter, true, true}},
       {320, 180, 1280, 720, 0x4419, 0, 2, 0}},
      {"a disabled radio cannot be pressed", {1, 2, 1280, 720, 0x4419, 0, 0, 2}, 1, {4}, {{S, kEdgeCut}},
       {{S, kEdgeCut, false, false}},
       {1, 2, 1280, 720, 0x4419, 0, 0, 2}},
      {"adapter 5 of two is kept", {0, 0, 1280, 720, 0x4419, 5, 1, 2}, 2, {4, 4}, {},
       {{G, kFullBicubic, false, false}},
       {0, 0, 1280, 720, 0x4419, 5, 1, 2}},
      {"adapter 1 of two chosen", kDefaults, 2, {4, 4}, {{SEL, 1}}, {{G, kFullBicubic, false, true}},
       {320, 180, 1280, 720, 0x4419, 1, 1, 2}},
      // Bicubic as stored stays checked (and saved) though its adapter has
      // no renderer; it only moves when the player picks an adapter.
      {"no renderers", {0, 0, 1280, 720, 0x4819, 0, 1, 2}, 2, {0, 0}, {},
       {{G, kFullBicubic, true, false}},
       {0, 0, 1280, 720, 0x4819, 0, 1, 2}},
      {"bicubic moves to bilinear on a renderer without shader 2.0", {0, 0, 1280, 720, 0x4819, 0, 1, 2}, 2,
       {4, 1}, {{SEL, 1}},
       {{G, kFullBicubic, false, false}, {G, kFullBilinear, true, true}},
       {0, 0, 1280, 720, 0x4419, 1, 1, 2}},
      {"and back: bicubic can be chosen again", {0, 0, 1280, 720, 0x4819, 0, 1, 2}, 2, {4, 1},
       {{SEL, 1}, {SEL, 0}, {G, kFullBicubic}},
       {{G, kFullBicubic, true, true}, {G, kFullBilinear, false, true}},
       {0, 0, 1280, 720, 0x4819, 0, 1, 2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    plat::HeadlessMachine m = plat::DefaultHeadlessMachine();
    m.displays.clear();
    m.renderers.clear();
    for (int i = 0; i < c.displays; ++i) {
      m.displays.push_back(plat::DisplayInfo{"Display " + std::to_string(i), 1920, 1080, 60, "RGB888", {}});
      m.renderers.push_back(Renderer(c.gl_major[static_cast<size_t>(i)]));
    }
    plat::SetHeadlessMachine(m);

    ToolState state;
    state.save_folder = root;
    std::string file = root + "/config.dat";
    std::vector<uint8_t> bytes = Bytes(c.words);
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                 static_cast<std::streamsize>(bytes.size()));
    std::string why;
    ASSERT_EQ(tool_config_load(state, &why), ConfigLoad::kRead);

    PageModel model = pages_create();
    std::vector<AdapterEntry> adapters = tool_adapter_list();
    ASSERT_EQ(adapters.size(), static_cast<size_t>(c.displays));
    pages_init(&model, state.words, adapters);
    for (const Step& s : c.steps) {
      if (s.page == SEL) page_select_adapter(&model, s.id);
      else page_press(&model, s.page, s.id);
    }
    for (const Expect& e : c.expect) {
      const ToolControl& ctl = (e.page == S ? model.system : model.graphics).at(e.id);
      EXPECT_EQ(ctl.checked, e.checked) << (e.page == S ? "system " : "graphics ") << e.id;
      EXPECT_EQ(ctl.enabled, e.enabled) << (e.page == S ? "system " : "graphics ") << e.id;
    }
    pages_store(model, state.words);
    ASSERT_EQ(tool_config_store(state, &why), 1);
    EXPECT_EQ(ReadFile(file), Bytes(c.saved));
  }
}

TEST_F(ToolPagesTest, AdapterListAndShaderBits) {
  plat::HeadlessMachine m = plat::DefaultHeadlessMachine();
  m.displays = {{"DP-1", 2560, 1440, 144, "RGB888", {{2560, 1440, 144}, {1920, 1080, 60}}}, {"HDMI-1", 1920, 1080, 60, "", {}}};
  m.renderers = {Renderer(4), Renderer(0)};
  plat::SetHeadlessMachine(m);
  std::vector<AdapterEntry> list = tool_adapter_list();
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].text, "01:DP-1 / GL4");
  EXPECT_EQ(list[1].text, "02:HDMI-1");
  EXPECT_EQ(list[0].pixel_bits, 0x1FFu);
  EXPECT_EQ(list[0].vertex_bits, 0xFu);
  EXPECT_EQ(list[1].pixel_bits, 0u);

  struct Row {
    int gl;
    uint32_t vs, ps;
    const char* vs_line;
    const char* ps_line;
  } rows[] = {
      {1, 0x0, 0x0, "VertexShaderVersion = NG", "PixelShaderVersion = NG"},
      {2, 0x7, 0x3F, "VertexShaderVersion = 3.0", "PixelShaderVersion = 3.0"},
      {3, 0xF, 0x7F, "VertexShaderVersion = 4.0", "PixelShaderVersion = 4.0"},
      {4, 0xF, 0x1FF, "VertexShaderVersion = 4.0", "PixelShaderVersion = 5.0"},
  };
  for (const Row& r : rows) {
    int major, minor;
    gl_shader_model(r.gl, 5, &major, &minor);
    std::string vs, ps;
    EXPECT_EQ(shader_version_bits(ShaderKind::kVertex, major, minor, &vs), r.vs) << r.gl;
    EXPECT_EQ(shader_version_bits(ShaderKind::kPixel, major, minor, &ps), r.ps) << r.gl;
    EXPECT_EQ(vs, r.vs_line);
    EXPECT_EQ(ps, r.ps_line);
  }
  std::string line;
  EXPECT_EQ(shader_version_bits(ShaderKind::kPixel, 1, 3, &line), 0x7u);
  EXPECT_EQ(line, "PixelShaderVersion = 1.3");
}

// A short file gives the words it holds; defaults fill the rest.
TEST_F(ToolPagesTest, ShortAndEmptyFilesReadTheirWords) {
  ToolState state;
  state.save_folder = root;
  std::string file = root + "/config.dat";
  std::vector<uint8_t> three = Bytes({-7, 9, 800});
  std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(three.data()), 12);
  std::string why;
  ASSERT_EQ(tool_config_load(state, &why), ConfigLoad::kRead);
  std::vector<int32_t> words(state.words, state.words + kConfigWords);
  EXPECT_EQ(words, (std::vector<int32_t>{-7, 9, 800, 720, 0x4419, 0, 1, 2}));
  std::ofstream(file, std::ios::binary | std::ios::trunc).flush();
  ASSERT_EQ(tool_config_load(state, &why), ConfigLoad::kRead);
  words.assign(state.words, state.words + kConfigWords);
  EXPECT_EQ(words, kDefaults);
  ::unlink(file.c_str());
  EXPECT_EQ(tool_config_load(state, &why), ConfigLoad::kMissing);
  ::mkdir(file.c_str(), 0755);
  EXPECT_EQ(tool_config_load(state, &why), ConfigLoad::kUnreadable);
}

}  // namespace
