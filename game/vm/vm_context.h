// The VM context: the part of the game record every command handler gets.
// It holds the script machine's own state (below) and, further down, one
// block per game component. Everything here is plain data and valid when
// zero-filled: the engine hands the game record out zero-filled, and a
// zeroed context is a machine with nothing loaded.
#pragma once
#include <cstdint>

#include "kiv.h"
#include "layers/layers.h"
#include "layers/sprite_records.h"
#include "sound/sound_records.h"
#include "motion/actions.h"
#include "motion/motions.h"
#include "text/message_window.h"
#include "save/save_state.h"
#include "effect/screen_effects.h"
#include "system/key_messages.h"
#include "button/buttons.h"
#include "voice/voice.h"
#include "history/history.h"
#include "strings/player_name.h"
#include "choice/choices.h"
#include "wait/waits.h"

// Sizes of the machine's areas.
constexpr int kValueStackSize = 32;
constexpr int kRegisterCount = 255;
constexpr int kUserMemoryWords = 1024;     // bank 1, saved in every save
constexpr int kTempAreaWords = 4095;       // tag-5 area, not saved
constexpr int kFrameSlotCount = 256;       // the local frame
constexpr int kMemoryStackBytes = 16384;   // holds one copy of the temporary area
constexpr int kStringVariableCount = 8;
constexpr int kStringVariableBytes = 255;  // each write is cut to 254 bytes + NUL
constexpr int kScriptPointDepth = 32;
constexpr uint32_t kScriptCodeBase = 12;   // label targets count from here

// Keys of the game list.
constexpr int kGameListDisplayOps = 1;      // display operations, first in first out
constexpr int kGameListReturnPoints = 2;    // gosub and event return points, last in first out
constexpr int kGameListThreadReturns = 3;   // return points of the script thread, popped by ret first

// A return point on the game list (allocated zero-filled, freed when popped).
struct ReturnPoint {
  uint32_t pc;    // byte offset from the start of Script.src
  uint32_t kind;  // 0 gosub / resume at once, 1 button event, 2 key-message event
};
constexpr uint32_t kReturnKindGosub = 0;
constexpr uint32_t kReturnKindButton = 1;
constexpr uint32_t kReturnKindKeyMessage = 2;

// The loaded code and where the machine stands in it.
struct ScriptRecord {
  uint8_t* code;         // the whole of Script.src, header included
  uint32_t codeSize;     // bytes
  uint32_t pc;           // byte offset from the start of the file
  uint32_t codeBase;     // 12
  uint32_t entryPc;      // where a (re)start begins, from the start of the file
  uint32_t commandWord;  // the instruction running; for a call, the command's word
  int32_t yield;         // set by an instruction or handler: the run stops for this frame
  uint32_t points[kScriptPointDepth];  // script points: the run stops when pc reaches the top one
  int32_t pointDepth;
  // Instructions one script_run may take before it stops for the frame;
  // 0: no bound (the game). Tools that run untrusted code set it.
  uint32_t stepLimit;
  // Set when the script met a fault it must not run past (a jump to a
  // missing label): it runs no more.
  int32_t stopped;
};

// The four table images, each the whole file as read (header included).
// Pointers first, then the sizes, in the order File, Text, Mem, Point.
struct DataFiles {
  uint8_t* file;
  uint8_t* text;
  uint8_t* mem;
  uint8_t* point;
  uint32_t fileSize;
  uint32_t textSize;
  uint32_t memSize;
  uint32_t pointSize;
};

// graphic.dat: the bucket table copied out of the file, and the records.
constexpr int kGraphicBuckets = 255;
constexpr int kGraphicRecordBytes = 132;
struct GraphicBucket {
  uint16_t count;   // records whose name starts with this byte
  uint32_t offset;  // of the first of them, from the start of the record area
};
struct GraphicTable {
  uint8_t* image;           // the whole file plus one zero byte
  uint32_t size;            // bytes of the file
  const uint8_t* records;   // image + 2056
  uint32_t recordBytes;     // bytes from records to the end of the file
  GraphicBucket buckets[kGraphicBuckets];
  int32_t loaded;
};

// Blocks button input for a short time after a jump into a routine.
struct PauseTimer {
  uint32_t start;     // frame time it was set
  uint32_t duration;  // ms; 0 = not running
};

// Addresses handed to the debug windows, one slot per registered area.
constexpr int kDebugDataSlots = 7;
struct DebugDataSlots {
  void* area[kDebugDataSlots];
};

struct VmContext {
  KivRenderList* renderList;  // the game's render list
  KivList* gameList;          // key 1 display operations, 2 return points, 3 script-thread returns
  uint32_t keyPushLatch;      // keys pushed since the script last looked
  uint8_t skipMode;           // the skip mode byte (set_skip_mode)
  int32_t autoMode;           // set_auto_mode
  int32_t priorityBase;       // layer priority base, moved by set_priority
  uint32_t keyCancelKeys;     // key bits given to key_canncel
  uint32_t keyCancelMouse;    // mouse bits given to key_canncel
  PauseTimer pauseTimer;

  // ---- Script and tables ----
  DataFiles data;
  GraphicTable graphic;
  ScriptRecord script;

  // ---- Machine state ----
  int32_t immediate;  // receives the value of an immediate operand
  int32_t refused;    // stands in for a cell an operand named out of range
  int32_t valueStack[kValueStackSize];
  int32_t valueStackDepth;  // 0..32
  int32_t registers[kRegisterCount];
  int32_t userMemory[kUserMemoryWords];
  int32_t tempArea[kTempAreaWords];
  int32_t* systemVariables;  // bank 2: GameRecord::systemVariables (vm_context_attach)
  int32_t baseRegister;      // tag 9; added to tag-5 offsets
  int32_t framePointer;      // frame slots in use
  int32_t frameSlots[kFrameSlotCount];
  int32_t resultIndex;       // register that receives the running command's result
  int32_t memoryStackDepth;  // 0 or 1
  int32_t memoryStackStore[kMemoryStackBytes / 4];
  char stringVariables[kStringVariableCount][kStringVariableBytes];
  DebugDataSlots debugData;

  // ==== Component state blocks ====
  // Each game component adds its own block below, one struct per component,
  // named after it and documented in its header (message window, save
  // buffers, button groups, history, wait timers, sound, choices, layers,
  // screen effects, actions, script thread, key messages, player name ...).
  // Keep every block plain data that is valid zero-filled.
  SpriteRecordTable sprites;  // sprite records and their live list (sprite_records.h)
  LayerState layers;          // graphic layers, face slots (layers.h)
  SoundState sound;           // bgm and se channels, se wait and pending pan (sound/sound_records.h)
  ActionState actions;        // action slots (motion/actions.h)
  MotionTable motions;        // motion records and their live list (motion/motions.h)
  MessageWindow text;         // the message window (text/message_window.h)
  SaveState save;             // snapshot, thumbnail and save-menu settings (save/save_state.h)
  EffectState effects;        // screen effects (effect/screen_effects.h)
  FxState fx;                 // layer raster slots (effect/screen_effects.h)
  KeyMessageState keyMessages;  // group 23's message block (system/key_messages.h)
  ButtonState buttons;        // button groups and system buttons (button/buttons.h)
  VoiceState voice;           // voice channels, sub voice, auto-pan table (voice/voice.h)
  HistoryState history;       // the backlog: entries and its page (history/history.h)
  PlayerNameState playerName; // the player name and its entry screen (strings/player_name.h)
  ChoiceState choice;         // the choice block (choice/choices.h)
  WaitTimers waits;           // wait timers (wait/waits.h)
  ScriptThread thread;        // the script-thread record (wait/waits.h)
};
