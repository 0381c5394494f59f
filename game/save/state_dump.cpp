// The state dump: every component's block written field by field as text.
// A held object is shown by what it is (a sprite by its engine info, a
// sprite record by its index, a sound by its id and play state), never by
// its address; clock stamps are left out so that two runs compare.
#include "save/state_dump.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>

#include "kiv.h"
#include "layers/display_queue.h"
#include "platform/core/scripted_run.h"
#include "sound/sound_shared.h"
#include "vm/vm_context.h"

namespace {

class Dump {
 public:
  void Section(const char* name) { s_ += "\n["; s_ += name; s_ += "]\n"; }
  void Line(const char* name) { s_ += name; }
  void End() { s_ += '\n'; }
  void I(const char* name, int64_t v) {
    char b[48];
    std::snprintf(b, sizeof b, " %s=%" PRId64, name, v);
    s_ += b;
  }
  void X(const char* name, uint32_t v) {
    char b[48];
    std::snprintf(b, sizeof b, " %s=0x%08X", name, v);
    s_ += b;
  }
  void F(const char* name, float v) {
    char b[64];
    std::snprintf(b, sizeof b, " %s=%.9g", name, static_cast<double>(v));
    s_ += b;
  }
  // Bytes up to the first zero (or n), with anything but printable ASCII as \xNN.
  void S(const char* name, const char* text, size_t n) {
    s_ += ' ';
    s_ += name;
    s_ += "=\"";
    for (size_t i = 0; i < n && text[i]; ++i) {
      const auto c = static_cast<unsigned char>(text[i]);
      if (c >= 0x20 && c < 0x7F && c != '\\' && c != '"') {
        s_ += static_cast<char>(c);
      } else {
        char b[8];
        std::snprintf(b, sizeof b, "\\x%02X", c);
        s_ += b;
      }
    }
    s_ += '"';
  }
  // A whole array on one line; with sparse set, only its non-zero entries.
  template <typename T>
  void A(const char* name, const T* v, size_t n, bool sparse = false) {
    s_ += ' ';
    s_ += name;
    s_ += "=[";
    bool first = true;
    for (size_t i = 0; i < n; ++i) {
      if (sparse && v[i] == 0) continue;
      char b[48];
      if (sparse)
        std::snprintf(b, sizeof b, "%s%zu:%" PRId64, first ? "" : " ", i, static_cast<int64_t>(v[i]));
      else
        std::snprintf(b, sizeof b, "%s%" PRId64, first ? "" : " ", static_cast<int64_t>(v[i]));
      s_ += b;
      first = false;
    }
    s_ += ']';
  }
  void Sprite(const char* name, KivSprite* sprite) {
    if (!sprite) {
      I(name, 0);
      return;
    }
    KivSpriteInfo i{};
    KivSpriteGetInfo(sprite, &i);
    KivRect r{};
    KivSpriteGetRect(sprite, &r);
    char b[400];
    std::snprintf(b, sizeof b,
                  " %s={visible=%d colour=0x%08X x=%.9g y=%.9g offset=%d,%d size=%dx%d cell=%dx%d centre=%d,%d "
                  "priority=%d scale=%.9g rotation=%.9g,%.9g,%.9g mode=%d rect=%d,%d,%d,%d}",
                  name, i.visible, i.colour, static_cast<double>(i.x), static_cast<double>(i.y), i.offsetX, i.offsetY,
                  i.width, i.height, i.cellWidth, i.cellHeight, i.centreX, i.centreY, i.priority,
                  static_cast<double>(i.scale), static_cast<double>(i.rotationX), static_cast<double>(i.rotationY),
                  static_cast<double>(i.rotationZ), i.renderMode, r.left, r.top, r.right, r.bottom);
    s_ += b;
  }
  void Record(const char* name, const SpriteRecord* r) { I(name, r ? r->index : -1); }
  void Sound(const char* name, KivSoundId id) {
    I(name, id);
    if (!id) return;
    const SoundCalls& c = sound_calls();
    char b[80];
    std::snprintf(b, sizeof b, " %s.playing=%d %s.state=%d", name, c.playIs(id), name, c.getState(id));
    s_ += b;
  }
  void Present(const char* name, const void* p) { I(name, p ? 1 : 0); }
  std::string& text() { return s_; }

 private:
  std::string s_;
};

void Transform(Dump& d, const SpriteTransform& t) {
  d.I("aX", t.aX), d.I("aY", t.aY), d.I("bX", t.bX), d.I("bY", t.bY);
  d.A("aRot", t.aRot, 3), d.A("bRot", t.bRot, 3);
  d.F("aScale", t.aScale), d.F("bScale", t.bScale), d.X("colour", t.colour), d.I("bAlpha", t.bAlpha);
  d.I("aspect", t.aspectType);
  const SpriteFrameTerms& f = t.frame;
  d.I("cX", f.cX), d.I("cY", f.cY), d.I("dX", f.dX), d.I("dY", f.dY), d.I("eX", f.eX), d.I("eY", f.eY);
  d.A("cRot", f.cRot, 3), d.A("dRot", f.dRot, 3), d.F("cScale", f.cScale), d.F("dScale", f.dScale);
  d.I("cAlpha", f.cAlpha), d.I("dAlpha", f.dAlpha);
  for (auto [name, s] : {std::pair{"delta", &t.delta}, std::pair{"f", &t.f}}) {
    d.Line(" ");
    d.Line(name);
    d.Line(":");
    d.I("x", s->x), d.I("y", s->y), d.A("rot", s->rot, 3), d.F("scale", s->scale), d.I("alpha", s->alpha);
  }
}

void ListKey(Dump& d, KivList* list, int key, const char* name) {
  const int n = list ? KivListGetDataCount(list, key) : 0;
  d.Line(name);
  d.I("count", n);
  d.End();
  for (int i = 0; i < n; ++i) {
    const void* p = reinterpret_cast<const void*>(KivListGetData(list, key, static_cast<unsigned>(i)));
    if (!p) continue;
    d.Line("  ");
    d.I("at", i);
    if (key == kGameListDisplayOps) {
      const auto* op = static_cast<const DisplayOperation*>(p);
      d.X("word", op->word);
      d.A("arg", op->arg, 10);
    } else {
      const auto* rp = static_cast<const ReturnPoint*>(p);
      d.I("pc", rp->pc), d.I("kind", rp->kind);
    }
    d.End();
  }
}

void Machine(Dump& d, VmContext* ctx) {
  d.Section("machine");
  const ScriptRecord& s = ctx->script;
  d.Line("script");
  d.I("pc", s.pc), d.I("entry", s.entryPc), d.X("command", s.commandWord), d.I("yield", s.yield);
  d.A("points", s.points, static_cast<size_t>(std::clamp(s.pointDepth, 0, kScriptPointDepth)));
  d.End();
  d.Line("switches");
  d.I("skip", ctx->skipMode), d.I("auto", ctx->autoMode), d.I("priorityBase", ctx->priorityBase);
  d.X("keyCancelKeys", ctx->keyCancelKeys), d.X("keyCancelMouse", ctx->keyCancelMouse);
  d.X("keyPushLatch", ctx->keyPushLatch), d.I("pause", ctx->pauseTimer.duration);
  d.End();
  d.Line("stack");
  d.A("value", ctx->valueStack, static_cast<size_t>(std::clamp(ctx->valueStackDepth, 0, kValueStackSize)));
  d.I("base", ctx->baseRegister), d.I("result", ctx->resultIndex), d.I("memoryDepth", ctx->memoryStackDepth);
  d.A("frame", ctx->frameSlots, static_cast<size_t>(std::clamp(ctx->framePointer, 0, kFrameSlotCount)));
  d.End();
  d.Line("registers"), d.A("r", ctx->registers, kRegisterCount, true), d.End();
  d.Line("user"), d.A("u", ctx->userMemory, kUserMemoryWords, true), d.End();
  d.Line("temp"), d.A("t", ctx->tempArea, kTempAreaWords, true), d.End();
  d.Line("memoryStack"), d.A("m", ctx->memoryStackStore, kMemoryStackBytes / 4, true), d.End();
  for (int i = 0; i < kStringVariableCount; ++i) {
    d.Line("string");
    d.I("n", i);
    d.S("text", ctx->stringVariables[i], kStringVariableBytes);
    d.End();
  }
  d.Section("game list");
  ListKey(d, ctx->gameList, kGameListDisplayOps, "display");
  ListKey(d, ctx->gameList, kGameListReturnPoints, "returns");
  ListKey(d, ctx->gameList, kGameListThreadReturns, "threadReturns");
}

void Sprites(Dump& d, VmContext* ctx) {
  d.Section("sprite records");
  for (const SpriteRecord& r : ctx->sprites.records) {
    if (!r.sprite && !r.linked && !r.imageOperand) continue;
    d.Line("record");
    d.I("index", r.index), d.I("linked", r.linked), d.X("operand", r.imageOperand), d.I("motion", r.motionSlot);
    d.S("name", r.name, sizeof r.name);
    Transform(d, r.t);
    d.Sprite("sprite", r.sprite);
    d.End();
  }
}

void Layers(Dump& d, VmContext* ctx) {
  d.Section("layers");
  const LayerState& s = ctx->layers;
  for (int i = 0; i < kLayerCount; ++i) {
    const LayerRecord& l = s.layers[i];
    if (!l.record && !l.transition && !l.transitionArmed && !l.loadSlot && !l.flags && !l.userWord) continue;
    d.Line("layer");
    d.I("n", i), d.Record("record", l.record), d.I("fx", l.fxSlot), d.I("user", l.userWord), d.X("flags", l.flags);
    d.I("transition", l.transitionState), d.I("armed", l.transitionArmed), d.Present("engineTransition", l.transition);
    d.Sprite("incoming", l.incoming), d.Sprite("outgoing", l.outgoing);
    d.I("code", l.transitionCode), d.I("duration", l.transitionDuration);
    d.I("shake", l.shakeMode), d.I("amplitude", l.shakeAmplitude), d.I("shakeLength", l.shakeDuration);
    d.I("movieLoop", l.movieLoop), d.I("loadSlot", l.loadSlot);
    for (const LinkSlot& k : l.links)
      if (k.control || k.operand) {
        d.Line(" link:");
        d.X("control", k.control), d.X("operand", k.operand);
        for (auto [n, v] : {std::pair{"dstX", k.dstX}, {"dstY", k.dstY}, {"srcX", k.srcX}, {"srcY", k.srcY},
                            {"w", k.width}, {"h", k.height}})
          d.I(n, v);
      }
    d.End();
  }
  for (const FaceSlot& f : s.faces) {
    d.Line("face");
    d.I("layer", f.layer), d.I("priority", f.priorityOffset), d.I("x", f.x), d.I("y", f.y);
    d.End();
  }
  d.Line("queue");
  d.I("facesReady", s.facesReady), d.I("noWait", s.applyNoWait), d.I("movieWait", s.movieWait);
  d.End();
}

void Sound(Dump& d, VmContext* ctx) {
  d.Section("sound");
  const SoundState& s = ctx->sound;
  for (int i = 0; i < kBgmChannelCount; ++i) {
    const BgmChannel& c = s.bgm[i];
    d.Line("bgm");
    d.I("n", i), d.Sound("sound", c.sound), d.X("name", c.name), d.X("flags", c.flags), d.I("level", c.level);
    d.A("reserved", c.reserved, 4), d.A("range", c.range, 4), d.I("fadeDelta", c.fadeDelta);
    d.I("fadeLength", c.fadeLength), d.S("file", s.bgmFile[i], sizeof s.bgmFile[i]);
    d.End();
  }
  for (int i = 0; i < kSeChannelCount; ++i) {
    const SeChannel& c = s.se[i];
    if (!c.sound && !c.name && !c.flags) continue;
    d.Line("se");
    d.I("n", i), d.Sound("sound", c.sound), d.X("name", c.name), d.X("flags", c.flags), d.A("reserved", c.reserved, 3);
    d.I("pan", c.pan), d.I("kind", c.kind), d.S("file", s.seFile[i], sizeof s.seFile[i]);
    d.End();
  }
  d.Line("se");
  d.I("wait", s.seWait), d.I("pendingPan", s.pendingPan), d.A("debug", s.seDebugReserved, 110, true);
  d.End();
  const VoiceState& v = ctx->voice;
  for (int i = 0; i < kVoiceChannelCount; ++i) {
    const VoiceChannel& c = v.channels[i];
    d.Line("voice");
    d.I("n", i), d.Sound("sound", c.sound), d.A("reserved", c.reserved, 3), d.I("panTarget", c.panTarget);
    d.I("panMode", c.panMode), d.I("lastPan", c.lastPan), d.I("panActive", c.panActive), d.I("reserved2", c.reserved2);
    d.End();
  }
  d.Line("subVoice");
  d.Sound("sound", v.sub.sound), d.X("name", v.sub.name), d.X("flags", v.sub.flags), d.I("reserved", v.sub.reserved);
  d.I("enabled", v.sub.enabled), d.I("checkOff", v.checkOff), d.I("musicLowered", v.musicLowered);
  d.End();
  for (const VoiceAutopanEntry& e : v.autopan) {
    if (!e.target && !e.mode && !e.name[0]) continue;
    d.Line("autopan");
    d.I("target", e.target), d.I("mode", e.mode), d.S("name", e.name, sizeof e.name);
    d.End();
  }
}

void Buttons(Dump& d, VmContext* ctx) {
  d.Section("buttons");
  for (int g = 0; g < kButtonGroupCount; ++g) {
    const ButtonGroup& b = ctx->buttons.groups[g];
    d.Line("group");
    d.I("n", g), d.I("initialised", b.initialised), d.I("dragLatch", b.dragLatch), d.I("locked", b.locked);
    d.I("lockTime", b.lockTime), d.I("lastClicked", b.lastClicked), d.I("lastOn", b.lastOn), d.I("lastOff", b.lastOff);
    d.Present("engine", b.engine);
    d.I("hovered", b.hovered ? b.hovered - b.entries : -1);
    d.X("hoverSound", b.hoverSound), d.X("clickSound", b.clickSound), d.A("expansion", b.expansion, kButtonExpansionCount);
    if (b.hovered) {
      const KivSpriteInfo& h = b.hoverSnapshot;
      d.I("snapVisible", h.visible), d.X("snapColour", h.colour), d.F("snapX", h.x), d.F("snapY", h.y);
      d.F("snapScale", h.scale), d.I("snapMode", h.renderMode);
    }
    d.End();
    for (int i = 0; i < kButtonsPerGroup; ++i) {
      const ButtonEntry& e = b.entries[i];
      if (!e.record && !e.click && !e.on && !e.off) continue;
      d.Line("  button");
      d.I("n", i), d.Record("record", e.record), d.I("click", e.click), d.I("on", e.on), d.I("off", e.off);
      d.End();
    }
  }
  for (int i = 0; i < kSystemButtonCount; ++i) {
    const SystemButton& b = ctx->buttons.system[i];
    if (!b.inUse && !b.enabled && !b.repeatMask && !b.routine) continue;
    d.Line("system");
    d.I("n", i), d.I("inUse", b.inUse), d.I("enabled", b.enabled), d.X("repeat", b.repeatMask), d.I("routine", b.routine);
    d.End();
  }
}

void Text(Dump& d, VmContext* ctx) {
  d.Section("message window");
  const MessageWindow& w = ctx->text;
  d.Line("window");
  d.I("initialised", w.initialised), d.I("mode", w.textMode), d.I("icons", w.iconPlacement);
  d.I("font", w.fontSize), d.I("ruby", w.rubySize), d.I("textX", w.textX), d.I("textY", w.textY);
  d.I("textW", w.textW), d.I("textH", w.textH), d.I("nameX", w.nameX), d.I("nameY", w.nameY);
  d.I("buttonGroup", w.buttonGroup);
  d.End();
  d.Line("novel");
  for (auto [n, v] : {std::pair{"x", w.novelX}, {"y", w.novelY}, {"w", w.novelW}, {"h", w.novelH},
                      {"named", w.novelNamed}, {"textX", w.novelTextX}, {"nextY", w.novelNextY}, {"endX", w.novelEndX},
                      {"endY", w.novelEndY}})
    d.I(n, v);
  d.S("page", w.novelPage, sizeof w.novelPage);
  d.End();
  d.Line("line");
  d.I("visible", w.visible), d.I("read", w.read), d.I("finish", w.finishRequest), d.I("timeOverride", w.timeOverride);
  d.X("state", w.stateFlags), d.X("display", w.displayFlags), d.I("phaseLength", w.phaseLength);
  d.I("revealOffset", w.revealOffset), d.I("revealLength", w.revealLength), d.X("nameOperand", w.nameOperand);
  d.X("textOperand", w.textOperand), d.X("historyOperand", w.historyTextOperand), d.I("endX", w.endX);
  d.I("endY", w.endY), d.Present("caption", w.captionTask), d.I("pendingInput", w.pendingInput);
  d.I("noHistory", w.noHistory), d.I("icon", w.currentIcon);
  d.I("colour", w.colours.text), d.I("edge", w.colours.edge), d.I("savedColour", w.savedColours.text);
  d.I("savedEdge", w.savedColours.edge), d.I("revealReady", w.reveal.ready), d.I("revealRows", w.reveal.rows);
  d.I("revealRowWidth", w.reveal.rowWidth), d.I("band", w.reveal.bandHeight);
  d.S("name", w.name, sizeof w.name), d.S("text", w.text, sizeof w.text), d.S("voice", w.voice, sizeof w.voice);
  d.End();
  d.Line("records");
  d.Record("name", w.nameSprite), d.Record("text", w.textSprite), d.Record("novel", w.novelSprite);
  d.Record("base", w.baseImage), d.X("baseOperand", w.baseImageOperand);
  for (const TextIcon& i : w.icons) {
    d.Line(" icon:");
    d.Record("record", i.record), d.X("operand", i.imageOperand), d.I("time", i.animationTime);
    d.Present("animation", i.animation);
  }
  d.End();
}

void Backlog(Dump& d, VmContext* ctx) {
  d.Section("backlog");
  const HistoryState& h = ctx->history;
  d.Line("page");
  d.X("normal", h.normalColour), d.X("hover", h.hoverColour), d.I("nameX", h.nameX), d.I("nameY", h.nameY);
  d.I("textX", h.textX), d.I("textY", h.textY), d.I("iconX", h.iconX), d.I("iconY", h.iconY);
  d.I("spacing", h.spacing), d.I("left", h.rect.left), d.I("top", h.rect.top), d.I("right", h.rect.right);
  d.I("bottom", h.rect.bottom), d.I("height", h.height), d.I("lastPage", h.lastPage), d.I("position", h.position);
  d.I("iconSet", h.iconSet), d.S("iconImage", h.iconImage, sizeof h.iconImage), d.I("rows", h.rows);
  d.I("count", h.count), d.Sprite("highlight", h.highlight);
  d.End();
  for (int i = 0; i < kHistoryEntries; ++i) {
    const BacklogEntry& e = h.entries[i];
    const bool shown = h.nameSprites[i] || h.textSprites[i] || h.iconSprites[i];
    if (!e.name[0] && !e.text[0] && !e.voice[0] && !shown) continue;
    d.Line("entry");
    d.I("n", i), d.S("name", e.name, sizeof e.name), d.S("text", e.text, sizeof e.text);
    d.S("voice", e.voice, sizeof e.voice);
    d.Sprite("nameSprite", h.nameSprites[i]), d.Sprite("textSprite", h.textSprites[i]);
    d.Sprite("iconSprite", h.iconSprites[i]);
    d.End();
  }
}

void Others(Dump& d, VmContext* ctx) {
  d.Section("player name");
  const PlayerNameState& p = ctx->playerName;
  d.Line("name");
  d.I("field", p.field ? 1 : 0), d.I("state", p.state), d.Present("button", p.button);
  for (KivSprite* s : p.sprites) d.Sprite("sprite", s);
  d.I("maximum", p.maximum), d.I("length", p.nameLength), d.I("changed", p.changed);
  d.I("fieldRequested", p.fieldRequested), d.S("text", p.name, sizeof p.name);
  d.End();

  d.Section("choice");
  const ChoiceState& c = ctx->choice;
  d.Line("choice");
  d.I("active", c.active), d.I("shown", c.shown), d.I("lock", c.lock), d.I("count", c.count), d.I("cursor", c.cursor);
  d.X("style", c.styleImage), d.A("colour", c.colour, 3), d.A("targets", c.targets, kChoiceSlots);
  d.A("rows", c.baseRows, kChoiceSlots), d.A("flags", c.flags, kChoiceSlots), d.I("keyboard", c.keyboard);
  d.I("mouseX", c.keyMouseX), d.I("mouseY", c.keyMouseY);
  d.End();
  for (int i = 0; i < kChoiceSlots; ++i)
    if (c.choiceSprites[i] || c.textSprites[i]) {
      d.Line("  slot");
      d.I("n", i), d.Sprite("choice", c.choiceSprites[i]), d.Sprite("text", c.textSprites[i]);
      d.End();
    }

  d.Section("waits");
  const WaitTimers& w = ctx->waits;
  d.Line("wait");
  d.I("duration", w.duration), d.I("syncDuration", w.syncDuration), d.I("pushed", w.pushedDuration);
  d.I("skippable", w.skippable), d.I("cancel", w.cancel), d.I("waitPc", w.waitPc), d.I("cancelPc", w.cancelPc);
  d.I("syncSet", w.syncSet), d.I("pushedSkippable", w.pushedSkippable), d.I("pushedWaitPc", w.pushedWaitPc);
  d.End();
  d.Line("thread");
  d.I("active", ctx->thread.active), d.I("enabled", ctx->thread.enabled), d.I("countdown", ctx->thread.countdown);
  d.I("target", ctx->thread.target);
  d.End();
  const KeyMessageState& k = ctx->keyMessages;
  d.Line("keyMessages");
  d.I("pending", k.pending), d.I("routine", k.routine);
  for (int i = 0; i < kKeyMessageSlots; ++i)
    if (k.messages[i].code) d.I("code", k.messages[i].code), d.I("parameter", k.messages[i].parameter);
  d.End();

  d.Section("screen effects");
  const EffectState& e = ctx->effects;
  d.Line("effects");
  d.X("pointBits", e.pointBits), d.X("active", e.active);
  d.I("shake", e.shake.state), d.I("shakeRunning", e.shake.runningDuration), d.I("direction", e.shake.direction);
  d.I("amplitude", e.shake.amplitude), d.I("shakeLength", e.shake.duration), d.X("targets", e.shake.targets);
  d.Sprite("flash", e.flash.sprite), d.I("flashState", e.flash.state), d.I("flashLength", e.flash.duration);
  d.End();
  for (auto [name, f] : {std::pair{"snow", &e.snow}, std::pair{"sakura", &e.sakura}}) {
    d.Line(name);
    d.I("state", f->state), d.I("endLength", f->endDuration), d.X("image", f->imageOperand), d.I("mode", f->mode);
    d.I("count", f->count), d.I("drift", f->drift);
    d.End();
  }
  int flakes = 0, petals = 0;
  for (const Flake& f : e.flakes) flakes += f.sprite ? 1 : 0;
  for (const Petal& p2 : e.petals) petals += p2.sprite ? 1 : 0;
  d.Line("falling");
  d.I("flakes", flakes), d.I("petals", petals);
  d.End();
  d.Line("raster");
  d.I("state", e.raster.state), d.I("layer", e.raster.layer), d.I("x", e.raster.amplitudeX);
  d.I("y", e.raster.amplitudeY), d.I("period", e.raster.period), d.I("priority", e.raster.priority);
  d.End();
  const FxState& fx = ctx->fx;
  d.Line("fx");
  d.I("waitPending", fx.waitPending), d.I("waitLayer", fx.waitLayer), d.I("head", fx.head);
  d.End();
  for (int i = 0; i < kFxSlotCount; ++i) {
    const FxSlot& s = fx.slots[i];
    if (!s.state && !s.next && !s.prev) continue;
    d.Line("  slot");
    d.I("n", i), d.I("layer", s.layer), d.I("state", s.state), d.I("kind", s.kind), d.I("x", s.amplitudeX);
    d.I("y", s.amplitudeY), d.I("period", s.period), d.I("next", s.next), d.I("prev", s.prev);
    d.End();
  }
}

void Actions(Dump& d, VmContext* ctx) {
  d.Section("actions");
  const ActionState& a = ctx->actions;
  d.Line("actions");
  d.I("active", a.active), d.A("clear", a.clearRequests, kActionSlotCount), d.I("pushedSlot", a.pushedSlot);
  d.Present("pushed", a.pushed), d.I("syncWait", a.syncWaitActive), d.I("syncSlot", a.syncWaitSlot);
  d.End();
  for (int n = 0; n < kActionSlotCount; ++n) {
    const ActionSlot& s = a.slots[n];
    if (!s.running && !s.state && !s.linesInUse) continue;
    d.Line("slot");
    d.I("n", n), d.I("running", s.running), d.I("passCompleted", s.passCompleted), d.I("lines", s.linesInUse);
    d.I("reserved", s.reserved), d.I("timeOrCount", s.timeOrCount), d.I("state", s.state);
    d.I("holdsPoint", s.holdsPoint);
    d.End();
    for (int i = 0; i < kActionLineCount; ++i) {
      const ActionLine& l = s.lines[i];
      const ActionLineRun& r = s.runs[i];
      if (!l.count && !r.started && !r.stepIndex) continue;
      d.Line("  line");
      d.I("n", i), d.I("started", r.started), d.I("stepEnd", r.stepEnd), d.I("stepIndex", r.stepIndex);
      d.I("count", l.count), d.Present("run", l.handle);
      for (int k = 0; k < l.count && k < kActionStepCount; ++k) {
        const ActionStep& st = l.steps[k];
        d.Line(" step:");
        d.I("target", st.target), d.A("p", st.p, 4), d.A("reserved", st.reserved, 3), d.I("type", st.type);
        d.I("duration", st.duration);
      }
      d.End();
    }
  }
  d.Section("motions");
  for (int i = 0; i <= kMotionCount; ++i) {
    const MotionRecord& m = ctx->motions.records[i];
    if (!m.inUse) continue;
    d.Line("motion");
    d.I("n", i), d.I("revert", m.revert), d.I("state", m.state), d.Record("sprite", m.sprite);
    d.I("pauseLength", m.pauseLength), d.I("move", m.move.active), d.X("curve", m.move.curveBits);
    d.I("moveLength", static_cast<int64_t>(m.move.length)), d.I("dx", m.move.dx), d.I("dy", m.move.dy);
    d.I("scale", m.scale.active), d.I("percent", m.scale.percent), d.I("alpha", m.alpha.active);
    d.I("change", m.alpha.change), d.I("rotation", m.rotation.active), d.A("r", m.rotation.r, 3);
    d.I("line", m.line.active), d.I("interval", m.line.interval), d.F("travelledX", m.line.travelledX);
    d.F("travelledY", m.line.travelledY), d.I("wait", m.wait.active), d.A("operands", m.operands, 4);
    d.I("codeSize", m.codeSize), d.I("pc", m.pc), d.I("depth", m.depth), d.I("descendants", m.descendants);
    int children = 0;
    for (const MotionRecord* c : m.children) children += c ? 1 : 0;
    d.I("children", children);
    d.End();
  }
}

void Save(Dump& d, VmContext* ctx) {
  d.Section("save");
  const SaveState& s = ctx->save;
  // FNV-1a over the thumbnail and the last snapshot: equal bytes, equal hash.
  auto hash = [](const void* p, size_t n) {
    uint64_t h = 14695981039346656037ull;
    for (size_t i = 0; i < n; ++i) h = (h ^ static_cast<const uint8_t*>(p)[i]) * 1099511628211ull;
    return h;
  };
  d.Line("save");
  d.I("mosaic", s.mosaic), d.I("thumbWidth", s.thumbWidth), d.I("thumbHeight", s.thumbHeight);
  d.I("thumbPresent", s.thumbPresent), d.I("thumbBytes", s.thumbBytes);
  d.X("thumbHash", s.thumbPixels ? static_cast<uint32_t>(hash(s.thumbPixels, s.thumbBytes)) : 0);
  d.I("textRectW", s.textRectWidth), d.I("textRectH", s.textRectHeight), d.I("resumePc", s.resumePc);
  d.X("title", s.titleOperand), d.I("fontSize", s.fontSize), d.I("fontType", s.fontType);
  d.I("fontEffect", s.fontEffect), d.X("fontColour", s.fontColor), d.X("fontEdge", s.fontEdgeColor);
  d.I("loadAfter", s.loadAfter), d.I("snapshotPresent", s.snapshotPresent), d.I("used", s.used);
  d.X("snapshotHash", s.snapshot ? static_cast<uint32_t>(hash(s.snapshot, s.used)) : 0);
  d.S("text", s.saveText, sizeof s.saveText);
  d.End();
}

}  // namespace

std::string game_state_dump(VmContext* ctx) {
  Dump d;
  d.Line("KIV state dump 1");
  d.End();
  Machine(d, ctx);
  Sprites(d, ctx);
  Layers(d, ctx);
  Sound(d, ctx);
  Buttons(d, ctx);
  Text(d, ctx);
  Backlog(d, ctx);
  Others(d, ctx);
  Actions(d, ctx);
  Save(d, ctx);
  return std::move(d.text());
}

void game_state_dump_frame(VmContext* ctx) {
  const plat::ScriptedRun& run = plat::ScriptedRunSettings();
  if (run.stateDumpFrames.empty()) return;
  const uint32_t frame = plat::ScriptedFrameNumber();
  static uint32_t written = 0;  // one dump a frame, however often the task runs
  if (frame == written || !std::binary_search(run.stateDumpFrames.begin(), run.stateDumpFrames.end(), frame)) return;
  written = frame;
  const std::string path = plat::StateDumpPath(run.captureDir, frame);
  if (!game_state_dump_write(ctx, path)) {
    std::fprintf(stderr, "scripted run: the state of frame %u could not be written to %s\n", frame, path.c_str());
    std::fflush(stderr);
  }
}

bool game_state_dump_write(VmContext* ctx, const std::string& path) {
  const std::string text = game_state_dump(ctx);
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  return std::fclose(f) == 0 && ok;
}
