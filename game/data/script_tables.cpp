// Loading Script.src and the four tables, and reading strings, file names
// and labels out of them. Each file is read whole, then checked field by
// field through the bounded reader before anything else trusts it.
#include "data/script_tables.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "vm/checked_index.h"
#include "component_entries.h"
#include "start/game_debug_log.h"
#include "start/game_record.h"
#include "kiv.h"
#include "platform/core/byte_io.h"
#include "platform/core/file.h"
#include "platform/core/text_encoding.h"
#include "vm/vm.h"

namespace {

uint8_t*& TableImage(VmContext* ctx, DataTable which) {
  switch (which) {
    case DataTable::kFile: return ctx->data.file;
    case DataTable::kText: return ctx->data.text;
    case DataTable::kMem: return ctx->data.mem;
    case DataTable::kPoint: break;
  }
  return ctx->data.point;
}

uint32_t& TableSize(VmContext* ctx, DataTable which) {
  switch (which) {
    case DataTable::kFile: return ctx->data.fileSize;
    case DataTable::kText: return ctx->data.textSize;
    case DataTable::kMem: return ctx->data.memSize;
    case DataTable::kPoint: break;
  }
  return ctx->data.pointSize;
}

const char* TableFileName(DataTable which) {
  switch (which) {
    case DataTable::kFile: return "File.dat";
    case DataTable::kText: return "Text.dat";
    case DataTable::kMem: return "Mem.dat";
    case DataTable::kPoint: break;
  }
  return "Point.dat";
}

uint8_t* CopyToBuffer(std::span<const uint8_t> bytes, uint32_t extra) {
  if (bytes.size() > kMaxDataFileBytes) return nullptr;
  auto* p = static_cast<uint8_t*>(KivMemoryAlloc(static_cast<int>(bytes.size() + extra), 1));
  if (p && !bytes.empty()) std::memcpy(p, bytes.data(), bytes.size());
  return p;
}

// Checks a table image whose header has been read; logs the reason when it
// cannot be used.
bool TableImageValid(DataTable which, std::span<const uint8_t> image) {
  const char* name = TableFileName(which);
  if (image.size() < kTableHeaderBytes) {
    game_debug_log(kDebugWindowError, "%s: %zu bytes, shorter than its 16-byte header", name, image.size());
    return false;
  }
  plat::ByteReader r(image);
  r.Seek(12);
  const uint32_t count = r.U32();
  const uint64_t body = image.size() - kTableHeaderBytes;
  switch (which) {
    case DataTable::kFile:
      if (count > kMaxFileRecords) {
        game_debug_log(kDebugWindowError, "File.dat: %u records, more than %u", count, kMaxFileRecords);
        return false;
      }
      // The records fill the body exactly: a cut or padded file is not the
      // one the script was built with.
      if (uint64_t{count} * kFileRecordBytes != body) {
        game_debug_log(kDebugWindowError, "File.dat: %u records need %llu bytes, the file has %zu", count,
                       static_cast<unsigned long long>(kTableHeaderBytes + uint64_t{count} * kFileRecordBytes),
                       image.size());
        return false;
      }
      return true;
    case DataTable::kText:
      if (count > kMaxTextWords) {
        game_debug_log(kDebugWindowError, "Text.dat: %u text words, more than %u", count, kMaxTextWords);
        return false;
      }
      return true;
    case DataTable::kMem:
    case DataTable::kPoint:
      if (body % 4 != 0) {
        game_debug_log(kDebugWindowError, "%s: its body of %llu bytes is not whole 32-bit words", name,
                       static_cast<unsigned long long>(body));
        return false;
      }
      // Labels count from the end of the file: a cut or padded Point.dat
      // would send every jump to another label's code (and a Mem.dat that
      // lost words shifts every table).
      // Mem.dat may leave its count 0 (no count given); Point.dat must say.
      if (uint64_t{count} * 4 != body && (which == DataTable::kPoint || count != 0)) {
        game_debug_log(kDebugWindowError, "%s: its header names %u %s, its body holds %llu", name, count,
                       which == DataTable::kPoint ? "labels" : "elements", static_cast<unsigned long long>(body / 4));
        return false;
      }
      return true;
  }
  return false;
}

// An unscrambled Text.dat is whole: entries of a text-word number below the
// header's count and a NUL-terminated text, one after another to the end.
bool TextEntriesWhole(const uint8_t* image, uint32_t size) {
  uint32_t count;
  std::memcpy(&count, image + 12, 4);
  uint32_t at = kTableHeaderBytes;
  while (at < size) {
    uint32_t word;
    if (size - at < 5) {
      game_debug_log(kDebugWindowError, "Text.dat: the entry at %u is cut off by the end of the file", at);
      return false;
    }
    std::memcpy(&word, image + at, 4);
    if (word >= count) {
      game_debug_log(kDebugWindowError, "Text.dat: the entry at %u has text word %u, the header names %u", at, word,
                     count);
      return false;
    }
    const void* nul = std::memchr(image + at + 4, 0, size - at - 4);
    if (!nul) {
      game_debug_log(kDebugWindowError, "Text.dat: the text at %u has no end before the end of the file", at + 4);
      return false;
    }
    at = static_cast<uint32_t>(static_cast<const uint8_t*>(nul) - image) + 1;
  }
  return true;
}

// Every label of an unscrambled Point.dat names a code word of the loaded
// script (or its end).
bool LabelsInsideCode(const VmContext* ctx, const uint8_t* image, uint32_t size) {
  const ScriptRecord& s = ctx->script;
  if (!s.code) return true;  // no script to check them against yet
  for (uint32_t at = kTableHeaderBytes; at + 4 <= size; at += 4) {
    uint32_t offset;
    std::memcpy(&offset, image + at, 4);
    const uint64_t target = uint64_t{s.codeBase} + offset;
    if (offset % 4 != 0 || target > s.codeSize) {
      game_debug_log(kDebugWindowError, "Point.dat: label %u points at %llu, outside the code (%u bytes)",
                     (size - at) / 4, static_cast<unsigned long long>(target), s.codeSize);
      return false;
    }
  }
  return true;
}

// Takes ownership of a table image read whole: checks it, unscrambles a
// marked body and puts it in the context in place of the old one.
bool AcceptTable(VmContext* ctx, DataTable which, uint8_t* image, uint32_t size) {
  if (!TableImageValid(which, std::span<const uint8_t>(image, size))) {
    KivMemoryFree(image);
    return false;
  }
  if (image[0] == kScrambledMark) data_unscramble(image + kTableHeaderBytes, size - kTableHeaderBytes);
  if ((which == DataTable::kPoint && !LabelsInsideCode(ctx, image, size)) ||
      (which == DataTable::kText && !TextEntriesWhole(image, size))) {
    KivMemoryFree(image);
    return false;
  }
  table_free(ctx, which);
  TableImage(ctx, which) = image;
  TableSize(ctx, which) = size;
  return true;
}

bool TableLoad(VmContext* ctx, DataTable which) {
  uint32_t size = 0;
  uint8_t* image = data_file_read(TableFileName(which), 0, &size);
  return image && AcceptTable(ctx, which, image, size);
}

uint32_t HeaderCount(const uint8_t* image, uint32_t size) {
  if (!image || size < kTableHeaderBytes) return 0;
  plat::ByteReader r(std::span<const uint8_t>(image, size));
  r.Seek(12);
  return r.U32();
}

// The string variable an operand with bit 28 names, or null (logged).
const char* StringVariable(const VmContext* ctx, uint32_t operand) {
  const uint32_t n = operand & ~kStringVariableBit;
  if (!index_in(n, kStringVariableCount, "string variable")) return nullptr;
  return ctx->stringVariables[n];
}

}  // namespace

uint8_t* data_file_read(const char* name, uint32_t extra, uint32_t* size) {
  *size = 0;
  KivFileInfo info{};
  intptr_t f = KivFileCreate(name, &info);
  if (f == KIV_INVALID_FILE) {
    game_debug_log(kDebugWindowError, "%s: cannot be opened", name);
    return nullptr;
  }
  if (info.size > kMaxDataFileBytes - extra) {
    game_debug_log(kDebugWindowError, "%s: %u bytes, too large", name, info.size);
    plat::FileClose(f);
    return nullptr;
  }
  auto* buf = static_cast<uint8_t*>(KivMemoryAlloc(static_cast<int>(info.size + extra), 1));
  if (!buf) {
    game_debug_log(kDebugWindowError, "%s: no memory for %u bytes", name, info.size);
    plat::FileClose(f);
    return nullptr;
  }
  size_t done = 0;
  while (done < info.size) {
    size_t got = 0;
    if (!plat::FileRead(f, buf + done, info.size - done, &got) || got == 0) break;
    done += got;
  }
  plat::FileClose(f);
  if (done != info.size) {
    game_debug_log(kDebugWindowError, "%s: read %zu of %u bytes", name, done, info.size);
    KivMemoryFree(buf);
    return nullptr;
  }
  *size = info.size;
  return buf;
}

// ---- Script.src ----

bool script_load_image(VmContext* ctx, std::span<const uint8_t> bytes) {
  // A refused file leaves the loaded script as it was.
  plat::ByteReader r(bytes);
  const uint32_t magic = r.U32();
  r.U32();  // build stamp: read by the system data
  const uint32_t entry = r.U32();
  if (!r.ok()) {
    game_debug_log(kDebugWindowError, "Script.src: %zu bytes, shorter than its 12-byte header", bytes.size());
    return false;
  }
  if (magic != kScriptMagic) {
    game_debug_log(kDebugWindowError, "Script.src: magic 0x%08X, not \"Sv20\"", magic);
    return false;
  }
  if (bytes.size() > kMaxDataFileBytes) {
    game_debug_log(kDebugWindowError, "Script.src: %zu bytes, too large", bytes.size());
    return false;
  }
  const auto size = static_cast<uint32_t>(bytes.size());
  if ((size - kScriptCodeBase) % 4 != 0) {
    game_debug_log(kDebugWindowError, "Script.src: its code of %u bytes is not whole words", size - kScriptCodeBase);
    return false;
  }
  if (entry < kScriptCodeBase || entry > size || (entry - kScriptCodeBase) % 4 != 0) {
    game_debug_log(kDebugWindowError, "Script.src: entry pc %u is not a code word (code 12..%u)", entry, size);
    return false;
  }
  uint8_t* code = CopyToBuffer(bytes, 0);
  if (!code) {
    game_debug_log(kDebugWindowError, "Script.src: no memory for %u bytes", size);
    return false;
  }
  script_free(ctx);
  ScriptRecord& s = ctx->script;
  s.code = code;
  s.codeSize = size;
  s.codeBase = kScriptCodeBase;
  s.entryPc = entry;
  s.pc = entry;
  s.stopped = 0;
  vm_commands_install();
  return true;
}

bool script_load(VmContext* ctx) {
  // In the game the context lies in the game record: give it its system
  // variables now, in case the caller has not.
  if (!ctx->systemVariables) {
    GameRecord* record = game_record();
    if (record && &record->ctx == ctx) vm_context_attach(record);
  }
  uint32_t size = 0;
  uint8_t* image = data_file_read("Script.src", 0, &size);
  if (!image) return false;
  bool ok = script_load_image(ctx, std::span<const uint8_t>(image, size));
  KivMemoryFree(image);
  return ok;
}

void script_free(VmContext* ctx) {
  ScriptRecord& s = ctx->script;
  KivMemoryFree(s.code);
  s.code = nullptr;
  s.codeSize = 0;
  s.pc = 0;
  s.entryPc = 0;
}

// ---- Tables ----

bool file_dat_load(VmContext* ctx) { return TableLoad(ctx, DataTable::kFile); }
bool text_dat_load(VmContext* ctx) { return TableLoad(ctx, DataTable::kText); }
bool mem_dat_load(VmContext* ctx) { return TableLoad(ctx, DataTable::kMem); }
bool point_dat_load(VmContext* ctx) { return TableLoad(ctx, DataTable::kPoint); }

bool table_load_image(VmContext* ctx, DataTable which, std::span<const uint8_t> bytes) {
  if (!TableImageValid(which, bytes)) return false;
  uint8_t* image = CopyToBuffer(bytes, 0);
  if (!image) {
    game_debug_log(kDebugWindowError, "%s: no memory for %zu bytes", TableFileName(which), bytes.size());
    return false;
  }
  return AcceptTable(ctx, which, image, static_cast<uint32_t>(bytes.size()));
}

void table_free(VmContext* ctx, DataTable which) {
  KivMemoryFree(TableImage(ctx, which));
  TableImage(ctx, which) = nullptr;
  TableSize(ctx, which) = 0;
}

void data_tables_free(VmContext* ctx) {
  table_free(ctx, DataTable::kPoint);
  table_free(ctx, DataTable::kMem);
  table_free(ctx, DataTable::kFile);
  table_free(ctx, DataTable::kText);
}

bool script_data_load(VmContext* ctx) {
  struct Step {
    bool (*load)(VmContext*);
    const char* error;
  };
  static constexpr Step kSteps[] = {
      {script_load, "script load error"},     {file_dat_load, "filelist load error"},
      {text_dat_load, "textlist load error"}, {mem_dat_load, "tablelist load error"},
      {point_dat_load, "pointlist load error"},
  };
  for (const Step& step : kSteps) {
    if (!step.load(ctx)) {
      game_debug_puts(kDebugWindowError, step.error);
      return false;
    }
  }
  return true;
}

bool script_data_check(std::string* why) {
  // The loaders' own checks, on a context of its own, with their lines
  // kept to tell the player which file is at fault.
  struct Lines {
    std::string text;
  } lines;
  void* previous_user = nullptr;
  const GameDebugSink previous = game_debug_log_get_sink(&previous_user);
  game_debug_log_set_sink(
      [](int window, std::string_view line, void* user) {
        auto* l = static_cast<Lines*>(user);
        if (window != kDebugWindowError) return;
        if (!l->text.empty()) l->text += '\n';
        l->text.append(line);
      },
      &lines);
  std::unique_ptr<GameRecord> scratch(new GameRecord{});
  VmContext* ctx = &scratch->ctx;
  const bool ok = script_data_load(ctx);
  script_free(ctx);
  data_tables_free(ctx);
  game_debug_log_set_sink(previous, previous_user);
  if (why) *why = lines.text;
  return ok;
}

uint32_t file_record_count(const VmContext* ctx) { return HeaderCount(ctx->data.file, ctx->data.fileSize); }
uint32_t text_word_count(const VmContext* ctx) { return HeaderCount(ctx->data.text, ctx->data.textSize); }

// ---- Operands ----

void get_string_operand(const VmContext* ctx, uint32_t operand, std::span<uint8_t> out) {
  std::fill(out.begin(), out.end(), uint8_t{0});
  if (out.size() <= 4 || operand == kNoOperand) return;
  if (operand & kStringVariableBit) {
    // Word number 0, then the variable's text with its NUL.
    const char* text = StringVariable(ctx, operand);
    if (!text) return;
    const size_t n = std::min(strnlen(text, kStringVariableBytes), out.size() - 5);
    std::memcpy(out.data() + 4, text, n);
    return;
  }
  const uint32_t size = ctx->data.textSize;
  if (!ctx->data.text || operand >= size) return;
  const size_t n = std::min<size_t>(out.size(), size - operand);
  std::memcpy(out.data(), ctx->data.text + operand, n);
  // Bytes beyond the copy are zero; a text cut by the maximum length still
  // ends inside the buffer.
  if (n == out.size() && !std::memchr(out.data() + 4, 0, n - 4)) out[n - 1] = 0;
}

bool get_record_operand(VmContext* ctx, uint32_t operand, uint8_t (&out)[kFileRecordBytes], bool mark) {
  std::memset(out, 0, sizeof out);
  if (operand & kStringVariableBit) {
    const char* text = StringVariable(ctx, operand);
    if (!text) return false;
    const size_t n = strnlen(text, sizeof out - 1);
    std::memcpy(out, text, n);
    for (size_t i = 0; i < n; ++i)
      if (out[i] >= 'a' && out[i] <= 'z') out[i] = static_cast<uint8_t>(out[i] - 'a' + 'A');
    return true;
  }
  const uint32_t count = file_record_count(ctx);
  if (!ctx->data.file || !index_in(operand, count, "File.dat record")) return false;
  if (mark) set_image_seen(ctx, operand);
  std::memcpy(out, ctx->data.file + kTableHeaderBytes + uint64_t{operand} * kFileRecordBytes, sizeof out);
  return true;
}

bool get_record_name(VmContext* ctx, uint32_t operand, char (&out)[kFileRecordBytes + 1], bool mark) {
  uint8_t raw[kFileRecordBytes];
  const bool ok = get_record_operand(ctx, operand, raw, mark);
  std::memcpy(out, raw, sizeof raw);
  out[kFileRecordBytes] = 0;
  return ok;
}

int32_t image_no_to_index(uint32_t image_no) {
  const uint32_t index = image_no & 0xFFFF;
  const uint32_t page = (image_no >> 20) & 0xF;
  // Each kind has its own range of records; a number past it would name
  // another kind's record or one past the table.
  switch ((image_no >> 24) & 0xF) {
    case 0:
      if (index < 128) return static_cast<int32_t>(index + 16);
      break;
    case 1:
      if (index < 16) return static_cast<int32_t>(index);
      break;
    case 2:
      if (index < 128 && page < 8) return static_cast<int32_t>(page * 128 + index + 144);
      break;
    default: break;
  }
  game_debug_log(kDebugWindowError, "fail original image no : 0x%08X", image_no);
  return -1;
}

// ---- Debug windows ----

void debug_data_register(VmContext* ctx) {
  struct Area {
    int key;
    const char* caption;
    void* address;
    int count;
  };
  const Area areas[kDebugDataSlots] = {
      {11, "ユーザーメモリ", ctx->userMemory, kUserMemoryWords},
      {13, "テンポラリメモリ", ctx->tempArea, 128},
      {12, "システムメモリ", ctx->systemVariables, 512},
      {17, "EBP", &ctx->baseRegister, 1},
      {18, "ESP", &ctx->framePointer, 1},
      {14, "ＳＥチャンネル", se_debug_area(ctx), 240},
      {15, "ＢＧＭチャンネル", bgm_debug_area(ctx), 30},
  };
  for (int i = 0; i < kDebugDataSlots; ++i) {
    ctx->debugData.area[i] = areas[i].address;
    // The window shows the area's values themselves (not the slot that
    // holds its address).
    if (areas[i].address) KivDebugSetData(areas[i].key, static_cast<int*>(areas[i].address), areas[i].count);
  }
}
