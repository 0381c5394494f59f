// The caption task "AdvTextTimeCheckTask": a text of its own, revealed with
// the window's text speed, left standing for the auto-mode time, hidden and
// revealed again for as long as the task lives.
#include <algorithm>
#include <cstring>

#include "layers/sprite_records.h"
#include "start/game_debug_log.h"
#include "text/message_window.h"
#include "text/text_font.h"
#include "vm/vm_context.h"

namespace {

enum CaptionStep : int32_t { kCaptionFirst = 0, kCaptionWait = 1, kCaptionReveal = 2 };

struct CaptionTask {
  VmContext* ctx;
  char text[kTextBufferBytes];
  int32_t x, y;
  int32_t fontSize, fontType, fontEffect;
  KivSprite* sprite;
  int32_t revealLength;
  int32_t threshold;
  uint32_t waitLength, waitStart;
  uint32_t revealStart;
  int32_t created;
  int32_t step;
  TextRevealRecord reveal;
};

int NextPow2(int v) {
  int p = 1;
  while (p < v && p < (1 << 14)) p <<= 1;
  return p;
}

int CaptionProc(void* data) {
  auto* c = static_cast<CaptionTask*>(data);
  const int32_t* sys = text_system_words(c->ctx);
  const uint32_t now = KivtimeGetTime();
  switch (c->step) {
    case kCaptionFirst:
      c->created = 1;
      c->step = kCaptionWait;
      [[fallthrough]];
    case kCaptionWait:
      if (now - c->waitStart < c->waitLength) break;
      c->waitLength = 0;
      c->revealStart = now;
      text_reveal_capture(&c->reveal, c->sprite);
      c->step = kCaptionReveal;
      [[fallthrough]];
    case kCaptionReveal: {
      const uint32_t speed = static_cast<uint32_t>(sys[kSysTextSpeed]);
      if (speed == 0) {
        c->threshold = c->revealLength + 64;
        text_reveal_apply(&c->reveal, c->sprite, c->threshold);
        break;
      }
      // A text shorter than one character has nothing to time: it stands whole.
      const uint32_t d = text_phase_length(c->revealLength, c->fontSize, speed);
      const uint32_t e = std::min(now - c->revealStart, d);
      c->threshold = text_reveal_threshold(e, d, c->revealLength);
      text_reveal_apply(&c->reveal, c->sprite, c->threshold);
      if (e >= d) {
        c->waitLength =
            text_phase_length(c->revealLength, c->fontSize, static_cast<uint32_t>(sys[kSysAutoTime])) + 500;
        c->waitStart = now;
        c->step = kCaptionWait;
      }
      break;
    }
    default:
      break;
  }
  return 1;
}

void CaptionRelease(void* data) {
  auto* c = static_cast<CaptionTask*>(data);
  if (!c->created && !c->sprite) return;
  if (c->sprite) KivSpriteRelease(game_render_list(c->ctx), c->sprite);
  c->sprite = nullptr;
  text_reveal_free(&c->reveal);
}

}  // namespace

KivTask* text_time_check_start(VmContext* ctx, const char* text, int x, int y, int width, int height) {
  const int font = ctx->text.fontSize > 0 ? ctx->text.fontSize : text_font_api().getFontSize();
  if (font < 1 || width < 1 || height < 1 || width > 4096 || height > 4096) {
    game_debug_log(kDebugWindowError, "text_caption_start : invalid param");
    return nullptr;
  }
  CaptionTask* c = nullptr;
  KivTask* task = KivTaskCreate(CaptionProc, CaptionRelease, static_cast<int>(sizeof(CaptionTask)),
                                reinterpret_cast<void**>(&c), KIV_TASK_CHILD, nullptr, "AdvTextTimeCheckTask");
  if (!task)
    task = KivTaskCreate(CaptionProc, CaptionRelease, static_cast<int>(sizeof(CaptionTask)),
                         reinterpret_cast<void**>(&c), KIV_TASK_BEHIND, nullptr, "AdvTextTimeCheckTask");
  if (!task || !c) return nullptr;
  c->ctx = ctx;
  std::strncpy(c->text, text, sizeof c->text - 1);
  c->x = x;
  c->y = y;
  c->fontSize = font;
  c->fontType = KivFontGetType();
  c->fontEffect = KivFontGetEffect();
  const int w = (width + 3) & ~3;
  c->sprite = KivSpriteCreate(game_render_list(ctx), NextPow2(w + font), NextPow2(height + 2),
                              ctx->priorityBase + kTextPriorityCaption);
  if (!c->sprite || !text_reveal_alloc(&c->reveal, w, font, height, font + 2)) {
    KivTaskFree(task);
    KivTaskReProcess(task);
    return nullptr;
  }
  KivSpritePaint(c->sprite, 0);
  KivSpriteSetPos(c->sprite, static_cast<float>(x), static_cast<float>(y));
  int px = 0, py = 0;
  c->revealLength = text_draw(c->sprite, c->text, &px, &py, w, height, font, 0, ctx->text.colours, &c->reveal);
  c->created = 0;
  return task;
}

bool text_caption_redraw(KivTask* task) {
  auto* c = static_cast<CaptionTask*>(KivTaskGetTaskData(task));
  if (!c || !c->sprite) return false;
  if (c->waitLength != 0) return true;
  int w = 0, h = 0;
  uint32_t* px = KivSpriteLock(c->sprite, &w, &h);
  if (!px) return false;
  for (int i = 0; i < w * h; ++i) px[i] &= 0xFFFFFFu;
  KivSpriteUnlock(c->sprite);
  text_reveal_apply(&c->reveal, c->sprite, c->threshold);
  return true;
}
