// What the game-data fuzz targets share: a quiet debug log, a game record
// with a script and its tables assembled by our own assembler from a small
// source, and checks that a refused file changed nothing.
#pragma once
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "assembler.h"
#include "data/graphic_table.h"
#include "data/script_tables.h"
#include "kiv.h"
#include "start/game_debug_log.h"
#include "start/game_record.h"
#include "vm/vm.h"

namespace fuzzgame {

// A source that fills every table: texts, file names, Mem.dat tables,
// labels, graphic entries and an archive set.
inline constexpr std::string_view kBaseSource = R"(.stamp 7
.archive "one | two"
.archive "three"
.file "UNUSED", "BG_DAY"
.graphic "AOI_SMILE" file="CH_AOI_SMILE" priority=3 move=4,5
.graphic "BEN" colour=0x80FF0000
.table colours 1, 2, 3, 0x7FFF
.table names 10, 20
start:
    mov r1, 3
    mov r2, mt[colours][r1]
    call sp_set file"BG_DAY", 0, 10, 0
    jz @done, r2
    gosub @sub
done:
    mov r3, m[r1 + names]
    end
sub:
    push "こんにちは。"
    pop r4
    ret
)";

// Debug lines go nowhere: a fuzzer writes millions of them.
inline void QuietLog() {
  static bool done = [] {
    game_debug_log_set_sink([](int, std::string_view, void*) {}, nullptr);
    return true;
  }();
  (void)done;
}

inline const kasm::Output& BaseOutput() {
  static const kasm::Output out = [] {
    kasm::Output o;
    std::string error;
    if (!kasm::Assemble(kBaseSource, "base.kas", &o, &error)) std::abort();
    return o;
  }();
  return out;
}

// A game record with the base script and tables loaded; freed whole.
class Record {
 public:
  Record() : g_(std::make_unique<GameRecord>()), ctx(&g_->ctx) {
    QuietLog();
    const kasm::Output& o = BaseOutput();
    vm_context_attach(g_.get());
    ctx->gameList = KivListCreate();
    if (!script_load_image(ctx, o.script) || !table_load_image(ctx, DataTable::kFile, o.file) ||
        !table_load_image(ctx, DataTable::kText, o.text) || !table_load_image(ctx, DataTable::kMem, o.mem) ||
        !table_load_image(ctx, DataTable::kPoint, o.point) || !graphic_dat_load_image(ctx, o.graphic))
      std::abort();
  }
  ~Record() {
    game_reset(ctx);
    KivListRelease(ctx->gameList);
    script_free(ctx);
    data_tables_free(ctx);
    graphic_dat_free(ctx);
  }
  Record(const Record&) = delete;
  Record& operator=(const Record&) = delete;
  GameRecord& record() { return *g_; }

 private:
  std::unique_ptr<GameRecord> g_;

 public:
  VmContext* ctx;
};

// A copy of a loaded image, to show that a refused file left it alone.
struct Snapshot {
  const uint8_t* image = nullptr;
  std::vector<uint8_t> bytes;
  Snapshot(const uint8_t* p, uint32_t size) : image(p), bytes(p, p + size) {}
  bool Same(const uint8_t* p, uint32_t size) const {
    return p == image && size == bytes.size() && std::memcmp(p, bytes.data(), size) == 0;
  }
};

}  // namespace fuzzgame
