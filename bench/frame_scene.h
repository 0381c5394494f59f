// The typical 1280 x 720 frame the render benchmarks draw: an opaque
// background, three alpha characters of about 600 x 700 and a 1280 x 240
// message panel with alpha, loaded as sprites into a render list.
#pragma once

#include <cstdint>
#include <vector>

#include "image_encoder.h"
#include "sprite/sprite.h"
#include "task/render_list.h"

namespace frame_scene {

constexpr int kW = 1280, kH = 720;

struct Layer {
  kivtools::Image image;
  int x, y;
};

inline std::vector<Layer> MakeLayers() {
  std::vector<Layer> layers;
  kivtools::Image bg = kivtools::MakeTestPicture(kW, kH, 1);
  for (auto& p : bg.pixels) p |= 0xFF000000u;
  layers.push_back({bg, 0, 0});
  for (int i = 0; i < 3; ++i) layers.push_back({kivtools::MakeTestPicture(600, 700, 10 + i), 40 + i * 320, 20});
  kivtools::Image panel = kivtools::MakeTestPicture(kW, 240, 20);
  for (auto& p : panel.pixels) p = (p & 0x00FFFFFFu) | 0xB0000000u;
  layers.push_back({panel, 0, 480});
  return layers;
}

// Every layer as a sprite of the list, the background lowest (priority 100
// down), at its place; the sprites in layer order.
inline std::vector<KivSprite*> LoadLayers(KivRenderList* list) {
  std::vector<KivSprite*> sprites;
  int priority = 100;
  for (const Layer& l : MakeLayers()) {
    kivtools::GeOptions o;
    o.method = 1;
    std::vector<uint8_t> ge = kivtools::EncodeGe(l.image, o);
    KivSprite* s = KivSpriteLoadMemory(list, "layer", ge.data(), static_cast<int>(ge.size()), priority--);
    KivSpriteSetPos(s, static_cast<float>(l.x), static_cast<float>(l.y));
    sprites.push_back(s);
  }
  return sprites;
}

}  // namespace frame_scene
