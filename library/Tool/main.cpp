// Senfar: the configuration tool. With KIV_HEADLESS=1 it runs without a
// window (tool_headless.h); otherwise it shows its GTK window.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "Tool/tool.h"
#include "Tool/tool_gtk.h"
#include "Tool/tool_headless.h"
#include "platform/machine/machine_info.h"
#include "platform/window/display.h"

namespace {
bool EnvOn(const char* name) {
  const char* v = std::getenv(name);
  return v && *v && *v != '0';
}
}  // namespace

int main(int argc, char** argv) {
  // A test may show the window over an injected machine: "1" the default
  // one, "2" two displays, the second with no renderer.
  if (EnvOn("KIV_TOOL_FAKE_MACHINE")) {
    plat::SetMachineHeadless(true);
    if (std::string(std::getenv("KIV_TOOL_FAKE_MACHINE")) == "2") {
      plat::HeadlessMachine m = plat::DefaultHeadlessMachine();
      m.displays.push_back(plat::DisplayInfo{"Second display", 1280, 1024, 75, "RGB888", {{1280, 1024, 75}}});
      m.renderers.push_back(plat::RendererInfo{});
      plat::SetHeadlessMachine(m);
    }
  }
  if (EnvOn("KIV_HEADLESS")) {
    // The desktop the defaults are centred on, "WIDTHxHEIGHT".
    if (const char* d = std::getenv("KIV_HEADLESS_DESKTOP")) {
      int w = 0, h = 0;
      if (std::sscanf(d, "%dx%d", &w, &h) == 2 && w > 0 && h > 0) plat::SetHeadlessMonitors({plat::Rect{0, 0, w, h}});
    }
    return tool_winmain(tool_run_headless);
  }
  if (!tool_gtk_init(&argc, &argv)) {
    std::fprintf(stderr, "Senfar: cannot open the display\n");
    return 1;
  }
  return tool_winmain(tool_run_gtk);
}
