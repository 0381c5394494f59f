// What the GPU renderer draws into its render target: sprite quads with
// position, scale, three rotations, colour and blend mode; the two-sprite
// cross-fade composite; the screen Fx; the effects from the effect module
// (raster wave, radial blur, plain draw) with a vertex-grid wave in place of
// the raster effect; the camera matrices.
//
// Sprites are placed by their world matrix C S Rx Ry Rz T (row vectors) and
// the camera's view, under an orthographic projection two units wide: the
// logical screen sits in the middle of the render target. GL maps pixel
// edges exactly, so no half-pixel shift is applied.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "platform/core/error.h"
#include "platform/core/module.h"
#include "platform/gpu/gpu_device.h"
#include "render/gpu_context.h"
#include "render/pixel_routines.h"

namespace gpu = plat::gpu;

namespace {

using Mat = float[16];

void Identity(float* m) {
  std::memset(m, 0, sizeof(float) * 16);
  m[0] = m[5] = m[10] = m[15] = 1.0f;
}

void Multiply(const float* a, const float* b, float* out) {
  float r[16];
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      float s = 0;
      for (int k = 0; k < 4; ++k) s += a[i * 4 + k] * b[k * 4 + j];
      r[i * 4 + j] = s;
    }
  std::memcpy(out, r, sizeof r);
}

void Translate(float* m, float x, float y, float z) {
  Identity(m);
  m[12] = x;
  m[13] = y;
  m[14] = z;
}

// Row-vector point transform; x and y of the result.
void Apply(const float* m, float x, float y, float* ox, float* oy) {
  *ox = x * m[0] + y * m[4] + m[12];
  *oy = x * m[1] + y * m[5] + m[13];
}

float Sin(int index) { return KivSineFloat()[index & 511]; }
float Cos(int index) { return KivSineFloat()[(index + 128) & 511]; }

std::string Technique(const char* source) {
  const char* tag = "// technique: ";
  if (!source || std::strncmp(source, tag, std::strlen(tag)) != 0) return std::string();
  const char* p = source + std::strlen(tag);
  const char* end = std::strchr(p, '\n');
  return std::string(p, end ? static_cast<size_t>(end - p) : std::strlen(p));
}

const char* kEffectVertex = R"(#version 330 core
in vec2 a_pos;
in vec4 a_colour;
in vec2 a_uv0;
in vec2 a_uv1;
uniform float u_flip;
out vec2 v_uv;
out vec4 v_colour;
void main() {
  gl_Position = vec4(a_pos.x, a_pos.y * u_flip, 0.0, 1.0);
  v_uv = a_uv0;
  v_colour = a_colour;
}
)";

void SetBlendForMode(Kiv3DContext* c, int mode) {
  gpu::Blend b = gpu::Blend::kKeep;
  switch (mode) {
    case 1: b = gpu::Blend::kAlpha; break;
    case 2: b = gpu::Blend::kAdd; break;
    case 3: b = gpu::Blend::kMultiply; break;
    case 4: b = gpu::Blend::kDestColour; break;
    default: return;  // 0 and above 4 keep the blend as it is
  }
  gpu::SetBlend(c->device, b);
}

gpu::Filter FilterFor(Kiv3DContext* c, float scale) {
  const int f = Kiv3DSpriteFilter(c->textureFilter, scale);
  if (f != 0) c->lastFilter = f;
  return c->lastFilter == 2 ? gpu::Filter::kLinear : gpu::Filter::kPoint;
}

// The four corners (strip order) of a sprite record in clip space.
bool SpriteQuad(Kiv3DContext* c, const Kiv3DSpriteRecord& r, gpu::Vertex v[4]) {
  const KivSoftSurfaceEntry* e = r.surface ? r.surface->entry : nullptr;
  if (!e || !e->buffer) return false;
  const float RW = static_cast<float>(c->rtWidth), RH = static_cast<float>(c->rtHeight);
  const float W = static_cast<float>(c->screenWidth), H = static_cast<float>(c->screenHeight);
  const float TW = static_cast<float>(e->buffer->width), TH = static_cast<float>(e->buffer->height);
  const float w = static_cast<float>(static_cast<int64_t>(r.rect.right) - r.rect.left);
  const float h = static_cast<float>(static_cast<int64_t>(r.rect.bottom) - r.rect.top);
  if (w <= 0 || h <= 0) return false;

  // Centre, scale and the turns work in pixels (y up) and only then become
  // clip units, so a turn keeps the sprite's shape on a render target that
  // is wider than it is high; on a square target this is C S Rx Ry Rz T.
  float world[16], m[16];
  Translate(world, static_cast<float>(r.centreX) / 2, -static_cast<float>(r.centreY) / 2, 0);
  Identity(m);
  m[0] = m[5] = r.scale;
  Multiply(world, m, world);
  const int ax = Kiv3DAngleIndex(r.rotX), ay = Kiv3DAngleIndex(r.rotY), az = Kiv3DAngleIndex(r.rotZ);
  Identity(m);  // Rx
  m[5] = Cos(ax), m[6] = Sin(ax), m[9] = -Sin(ax), m[10] = Cos(ax);
  Multiply(world, m, world);
  Identity(m);  // Ry
  m[0] = Cos(ay), m[2] = -Sin(ay), m[8] = Sin(ay), m[10] = Cos(ay);
  Multiply(world, m, world);
  Identity(m);  // Rz
  m[0] = Cos(az), m[1] = Sin(az), m[4] = -Sin(az), m[5] = Cos(az);
  Multiply(world, m, world);
  Identity(m);  // pixels to clip units
  m[0] = 2 / RW, m[5] = 2 / RH, m[10] = 2 / RW;
  Multiply(world, m, world);
  Translate(m, (2 * r.x + w + (RW - W)) / RW - 1, -((2 * r.y + h + (RH - H)) / RH - 1), 0);
  Multiply(world, m, world);
  Multiply(world, c->camera.view, world);

  const float cx[4] = {-w / 2, w / 2, -w / 2, w / 2}, cy[4] = {h / 2, h / 2, -h / 2, -h / 2};
  const float l = static_cast<float>(r.rect.left) / TW, t = static_cast<float>(r.rect.top) / TH;
  const float rr = (static_cast<float>(r.rect.left) + w) / TW, b = (static_cast<float>(r.rect.top) + h) / TH;
  const float us[4] = {l, rr, l, rr}, vs[4] = {t, t, b, b};
  for (int i = 0; i < 4; ++i) {
    float x, y;
    Apply(world, cx[i], cy[i], &x, &y);
    v[i] = gpu::Vertex{x, y, r.colour, us[i], vs[i], 0, 0};
  }
  return true;
}

// A quad over the screen block of the render target.
void ScreenBlockQuad(const Kiv3DContext* c, gpu::Vertex v[4]) {
  const float RW = static_cast<float>(c->rtWidth), RH = static_cast<float>(c->rtHeight);
  const float W = static_cast<float>(c->screenWidth), H = static_cast<float>(c->screenHeight);
  const float x = W / RW, y = H / RH;
  float u0 = static_cast<float>((c->rtWidth - c->screenWidth) >> 1) / RW, u1 = u0 + W / RW;
  float v0 = static_cast<float>((c->rtHeight - c->screenHeight) >> 1) / RH, v1 = v0 + H / RH;
  // GL samples texel centres exactly: no half-texel shift.
  const float px[4] = {-x, x, -x, x}, py[4] = {y, y, -y, -y};
  const float us[4] = {u0, u1, u0, u1}, vs[4] = {v0, v0, v1, v1};
  for (int i = 0; i < 4; ++i) v[i] = gpu::Vertex{px[i], py[i], 0xFFFFFFFFu, us[i], vs[i], us[i], vs[i]};
}

void DrawTexture(Kiv3DContext* c, uint32_t texture, const gpu::Vertex v[4], gpu::Filter f, bool alphaTest = true) {
  gpu::DrawCall call;
  call.texture0 = texture;
  call.filter = f;
  call.alphaTest = alphaTest;
  gpu::Draw(c->device, call, gpu::Primitive::kTriangleStrip, v, 4);
}

// The raster wave by the vertex grid: the texture into effect target 0, then
// the grid over the render target with it.
void GridWave(Kiv3DContext* c, uint32_t texture, const gpu::Vertex quad[4], const float* work, gpu::Filter f) {
  Kiv3DEffectSet& fx = c->fx;
  if (!fx.gridReady) {
    DrawTexture(c, texture, quad, f);  // no grid: the texture unchanged
    return;
  }
  const uint32_t back = c->renderTarget;
  gpu::BindTarget(c->device, c->effectTarget[0]);
  gpu::Clear(c->device, 0);
  gpu::SetBlend(c->device, gpu::Blend::kCopy);
  DrawTexture(c, texture, quad, f);
  gpu::BindTarget(c->device, back);
  gpu::SetBlend(c->device, gpu::Blend::kAlpha);
  std::vector<Kiv3DGridVertex>& pos = fx.gridPositions;
  Kiv3DGridPositions(fx.gridColumns, fx.gridRows, work[0], work[1], work[2], &pos);
  std::vector<gpu::Vertex>& v = fx.gridVertices;
  v.resize(pos.size());
  for (size_t i = 0; i < pos.size(); ++i)
    v[i] = gpu::Vertex{pos[i].x, pos[i].y, 0xFFFFFFFFu, pos[i].u, pos[i].v, 0, 0};
  gpu::DrawCall call;
  call.texture0 = gpu::TargetTexture(c->device, c->effectTarget[0]);
  call.filter = f;
  gpu::Draw(c->device, call, gpu::Primitive::kTriangles, v.data(), static_cast<int>(v.size()),
            fx.gridIndices.data(), static_cast<int>(fx.gridIndices.size()));
}

// Kind 0 plain, 1 raster, 2 radial blur; 0 when the kind's effect is missing
// (the raster always draws: by shader or by grid).
int FxDraw(Kiv3DContext* c, int kind, const gpu::Vertex quad[4], uint32_t texture, const float* work,
           gpu::Filter f) {
  Kiv3DEffectSet& fx = c->fx;
  gpu::DrawCall call;
  call.texture0 = texture;
  call.filter = f;
  if (kind == 0) {
    if (!(fx.available & kKiv3DFxDraw)) return 0;
    call.program = fx.draw;
  } else if (kind == 1) {
    if (!(fx.available & kKiv3DFxRaster)) {
      GridWave(c, texture, quad, work, f);
      return 1;
    }
    call.program = fx.raster;
    const float grid[2] = {static_cast<float>(fx.gridColumns), static_cast<float>(fx.gridRows)};
    gpu::ProgramSet(c->device, fx.raster, "offset", &work[0], 1);
    gpu::ProgramSet(c->device, fx.raster, "undulate_x", &work[1], 1);
    gpu::ProgramSet(c->device, fx.raster, "undulate_y", &work[2], 1);
    gpu::ProgramSet(c->device, fx.raster, "grid", grid, 2);
    // The texture's picture: the quad's texture rectangle.
    const float block[4] = {std::min(quad[0].u0, quad[3].u0), std::min(quad[0].v0, quad[3].v0),
                            std::max(quad[0].u0, quad[3].u0), std::max(quad[0].v0, quad[3].v0)};
    gpu::ProgramSet(c->device, fx.raster, "block", block, 4);
  } else if (kind == 2) {
    if (!(fx.available & kKiv3DFxRadialBlur)) return 0;
    call.program = fx.radialBlur;
    gpu::ProgramSet(c->device, fx.radialBlur, "offset_x", &work[0], 1);
    gpu::ProgramSet(c->device, fx.radialBlur, "offset_y", &work[1], 1);
    gpu::ProgramSet(c->device, fx.radialBlur, "level", &work[2], 1);
  } else {
    return 0;
  }
  gpu::Draw(c->device, call, gpu::Primitive::kTriangleStrip, quad, 4);
  return 1;
}

// A quad over the whole render target, its texture's whole face.
void WholeTargetQuad(gpu::Vertex v[4]) {
  for (int i = 0; i < 4; ++i)
    v[i] = gpu::Vertex{i & 1 ? 1.0f : -1.0f, i < 2 ? 1.0f : -1.0f, 0xFFFFFFFFu, i & 1 ? 1.0f : 0.0f,
                       i < 2 ? 0.0f : 1.0f, 0, 0};
}

// The raster wave on one sprite: the sprite alone into effect target 0,
// then that target waved over the whole render target (by the RASTER
// effect, else by the grid) with the sprite's blend, so a sprite waves as
// the screen does, by amplitudes of the render target whatever the
// sprite's own size.
void SpriteWave(Kiv3DContext* c, uint32_t texture, const gpu::Vertex quad[4], const float* work, gpu::Filter f,
                int renderMode) {
  Kiv3DEffectSet& fx = c->fx;
  const uint32_t back = c->renderTarget;
  gpu::BindTarget(c->device, c->effectTarget[0]);
  gpu::Clear(c->device, 0);
  gpu::SetBlend(c->device, gpu::Blend::kCopy);
  DrawTexture(c, texture, quad, f);
  gpu::BindTarget(c->device, back);
  if (renderMode >= 1 && renderMode <= 4) SetBlendForMode(c, renderMode);
  else gpu::SetBlend(c->device, gpu::Blend::kAlpha);
  const uint32_t waved = gpu::TargetTexture(c->device, c->effectTarget[0]);
  if (!(fx.available & kKiv3DFxRaster)) {
    if (!fx.gridReady) {
      gpu::Vertex whole[4];
      WholeTargetQuad(whole);
      DrawTexture(c, waved, whole, gpu::Filter::kPoint);  // no grid: the sprite unchanged
      return;
    }
    std::vector<Kiv3DGridVertex>& pos = fx.gridPositions;
    Kiv3DGridPositions(fx.gridColumns, fx.gridRows, work[0], work[1], work[2], &pos);
    std::vector<gpu::Vertex>& v = fx.gridVertices;
    v.resize(pos.size());
    for (size_t i = 0; i < pos.size(); ++i)
      v[i] = gpu::Vertex{pos[i].x, pos[i].y, 0xFFFFFFFFu, pos[i].u, pos[i].v, 0, 0};
    gpu::DrawCall call;
    call.texture0 = waved;
    call.filter = gpu::Filter::kPoint;
    gpu::Draw(c->device, call, gpu::Primitive::kTriangles, v.data(), static_cast<int>(v.size()),
              fx.gridIndices.data(), static_cast<int>(fx.gridIndices.size()));
    return;
  }
  gpu::Vertex whole[4];
  WholeTargetQuad(whole);
  FxDraw(c, 1, whole, waved, work, gpu::Filter::kPoint);
}

}  // namespace

// ---- Effect module ----

KivFxModule::KivFxModule() {
  // dll/FX.so beside the program, else by the bare name.
  std::string folder = g_kiv ? std::string(g_kiv->baseFolder) : plat::FolderOf(plat::ModuleFileName(nullptr));
  lib_ = plat::LoadLibrary(folder + "/dll/FX.so");
  if (!lib_) lib_ = plat::LoadLibrary("FX.so");
  if (!lib_) return;
  resource_ = reinterpret_cast<ResourceFn>(plat::LibrarySymbol(lib_, "FxResource"));
}

KivFxModule::~KivFxModule() {
  if (lib_) plat::FreeLibrary(lib_);
}

const char* KivFxModule::Resource(const char* name) const { return resource_ ? resource_(name) : nullptr; }

uint32_t Kiv3DEffectProgram(Kiv3DContext* c, const KivFxModule& module, const char* name, const char* technique) {
  const char* source = module.Resource(name);
  if (!source || Technique(source) != technique) return 0;
  std::string log;
  uint32_t p = gpu::ProgramCreate(c->device, kEffectVertex, source, &log);
  if (!p) plat::DebugOutput(log.c_str());
  return p;
}

// ---- Small rules ----

int Kiv3DAngleIndex(float angle) {
  // Saturating truncation first: a NaN or huge angle must not index past the table.
  return KivTruncToInt(static_cast<double>(angle)) & 511;
}

int Kiv3DSpriteFilter(int textureFilter, float scale) {
  switch (textureFilter) {
    case 0:
    case 1: return 1;
    case 2: return scale == 1.0f ? 1 : 2;
    default: return 0;
  }
}

void Kiv3DGridSize(int rtWidth, int rtHeight, int* columns, int* rows) {
  KivRasterGridSize(rtWidth, rtHeight, columns, rows);
}

void Kiv3DGridPositions(int columns, int rows, float phase, float ampX, float ampY,
                        std::vector<Kiv3DGridVertex>* out) {
  out->assign(static_cast<size_t>(columns) * rows, Kiv3DGridVertex{});
  if (columns < 2 || rows < 2) return;
  const float ax = ampX * 0.1f, ay = ampY * 0.1f;
  int e = KivTruncToInt(static_cast<double>(phase) * 511.0);
  const int rowStep = 511 / rows, colStep = 511 / columns;
  uint16_t angle = 0;  // one running 16-bit counter over all vertices
  const float* T = KivSineFloat();
  const int cellsX = columns - 1, cellsY = rows - 1;
  for (int j = 0; j < rows; ++j) {
    e += rowStep;
    const float dx = ax * T[static_cast<unsigned>(e) & 511];
    const float y0 = 1.0f - 2.0f * static_cast<float>(j) / static_cast<float>(rows - 1);
    for (int i = 0; i < columns; ++i) {
      angle = static_cast<uint16_t>(angle + colStep);
      const float dy = ay * T[angle & 511];
      Kiv3DGridVertex& v = (*out)[static_cast<size_t>(j) * columns + i];
      v.x = 2.0f * static_cast<float>(i) / static_cast<float>(columns - 1) - 1.0f + dx;
      v.y = y0 + dy;
      v.u = (static_cast<float>(i) + 0.005f) / static_cast<float>(cellsX);
      v.v = (static_cast<float>(j) + 0.005f) / static_cast<float>(cellsY);
    }
  }
}

void Kiv3DShaderFlags(int major, int minor, uint32_t* vertexFlags, uint32_t* pixelFlags) {
  const int v = major * 10 + minor;
  // GL 3.3 core offers at least what shader model 3 did.
  *vertexFlags = v >= 20 ? 1u : 0u;
  uint32_t p = 0;
  if (v >= 20) p |= 0x1 | 0x2 | 0x4 | 0x8 | 0x10;
  if (v >= 30) p |= 0x80;
  if (v >= 33) p |= 0x100;
  if (v >= 40) p |= 0x200;
  *pixelFlags = p;
}

// ---- Camera ----

int Kiv3DSetPerspective(Kiv3DContext* c, float fov, float aspect, float nearZ, float farZ) {
  // Refused (the last settings stay) where the projection would divide by zero.
  const float s = std::sin(fov / 2);
  if (!(std::isfinite(fov) && std::isfinite(aspect) && std::isfinite(nearZ) && std::isfinite(farZ)) || s == 0 ||
      aspect == 0 || farZ == nearZ)
    return 0;
  Kiv3DCamera& cam = c->camera;
  cam.fov = fov;
  cam.aspect = aspect;
  cam.nearZ = nearZ;
  cam.farZ = farZ;
  return 1;
}

int Kiv3DCameraUpdate(Kiv3DContext* c, const float up[3], const float at[3], const float eye[3]) {
  float z[3] = {at[0] - eye[0], at[1] - eye[1], at[2] - eye[2]};
  const float zl = std::sqrt(z[0] * z[0] + z[1] * z[1] + z[2] * z[2]);
  if (!(zl > 0) || !std::isfinite(zl)) return 0;  // eye at the target: refused
  for (float& v : z) v /= zl;
  float x[3] = {up[1] * z[2] - up[2] * z[1], up[2] * z[0] - up[0] * z[2], up[0] * z[1] - up[1] * z[0]};
  const float xl = std::sqrt(x[0] * x[0] + x[1] * x[1] + x[2] * x[2]);
  if (!(xl > 0) || !std::isfinite(xl)) return 0;  // up along the view: refused
  for (float& v : x) v /= xl;
  const float y[3] = {z[1] * x[2] - z[2] * x[1], z[2] * x[0] - z[0] * x[2], z[0] * x[1] - z[1] * x[0]};
  Kiv3DCamera& cam = c->camera;
  std::memcpy(cam.up, up, sizeof cam.up);
  std::memcpy(cam.at, at, sizeof cam.at);
  std::memcpy(cam.eye, eye, sizeof cam.eye);
  float* m = cam.view;
  Identity(m);
  for (int i = 0; i < 3; ++i) {
    m[i * 4 + 0] = x[i];
    m[i * 4 + 1] = y[i];
    m[i * 4 + 2] = z[i];
  }
  m[12] = -(x[0] * eye[0] + x[1] * eye[1] + x[2] * eye[2]);
  m[13] = -(y[0] * eye[0] + y[1] * eye[1] + y[2] * eye[2]);
  m[14] = -(z[0] * eye[0] + z[1] * eye[1] + z[2] * eye[2]);
  return 1;
}

// ---- Effect resources ----

int Kiv3DCreateEffectResources(Kiv3DContext* c) {
  Kiv3DReleaseDefaultPool(c);
  Kiv3DEffectSet& fx = c->fx;
  const KivFxModule module;  // opened once for the probe and every program
  if (!module.Resource("DRAW_PRIMITIVE_UP2D") && !module.Resource("RASTER")) {
    plat::DebugOutput("Load Library Error : FX.dll \n");
    return 0;
  }
  const gpu::Info& info = gpu::GetInfo(c->device);
  Kiv3DShaderFlags(info.major, info.minor, &fx.vertexShaderFlags, &fx.pixelShaderFlags);
  if (c->overrideFlags) {
    fx.vertexShaderFlags = c->vertexFlags;
    fx.pixelShaderFlags = c->pixelFlags;
  }
  // The grid: two triangles per 16-pixel cell, 32-bit indices.
  Kiv3DGridSize(c->rtWidth, c->rtHeight, &fx.gridColumns, &fx.gridRows);
  fx.gridIndices.clear();
  for (int j = 0; j + 1 < fx.gridRows; ++j)
    for (int i = 0; i + 1 < fx.gridColumns; ++i) {
      const uint32_t a = static_cast<uint32_t>(j * fx.gridColumns + i), b = a + 1,
                     d = a + static_cast<uint32_t>(fx.gridColumns), e = d + 1;
      fx.gridIndices.insert(fx.gridIndices.end(), {a, b, d, b, e, d});
    }
  fx.gridReady = true;
  if (c->setup.options & 0x4) {
    if ((fx.vertexShaderFlags & 1) && (fx.pixelShaderFlags & 1)) {
      fx.draw = Kiv3DEffectProgram(c, module, "DRAW_PRIMITIVE_UP2D", "DrawPrimitiveUP_2D");
      if (fx.draw) fx.available |= kKiv3DFxDraw;
      else plat::DebugOutput("Load Effect Error : QOV3D_EFFECT_TYPE_DRAW");
    }
    if (fx.pixelShaderFlags & 0x10) {
      fx.raster = Kiv3DEffectProgram(c, module, "RASTER", "DrawRaster");
      if (fx.raster) fx.available |= kKiv3DFxRaster;
      else plat::DebugOutput("Load Effect Error : QOV3D_EFFECT_TYPE_RASTER");
    }
    if ((fx.vertexShaderFlags & 1) && (fx.pixelShaderFlags & 0x10)) {
      fx.radialBlur = Kiv3DEffectProgram(c, module, "RADIAL_BLUR", "DrawRadialBlur");
      if (fx.radialBlur) {
        fx.available |= kKiv3DFxRadialBlur;
        // The render target's size does not change: set once.
        const float rw = static_cast<float>(c->rtWidth), rh = static_cast<float>(c->rtHeight);
        gpu::ProgramSet(c->device, fx.radialBlur, "g_TextureWidth", &rw, 1);
        gpu::ProgramSet(c->device, fx.radialBlur, "g_TextureHeight", &rh, 1);
      } else plat::DebugOutput("Load Effect Error : QOV3D_EFFECT_TYPE_RADIAL_BLUE");
    }
  }
  return 0;
}

void Kiv3DReleaseDefaultPool(Kiv3DContext* c) {
  Kiv3DEffectSet& fx = c->fx;
  for (uint32_t* p : {&fx.draw, &fx.raster, &fx.radialBlur}) {
    if (*p && gpu::CurrentHere(c->device)) gpu::ProgramDelete(c->device, *p);
    *p = 0;
  }
  fx = Kiv3DEffectSet{};
}

// ---- Drawing ----

int Kiv3DSpriteDraw(Kiv3DContext* c, Kiv3DSpriteRecord* r) {
  if (!c || !r || !r->surface) return 0;
  gpu::Vertex v[4];
  if (!SpriteQuad(c, *r, v)) return 1;
  const uint32_t texture = Kiv3DTextureOf(c, r->surface->entry);
  if (!texture) return 1;
  SetBlendForMode(c, r->renderMode);
  const gpu::Filter f = FilterFor(c, r->scale);
  if (r->fx && r->fx->work && r->fx->kind == 1) SpriteWave(c, texture, v, r->fx->work, f, r->renderMode);
  else if (r->fx && r->fx->work) FxDraw(c, r->fx->kind, v, texture, r->fx->work, f);
  else DrawTexture(c, texture, v, f);
  if (r->renderMode != 1) {
    gpu::SetBlend(c->device, gpu::Blend::kAlpha);
  }
  return 1;
}

void Kiv3DSetCopyBlend(Kiv3DContext* c) {
  gpu::SetBlend(c->device, gpu::Blend::kCopy);
}

void Kiv3DTransitionDraw(Kiv3DContext* c, Kiv3DSpriteRecord records[2]) {
  Kiv3DSpriteRecord& from = records[0];
  Kiv3DSpriteRecord& to = records[1];
  if (!from.surface || !to.surface) {
    if (from.surface) Kiv3DSpriteDraw(c, &from);
    if (to.surface) Kiv3DSpriteDraw(c, &to);
    return;
  }
  gpu::Vertex vf[4], vt[4], block[4];
  if (!SpriteQuad(c, from, vf) || !SpriteQuad(c, to, vt)) return;
  const uint32_t tf = Kiv3DTextureOf(c, from.surface->entry), tt = Kiv3DTextureOf(c, to.surface->entry);
  if (!tf || !tt) return;
  ScreenBlockQuad(c, block);
  const uint32_t rtTexture = gpu::TargetTexture(c->device, c->renderTarget);
  // The to sprite alone, over transparent black.
  gpu::BindTarget(c->device, c->effectTarget[1]);
  gpu::Clear(c->device, 0);
  gpu::SetBlend(c->device, gpu::Blend::kCopy);
  DrawTexture(c, tt, vt, FilterFor(c, to.scale));
  // The from sprite over the frame's colours with alpha 0.
  gpu::BindTarget(c->device, c->effectTarget[0]);
  gpu::Clear(c->device, 0);
  gpu::Vertex colours[4];
  std::copy(block, block + 4, colours);
  for (gpu::Vertex& v : colours) v.colour = 0x00FFFFFFu;
  DrawTexture(c, rtTexture, colours, gpu::Filter::kPoint, false);
  DrawTexture(c, tf, vf, FilterFor(c, from.scale));
  // Both over the render target.
  gpu::BindTarget(c->device, c->renderTarget);
  gpu::SetBlend(c->device, gpu::Blend::kAlpha);
  const bool fromAlpha = (from.colour >> 24) != 0, toAlpha = (to.colour >> 24) != 0;
  gpu::DrawCall call;
  call.filter = gpu::Filter::kPoint;
  if (fromAlpha && toAlpha) {
    call.texture0 = gpu::TargetTexture(c->device, c->effectTarget[0]);
    call.texture1 = gpu::TargetTexture(c->device, c->effectTarget[1]);
    call.combine = gpu::Combine::kComposite;
  } else {
    call.texture0 = gpu::TargetTexture(c->device, c->effectTarget[toAlpha ? 1 : 0]);
  }
  gpu::Draw(c->device, call, gpu::Primitive::kTriangleStrip, block, 4);
}

void Kiv3DSpriteFxDraw(Kiv3DContext* c, int kind, const float* work) {
  if (!c || !work) return;
  gpu::Vertex block[4];
  ScreenBlockQuad(c, block);
  const uint32_t rtTexture = gpu::TargetTexture(c->device, c->renderTarget);
  if (kind == 1 && !(c->fx.available & kKiv3DFxRaster)) {
    // The grid copies the frame into effect target 0 and waves it back over
    // the frame (places the wave leaves keep their pixels).
    GridWave(c, rtTexture, block, work, gpu::Filter::kPoint);
    return;
  }
  gpu::BindTarget(c->device, c->effectTarget[0]);
  gpu::Clear(c->device, 0);
  gpu::SetBlend(c->device, gpu::Blend::kCopy);
  const uint32_t back = c->renderTarget;
  if (!FxDraw(c, kind, block, rtTexture, work, gpu::Filter::kPoint)) {
    // The grid draws into the render target; here it must go to effect target 0.
    gpu::DrawCall call;
    call.texture0 = rtTexture;
    gpu::Draw(c->device, call, gpu::Primitive::kTriangleStrip, block, 4);
  }
  gpu::BindTarget(c->device, back);
  gpu::SetBlend(c->device, gpu::Blend::kAlpha);
  DrawTexture(c, gpu::TargetTexture(c->device, c->effectTarget[0]), block, gpu::Filter::kPoint);
}
