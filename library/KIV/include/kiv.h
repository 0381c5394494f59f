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

#ifdef __cplusplus
}
#endif

#endif /* KIV_H */
