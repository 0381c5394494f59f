#include "Tool/tool_diagnostics.h"

#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "platform/machine/machine_info.h"
#include "Tool/tool_report.h"

namespace {

std::string Num(int64_t v) { return v >= 0 ? std::to_string(v) : std::string(kReportUnavailable); }
std::string Text(const std::string& v) { return v.empty() ? std::string(kReportUnavailable) : v; }

void Renderer(std::vector<std::string>& out, const plat::RendererInfo& r) {
  if (!r.has_context) {
    out.push_back("  GL コンテキストを作成できませんでした");
    return;
  }
  out.push_back("  GL_VENDOR        : " + Text(r.vendor));
  out.push_back("  GL_RENDERER      : " + Text(r.renderer));
  out.push_back("  GL_VERSION       : " + Text(r.version));
  out.push_back("  GLSL             : " + Text(r.glsl_version));
  out.push_back("  EGL              : " + Text(r.egl_version) + " (" + Text(r.egl_vendor) + ")");
  out.push_back("  ドライバ         : " + Text(r.driver_name));
  std::string version = r.driver_version[0] >= 0 ? std::to_string(r.driver_version[0]) + "." +
                                                       std::to_string(r.driver_version[1]) + "." +
                                                       std::to_string(r.driver_version[2])
                                                 : std::string(kReportUnavailable);
  out.push_back("  ドライバの版     : " + version);
  out.push_back("  種類             : " + std::string(r.accelerated == 1   ? "ハードウェア"
                                                      : r.accelerated == 0 ? "ソフトウェア"
                                                                           : kReportUnavailable));
  out.push_back("  ビデオメモリ     : " + (r.video_memory_mb >= 0 ? Num(r.video_memory_mb) + " MB" : Num(-1)));
  out.push_back("  空きテクスチャメモリ : " +
                (r.free_texture_memory_mb >= 0 ? Num(r.free_texture_memory_mb) + " MB" : Num(-1)));
  out.push_back("  最大テクスチャ   : " + std::to_string(r.max_texture_size));
  out.push_back("  GL 拡張 (" + std::to_string(r.extensions.size()) + ")");
  for (const std::string& e : r.extensions) out.push_back("    " + e);
  out.push_back("  EGL 拡張 (" + std::to_string(r.egl_extensions.size()) + ")");
  for (const std::string& e : r.egl_extensions) out.push_back("    " + e);
}

}  // namespace

std::vector<std::pair<std::string, std::string>> diagnostics_programs_found() {
  std::vector<std::pair<std::string, std::string>> found;
  const char* path = std::getenv("PATH");
  std::string all = path ? path : "";
  for (const char* name : {"glxinfo", "eglinfo"}) {
    size_t at = 0;
    while (at <= all.size()) {
      size_t end = all.find(':', at);
      if (end == std::string::npos) end = all.size();
      std::string dir = all.substr(at, end - at);
      at = end + 1;
      if (dir.empty()) continue;
      std::string file = dir + "/" + name;
      if (::access(file.c_str(), X_OK) == 0) {
        found.emplace_back(name, file);
        break;
      }
    }
  }
  return found;
}

DiagnosticsReport diagnostics_build() {
  DiagnosticsReport d;
  std::vector<std::string>& out = d.lines;
  std::vector<plat::DisplayInfo> displays = plat::MachineDisplays();
  out.push_back("[ ディスプレイ ]");
  if (displays.empty()) out.push_back("  ディスプレイが見つかりません");
  for (size_t i = 0; i < displays.size(); ++i) {
    const plat::DisplayInfo& s = displays[i];
    char line[160];
    std::snprintf(line, sizeof line, "%02d: ", static_cast<int>(i));
    out.push_back(line + Text(s.name));
    std::snprintf(line, sizeof line, "  現在のモード     : %d x %d, %d Hz", s.width, s.height, s.refresh);
    out.push_back(line);
    out.push_back("  ピクセル形式     : " + Text(s.format));
    out.push_back("  モード (" + std::to_string(s.modes.size()) + ")");
    for (const plat::DisplayMode& m : s.modes) {
      std::snprintf(line, sizeof line, "    %d x %d, %d Hz", m.width, m.height, m.refresh);
      out.push_back(line);
    }
  }
  out.push_back("");
  out.push_back("[ グラフィック ]");
  // The renderer that draws on each display (without a display: the one
  // the game would use all the same).
  size_t renderers = displays.empty() ? 1 : displays.size();
  for (size_t i = 0; i < renderers; ++i) {
    char line[64];
    std::snprintf(line, sizeof line, "%02d: ", static_cast<int>(i));
    out.push_back(line + (i < displays.size() ? Text(displays[i].name) : std::string("(ディスプレイなし)")));
    Renderer(out, plat::MachineRenderer(static_cast<int>(i)));
  }
  out.push_back("");
  out.push_back("[ サウンド出力 ]");
  std::vector<plat::SoundDeviceInfo> sounds = plat::MachineSoundDevices();
  if (sounds.empty()) out.push_back("  サウンド出力が見つかりません");
  for (const plat::SoundDeviceInfo& s : sounds) {
    out.push_back(Text(s.name) + " (" + Text(s.driver) + ")");
    if (!s.opened) {
      out.push_back("  開けませんでした");
      continue;
    }
    char line[160];
    std::snprintf(line, sizeof line, "  %d Hz, %d ch, 形式 0x%04X, %d サンプル", s.frequency, s.channels, s.format,
                  s.samples);
    out.push_back(line);
  }
  out.push_back("");
  out.push_back("[ 入力デバイス ]");
  std::vector<plat::InputDeviceInfo> inputs = plat::MachineInputDevices();
  if (inputs.empty()) out.push_back("  入力デバイスが見つかりません");
  for (const plat::InputDeviceInfo& in : inputs) out.push_back(Text(in.name) + " (" + Text(in.kind) + ")");
  for (auto& [name, file] : diagnostics_programs_found()) d.programs.push_back(name);
  return d;
}
