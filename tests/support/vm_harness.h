// A script machine for tests: a zeroed game record, a game list, the
// script and its tables assembled from a source snippet and loaded from
// memory, and the debug lines it writes collected for inspection.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "assembler.h"
#include "start/game_debug_log.h"
#include "start/game_record.h"
#include "data/graphic_table.h"
#include "kiv.h"
#include "platform/core/text_encoding.h"
#include "data/script_tables.h"
#include "component_entries.h"
#include "vm/vm.h"

namespace vmtest {

// Collects every debug line while it lives.
class LogCapture {
 public:
  LogCapture() { game_debug_log_set_sink(&LogCapture::Sink, this); }
  ~LogCapture() { game_debug_log_set_sink(nullptr, nullptr); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<std::pair<int, std::string>> lines;

  // Whether some line of the window contains the UTF-8 text (compared in
  // Shift-JIS, as the lines are written).
  bool Has(int window, std::string_view utf8) const {
    std::string sj = plat::Utf8ToCp932(std::string(utf8));
    for (const auto& [w, line] : lines)
      if (w == window && line.find(sj) != std::string::npos) return true;
    return false;
  }
  bool HasAny(std::string_view utf8) const {
    std::string sj = plat::Utf8ToCp932(std::string(utf8));
    for (const auto& l : lines)
      if (l.second.find(sj) != std::string::npos) return true;
    return false;
  }
  int Count(std::string_view utf8) const {
    std::string sj = plat::Utf8ToCp932(std::string(utf8));
    int n = 0;
    for (const auto& l : lines) n += l.second.find(sj) != std::string::npos;
    return n;
  }
  std::string All() const {
    std::string s;
    for (const auto& [w, line] : lines) s += "[" + std::to_string(w) + "] " + plat::Cp932ToUtf8(line) + "\n";
    return s;
  }

 private:
  static void Sink(int window, std::string_view line, void* user) {
    static_cast<LogCapture*>(user)->lines.emplace_back(window, std::string(line));
  }
};

inline kasm::Output AssembleOrFail(std::string_view source) {
  kasm::Output out;
  std::string error;
  EXPECT_TRUE(kasm::Assemble(source, "test.kas", &out, &error)) << error;
  return out;
}

// A machine with an assembled script loaded, ready to run.
class Machine {
 public:
  explicit Machine(std::string_view source) : record_(std::make_unique<GameRecord>()), ctx(&record_->ctx) {
    out = AssembleOrFail(source);
    vm_context_attach(record_.get());
    ctx->gameList = KivListCreate();
    ok = script_load_image(ctx, out.script) && table_load_image(ctx, DataTable::kFile, out.file) &&
         table_load_image(ctx, DataTable::kText, out.text) && table_load_image(ctx, DataTable::kMem, out.mem) &&
         table_load_image(ctx, DataTable::kPoint, out.point) && graphic_dat_load_image(ctx, out.graphic);
    EXPECT_TRUE(ok);
  }
  ~Machine() {
    game_reset(ctx);
    KivListRelease(ctx->gameList);
    script_free(ctx);
    data_tables_free(ctx);
    graphic_dat_free(ctx);
    save_buffers_free(ctx);  // a script's save_set_thumbnail_size made one
  }
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  void Run() { script_run(ctx); }
  // Runs frames until the code ends (at most max_frames).
  int RunToEnd(int max_frames = 100) {
    int frames = 0;
    while (ctx->script.pc != ctx->script.codeSize && frames < max_frames) {
      script_run(ctx);
      ++frames;
    }
    return frames;
  }
  int32_t& Reg(int n) { return ctx->registers[n]; }
  uint32_t Pc(const std::string& label) const { return out.labelPc.at(label); }
  GameRecord& record() { return *record_; }

 private:
  std::unique_ptr<GameRecord> record_;

 public:
  VmContext* ctx;
  kasm::Output out;
  bool ok = false;
};

// Binds a test handler for the life of the object, then puts back what
// was bound before (the components' handlers are installed first, so that
// a later install cannot override the test's).
class ScopedBinding {
 public:
  ScopedBinding(const char* name, CommandHandler handler) {
    vm_commands_install();
    const CommandInfo* info = command_find(name);
    EXPECT_NE(info, nullptr) << name;
    if (!info) return;
    word_ = command_word(info->group, info->index);
    previous_ = command_handler(word_);
    command_bind_word(word_, handler);
  }
  ~ScopedBinding() {
    if (word_) command_bind_word(word_, previous_);
  }
  ScopedBinding(const ScopedBinding&) = delete;
  ScopedBinding& operator=(const ScopedBinding&) = delete;

 private:
  uint32_t word_ = 0;
  CommandHandler previous_ = nullptr;
};

}  // namespace vmtest
