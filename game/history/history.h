// The backlog: the last 128 lines of dialogue (speaker, text, voice) and the
// scrollable page that shows them as text sprites, newest at the bottom,
// the voiced rows lit under the mouse and replayed on a click. The text
// commands write the entries through the message window; group 14 opens,
// scrolls, drives and closes the page. Game thread only.
#pragma once
#include <cstdint>
#include <span>

#include "kiv.h"

struct VmContext;

constexpr int kHistoryEntries = 128;
constexpr int kHistoryFieldBytes = 255;  // name and text
constexpr int kHistoryVoiceBytes = 32;
constexpr int kHistoryEntryBytes = 542;
constexpr uint32_t kHistorySaveBytes = 4 + kHistoryEntries * kHistoryEntryBytes;
constexpr int32_t kHistoryPriority = 4867;  // above the priority base
constexpr uint32_t kHistoryHighlightColour = 0xFF4E4E4E;
constexpr uint32_t kHistoryReplayFlags = 0x10000000;  // no auto-pan

// One line: a 542-byte record in saves. An entry without a speaker starts
// its name with the bytes 0x00 0x81 (the empty-name code).
struct BacklogEntry {
  char name[kHistoryFieldBytes];
  char text[kHistoryFieldBytes];
  char voice[kHistoryVoiceBytes];
};
static_assert(sizeof(BacklogEntry) == kHistoryEntryBytes);

struct HistoryState {
  KivSprite* nameSprites[kHistoryEntries];
  KivSprite* textSprites[kHistoryEntries];
  KivSprite* iconSprites[kHistoryEntries];
  KivSprite* highlight;
  uint32_t normalColour, hoverColour;
  int32_t nameX, nameY, textX, textY, iconX, iconY;
  int32_t spacing;
  KivRect rect;
  int32_t height;
  int32_t lastPage;
  int32_t position;
  int32_t iconSet;
  char iconImage[32];
  int32_t rows;
  int32_t count;
  BacklogEntry entries[kHistoryEntries];
};

// The entry writer: entries 0..126 move to 1..127, entry 0 gets the line
// (name "" = no speaker, voice "" = none), count + 1 up to 128. Texts and
// names are cut to 254 bytes on a whole Shift-JIS character.
void history_entry_add(HistoryState* h, const char* name, const char* text, const char* voice);
bool history_entry_has_name(const BacklogEntry& e);

// The page from entry p upward (rows stack from the rectangle's bottom).
void history_page_build(VmContext* ctx, int32_t p);
// Opens the page (measures every entry, sets the last page, builds page 0).
int history_begin(VmContext* ctx);
// Releases the page's sprites; harmless when it is closed.
void history_end(VmContext* ctx);
// Hover and replay, once a frame while the page is open.
void history_update(VmContext* ctx);

// Cuts src into dst (size bytes with its zero) on a character boundary.
void history_copy_cut(char* dst, size_t size, const char* src);
