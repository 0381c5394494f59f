#include "platform/core/scripted_run.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "platform/core/backend.h"
#include "platform/input/input.h"

namespace plat {

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

int KeyCode(const std::string& name) {
  const std::string n = Lower(name);
  struct Named {
    const char* name;
    int code;
  };
  static constexpr Named kNames[] = {
      {"space", vk::kSpace},   {"return", vk::kReturn}, {"enter", vk::kReturn}, {"escape", vk::kEscape},
      {"esc", vk::kEscape},    {"tab", vk::kTab},       {"shift", vk::kShift},  {"control", vk::kControl},
      {"ctrl", vk::kControl},  {"alt", vk::kMenu},      {"up", vk::kUp},        {"down", vk::kDown},
      {"left", vk::kLeft},     {"right", vk::kRight},
  };
  for (const Named& k : kNames)
    if (n == k.name) return k.code;
  if (n.size() >= 2 && n[0] == 'f' && std::all_of(n.begin() + 1, n.end(), ::isdigit)) {
    int f = std::atoi(n.c_str() + 1);
    if (f >= 1 && f <= 12) return vk::kF1 + f - 1;
  }
  if (n.size() == 1 && ((n[0] >= 'a' && n[0] <= 'z') || (n[0] >= '0' && n[0] <= '9')))
    return std::toupper(static_cast<unsigned char>(n[0]));
  return -1;
}

int ButtonCode(const std::string& name) {
  const std::string n = Lower(name);
  if (n == "left") return vk::kLButton;
  if (n == "right") return vk::kRButton;
  if (n == "middle") return vk::kMButton;
  return -1;
}

bool Number(const std::string& word, long long lo, long long hi, long long* out) {
  if (word.empty()) return false;
  char* end = nullptr;
  long long v = std::strtoll(word.c_str(), &end, 10);
  if (*end || v < lo || v > hi) return false;
  *out = v;
  return true;
}

// Frame numbers the capture list names: "N,N,...".
bool ParseFrameList(const char* text, std::vector<uint32_t>* out) {
  std::stringstream in(text);
  std::string word;
  while (std::getline(in, word, ',')) {
    long long v = 0;
    if (!Number(word, 1, 0xFFFFFFF, &v)) return false;
    out->push_back(static_cast<uint32_t>(v));
  }
  std::sort(out->begin(), out->end());
  out->erase(std::unique(out->begin(), out->end()), out->end());
  return true;
}

std::string ReadText(const char* path, bool* ok) {
  std::string text;
  *ok = false;
  FILE* f = std::fopen(path, "rb");
  if (!f) return text;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
    text.append(buf, n);
    if (text.size() > (16u << 20)) break;  // no input script is this long
  }
  *ok = !std::ferror(f) && text.size() <= (16u << 20);
  std::fclose(f);
  return text;
}

ScriptedRun ReadSettings() {
  ScriptedRun r;
  if (WindowBackendKind() != Backend::kHeadless) return r;
  auto fail = [&r](const std::string& why) {
    if (r.error.empty()) r.error = why;
  };
  if (const char* v = std::getenv("KIV_HEADLESS_CLOCK"); v && *v) {
    if (std::string(v) == "virtual") r.frameClock = true;
    else if (std::string(v) != "real") fail(std::string("KIV_HEADLESS_CLOCK: unknown clock \"") + v + "\"");
  }
  if (const char* v = std::getenv("KIV_INPUT_SCRIPT"); v && *v) {
    bool ok = false;
    std::string text = ReadText(v, &ok);
    std::string why;
    if (!ok) fail(std::string("KIV_INPUT_SCRIPT: cannot read ") + v);
    else if (!ParseInputScript(text, &r.events, &why)) fail(std::string("KIV_INPUT_SCRIPT: ") + v + ": " + why);
  }
  if (const char* v = std::getenv("KIV_CAPTURE_FRAMES"); v && *v) {
    if (!ParseFrameList(v, &r.captureFrames)) fail("KIV_CAPTURE_FRAMES: not a list of frame numbers");
    const char* dir = std::getenv("KIV_CAPTURE_DIR");
    r.captureDir = dir && *dir ? dir : ".";
  }
  if (const char* v = std::getenv("KIV_CAPTURE_SOUND"); v && *v) r.captureSound = v;
  if (const char* v = std::getenv("KIV_RUN_FRAMES"); v && *v) {
    long long n = 0;
    if (!Number(v, 1, 0xFFFFFFF, &n)) fail("KIV_RUN_FRAMES: not a frame count");
    else r.runFrames = static_cast<uint32_t>(n);
  }
  return r;
}

}  // namespace

bool ParseInputScript(const std::string& text, std::vector<ScriptedEvent>* out, std::string* error) {
  std::stringstream in(text);
  std::string line;
  int number = 0;
  uint32_t last = 0;
  std::vector<ScriptedEvent> events;
  auto fail = [&](const std::string& why) {
    *error = "line " + std::to_string(number) + ": " + why;
    return false;
  };
  while (std::getline(in, line)) {
    ++number;
    if (size_t hash = line.find('#'); hash != std::string::npos) line.resize(hash);
    std::stringstream words(line);
    std::vector<std::string> w;
    for (std::string word; words >> word;) w.push_back(word);
    if (w.empty()) continue;
    long long frame = 0;
    if (w[0][0] == '+') {
      long long step = 0;
      if (!Number(w[0].substr(1), 0, 0xFFFFFFF, &step)) return fail("bad frame step \"" + w[0] + "\"");
      frame = static_cast<long long>(last) + step;
    } else if (!Number(w[0], 1, 0xFFFFFFF, &frame)) {
      return fail("bad frame number \"" + w[0] + "\"");
    }
    if (frame < last) return fail("frame " + std::to_string(frame) + " comes before frame " + std::to_string(last));
    if (frame < 1 || frame > 0xFFFFFFF) return fail("frame out of range");
    last = static_cast<uint32_t>(frame);
    if (w.size() < 2) return fail("no event");
    const std::string what = Lower(w[1]);
    ScriptedEvent e;
    e.frame = last;
    auto position = [&](size_t at, ScriptedEvent* m) {
      long long x = 0, y = 0;
      if (w.size() != at + 2 || !Number(w[at], -100000, 100000, &x) || !Number(w[at + 1], -100000, 100000, &y))
        return false;
      m->kind = ScriptedEvent::kMouseMove;
      m->x = static_cast<int>(x);
      m->y = static_cast<int>(y);
      return true;
    };
    if (what == "key" || what == "press") {
      // "key NAME down", "key down NAME", "press NAME".
      std::string name, dir;
      if (what == "press" && w.size() == 3) {
        name = w[2];
      } else if (what == "key" && w.size() == 4) {
        const std::string a = Lower(w[2]), b = Lower(w[3]);
        if (a == "down" || a == "up") {
          dir = a;
          name = w[3];
        } else {
          dir = b;
          name = w[2];
        }
        if (dir != "down" && dir != "up") return fail("a key goes down or up");
      } else {
        return fail("usage: key NAME down|up, or press NAME");
      }
      e.kind = ScriptedEvent::kKey;
      e.code = KeyCode(name);
      if (e.code < 0) return fail("unknown key \"" + name + "\"");
      e.down = what == "press" || dir == "down";
      events.push_back(e);
      if (what == "press") {
        e.frame = last + 1;
        e.down = false;
        events.push_back(e);
      }
    } else if (what == "mouse") {
      if (w.size() < 3) return fail("usage: mouse move X Y, or mouse down|up BUTTON [X Y]");
      const std::string act = Lower(w[2]);
      if (act == "move") {
        if (!position(3, &e)) return fail("usage: mouse move X Y");
        events.push_back(e);
      } else if (act == "down" || act == "up") {
        if (w.size() != 4 && w.size() != 6) return fail("usage: mouse down|up BUTTON [X Y]");
        if (w.size() == 6) {
          ScriptedEvent m;
          m.frame = last;
          if (!position(4, &m)) return fail("bad position");
          events.push_back(m);
        }
        e.kind = ScriptedEvent::kMouseButton;
        e.code = ButtonCode(w[3]);
        if (e.code < 0) return fail("unknown button \"" + w[3] + "\"");
        e.down = act == "down";
        events.push_back(e);
      } else {
        return fail("unknown mouse event \"" + w[2] + "\"");
      }
    } else if (what == "click") {
      if (w.size() != 5) return fail("usage: click BUTTON X Y");
      ScriptedEvent m;
      m.frame = last;
      if (!position(3, &m)) return fail("bad position");
      e.kind = ScriptedEvent::kMouseButton;
      e.code = ButtonCode(w[2]);
      if (e.code < 0) return fail("unknown button \"" + w[2] + "\"");
      events.push_back(m);
      e.down = true;
      events.push_back(e);
      e.frame = last + 1;
      e.down = false;
      events.push_back(e);
    } else if (what == "close") {
      if (w.size() != 2) return fail("close takes nothing more");
      e.kind = ScriptedEvent::kClose;
      events.push_back(e);
    } else {
      return fail("unknown event \"" + w[1] + "\"");
    }
  }
  // The ups of presses and clicks may fall after later lines' events.
  std::stable_sort(events.begin(), events.end(),
                   [](const ScriptedEvent& a, const ScriptedEvent& b) { return a.frame < b.frame; });
  *out = std::move(events);
  return true;
}

const ScriptedRun& ScriptedRunSettings() {
  static const ScriptedRun settings = ReadSettings();
  return settings;
}

std::string CaptureFramePath(const std::string& dir, uint32_t frame) {
  char name[32];
  std::snprintf(name, sizeof name, "frame-%06u.png", frame);
  return (dir.empty() ? std::string(".") : dir) + "/" + name;
}

}  // namespace plat
