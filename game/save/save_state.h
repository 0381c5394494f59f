// The save system's state in the VM context, and the save-file layout it
// owns: the header, the machine's fields and the ordered table of component
// blocks (save_blocks.h). Plain data, valid when zero-filled.
#pragma once
#include <cstdint>

// The snapshot buffer: a snapshot must fit in it whole.
constexpr uint32_t kSaveSnapshotBytes = 0x100000;
constexpr uint32_t kSaveTextBytes = 512;
// Offsets of the header fields of a save file.
constexpr uint32_t kSaveOffTitle = 0;
constexpr uint32_t kSaveOffText = 4;
constexpr uint32_t kSaveOffMosaic = 516;
constexpr uint32_t kSaveOffResumePc = 520;
constexpr uint32_t kSaveOffLoadAfter = 524;
constexpr uint32_t kSaveOffThumbWidth = 528;
constexpr uint32_t kSaveOffThumbHeight = 532;
constexpr uint32_t kSaveOffThumbSize = 536;
constexpr uint32_t kSaveOffThumbPresent = 540;
constexpr uint32_t kSaveOffThumbPixels = 544;
constexpr uint32_t kSaveHeaderBytes = 544;
// Largest thumbnail a save may hold: the screen.
constexpr int32_t kSaveThumbMaxWidth = 1280;
constexpr int32_t kSaveThumbMaxHeight = 720;
constexpr int kSaveSlotCount = 1000;

struct SaveState {
  int32_t mosaic;          // thumbnails are made as mosaics (block 6)
  int32_t thumbWidth;      // 80 x 60 after save_init
  int32_t thumbHeight;
  int32_t thumbPresent;    // 1 while a thumbnail buffer exists
  uint32_t* thumbPixels;   // thumbWidth x thumbHeight packed ARGB words
  uint32_t thumbBytes;
  int32_t textRectWidth;   // area in which get_save_text lays out the save text
  int32_t textRectHeight;
  uint32_t resumePc;       // pc stored by the last snapshot
  uint32_t titleOperand;   // raw operand word given by save_set_title
  uint16_t fontSize;
  uint16_t fontType;
  uint16_t fontEffect;
  uint32_t fontColor;
  uint32_t fontEdgeColor;
  int32_t loadAfter;       // code offset run after a load; -1 none
  int32_t snapshotPresent;
  uint8_t* snapshot;       // kSaveSnapshotBytes, the last good snapshot
  uint32_t used;           // its size
  uint8_t* work;           // kSaveSnapshotBytes, where the next one is built
  char saveText[kSaveTextBytes];
};
