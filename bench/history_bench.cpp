// The backlog page: history_begin over 128 entries of 254 bytes (the
// measuring walk over every entry, the last page, the first page of text
// sprites and the highlight) and one history_scroll (the page rebuilt one
// entry older), released after each round; beside Pango and Cairo doing
// the same work on the same texts: every entry laid out in the text box's
// width and measured, and the same number of rows drawn into ARGB surfaces
// of the same size. Times in ms per round.
//
//   build/bench/history_bench
#include <benchmark/benchmark.h>
#include <cairo.h>
#include <pango/pangocairo.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "component_entries.h"
#include "history/history.h"
#include "platform/core/backend.h"
#include "platform/core/clock.h"
#include "platform/core/text_encoding.h"
#include "start/game_record.h"
#include "vm/vm.h"

namespace {

constexpr int kW = 1280, kH = 720;
constexpr int kFont = 24, kTextW = 1000, kTextH = 120;

// Entry i's text: 127 double-byte characters (254 bytes) of kana and kanji.
std::string EntryText(int i) {
  static const char* const kRun = "今日は朝から雨が降っていた。窓の外を眺めて、葵は息をついた。ねえ、ベン。この手紙は届くと思う？";
  std::string u;
  while (plat::Utf8ToCp932(u).size() < 254) u += kRun;
  std::string sj = plat::Utf8ToCp932(u);
  const size_t shift = static_cast<size_t>(i % 16) * 2;
  std::string out = sj.substr(shift) + sj.substr(0, shift);
  out.resize(254);
  return out;
}

int Start() { return 1; }
void End(void*) {}

bool g_started = false;
KivRenderList* g_list = nullptr;

bool EngineUp() {
  if (g_started) return g_list != nullptr;
  g_started = true;
  plat::UseHeadless(true);
  plat::UseVirtualClock(true, 1000);
  KivSystemParameters p;
  KivDefaultCreate(&p);
  p.clientWidth = p.screenWidth = kW;
  p.clientHeight = p.screenHeight = kH;
  p.mode &= ~KIV_MODE_GPU;
  p.flags |= KIV_FLAG_HIDDEN;
  p.startCallback = Start;
  p.endCallback = End;
  if (!KivInit(&p)) return false;
  g_list = KivRenderInit();
  KivRenderSetActive(g_list);
  KivFontSetType(0);
  KivFontSetEffect(1);
  KivFontSetColor(0xFFFFFF, 0x000000);
  return true;
}

int g_rows = 0;  // rows the engine built per round (both pages), for Pango

void BM_HistoryBeginAndScroll(benchmark::State& state) {
  if (!EngineUp()) {
    state.SkipWithError("engine did not start");
    return;
  }
  auto record = std::make_unique<GameRecord>();
  vm_context_attach(record.get());
  VmContext* ctx = &record->ctx;
  ctx->renderList = g_list;
  MessageWindow& w = ctx->text;
  w.initialised = 1;
  w.fontSize = kFont;
  w.textW = kTextW;
  w.textH = kTextH;
  HistoryState& h = ctx->history;
  h.nameX = 140, h.nameY = 0, h.textX = 140, h.textY = 30, h.spacing = 12;
  h.normalColour = 0xFFE0E0E0u, h.hoverColour = 0xFFFFD040u;
  h.rect = {0, 40, kW, 680};
  const std::string aoi = plat::Utf8ToCp932("葵");
  for (int i = 0; i < kHistoryEntries; ++i)
    history_entry_add(&h, i % 3 ? aoi.c_str() : "", EntryText(i).c_str(), i % 2 ? "V001" : "");
  history_begin(ctx);  // untimed, so that both sides start with their glyphs cached
  history_end(ctx);
  for (auto _ : state) {
    history_begin(ctx);
    g_rows = h.rows;
    history_page_build(ctx, 1);
    g_rows += h.rows;
    benchmark::DoNotOptimize(h.rows);
    history_end(ctx);
  }
  state.counters["rows"] = g_rows;
  state.counters["last_page"] = h.lastPage;
  history_reset(ctx);
}

void BM_PangoCairoSameTexts(benchmark::State& state) {
  std::vector<std::string> texts;
  for (int i = 0; i < kHistoryEntries; ++i) texts.push_back(plat::Cp932ToUtf8(EntryText(i)));
  const int rows = g_rows > 0 ? g_rows : 10;
  PangoFontMap* map = pango_cairo_font_map_new();
  PangoContext* pc = pango_font_map_create_context(map);
  PangoFontDescription* desc = pango_font_description_from_string("IPAGothic");
  pango_font_description_set_absolute_size(desc, kFont * PANGO_SCALE);
  auto round = [&] {
    // The measuring walk: every entry laid out in the box's width.
    int height = 0;
    for (const std::string& t : texts) {
      PangoLayout* layout = pango_layout_new(pc);
      pango_layout_set_font_description(layout, desc);
      pango_layout_set_width(layout, kTextW * PANGO_SCALE);
      pango_layout_set_wrap(layout, PANGO_WRAP_CHAR);
      pango_layout_set_text(layout, t.c_str(), -1);
      int lw = 0, lh = 0;
      pango_layout_get_pixel_size(layout, &lw, &lh);
      height += lh;
      g_object_unref(layout);
    }
    benchmark::DoNotOptimize(height);
    // The rows of both pages, each into its own surface of the row's size.
    for (int r = 0; r < rows; ++r) {
      cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kTextW + kFont, kTextH);
      cairo_t* cr = cairo_create(surface);
      pango_cairo_update_context(cr, pc);
      PangoLayout* layout = pango_layout_new(pc);
      pango_layout_set_font_description(layout, desc);
      pango_layout_set_width(layout, kTextW * PANGO_SCALE);
      pango_layout_set_wrap(layout, PANGO_WRAP_CHAR);
      pango_layout_set_text(layout, texts[static_cast<size_t>(r % kHistoryEntries)].c_str(), -1);
      pango_cairo_layout_path(cr, layout);
      cairo_set_source_rgb(cr, 0, 0, 0);
      cairo_set_line_width(cr, 2.0);
      cairo_stroke_preserve(cr);
      cairo_set_source_rgb(cr, 1, 1, 1);
      cairo_fill(cr);
      g_object_unref(layout);
      cairo_destroy(cr);
      cairo_surface_flush(surface);
      benchmark::DoNotOptimize(cairo_image_surface_get_data(surface));
      cairo_surface_destroy(surface);
    }
  };
  round();  // untimed, so that both sides start with their glyphs cached
  for (auto _ : state) round();
  state.counters["rows"] = rows;
  pango_font_description_free(desc);
  g_object_unref(pc);
  g_object_unref(map);
}

}  // namespace

BENCHMARK(BM_HistoryBeginAndScroll)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PangoCairoSameTexts)->Unit(benchmark::kMillisecond);
