/* The KIV engine's exported interface.
 *
 * Plain C calls over plain records. Functions return 1 for success and 0 for
 * failure (creators a pointer or NULL) and set the calling thread's last
 * error. Records keep their documented fields in order; fields that hold a
 * pointer or handle are native-sized, so byte sizes may differ between 32-
 * and 64-bit builds and nothing may depend on them. Text is Shift-JIS. */
#ifndef KIV_H
#define KIV_H

#include <stddef.h>
#include <stdint.h>

#if defined(KIV_BUILDING)
#define KIV_API __attribute__((visibility("default")))
#else
#define KIV_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef void* KivInstance; /* the module whose folder is the base folder; NULL: the program */
typedef void* KivWindow;   /* the main window */

typedef int (*KivStartCallback)(void);
typedef void (*KivEndCallback)(void* data);
typedef void (*KivAttachProc)(intptr_t arg);

/* Mode bits of KivSystemParameters.mode. */
#define KIV_MODE_RUN_INACTIVE 0x1u
#define KIV_MODE_LEGACY_RENDER 0x2u
#define KIV_MODE_SCREENSAVER 0x4u
#define KIV_MODE_GPU 0x8u
#define KIV_MODE_SHADER 0x10u
#define KIV_MODE_FS_FILTER_NONE 0x100u
#define KIV_MODE_FS_FILTER_NEAREST 0x200u
#define KIV_MODE_FS_FILTER_BILINEAR 0x400u
#define KIV_MODE_FS_FILTER_BICUBIC 0x800u
#define KIV_MODE_TEX_FILTER_NONE 0x1000u
#define KIV_MODE_TEX_FILTER_NEAREST 0x2000u
#define KIV_MODE_TEX_FILTER_BILINEAR 0x4000u

/* Bits of KivSystemParameters.flags. */
#define KIV_FLAG_HIDDEN 0x1u
#define KIV_FLAG_NO_MODE_CHANGE 0x4u

typedef struct KivSystemParameters {
  KivInstance instance;
  int fullScreen;
  int debug;
  const char* title;
  const char* className;
  const char* icon;
  const char* menu;
  const char* cmdLine;
  uint32_t style;
  uint32_t frameRate; /* frames per second; 0xFFFFFFFF: no pacing */
  int x;
  int y;
  int clientWidth;
  int clientHeight;
  int screenWidth;
  int screenHeight;
  int surfaceCapacity;
  int reserved;
  int randomTableSize;
  KivStartCallback startCallback;
  KivEndCallback endCallback;
  int adapter;
  uint32_t flags;
  uint32_t mode;
  int pacing; /* 0 off, 1 V-Sync, 2 timer pacing */
  int aspect; /* full-screen fitting, 0-3 */
} KivSystemParameters;

typedef struct KivListNode {
  intptr_t value;
  int key;
  struct KivListNode* next;
} KivListNode;

/* A list head: only next is used. */
typedef KivListNode KivList;

/* ---- System and window ---- */
KIV_API void KivDefaultCreate(KivSystemParameters* out);
KIV_API int KivInit(KivSystemParameters* params);
KIV_API int KivUninit(void);
KIV_API int KivEnd(void);
KIV_API int KivRun(void);
KIV_API void KivGetSystemParameters(KivSystemParameters* out);
KIV_API int KivCheckWindowMode(void);
KIV_API int KivCheckAspectMode(void);
KIV_API void* KivGetCore(void);
KIV_API int Kiv3DIs(void);
KIV_API int KivDebugIs(void);
KIV_API char* KivGetFilePath(void);
KIV_API const char* KivGetCmdLine(void);
KIV_API KivWindow KivGetWindowHandle(void);
KIV_API KivInstance KivGetInstanceHandle(void);
KIV_API int IsMovie(void);
KIV_API int IsSystemEnd(void);
KIV_API int KivWindowGetPosCenter(int out[2], int width, int height);

/* ---- Threads and frame ---- */
KIV_API int KivAttachProcess(KivAttachProc fn, intptr_t arg);
KIV_API int KivAttachWorkProcess(KivAttachProc fn, intptr_t arg);
KIV_API uint32_t KivFrameRateSet(uint32_t fps);
KIV_API uint32_t KivUpdateTime(void);
KIV_API uint32_t KivtimeGetTime(void);

/* ---- Tasks and waits ---- */
typedef struct KivTask KivTask;
typedef int (*KivTaskProc)(void* data);
typedef void (*KivTaskReleaseProc)(void* data);
#define KIV_TASK_BEHIND 1
#define KIV_TASK_CHILD 2
#define KIV_TASK_BLOCKING 0x10000
KIV_API KivTask* KivTaskCreate(KivTaskProc proc, KivTaskReleaseProc releaseProc, int dataSize,
                               void** dataOut, int mode, KivTask* where, const char* name);
KIV_API int KivTaskFree(KivTask* task);
KIV_API int KivTaskGetMessage(KivTask* task);
KIV_API KivTask* KivTaskSetMessage(KivTask* task, int message);
KIV_API void* KivTaskGetTaskData(KivTask* task);
KIV_API void KivTaskSetTaskData(KivTask* task);
KIV_API void KivTaskChangeNext(KivTaskProc proc);
KIV_API int KivTaskChangeNextImm(KivTaskProc proc);
KIV_API int KivTaskGetState(KivTask* task);
KIV_API KivTask* KivTaskChangeState(KivTask* task, int state);
KIV_API void KivTaskReProcess(KivTask* task);
KIV_API void KivTaskReset(void);
KIV_API KivTask* KivWait(int frames);
KIV_API KivTask* KivWaitTime(uint32_t ms);
KIV_API KivTask* KivWaitTimeEx(uint32_t ms, KivTask* where);

/* ---- Render lists ---- */
typedef struct KivRenderList KivRenderList;
typedef int (*KivDrawProc)(void* core, void* object);
KIV_API KivRenderList* KivRenderInit(void);
KIV_API void KivRenderUninit(KivRenderList* list);
KIV_API int KivRenderInsert(KivRenderList* list, void* object, KivDrawProc draw, int priority);
KIV_API KivRenderList* KivRenderSetActive(KivRenderList* list);
KIV_API KivRenderList* KivRenderGetActive(void);
KIV_API int KivRenderLock(void);
KIV_API int KivRenderUnlock(void);
KIV_API int KivRenderLockWait(void);

/* ---- Data files ---- */
/* Where an opened file's data lies in the file the handle reads: a loose file
 * {0, size, size}, an archive member {offset, offset + size, size}. */
typedef struct KivFileInfo {
  uint32_t start;
  uint32_t end;
  uint32_t size;
} KivFileInfo;
/* File handles are descriptors; -1 is the failed open. */
#define KIV_INVALID_FILE ((intptr_t)-1)
KIV_API intptr_t KivFileCreateEx(const char* name, uint32_t access, uint32_t share, uint32_t creation,
                                 uint32_t flags, KivFileInfo* info);
KIV_API intptr_t KivFileCreate(const char* name, KivFileInfo* info);
KIV_API int KivFileSetFilePointer(intptr_t handle, int32_t low, int32_t high, int unused, uint32_t method);
KIV_API int KivSystemPathSet(const char* folder);
KIV_API int KivSystemPathClear(void);
KIV_API int KivPathIsOgg(const char* name);

/* ---- Input ----
 * Key masks: bit i is entry i of the key table (0 Escape, 1 Space, 2 Return,
 * 3 Ctrl, 4 Shift, 5 Alt, 6 Tab, 7-10 up, down, left, right, 11-22 F1-F12,
 * 23-25 left, right, middle mouse button, 26-30 Y N Z X C). Joystick masks:
 * 1 up, 2 down, 4 left, 8 right, bits 4-13 buttons 0-9. All describe the
 * current frame; all are 0 and the mouse -1 while the window is inactive. */
KIV_API int KivInputGetKeyOn(void);   /* down in this frame and the previous one */
KIV_API int KivInputGetKeyPush(void); /* down now, not in the previous frame */
KIV_API int KivInputGetKeyPull(void); /* down in the previous frame, not now */
KIV_API int KivInputGetKeyOnEx(void); /* auto-repeat of the latest push, after 500 ms */
/* The frame's events: 1, 2, 4 left, right, middle double click; 8 screen-mode request; 16 wheel. */
KIV_API int KivInputGetKeyEx(void);
KIV_API void KivInputSetKeyOn(int bits); /* synthetic input, ORed in for this frame */
KIV_API void KivInputSetKeyPush(int bits);
KIV_API void KivInputSetKeyPull(int bits);
/* Clears the keys from every key mask and the events from the event word
 * (16 also zeroes the wheel), now and after every update until the next call. */
KIV_API void KivInputKeyCancel(int keys, int events);
KIV_API void KivInputKeyRepeatClear(void);
KIV_API void KivInputClear(void);
KIV_API int KivInputGetWheel(void); /* +1, -1 or 0 this frame */
KIV_API int KivInputGetMouseX(void); /* logical screen pixels, -1 when there is none */
KIV_API int KivInputGetMouseY(void);
KIV_API int KivInputGetMouseMoveX(void); /* since the previous frame */
KIV_API int KivInputGetMouseMoveY(void);
KIV_API int KivInputGetJoyOn(void);
KIV_API int KivInputGetJoyPush(void);
KIV_API int KivInputGetJoyPull(void);
KIV_API int KivInputGetJoyOnEx(void); /* always 0 */

/* ---- Window modes ---- */
/* The mode, size and aspect requests are carried out later on the window
 * thread; each returns 1 once the request is posted, 0 when it cannot be
 * (the game thread is not running, or the value is not valid). */
KIV_API int KivWindowChangeMode(int fullScreen);
KIV_API int KivChangeWindowSize(int width, int height); /* nothing (1) in full screen */
KIV_API int KivChangeAspectMode(int mode);              /* 0-3 */
KIV_API int KivWindowChangeEnable(int enable);          /* 0: screen-mode requests are ignored */
KIV_API int KivWindowChangeEnableIs(void);
KIV_API int KivGetWindowSize(int* width, int* height); /* 0 only when both are NULL */
KIV_API void KivWindowGetPos(int* x, int* y);
KIV_API int KivWindowSetPos(int x, int y);

/* ---- Effects ---- */
KIV_API int KivEffectEx(unsigned index, unsigned durationMs, int clickSkip, int wait);
KIV_API int KivEffect(int index, unsigned durationMs);
KIV_API int KivEffectIs(void);
KIV_API int KivEffectEnable(int enable);
KIV_API int KivEffectEnableIs(void);
/* Ends a running transition at once, without its last frame, and frees its
 * wait task. */
KIV_API void KivEffectReset(void);

/* ---- Sound volumes (0..10000 per group 0-5) ---- */
KIV_API int KivSoundSetVolume(int volume, unsigned group);
KIV_API int KivSoundGetVolume(int* out, unsigned group);

/* ---- Sound channels ----
 * A sound is named by a KivSoundId: group tag 1-6 in bits 28-31, slot in
 * bits 0-27; 0 is no sound. Load types: 2 music (streamed), 3, 4 (button
 * sounds, 32 channels), 5, and 1 for every other; KivSoundLoadVerEpeg
 * streams a raw PCM sound file (type 0). Volumes 0..10000, pan -10000 (left)
 * .. 10000 (right). A call on 0 or on a free channel returns its failure
 * value and does nothing. */
typedef int KivSoundId;
/* range (type 2 only): {use, start, loop start, end} in bytes of the data. */
KIV_API KivSoundId KivSoundLoad(const char* file, int type, const int range[4]);
KIV_API KivSoundId KivSoundLoadVerEpeg(const char* file);
/* A further channel of the type's group sharing the source's samples; 0 when
 * it cannot be made, and always for type 2 and for streamed sources. */
KIV_API KivSoundId KivSoundCopy(KivSoundId source, int type);
KIV_API int KivSoundPlay(KivSoundId id, int loop);
KIV_API int KivSoundPlayFade(KivSoundId id, int loop, int fadeMs);
KIV_API int KivSoundStop(KivSoundId id);
KIV_API int KivSoundStopFade(KivSoundId id, int fadeMs);
KIV_API int KivSoundPause(KivSoundId id);
KIV_API int KivSoundRelease(KivSoundId id);
KIV_API int KivSoundReleaseEx(int type);
KIV_API int KivSoundPlayIs(KivSoundId id);
/* 0 no fade, 1 fading in, 2 fading out; -1 free channel. */
KIV_API int KivSoundGetState(KivSoundId id);
KIV_API int KivSoundSetVolumeChannel(KivSoundId id, int volume);
KIV_API int KivSoundGetVolumeChannel(KivSoundId id);
KIV_API int KivSoundSetPanChannel(KivSoundId id, int pan);
/* Loop start and end in the channel's position units. */
KIV_API int KivSoundSetStartEnd(KivSoundId id, int loopStart, int end);
/* Free channels of the type's group. */
KIV_API int KivSoundGetChannelCount(int type);

/* ---- Sprites ----
 * A sprite is a pixel surface plus the placement, colour, scale, rotation
 * and blend mode it is drawn with; each lives in one render list from its
 * creator to its release. Handles are opaque. Angles are 512ths of a turn.
 * Render modes: 0 opaque copy, 1 alpha blend modulated by the colour
 * (default), 2 additive, 3 multiplicative. Colours are ARGB; the alpha is
 * the sprite's opacity. Failures set error 6 (invalid handle) unless noted. */
typedef struct KivSprite KivSprite;
typedef struct KivTransition KivTransition;
typedef struct KivRect {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
} KivRect;
/* The 18 values KivSpriteGetInfo and KivSpriteSetInfo exchange, in order. */
typedef struct KivSpriteInfo {
  int32_t visible;
  uint32_t colour;
  float x;
  float y;
  int32_t offsetX;
  int32_t offsetY;
  int32_t width;
  int32_t height;
  int32_t cellWidth;
  int32_t cellHeight;
  int32_t centreX;
  int32_t centreY;
  int32_t priority;
  float scale;
  float rotationX;
  float rotationY;
  float rotationZ;
  int32_t renderMode;
} KivSpriteInfo;
/* Creators insert the sprite into list at priority (higher: drawn earlier,
 * further back). */
KIV_API KivSprite* KivSpriteCreate(KivRenderList* list, int w, int h, int priority);
/* GE, BMP, TGA, or a difference image applied to the base image it names. */
KIV_API KivSprite* KivSpriteLoad(KivRenderList* list, const char* file, int priority);
KIV_API KivSprite* KivSpriteLoadMemory(KivRenderList* list, const char* name, const void* data, int size,
                                       int priority);
/* Text sprites; a leading "<s24>" tag sets the font size. */
KIV_API KivSprite* KivSpriteCreateText(KivRenderList* list, const char* text, int priority, uint32_t colour);
KIV_API int KivSpriteCreateTextEx(KivSprite* s, const char* text, int x, int y, uint32_t colour);
/* src_rect of src scaled to the size of dst_rect. */
KIV_API KivSprite* KivSpriteCopy(KivRenderList* list, KivSprite* src, const KivRect* src_rect,
                                 const KivRect* dst_rect, int priority);
KIV_API int KivSpriteRelease(KivRenderList* list, KivSprite* s);
/* Releases from the last entry down and clears every entry; 1 when an
 * entry was NULL, else 0. */
KIV_API int KivSpriteReleaseArray(KivRenderList* list, KivSprite** sprites, int count);
KIV_API int KivSpriteSetPos(KivSprite* s, float x, float y);
KIV_API int KivSpriteMovePos(KivSprite* s, float dx, float dy);
KIV_API int KivSpriteSetOffsetPos(KivSprite* s, int ox, int oy);
KIV_API int KivSpriteMoveOffsetPos(KivSprite* s, int dx, int dy);
KIV_API int KivSpriteSetScale(KivSprite* s, float scale);
KIV_API int KivSpriteSetRotate(KivSprite* s, int z);
KIV_API int KivSpriteSetRotateEx(KivSprite* s, int x, int y, int z);
KIV_API void KivSpriteSetCenterOffset(KivSprite* s, int cx, int cy);
KIV_API int KivSpriteSetColor(KivSprite* s, uint32_t colour);
KIV_API int KivSpriteSetRenderMode(KivSprite* s, int mode);
KIV_API int KivSpriteViewCtrl(KivSprite* s, int visible);
KIV_API int KivSpriteViewIs(KivSprite* s);
/* NULL r: the whole image. */
KIV_API int KivSpriteSetRect(KivSprite* s, const KivRect* r);
KIV_API int KivSpriteGetRect(KivSprite* s, KivRect* out);
/* Cell sheets: the cell size is taken only when it divides the image size. */
KIV_API int KivSpriteSetOffsetRect(KivSprite* s, unsigned cw, unsigned ch);
KIV_API int KivSpriteRectSetPos(KivSprite* s, unsigned col, unsigned row);
KIV_API int KivSpriteGetInfo(KivSprite* s, KivSpriteInfo* out);
KIV_API int KivSpriteSetInfo(KivSprite* s, const KivSpriteInfo* in);
KIV_API int KivSpritePaint(KivSprite* s, uint32_t value);
/* Position correction for letter-boxed full screen (aspect mode 3). */
KIV_API void KivSpriteConvertAspectPosition(KivSprite* s, int mode);
KIV_API int KivSpriteHit(KivSprite* s, int x, int y, int alpha_test);
/* The front-most sprite of the active render list under the point. */
KIV_API KivSprite* KivSpriteGetForeground(int x, int y, int alpha_test);
/* The surface's 32-bit pixels, rows width apart; the sprite is not drawn
 * until KivSpriteUnlock. */
KIV_API uint32_t* KivSpriteLock(KivSprite* s, int* width, int* height);
KIV_API int KivSpriteUnlock(KivSprite* s);
/* The draw callback of every sprite node (for drawables built on sprites). */
KIV_API int KivSpriteDraw(void* core, void* sprite);
/* Two-sprite cross-fade (code 1; other codes hide both sprites). States:
 * 0 idle, 1 running, 2 finished; 3 for a NULL handle. */
KIV_API KivTransition* KivSpriteCreateTransitionHandle(void);
KIV_API int KivSpriteReleaseTransitionHandle(KivTransition* t);
KIV_API int KivSpriteSetTransition(KivRenderList* list, KivSprite* incoming, KivSprite* outgoing, int code,
                                   uint32_t start_ms, uint32_t duration_ms, KivTransition* t);
KIV_API int KivSpriteCancelTransition(KivTransition* t);
KIV_API int KivSpriteGetTransitionState(KivTransition* t);

/* ---- Sprite options and copies ----
 * Options: 0 gives back the picture from before the first option and drops
 * the kept copy; 1 sepia, 2 grey, 3 soft 3x3 filter, 4 negative, 0x105 to
 * 0x805 blur of strength option / 256 - 1; any other value only keeps the
 * copy. Copies and mixes are clipped on all four sides: source pixel
 * (sx + i, sy + j) lands at (dx + i, dy + j) where both exist; a negative w
 * or h means the whole source; 0 for a w or h of 0. */
KIV_API int KivSpriteSetOption(KivSprite* s, unsigned option);
/* w x h packed words into the top-left of the surface; w and h must fit it. */
KIV_API int KivSpriteSetBuffer(KivSprite* s, const uint32_t* pixels, int w, int h);
/* The last drawn screen into the sprite, clipped to both. */
KIV_API int KivSpriteBackBafferCopy(KivSprite* s);
/* Alpha blend by the source alpha; the destination alpha is kept. */
KIV_API int KivMixSpriteToSprite(KivSprite* dst, int dx, int dy, int w, int h, KivSprite* src, int sx, int sy);
/* Whole pixels, no blending. */
KIV_API int KivCopySpriteToSpriteRGB(KivSprite* dst, int dx, int dy, KivSprite* src, int sx, int sy, int w, int h);
/* src's current cell at src's position. */
KIV_API int KivCopySpriteToSpriteRectRGB(KivSprite* dst, KivSprite* src);
/* A GE, or 24- or 32-bit BMP or TGA file blended in as KivMixSpriteToSprite does. */
KIV_API int KivCopyFileToSpriteRGB(KivSprite* dst, int dx, int dy, const char* file, int sx, int sy, int w, int h);

/* ---- Transitions and Fx ----
 * Screen transitions: KivEffectEx(kind, ms, click skip, wait) captures the
 * last drawn frame and, from the next frame on, dissolves it over the new
 * scene: 0 none, 1 cross-fade, 2 blurring fade, 3 shrinking box, 4 and 7-9
 * one frame, 5 fade to white, 6 mosaic, 10-29 mask wipes by
 * "Mask\Mask00.bmp".."Mask19.bmp". Fx: a timed raster wave on one sprite or
 * (effect | KIV_FX_SCREEN) on everything drawn before its node; commands 0
 * remove, 1 start, 2 fade out over length_ms. States 0 idle, 1 running,
 * 2 ending. */
#define KIV_FX_SCREEN 0x10000000
/* The raster wave's parameter block: period ms, amplitudes in tenths of the
 * picture's width and height. */
typedef struct KivFxRaster {
  uint32_t period;
  float amplitudeX;
  float amplitudeY;
} KivFxRaster;
typedef struct KivFxEffect {
  int32_t ending; /* 1 after command 2: the progress runs backwards */
  uint32_t start;  /* frame time of the start or of command 2 */
  uint32_t length; /* ms */
  int32_t state;
  int32_t effect;
  void* params; /* a copy of the caller's parameter block */
  void* work;   /* what the draw reads: phase 0..1, amplitude x, amplitude y */
} KivFxEffect;
/* One frame's draw of an effect: the draw kind (1 the raster wave) and the
 * work block. */
typedef struct KivFxRequest {
  int32_t kind;
  const float* work;
} KivFxRequest;
/* target: a KivSprite*, or with KIV_FX_SCREEN a pointer to the int draw
 * priority of the screen effect's node. */
KIV_API int KivSetFxEffect(void* target, int effect, int command, unsigned length_ms, const void* params);
/* flags with KIV_FX_SCREEN: the screen effect's state, else the sprite's. */
KIV_API int KivGetFxEffectState(void* target, int flags);
KIV_API int KivReleaseFxEffect(void* target, int flags);
/* This frame's draw of record into out; NULL when it draws nothing. */
KIV_API KivFxRequest* KivFxProgress(KivFxEffect* record, KivFxRequest* out);
KIV_API int KivSpriteSetFxEffect(KivSprite* s, int effect, int command, int length_ms, const void* params);
KIV_API int KivSpriteGetFxEffectState(KivSprite* s);

/* ---- Fonts and text ----
 * Text is Shift-JIS. Settings: colour and shadow colour (RGB), effect (0
 * plain, 1 outline, 2 drop shadow), size in pixels (character height) and
 * type (0 Gothic, 1 bold Mincho, 2 proportional Gothic, 3 proportional
 * Mincho, 4 the loaded glyph file; without one, type 0). In text, " " moves
 * half the height, the full-width space the height, CR, LF and <br> break
 * the line, other tags are skipped and "%n" draws cell n of the ExFont
 * atlas. A context opened by KivFontBegin stays open until KivFontEnd and
 * keeps other threads from drawing meanwhile. */
typedef struct KivSize {
  int32_t cx;
  int32_t cy;
} KivSize;
KIV_API int KivFontBegin(void);
KIV_API int KivFontEnd(void);
/* Width of the longest line + 2, height x lines + 2. */
KIV_API int KivFontGetSize(const char* text, KivSize* out);
/* Into width x height 32-bit pixels (width is the pitch) from (x, y). */
KIV_API int KivFontDrawText(uint32_t* pixels, const char* text, int x, int y, int width, int height);
KIV_API int KivFontGetColor(int* colour, int* shadow);
KIV_API int KivFontSetColor(int colour, int shadow);
KIV_API int KivFontGetEffect(void);
KIV_API int KivFontSetEffect(int effect);
KIV_API int KivFontGetFontSize(void);
KIV_API int KivFontSetFontSize(int size);
KIV_API int KivFontGetType(void);
/* 0 for a type outside 0-4, which is refused. */
KIV_API int KivFontSetType(int type);
/* A glyph file through the search paths; 0 when missing or malformed. */
KIV_API int KivFontLoad(const char* file);
KIV_API int KivFontUnload(void);
/* An 8-bit grey TGA atlas of square cells; 0 when missing or when its size
 * is not width x height + 44. */
KIV_API int KivExFontLoad(const char* file);
KIV_API int KivExFontUnload(void);
/* ---- Animations, buttons, numbers, cursor, thumbnails ----
 * Animation handles are the KivTask* their creators return; the task's data
 * is the state record. Calls on anything that is not a live animation of the
 * matching kind do nothing and return 0 (-1 for the getters). */
typedef struct KivAnimationState {
  KivSprite* sprite;
  uint32_t cellTime;  /* ms each cell is shown */
  uint32_t startTime; /* frame time the current cell was selected */
  uint16_t currentCell;
  uint16_t cellCount; /* cells in one pass, counted on the first run; at least 1 */
  uint8_t direction;  /* 1 cells in a row, 2 in a column */
  int32_t running;
  int32_t loopCompleted; /* set on each wrap to cell 0; read and cleared by KivAnimationLoopIs */
} KivAnimationState;
/* One entry of a caller-owned frame table; next -1 (any negative) ends. */
typedef struct KivAnimationExFrame {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
  uint32_t time; /* ms */
  int32_t next;
} KivAnimationExFrame;
typedef struct KivAnimationExState {
  KivSprite* sprite;
  const KivAnimationExFrame* frames; /* the caller keeps it alive for the task's life */
  uint32_t displayTime;
  uint32_t startTime;
  int32_t index; /* -1: stopped at the end */
  int32_t running;
} KivAnimationExState;
KIV_API KivTask* KivAnimation(KivSprite* s, int direction, uint32_t cellTime);
KIV_API KivTask* KivAnimationEx(KivSprite* s, const KivAnimationExFrame* frames);
KIV_API int KivAnimationStart(KivTask* task);
KIV_API int KivAnimationStartEx(KivTask* task);
KIV_API int KivAnimationStop(KivTask* task);
KIV_API int KivAnimationStopEx(KivTask* task);
KIV_API int KivAnimationReset(KivTask* task);
KIV_API int KivAnimationResetEx(KivTask* task, const KivAnimationExFrame* frames);
KIV_API int KivAnimationGetTime(KivTask* task);
KIV_API int KivAnimationSetTime(KivTask* task, uint32_t ms);
KIV_API int KivAnimationLoopIs(KivTask* task);
KIV_API int KivAnimationGetAnimationPoint(KivTask* task);
KIV_API int KivAnimationRelease(KivTask* task);

/* Button groups. An item's sprite shows cell row base when idle, base + 1
 * while hovered and base + 2 once pressed, in column 0. */
#define KIV_BUTTON_CLICK_PUSH 0x1      /* clicks on the left button's press */
#define KIV_BUTTON_CLICK_REPEAT 0x2    /* also on its auto-repeat */
#define KIV_BUTTON_KEEP_CELL 0x4       /* the group never changes the sprite's cell */
#define KIV_BUTTON_ALPHA_TEST 0x10000  /* the hit needs a non-transparent pixel */
typedef struct KivButtonItem {
  KivSprite* sprite;
  int32_t enabled;
  int32_t base;
  int32_t reaction;
  struct KivButtonItem* next;
} KivButtonItem;
typedef struct KivButton {
  KivButtonItem* items; /* newest first */
  KivSprite* result;    /* clicked in this call */
  KivSprite* hovered;
  KivSprite* pressed; /* click pending until its sound has ended */
  KivSprite* previousHovered;
  KivSoundId hoverSounds[5]; /* the hover sound and four duplicates */
  KivSoundId clickSound;
  int32_t forced; /* an injected press whose click sound is still to play */
} KivButton;
typedef struct KivButtonState {
  KivSprite* clicked;
  KivSprite* hovered;
  KivSprite* pressed;
} KivButtonState;
KIV_API KivButton* KivButtonCreate(const char* hoverSound, const char* clickSound);
KIV_API KivButton* KivButtonCreateEx(KivSoundId hoverSound, KivSoundId clickSound);
KIV_API int KivButtonEntry(KivButton* b, KivSprite* s);
KIV_API int KivButtonEntryEx(KivButton* b, KivSprite* s, int reaction);
KIV_API int KivButtonDelete(KivButton* b, KivSprite* s);
KIV_API int KivButtonCtrl(KivButton* b, KivSprite* s, int enabled);
KIV_API int KivButtonSetPos(KivButton* b, KivSprite* s, int base);
KIV_API int KivButtonSetReaction(KivButton* b, KivSprite* s);
/* Once a frame: the clicked sprite of this call, or NULL. */
KIV_API KivSprite* KivButtonGetReaction(KivButton* b, KivButtonState* out);
KIV_API KivSprite* KivButtonGetReactionEx(KivButton* b, int x, int y, int press, KivButtonState* out);
KIV_API int KivButtonRelease(KivButton* b);

/* Numbers: a caller-owned array of count digit sprites from one strip of
 * cells 0-9, 10 plus, 11 minus, 12 and 13; entry 0 is the rightmost. NULL
 * entries are skipped with error 6. KivNumberDraw flags: 0x1 sign on the
 * last entry, 0x2 the caller's count with leading zeros, 0x4 cell 12 and
 * 0x8 cell 13 on the last entry; it never writes past count entries. */
KIV_API void KivNumberCreate(KivRenderList* list, const char* file, KivSprite** array, int count, int priority);
KIV_API void KivNumberSet(KivSprite** array, int x, int y, int count);
KIV_API void KivNumberSetEx(KivSprite** array, int x, int y, int step, int count);
KIV_API void KivNumberAlphaType(KivSprite** array, int count, uint32_t colour);
KIV_API void KivNumberDrawCtrl(KivSprite** array, int count, int visible);
KIV_API void KivSameNumberDraw(KivSprite** array, int count, int cell);
KIV_API void KivNumberDraw(KivSprite** array, int value, int count, int flags);
KIV_API int KivNumberGetPlace(int value);

/* Cursor: 0 arrow, 1-3 the engine's pictures, -1 hidden; other values change
 * nothing. KivCursorSetPos puts the mouse at logical screen point (x, y). */
KIV_API int KivCursorSet(int type);
KIV_API int KivCursorSetPos(int x, int y);

/* Thumbnails into w x h packed ARGB words: 1, or 0 (destination untouched)
 * for a bad size, block or buffer, or while the engine is not running.
 * byteSize is the destination's size in bytes. The mosaic block lies in
 * 1..min(w, h). */
KIV_API int KivThumbnailCreate(uint32_t* dst, int byteSize, int w, int h);
KIV_API int KivThumbnailCreateMosaic(uint32_t* dst, int byteSize, int w, int h, int block);
KIV_API int KivThumbnailCreateEx(uint32_t* dst, int w, int h, const uint32_t* src, int sw, int sh);
KIV_API int KivThumbnailCreateMosaicEx(uint32_t* dst, int w, int h, const uint32_t* src, int sw, int sh,
                                       int block);

/* ---- Memory, list, random, log ---- */
KIV_API void* KivMemoryAlloc(int size, int flags);
KIV_API void KivMemoryFree(void* block);
KIV_API KivList* KivListCreate(void);
KIV_API int KivListPush(KivList* list, intptr_t value, int key);
KIV_API int KivListPushLast(KivList* list, intptr_t value, int key);
KIV_API intptr_t KivListPop(KivList* list, int key);
KIV_API intptr_t KivListGetData(KivList* list, int key, unsigned n);
KIV_API int KivListGetDataCount(KivList* list, int key);
KIV_API void KivListRelease(KivList* list);
KIV_API int KivRandom(void);
KIV_API int KivRandomEx(void);
KIV_API void KivRandomReset(void);
KIV_API int KivRandomSetSeed(const int* values, int count);
KIV_API int KivRandomGetSeed(int* out, int count);
KIV_API int KivErrorLogPrintf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
KIV_API int KivErrorLogPrintfBasic(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
KIV_API int KivErrorLogPuts(void);
/* The calling thread's last error code, as the engine set it. */
KIV_API uint32_t KivGetLastError(void);

/* ---- Movies ----
 * A full-window movie plays in place of the drawn frames until it ends or
 * Escape or the right mouse button ends it. A movie sprite is a sprite whose
 * pixels are a movie's frames; its state word is 0 loaded, 1 playing, 2
 * stopped, 6 played to the end. */
KIV_API int KivVideoPlay(const char* file);
KIV_API KivSprite* KivMSpriteLoad(KivRenderList* list, const char* file, int priority);
KIV_API int KivMSpritePlay(KivSprite* s, int loop);
KIV_API int KivMSpriteStop(KivSprite* s);
KIV_API int KivMSpritePause(KivSprite* s);
KIV_API int KivMSpriteSetLoop(KivSprite* s, int loop);
KIV_API int KivMSpriteIsLoop(KivSprite* s);
KIV_API int KivMSpriteGetState(KivSprite* s);
KIV_API int KivMSpriteLock(KivSprite* s);
KIV_API int KivMSpriteUnlock(KivSprite* s);
KIV_API void* KivMSpriteCheck(KivSprite* s);

/* ---- Debug windows (debug mode only; every call is a no-op or 0 outside
 * it). Kinds: 1 log (mirrored to "<caption>.txt" in the base folder), 2
 * labelled rows, 3 editable variables. KivDebugSetData binds a window to
 * count values that its view shows and edits; it returns 0. ---- */
KIV_API int KivDebugWindowCreate(int key, const char* caption, int kind);
KIV_API int KivDebugPrintf(int key, const char* rowLabel, const char* format, ...) __attribute__((format(printf, 3, 4)));
KIV_API int KivDebugSetData(int key, int* values, int count);
KIV_API int KivDebugWindowDeleteLog(int key);
KIV_API int KivDebugWindowDelete(int key);
KIV_API int KivDebugWindowGetState(void);
KIV_API int KivDebugWindowSetState(int state);
KIV_API int KivDebugWindowSavePos(void);
KIV_API KivTask* KivSpriteCtrlTask(void);
KIV_API KivTask* KivCameraCtrlTask(void);
KIV_API int KivEffectTest(const char* background, int second, const char* character);

/* ---- Window title, beep and the text field ----
 * KivWindowSetTitle hands a Shift-JIS title to the window thread. The text
 * field is a one-line entry drawn over the presented frame (screen
 * coordinates, following the view rectangle) and fed by the input method;
 * its text is Shift-JIS, at most maxChars characters (0: no limit). Create
 * and destroy from any thread: the window side is done on the window thread. */
KIV_API int KivWindowSetTitle(const char* title);
KIV_API int KivMessageBeep(int type);
KIV_API intptr_t KivTextFieldCreate(int x, int y, int width, int height, int fontSize, int maxChars);
KIV_API int KivTextFieldSetText(intptr_t field, const char* text);
KIV_API int KivTextFieldGetText(intptr_t field, char* out, int size);
KIV_API int KivTextFieldMove(intptr_t field, int x, int y, int width, int height);
KIV_API int KivTextFieldShow(intptr_t field, int visible);
KIV_API int KivTextFieldDestroy(intptr_t field);

#ifdef __cplusplus
}
#endif

#endif /* KIV_H */
