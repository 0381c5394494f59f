// String, player-name and debug commands: the script's string variables and
// their commands (group 18), the debug and message commands (group 15), the
// image-seen flags, the player-name entry, and the small text routines the
// message window, the layer loader, archive.dat and start-up share.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

struct VmContext;
struct GameRecord;

// Whether the named file can be opened (a pack member or a loose file);
// the script's file_exist and the voice check both ask this.
bool game_file_exists(const char* name);

// ---- Text routines ----

// The first occurrence of the byte in the text; null when absent.
const char* str_find_char(const char* text, int byte);
// Removes every byte of the set from the text (in place, at most 260
// bytes looked at); the new length.
int str_token(char* text, const char* set);
// Hexadecimal value of the leading run of 0-9, a-f, A-F and x/X; *used
// (when given) := the run's length. The value is built from the run's last
// character back to its last x (or its start), saturating at 0xFFFFFFFF.
uint32_t str_format(const char* text, int* used);
// Decimal value with an optional sign; *digits := the digits read. Values
// past the int range saturate at INT32_MIN / INT32_MAX.
int32_t str_to_int(const char* text, int* digits);
// Field k (from 0) of the text, fields separated by the byte, into dst (at
// most dst_size - 1 bytes and a zero); 0 when the text has fewer fields.
int str_token_next(const char* text, int k, int separator, char* dst, size_t dst_size);

// The monitor search of the display enumeration: with mode kMonitorFindHandle
// it counts monitors until the handle matches and keeps that monitor's
// rectangle; otherwise it counts index down and keeps the handle and
// rectangle of the monitor at which it passes below 0. False ends the walk.
constexpr uint32_t kMonitorFindHandle = 0x11000000;
struct MonitorSearch {
  intptr_t monitor;
  int32_t index;
  int32_t rect[4];  // left, top, right, bottom
  uint32_t mode;
};
bool monitor_enum_proc(intptr_t monitor, const int32_t rect[4], MonitorSearch* search);

// ---- Format expansion ----

constexpr size_t kWsprintMax = 259;     // bytes a wsprint result may hold
constexpr size_t kDebugOutputMax = 2047;  // bytes of a debug_output line (2048 with its zero)

// wsprint's expansion of a Shift-JIS format with up to 8 values; escapes
// past the values given read 0. Only "%%", "%f", "%t" and the integer
// conversions "%[-#0][width][.precision](d|D|x|X)" (width and precision up to
// 259) are escapes; anything else is copied as it stands and uses no value.
// The result is cut on a whole character at kWsprintMax bytes.
std::string wsprint_expand(VmContext* ctx, const char* format, std::span<const int32_t> values);
// debug_output's expansion: "%d" "%x" (as %08X) "%t" "%f" "%%"; another
// escape prints nothing and uses no value. Cut on a whole character at
// kDebugOutputMax bytes.
std::string debug_output_expand(VmContext* ctx, const char* format, std::span<const int32_t> values);

// Copies at most max bytes of src, never ending on half a two-byte character.
size_t sjis_whole_prefix(const char* src, size_t len, size_t max);

// The game record that holds a context.
GameRecord* game_record_of(VmContext* ctx);

// ---- Player name ----

constexpr int kPlayerNameBytes = 32;  // what a save keeps, and the longest default
// Sets the name at once (set_playername with n < 0): at most 32 bytes on a
// whole character; "<", "&" and "%" are dropped.
void player_name_set_direct(VmContext* ctx, const char* name);

// The group 15 and 18 handlers.
void string_debug_commands_install();
