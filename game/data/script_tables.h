// The game's data files: Script.src and its tables, graphic.dat, archive.dat,
// system.dat, config.dat and the save folder. Every read is bounded.
//
// Script.src and its four tables (File.dat, Text.dat, Mem.dat, Point.dat):
// loading them through the engine's file layer, the unscrambler, string and
// record operands, the image-number rule and the debug registration.
//
// The byte formats are in script_format.h. Every size, count and offset is
// checked on load: a short or inconsistent file is refused with a line in
// debug window 0.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "data/script_format.h"
#include "vm/vm_context.h"

// Files larger than this are refused (they could not be a script's tables).
constexpr uint32_t kMaxDataFileBytes = 0x7FFF0000u;

// Operand values with a meaning of their own.
constexpr uint32_t kNoOperand = 0x0FFFFFFF;        // no string, no name
constexpr uint32_t kStringVariableBit = 0x10000000;  // a string variable, n in the low bits

enum class DataTable { kFile, kText, kMem, kPoint };

// ---- Loading ----

// Opens "Script.src" and keeps it whole as the code; pc := entry pc. A
// context inside the game task's record is attached to its system
// variables here when nothing attached it before.
bool script_load(VmContext* ctx);
// The same from bytes in memory (copied); for tests and tools.
bool script_load_image(VmContext* ctx, std::span<const uint8_t> bytes);
void script_free(VmContext* ctx);

bool file_dat_load(VmContext* ctx);
bool text_dat_load(VmContext* ctx);
bool mem_dat_load(VmContext* ctx);
bool point_dat_load(VmContext* ctx);
// One table from bytes in memory (copied, unscrambled when marked).
bool table_load_image(VmContext* ctx, DataTable which, std::span<const uint8_t> bytes);
void table_free(VmContext* ctx, DataTable which);
// Frees Point.dat, Mem.dat, File.dat and Text.dat, in that order.
void data_tables_free(VmContext* ctx);

// Script.src, File.dat, Text.dat, Mem.dat and Point.dat in the start-up
// order. On a failure it logs the reason and then "script load error",
// "filelist load error", "textlist load error", "tablelist load error" or
// "pointlist load error" to debug window 0 and returns false; the caller ends
// the game.
bool script_data_load(VmContext* ctx);

// Loads Script.src and its four tables as script_data_load does, into a
// context of its own, and frees them again: whether the game could start
// on them, checked before anything looks at the saves. False with the
// loaders' reasons (one a line) in *why.
bool script_data_check(std::string* why);

// The whole of a data file through the engine's file layer, in a zero-filled
// buffer of size + extra bytes from KivMemoryAlloc; null (logged) when it
// cannot be opened or read whole, or is larger than kMaxDataFileBytes.
uint8_t* data_file_read(const char* name, uint32_t extra, uint32_t* size);

// ---- Counts the loaded tables declare ----

uint32_t file_record_count(const VmContext* ctx);
uint32_t text_word_count(const VmContext* ctx);

// ---- Operands ----

// Fills out (its size is the maximum length) with the entry the operand
// names, in Text.dat form: u32 text-word number, then the text. A string
// variable gives word 0 and its text; kNoOperand, an offset outside Text.dat
// or a bad variable gives zeros. The text always ends inside out.
void get_string_operand(const VmContext* ctx, uint32_t operand, std::span<uint8_t> out);
// The text of a string-operand buffer (from byte 4).
inline const char* string_operand_text(std::span<const uint8_t> entry) {
  return entry.size() > 4 ? reinterpret_cast<const char*>(entry.data() + 4) : "";
}
// A 32-byte file name: File.dat record n (marked seen when mark is set), or
// string variable n (bit 28) cut to 31 bytes and upper-cased in a-z. False,
// with out zeroed, when the record or variable does not exist.
bool get_record_operand(VmContext* ctx, uint32_t operand, uint8_t (&out)[kFileRecordBytes], bool mark);
// The same name as a C string: the 32 bytes, then a 0 in out[32] (a record
// may fill all 32 bytes). False, with out zeroed, as above.
bool get_record_name(VmContext* ctx, uint32_t operand, char (&out)[kFileRecordBytes + 1], bool mark);

// Image number (kind bits 24-27, page 20-23, index 0-15) -> sprite slot:
// kind 0 index + 16 (index < 128), kind 1 index (< 16), kind 2 page * 128 +
// index + 144 (page < 8, index < 128); any other kind or an index past its
// kind's range -1, after "fail original image no : 0x%08X" in debug window 0.
int32_t image_no_to_index(uint32_t image_no);

// Hands the script's memory areas to the debug windows (keys 11, 13, 12, 17,
// 18, 14, 15): each window shows and edits the area's values.
void debug_data_register(VmContext* ctx);
