// system.dat: the game's persistent settings, system variables and the
// text-read and image-seen flags, in the save folder.
#pragma once
#include <cstdint>
#include <vector>

#include "start/game_record.h"

constexpr uint16_t kSystemDatVersion = 11;
constexpr uint32_t kTextReadFlagsCreated = 25001;   // 200,000 words
constexpr uint32_t kImageSeenFlagsCreated = 16385;  // 65,536 records

int system_dat_load(GameRecord* g);
int system_dat_create(GameRecord* g);
int system_dat_save(GameRecord* g);

// The bytes system_dat_save writes, and the reverse (false for a file that
// is short or lies about its sizes; then nothing in g is changed).
std::vector<uint8_t> system_dat_bytes(const GameRecord& g);
bool system_dat_parse(const std::vector<uint8_t>& bytes, GameRecord* g);

enum class StampCheck { kCurrent, kStale, kNoScript, kDamaged };
// Whether system.dat belongs to the installed Script.src: current when
// there is no system.dat or the stamps agree; stale only for a file that
// reads whole and holds another build's stamp; damaged when it cannot be
// read or does not parse.
StampCheck system_dat_is_current();

// True when the bytes are a whole system.dat (system_dat_parse takes them).
bool system_dat_readable(const std::vector<uint8_t>& bytes);
// Moves a damaged system.dat aside ("system.dat.damaged", never replacing a
// file) so a fresh one is made, and tells the player in a box where it was
// kept. False (also told) when it could not be moved: then nothing may
// write a new one over it.
bool system_dat_set_aside_and_tell();

// Flag access, bounded by the blocks' own sizes.
void set_image_seen(GameRecord* g, uint32_t record);
// The same for the record holding this context.
void set_image_seen(VmContext* ctx, uint32_t record);
bool image_seen(const GameRecord* g, uint32_t record);
// The record's two bits (seen, newly seen); 0 for a record outside the flags.
int image_seen_bits(const GameRecord* g, uint32_t record);
// Clears the record's newly-seen bit.
void image_seen_clear_new(GameRecord* g, uint32_t record);
// Sets every flag of every record.
void image_seen_fill_all(GameRecord* g);
void text_read_set(GameRecord* g, uint32_t word);
bool text_read_get(const GameRecord* g, uint32_t word);
// Frees the two flag blocks.
void system_dat_release(GameRecord* g);
