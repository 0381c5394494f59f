// Save and load: the snapshot of the whole game taken at the moments the
// script chooses, the slot files it is written to, and the load that checks
// a file whole before anything of the running game changes.
//
// File layout (little-endian, field by field): the 544-byte header (title
// operand, save text, mosaic flag, resume pc, load-after target, thumbnail
// width, height, size S and present flag), S thumbnail bytes, the machine's
// fields, the return points, then each component block in the order of
// save_blocks(), then the three bytes "end".
#pragma once
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <span>
#include <string>
#include <vector>

#include "save/save_state.h"

struct VmContext;

// A component's block: the writer appends it at buffer[*used] (nothing
// written and false, with "save buffer over", when it does not fit); the
// reader reads it at data[*cursor] and moves the cursor past it. A reader
// that refuses its block leaves the cursor where it was; one that read the
// block but could not bring something back (a missing file) moves the
// cursor and may return false. The checker reads and checks the block as
// its reader would and moves the cursor past it, changing nothing at all:
// a load runs every checker over the whole file before the game changes.
using SaveBlockWriter = bool (*)(VmContext* ctx, std::span<uint8_t> buffer, uint32_t* used);
using SaveBlockReader = bool (*)(VmContext* ctx, std::span<const uint8_t> data, uint32_t* cursor);
using SaveBlockChecker = bool (*)(const VmContext* ctx, std::span<const uint8_t> data, uint32_t* cursor);
struct SaveBlock {
  const char* name;
  SaveBlockWriter write;
  SaveBlockReader read;
  SaveBlockChecker check;
};
// The one ordered table: the machine's own parts, then every component's
// block in file order. Snapshot and load both walk it.
std::span<const SaveBlock> save_blocks();

// Appends n bytes at buffer[*used] when they fit in the buffer and the
// snapshot limit; else logs "save buffer over" and returns false.
bool save_block_append(std::span<uint8_t> buffer, uint32_t* used, const void* bytes, size_t n);

// The whole state (header with the current thumbnail, every block, "end")
// into buffer; false, with *used undefined, when anything does not fit.
bool save_state_write(VmContext* ctx, uint32_t resume_pc, std::span<uint8_t> buffer, uint32_t* used);
// Checks a whole save image (the header, every block through its checker,
// the closing "end") and, only when all of it is sound, resets the game and
// restores everything from it. A refused image changes nothing: not the
// state, not the screen, not the music. Returns false (logged) on refusal.
bool save_state_load(VmContext* ctx, std::span<const uint8_t> data);

// Takes a snapshot at resume_pc (thumbnail of the current screen first).
// When it does not fit whole, the previous snapshot stays and false comes
// back ("save buffer over" logged).
bool save_snapshot_build(VmContext* ctx, uint32_t resume_pc);
// The same at the current pc.
bool save_snapshot_take(VmContext* ctx);
// The text a save made now shows in the save list: the line on screen, cut to
// 511 bytes on a whole character.
void save_text_set(VmContext* ctx, const char* text);

// Writes the last snapshot to path (Shift-JIS, save-folder form) atomically:
// a temporary file, flushed, renamed over the old one. With no snapshot
// nothing is written and true comes back; on any failure the old file stays
// and false comes back (logged).
bool save_file_write(VmContext* ctx, const char* path);
// Reads path and loads it (save_state_load); false leaves the game as it
// was. The file is read into the save system's own work buffer: a load
// allocates nothing.
bool save_file_read(VmContext* ctx, const char* path);

// "save%03d.dat" (0..999) or "continue.dat" (-1) in the save folder; empty
// for any other number.
std::string save_slot_path(int slot);

// A new thumbnail buffer of width x height (at most the screen); on failure
// no thumbnail exists until a later size succeeds.
bool save_thumbnail_resize(VmContext* ctx, int32_t width, int32_t height);
// The thumbnail of the current screen (a mosaic when asked for).
void save_thumbnail_from_screen(VmContext* ctx);

// Test seam: replaces the atomic file write (null restores it).
using SaveFileWriter = bool (*)(const std::string& path, const void* data, size_t size);
void save_set_file_writer(SaveFileWriter writer);

// The date text of SetSaveDay for the slot's local time: format 1 adds the
// day of the week in brackets, any other the date alone (year in full).
void save_day_text(const std::tm& t, int32_t format, char* out, size_t size);
// Test seam: move_file acts as on a file system that cannot exchange two
// names in one step (false), or as usual (true).
void save_set_atomic_exchange(bool available);
