// A message page of four lines (about 120 characters of kana, kanji and
// ASCII) in the Gothic face at 24 pixels, outline style, drawn into a
// 32-bit 720 x 120 surface: by the engine's text (KivFontDrawText) with the
// glyph cache cold (emptied before every page) and warm, and by Pango and
// Cairo drawing the same text with the same face into an ARGB surface of
// the same size, its outline stroked under the fill. Times in ms per page.
//
//   build/bench/text_bench
#include <benchmark/benchmark.h>
#include <cairo.h>
#include <pango/pangocairo.h>

#include <string>
#include <vector>

#include "kiv.h"
#include "platform/core/text_encoding.h"
#include "platform/font/font.h"

namespace {

constexpr int kW = 720, kH = 120;
const char* const kLines[4] = {
    "今日は朝から雨が降っていた。窓の外を眺めて、Aoiは息をついた。",
    "「ねえ、Ben。この手紙は届くと思う？」彼は頷いた。",
    "The letter was dated 1998-04-12.",
    "二人は傘を一本持って、駅までゆっくり歩き出した。",
};

std::string Utf8Page() {
  std::string s;
  for (int i = 0; i < 4; ++i) s += std::string(kLines[i]) + (i < 3 ? "\n" : "");
  return s;
}

void EngineSetup() {
  KivFontSetType(0);
  KivFontSetFontSize(24);
  KivFontSetEffect(1);
  KivFontSetColor(0xFFFFFF, 0x000000);
}

void BM_EngineCold(benchmark::State& state) {
  EngineSetup();
  const std::string page = plat::Utf8ToCp932(Utf8Page());
  std::vector<uint32_t> px(kW * kH);
  for (auto _ : state) {
    plat::FontCacheClear();
    std::fill(px.begin(), px.end(), 0u);
    KivFontDrawText(px.data(), page.c_str(), 0, 0, kW, kH);
    benchmark::DoNotOptimize(px.data());
  }
  state.counters["chars"] = 114;
}

void BM_EngineWarm(benchmark::State& state) {
  EngineSetup();
  const std::string page = plat::Utf8ToCp932(Utf8Page());
  std::vector<uint32_t> px(kW * kH);
  KivFontDrawText(px.data(), page.c_str(), 0, 0, kW, kH);
  for (auto _ : state) {
    std::fill(px.begin(), px.end(), 0u);
    KivFontDrawText(px.data(), page.c_str(), 0, 0, kW, kH);
    benchmark::DoNotOptimize(px.data());
  }
}

void PangoPage(PangoFontMap* map, cairo_surface_t* surface, const std::string& text, bool outline = true) {
  cairo_t* cr = cairo_create(surface);
  cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
  cairo_paint(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
  PangoContext* pc = pango_font_map_create_context(map);
  pango_cairo_update_context(cr, pc);
  PangoLayout* layout = pango_layout_new(pc);
  PangoFontDescription* desc = pango_font_description_from_string("IPAGothic");
  pango_font_description_set_absolute_size(desc, 24 * PANGO_SCALE);
  pango_layout_set_font_description(layout, desc);
  pango_layout_set_text(layout, text.c_str(), -1);
  if (outline) {
    pango_cairo_layout_path(cr, layout);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_set_line_width(cr, 2.0);
    cairo_stroke_preserve(cr);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_fill(cr);
  } else {
    cairo_set_source_rgb(cr, 1, 1, 1);
    pango_cairo_show_layout(cr, layout);
  }
  pango_font_description_free(desc);
  g_object_unref(layout);
  g_object_unref(pc);
  cairo_destroy(cr);
  cairo_surface_flush(surface);
}

void BM_PangoCairoCold(benchmark::State& state) {
  const std::string text = Utf8Page();
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kW, kH);
  for (auto _ : state) {
    PangoFontMap* map = pango_cairo_font_map_new();
    PangoPage(map, surface, text);
    g_object_unref(map);
  }
  cairo_surface_destroy(surface);
}

void BM_PangoCairoWarm(benchmark::State& state) {
  const std::string text = Utf8Page();
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kW, kH);
  PangoFontMap* map = pango_cairo_font_map_new();
  PangoPage(map, surface, text);
  for (auto _ : state) PangoPage(map, surface, text);
  g_object_unref(map);
  cairo_surface_destroy(surface);
}

// For reference: Pango's own glyph cache, plain fill without the outline.
void BM_PangoCairoWarmPlain(benchmark::State& state) {
  const std::string text = Utf8Page();
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kW, kH);
  PangoFontMap* map = pango_cairo_font_map_new();
  PangoPage(map, surface, text, false);
  for (auto _ : state) PangoPage(map, surface, text, false);
  g_object_unref(map);
  cairo_surface_destroy(surface);
}

}  // namespace

BENCHMARK(BM_EngineCold)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EngineWarm)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PangoCairoCold)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PangoCairoWarm)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PangoCairoWarmPlain)->Unit(benchmark::kMillisecond);
