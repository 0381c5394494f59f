// The system information report: one row per line, built on a thread of
// its own and delivered to the information page through the window's main
// loop, and saved as UTF-8 text with "\r\n" line ends.
//
// Rows are UTF-8: they are made from the machine's own UTF-8 text (paths,
// device names) and leave the program as UTF-8, so they never pass through
// Shift-JIS, which would turn characters outside it into '?'.
#pragma once
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/machine/machine_info.h"

struct ReportContext {
  std::string tool_folder;   // native
  std::string save_folder;   // native
  std::string tool_file;     // native path of the tool program
  std::string game_file;     // native path of the game program
  bool gpu_section = true;   // string 5 non-zero
};

// Emits one row; false asks the builder to stop.
using ReportEmit = std::function<bool(const std::string& row)>;

// What a row shows where this platform has nothing to show.
constexpr const char* kReportUnavailable = "この環境では取得できません";

bool report_build(const ReportContext& ctx, const ReportEmit& emit);
bool report_environment(const ReportContext& ctx, const ReportEmit& emit);
bool report_d3d_adapters(const ReportEmit& emit);
bool report_sound_devices(const ReportEmit& emit);
std::string report_os_name(const plat::OsInfo& os);
// The tool's and the game's FileVersion, "?" when a block cannot be read.
void directx_version_probe(const ReportContext& ctx, std::string* tool, std::string* game);
// "OpenGL major.minor ( version text )": the graphics runtime's version.
std::string report_graphics_version_row(const plat::RendererInfo& r);
// The renderer's capability members in report order, and each flag
// word's number of flag rows (0 for a value member).
std::vector<std::string> report_cap_member_names();
size_t report_cap_flag_count(const std::string& member);
// Processor flags and name.
plat::CpuInfo cpu_features_probe();

// The rows as the saved file's bytes: each row whole, then "\r\n".
std::string report_text(const std::vector<std::string>& rows);
// Writes the file atomically; false (old file kept) on any error.
bool report_save_text(const std::string& native_path, const std::vector<std::string>& rows);

// Runs report_build on a thread. Rows and the end reach the window only by
// `post` (which runs a function on the window's thread); once Stop is called,
// the thread ends at its next row and whatever it posted is dropped.
class ReportRunner {
 public:
  using Post = std::function<void(std::function<void()>)>;
  ~ReportRunner() { Stop(); }
  // False when the thread cannot be started.
  bool Start(ReportContext ctx, Post post, std::function<void(const std::string&)> on_row,
             std::function<void()> on_done);
  // Sets the stop flag and waits for the thread to return.
  void Stop();
  // For tests: the next Start fails as if no thread could be made.
  static void FailNextStart();

 private:
  std::thread thread_;
  std::shared_ptr<std::atomic<bool>> stop_;
};
