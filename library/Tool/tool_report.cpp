#include "Tool/tool_report.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <system_error>

#include "platform/core/file.h"
#include "platform/gpu/gpu_device.h"
#include "platform/core/text_encoding.h"
#include "platform/core/version_info.h"
#include "Tool/tool_pages.h"

namespace {

std::atomic<bool> g_fail_next_start{false};

std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* fmt, ...) {
  va_list a;
  va_start(a, fmt);
  va_list b;
  va_copy(b, a);
  int n = std::vsnprintf(nullptr, 0, fmt, a);
  va_end(a);
  std::string out(n > 0 ? static_cast<size_t>(n) : 0, '\0');
  if (n > 0) std::vsnprintf(out.data(), out.size() + 1, fmt, b);
  va_end(b);
  return out;
}

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FileVersionOf(const std::string& file) {
  uint32_t size = plat::VersionInfoSize(file);
  std::vector<char> block, translation, value;
  if (size == 0 || !plat::VersionInfoGet(file, size, &block)) return "?";
  char prefix[64] = "\\StringFileInfo\\041103a4\\";
  if (plat::VersionQueryValue(block, "\\VarFileInfo\\Translation", &translation) && translation.size() >= 4) {
    unsigned lang = static_cast<unsigned char>(translation[0]) | static_cast<unsigned char>(translation[1]) << 8;
    unsigned cp = static_cast<unsigned char>(translation[2]) | static_cast<unsigned char>(translation[3]) << 8;
    std::snprintf(prefix, sizeof prefix, "\\StringFileInfo\\%04x%04x\\", lang, cp);
  }
  if (!plat::VersionQueryValue(block, std::string(prefix) + "FileVersion", &value) || value.empty() || !value[0])
    return "?";
  return plat::Cp932ToUtf8(value.data());
}

}  // namespace

std::string report_os_name(const plat::OsInfo& os) {
  if (!os.ok) return "?";
  std::string name = os.pretty_name.empty() ? std::string("Linux") : os.pretty_name;
  return name + " (" + " " + (os.kernel.empty() ? "?" : os.kernel) + " " + (os.release.empty() ? "?" : os.release) +
         " " + (os.machine.empty() ? "?" : os.machine) + " " + " )";
}

void directx_version_probe(const ReportContext& ctx, std::string* tool, std::string* game) {
  *tool = FileVersionOf(ctx.tool_file);
  *game = FileVersionOf(ctx.game_file);
}

plat::CpuInfo cpu_features_probe() { return plat::MachineCpu(); }

bool report_environment(const ReportContext& ctx, const ReportEmit& emit) {
  if (!emit("[環境]")) return false;
  if (!emit("AppPath\t\t\t" + ctx.tool_folder)) return false;
  if (!emit("SaveFoldPath\t" + ctx.save_folder)) return false;
  if (!emit("")) return false;
  if (!emit(report_os_name(plat::MachineOs()))) return false;
  std::string tool_version, game_version;
  directx_version_probe(ctx, &tool_version, &game_version);
  if (!emit(BaseName(ctx.tool_file) + " " + tool_version + " ( " + BaseName(ctx.game_file) + " " + game_version +
            " )"))
    return false;
  plat::DiskInfo disk = plat::MachineDisk(ctx.tool_folder);
  if (!emit(disk.ok && disk.total_bytes > 0
                ? Format("HDD %" PRIu64 " / %" PRIu64 " GB", disk.free_bytes >> 30, disk.total_bytes >> 30)
                : std::string("HDD ? / ? GB")))
    return false;
  plat::MemoryInfo mem = plat::MachineMemory();
  std::string memory_row = "Memory ? / ? MB [ ?% ]";
  if (mem.ok && mem.total_bytes > 0 && mem.available_bytes <= mem.total_bytes) {
    uint64_t used = mem.total_bytes - mem.available_bytes;
    memory_row = Format("Memory %" PRIu64 " / %" PRIu64 " MB [ %d%% ]", used >> 20, mem.total_bytes >> 20,
                        static_cast<int>(used * 100 / mem.total_bytes));
  }
  if (!emit(memory_row)) return false;
  plat::CpuInfo cpu = cpu_features_probe();
  if (!emit("CPU\t\t: " + (cpu.name.empty() ? std::string("?") : cpu.name))) return false;
  if (!emit(cpu.cores > 0 ? Format("Cores\t: %d", cpu.cores) : std::string("Cores\t: ?"))) return false;
  if (!emit(Format("MMX\t\t: %d", cpu.mmx ? 1 : 0))) return false;
  if (!emit(Format("SSE\t\t: %d", cpu.sse ? 1 : 0))) return false;
  if (!emit(Format("SSE2\t: %d", cpu.sse2 ? 1 : 0))) return false;
  if (!emit(Format("AVX\t\t: %d", cpu.avx ? 1 : 0))) return false;
  if (!emit(Format("AVX2\t: %d", cpu.avx2 ? 1 : 0))) return false;
  return emit("");
}

bool report_d3d_adapters(const ReportEmit& emit) {
  std::vector<plat::DisplayInfo> displays = plat::MachineDisplays();
  if (displays.empty()) return emit("グラフィックアダプタが見つかりません");
  for (size_t i = 0; i < displays.size(); ++i) {
    const plat::DisplayInfo& d = displays[i];
    if (!emit(Format("---------- グラフィックアダプタ %02d ----------", static_cast<int>(i)))) return false;
    if (!emit("Descprition\t: " + d.name)) return false;
    if (!emit("")) return false;
    if (!emit("[ Display Mode ]")) return false;
    if (!emit(Format("Width = %d", d.width)) || !emit(Format("Height = %d", d.height)) ||
        !emit(Format("RefreshRate = %d", d.refresh)) || !emit(""))
      return false;
    plat::RendererInfo r = plat::MachineRenderer(static_cast<int>(i));
    if (!r.has_context) {
      if (!emit("Deviceの作成に失敗")) return false;
      continue;
    }
    if (!emit("Driver\t\t: " + r.vendor) || !emit("DeviceName\t: " + r.renderer) ||
        !emit("Renderer\t: " + plat::gpu::RendererChoice(true, r.renderer)) ||
        !emit("Version\t\t: " + r.version) || !emit("GLSL\t\t: " + r.glsl_version) || !emit(""))
      return false;
    int major, minor;
    gl_shader_model(r.gl_major, r.gl_minor, &major, &minor);
    std::string vs, ps;
    shader_version_bits(ShaderKind::kVertex, major, minor, &vs);
    shader_version_bits(ShaderKind::kPixel, major, minor, &ps);
    if (!emit("[ Caps ]") || !emit(vs) || !emit(ps)) return false;
    if (!emit(Format("MaxTextureWidth = %d", r.max_texture_size)) ||
        !emit(Format("MaxTextureHeight = %d", r.max_texture_size)) ||
        !emit(Format("MaxVolumeExtent = %d", r.max_3d_texture_size)) ||
        !emit(Format("MaxSimultaneousTextures = %d", r.max_texture_units)) ||
        !emit(Format("MaxStreams = %d", r.max_vertex_attribs)) ||
        !emit(Format("NumSimultaneousRTs = %d", r.max_draw_buffers)) ||
        !emit(Format("MaxViewportWidth = %d", r.max_viewport_width)) ||
        !emit(Format("MaxViewportHeight = %d", r.max_viewport_height)) || !emit(""))
      return false;
  }
  return true;
}

bool report_sound_devices(const ReportEmit& emit) {
  if (!emit("---------- サウンドアダプタ ----------")) return false;
  for (const plat::SoundDeviceInfo& s : plat::MachineSoundDevices()) {
    if (!emit("Description\t\t\t\t\t\t= " + s.name) || !emit("Module\t\t\t\t\t\t\t= " + s.driver)) return false;
    if (!s.opened) {
      if (!emit("デバイスを開けませんでした") || !emit("")) return false;
      continue;
    }
    if (!emit("[ Caps ]") || !emit(Format("Frequency\t\t\t\t\t\t= %d", s.frequency)) ||
        !emit(Format("Channels\t\t\t\t\t\t= %d", s.channels)) ||
        !emit(Format("Format\t\t\t\t\t\t\t= 0x%04X", s.format)) ||
        !emit(Format("Samples\t\t\t\t\t\t\t= %d", s.samples)) || !emit(""))
      return false;
  }
  return true;
}

bool report_build(const ReportContext& ctx, const ReportEmit& emit) {
  if (!report_environment(ctx, emit)) return false;
  if (ctx.gpu_section && !report_d3d_adapters(emit)) return false;
  return report_sound_devices(emit);
}

std::string report_text(const std::vector<std::string>& rows) {
  std::string out;
  for (const std::string& row : rows) out += row + "\r\n";
  return out;
}

bool report_save_text(const std::string& native_path, const std::vector<std::string>& rows) {
  // The name is the desktop's own (UTF-8), so it is written as given: the
  // bytes go to a temporary file beside it, reach the disk, and replace the
  // old file only when all of them were written.
  std::string text = report_text(rows);
  std::string tmp = native_path + ".tmp" + std::to_string(::getpid());
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  size_t done = 0;
  bool ok = true;
  while (ok && done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ok = false;
    else done += static_cast<size_t>(n);
  }
  if (ok && ::fsync(fd) != 0) ok = false;
  if (::close(fd) != 0) ok = false;
  if (ok && ::rename(tmp.c_str(), native_path.c_str()) != 0) ok = false;
  if (!ok) ::unlink(tmp.c_str());
  return ok;
}

namespace {

// The report thread: builds the report, handing each row to the window by
// `post`; stops at the next row once `stop` is set, and whatever it posted
// is dropped from then on.
void report_thread(const ReportContext& ctx, const ReportRunner::Post& post,
                   const std::function<void(const std::string&)>& on_row, const std::function<void()>& on_done,
                   const std::shared_ptr<std::atomic<bool>>& stop) {
  report_build(ctx, [&](const std::string& row) {
    if (stop->load()) return false;
    post([stop, on_row, row] {
      if (!stop->load()) on_row(row);
    });
    return true;
  });
  post([stop, on_done] {
    if (!stop->load()) on_done();
  });
}

}  // namespace

void ReportRunner::FailNextStart() { g_fail_next_start.store(true); }

bool ReportRunner::Start(ReportContext ctx, Post post, std::function<void(const std::string&)> on_row,
                         std::function<void()> on_done) {
  Stop();
  if (g_fail_next_start.exchange(false)) return false;
  auto stop = std::make_shared<std::atomic<bool>>(false);
  try {
    thread_ = std::thread(
        [ctx = std::move(ctx), post, on_row, on_done, stop] { report_thread(ctx, post, on_row, on_done, stop); });
  } catch (const std::system_error&) {
    return false;
  }
  stop_ = stop;
  return true;
}

void ReportRunner::Stop() {
  if (stop_) stop_->store(true);
  if (thread_.joinable()) thread_.join();
  stop_.reset();
}
