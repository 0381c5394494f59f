#include "Tool/tool_pages.h"

#include <cstdio>

#include "platform/machine/machine_info.h"

namespace {

struct VersionRow {
  int major, minor;
  uint32_t bit;
};
constexpr VersionRow kVertexRows[] = {{1, 1, 0x1}, {2, 0, 0x2}, {3, 0, 0x4}, {4, 0, 0x8}};
constexpr VersionRow kPixelRows[] = {{1, 1, 0x1},  {1, 2, 0x2},  {1, 3, 0x4},  {1, 4, 0x8},  {2, 0, 0x10},
                                     {3, 0, 0x20}, {4, 0, 0x40}, {4, 1, 0x80}, {5, 0, 0x100}};

// Radio groups.
enum { kGroupSync = 1, kGroupResolution, kGroupFull, kGroupTexture };

ToolControl Check(const char* text) { return ToolControl{text, false, 0}; }
ToolControl Radio(const char* text, int group) { return ToolControl{text, true, group}; }

void SetRadio(std::map<int, ToolControl>& page, int id) {
  int group = page[id].group;
  for (auto& [other, c] : page)
    if (c.radio && c.group == group) c.checked = other == id;
}

int CheckedIn(const std::map<int, ToolControl>& page, int group) {
  for (const auto& [id, c] : page)
    if (c.radio && c.group == group && c.checked) return id;
  return 0;
}

bool HasPixelShader2(const PageModel& m, int index) {
  if (index < 0 || static_cast<size_t>(index) >= m.adapters.size()) return false;
  return m.adapters[static_cast<size_t>(index)].pixel_bits & 0x10;
}

}  // namespace

uint32_t shader_version_bits(ShaderKind kind, int major, int minor, std::string* line) {
  const VersionRow* rows = kind == ShaderKind::kVertex ? kVertexRows : kPixelRows;
  size_t n = kind == ShaderKind::kVertex ? std::size(kVertexRows) : std::size(kPixelRows);
  const char* name = kind == ShaderKind::kVertex ? "VertexShaderVersion" : "PixelShaderVersion";
  uint32_t bits = 0;
  const VersionRow* best = nullptr;
  for (size_t i = 0; i < n; ++i) {
    if (major > rows[i].major || (major == rows[i].major && minor >= rows[i].minor)) {
      bits |= rows[i].bit;
      best = &rows[i];
    }
  }
  if (line) {
    char text[64];
    if (best) std::snprintf(text, sizeof text, "%s = %d.%d", name, best->major, best->minor);
    else std::snprintf(text, sizeof text, "%s = NG", name);
    *line = text;
  }
  return bits;
}

void gl_shader_model(int gl_major, int gl_minor, int* major, int* minor) {
  *minor = 0;
  if (gl_major >= 4) *major = 5;
  else if (gl_major == 3) *major = 4;
  else if (gl_major == 2) *major = 3;
  else *major = 0;
}

void adapter_shader_caps(int index, uint32_t* vertex_bits, uint32_t* pixel_bits) {
  *vertex_bits = *pixel_bits = 0;
  plat::RendererInfo r = plat::MachineRenderer(index);
  if (!r.has_context) return;
  int major, minor;
  gl_shader_model(r.gl_major, r.gl_minor, &major, &minor);
  *vertex_bits = shader_version_bits(ShaderKind::kVertex, major, minor, nullptr);
  *pixel_bits = shader_version_bits(ShaderKind::kPixel, major, minor, nullptr);
}

std::vector<AdapterEntry> tool_adapter_list() {
  std::vector<AdapterEntry> out;
  std::vector<plat::DisplayInfo> displays = plat::MachineDisplays();
  for (size_t i = 0; i < displays.size(); ++i) {
    int index = static_cast<int>(i);
    plat::RendererInfo r = plat::MachineRenderer(index);
    std::string description = displays[i].name;
    if (r.has_context) description += " / " + r.renderer;
    char number[16];
    std::snprintf(number, sizeof number, "%02d:", index + 1);
    AdapterEntry e;
    e.text = number + description;
    adapter_shader_caps(index, &e.vertex_bits, &e.pixel_bits);
    out.push_back(e);
  }
  return out;
}

PageModel pages_create() {
  using namespace system_ctl;
  PageModel m;
  m.system[kInactiveRun] = Check("非アクティブ時でも動作する");
  m.system[kScreenSaver] = Check("スクリーンセーバー有効");
  m.system[kSync] = Check("同期を取る");
  m.system[kVSync] = Radio("V-Sync同期", kGroupSync);
  m.system[kTimeSync] = Radio("時間同期", kGroupSync);
  m.system[kResolution] = Check("フルスクリーン時の解像度処理");
  m.system[kAspectKeep] = Radio("アスペクト比固定", kGroupResolution);
  m.system[kCenter] = Radio("拡大せずに中央に表示", kGroupResolution);
  m.system[kEdgeCut] = Radio("黒帯無しで端をカット", kGroupResolution);
  using namespace graphics_ctl;
  m.graphics[kUseGpu] = Check("Direct3Dを使用");
  m.graphics[kUseShader] = Check("シェーダーを使用する");
  m.graphics[kFullNone] = Radio("補間なし", kGroupFull);
  m.graphics[kFullNearest] = Radio("ニアレストネイバー補間", kGroupFull);
  m.graphics[kFullBilinear] = Radio("バイリニア補間", kGroupFull);
  m.graphics[kFullBicubic] = Radio("バイキュービック補間", kGroupFull);
  m.graphics[kTexNone] = Radio("補間なし", kGroupTexture);
  m.graphics[kTexNearest] = Radio("ニアレストネイバー補間", kGroupTexture);
  m.graphics[kTexBilinear] = Radio("バイリニア補間", kGroupTexture);
  return m;
}

void pages_init(PageModel* m, const int32_t words[kConfigWords], std::vector<AdapterEntry> adapters) {
  uint32_t mode = static_cast<uint32_t>(words[kConfigMode]);
  {
    using namespace system_ctl;
    auto& s = m->system;
    s[kInactiveRun].checked = mode & kCfgModeInactiveRun;
    s[kScreenSaver].checked = mode & kCfgModeScreenSaver;
    // A value outside the choices shows as the one the engine falls back to
    // (aspect 1, timer sync 2), so a radio is always checked.
    int32_t aspect = words[kConfigAspect];
    if (aspect < 0 || aspect > 3) aspect = 1;
    s[kResolution].checked = aspect != 0;
    SetRadio(s, aspect == 2 ? kCenter : aspect == 3 ? kEdgeCut : kAspectKeep);
    for (int id : {kAspectKeep, kCenter, kEdgeCut}) s[id].enabled = aspect != 0;
    int32_t sync = words[kConfigSync];
    if (sync < 0 || sync > 2) sync = 2;
    s[kSync].checked = sync != 0;
    SetRadio(s, sync == 1 ? kVSync : kTimeSync);
    for (int id : {kVSync, kTimeSync}) s[id].enabled = sync != 0;
  }
  {
    using namespace graphics_ctl;
    auto& g = m->graphics;
    m->adapters = std::move(adapters);
    m->adapter_as_read = words[kConfigAdapter];
    m->selection = (words[kConfigAdapter] >= 0 && static_cast<size_t>(words[kConfigAdapter]) < m->adapters.size())
                       ? words[kConfigAdapter]
                       : -1;
    g[kUseGpu].checked = mode & kCfgModeGpu;
    g[kUseShader].checked = mode & kCfgModeShader;
    g[kFullBicubic].enabled = HasPixelShader2(*m, m->selection);
    SetRadio(g, (mode & kCfgFullBicubic)    ? kFullBicubic
                : (mode & kCfgFullBilinear) ? kFullBilinear
                : (mode & kCfgFullNearest)  ? kFullNearest
                                            : kFullNone);
    SetRadio(g, (mode & kCfgTexBilinear) ? kTexBilinear : (mode & kCfgTexNearest) ? kTexNearest : kTexNone);
  }
}

bool page_press(PageModel* m, ToolPage page, int id) {
  std::map<int, ToolControl>* controls =
      page == ToolPage::kSystem ? &m->system : page == ToolPage::kGraphics ? &m->graphics : nullptr;
  if (!controls) return false;
  auto it = controls->find(id);
  if (it == controls->end() || !it->second.enabled) return false;
  if (it->second.radio) {
    SetRadio(*controls, id);
    return true;
  }
  it->second.checked = !it->second.checked;
  if (page == ToolPage::kSystem) {
    using namespace system_ctl;
    if (id == kSync)
      for (int r : {kVSync, kTimeSync}) m->system[r].enabled = it->second.checked;
    if (id == kResolution)
      for (int r : {kAspectKeep, kCenter, kEdgeCut}) m->system[r].enabled = it->second.checked;
  }
  return true;
}

bool page_select_adapter(PageModel* m, int index) {
  using namespace graphics_ctl;
  if (index < 0 || static_cast<size_t>(index) >= m->adapters.size()) return false;
  m->selection = index;
  auto& g = m->graphics;
  if (HasPixelShader2(*m, index)) {
    g[kFullBicubic].enabled = true;
  } else {
    g[kFullBicubic].enabled = false;
    if (g[kFullBicubic].checked) SetRadio(g, kFullBilinear);
  }
  return true;
}

void pages_store(const PageModel& m, int32_t words[kConfigWords]) {
  uint32_t mode = 0;
  auto on = [](const std::map<int, ToolControl>& page, int id) { return page.at(id).checked; };
  {
    using namespace system_ctl;
    if (on(m.system, kInactiveRun)) mode |= kCfgModeInactiveRun;
    if (on(m.system, kScreenSaver)) mode |= kCfgModeScreenSaver;
    int aspect = CheckedIn(m.system, kGroupResolution);
    words[kConfigAspect] = !on(m.system, kResolution) ? 0 : aspect == kCenter ? 2 : aspect == kEdgeCut ? 3 : 1;
    int sync = CheckedIn(m.system, kGroupSync);
    words[kConfigSync] = !on(m.system, kSync) ? 0 : sync == kVSync ? 1 : 2;
  }
  {
    using namespace graphics_ctl;
    if (on(m.graphics, kUseGpu)) mode |= kCfgModeGpu;
    if (on(m.graphics, kUseShader)) mode |= kCfgModeShader;
    mode |= on(m.graphics, kFullBicubic)    ? kCfgFullBicubic
            : on(m.graphics, kFullBilinear) ? kCfgFullBilinear
            : on(m.graphics, kFullNearest)  ? kCfgFullNearest
                                            : kCfgFullNone;
    mode |= on(m.graphics, kTexBilinear) ? kCfgTexBilinear : on(m.graphics, kTexNearest) ? kCfgTexNearest : kCfgTexNone;
    // No selection (word 5 named no listed adapter): the word stays as read.
    words[kConfigAdapter] = m.selection >= 0 ? m.selection : m.adapter_as_read;
  }
  words[kConfigMode] = static_cast<int32_t>(mode);
}

std::string pages_dump(const PageModel& m) {
  std::string out;
  auto page = [&](const char* name, const std::map<int, ToolControl>& controls) {
    for (const auto& [id, c] : controls) {
      char line[96];
      std::snprintf(line, sizeof line, "%s %d %s %s\n", name, id, c.checked ? "on" : "off",
                    c.enabled ? "enabled" : "disabled");
      out += line;
    }
  };
  page("system", m.system);
  page("graphics", m.graphics);
  char line[96];
  std::snprintf(line, sizeof line, "graphics %d selection %d of %zu\n", graphics_ctl::kAdapter, m.selection,
                m.adapters.size());
  out += line;
  return out;
}
