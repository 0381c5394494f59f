// The effect module (dll/FX.so): the named shader effects the GPU renderer
// loads at run time. Each resource is a GLSL 3.30 fragment program for the
// renderer's common vertex stage (v_uv: the texture coordinate, v_colour:
// the vertex colour); its first line names the technique, and its uniforms
// are the effect's parameters.
//
//   "BICUBIC"             BiCubic             TexSize, TexDiffU (+ BlockMin, BlockMax)
//   "RASTER"              DrawRaster          offset, undulate_x, undulate_y (+ grid, block)
//   "RADIAL_BLUR"         DrawRadialBlur      g_TextureWidth, g_TextureHeight, offset_x, offset_y, level
//   "DRAW_PRIMITIVE_UP2D" DrawPrimitiveUP_2D  (g_Texture alone)
#include <cstring>

namespace {

const char kBicubic[] = R"(// technique: BiCubic
#version 330 core
// Catmull-Rom over the 4x4 texels around the sample, point-sampled and
// clamped to the block [BlockMin, BlockMax] (texel indices) that holds the
// picture, so its edges do not pull in what lies around it.
uniform sampler2D g_Texture;
uniform vec2 TexSize;
uniform float TexDiffU;
uniform vec2 BlockMin;
uniform vec2 BlockMax;
in vec2 v_uv;
in vec4 v_colour;
out vec4 o_colour;
vec4 weights(float t) {
  float t2 = t * t, t3 = t2 * t;
  return vec4(-0.5 * t3 + t2 - 0.5 * t,
              1.5 * t3 - 2.5 * t2 + 1.0,
              -1.5 * t3 + 2.0 * t2 + 0.5 * t,
              0.5 * t3 - 0.5 * t2);
}
void main() {
  vec2 p = v_uv * TexSize - 0.5;
  vec2 base = floor(p);
  vec2 f = p - base;
  vec4 wx = weights(f.x), wy = weights(f.y);
  vec4 sum = vec4(0.0);
  for (int j = 0; j < 4; ++j) {
    vec4 row = vec4(0.0);
    for (int i = 0; i < 4; ++i) {
      vec2 t = clamp(base + vec2(float(i - 1), float(j - 1)), BlockMin, BlockMax);
      row += wx[i] * texelFetch(g_Texture, ivec2(t), 0);
    }
    sum += wy[j] * row;
  }
  o_colour = vec4(clamp(sum.rgb, 0.0, 1.0), 1.0);
}
)";

const char kRaster[] = R"(// technique: DrawRaster
#version 330 core
// The raster wave: the same displacements the vertex grid gives its
// vertices (a grid over the whole texture, rows shifted sideways by the
// phase's sine, each vertex up and down by a running column counter),
// interpolated between the four vertices around each pixel as the grid's
// triangles do. Amplitudes in tenths of the half texture, as the grid takes
// them. What the wave pulls in from outside the picture's block stays
// transparent.
uniform sampler2D g_Texture;
uniform float offset;
uniform float undulate_x;
uniform float undulate_y;
uniform vec2 grid;   // vertices across and down
uniform vec4 block;  // the picture's block in texture coordinates (u0, v0, u1, v1)
in vec2 v_uv;
in vec4 v_colour;
out vec4 o_colour;
const float kTurn = 6.28318530718 / 512.0;
vec2 vertexShift(float i, float j, float cols, float rows) {
  float rowStep = floor(511.0 / rows), colStep = floor(511.0 / cols);
  float e = mod(floor(offset * 511.0) + (j + 1.0) * rowStep, 512.0);
  float a = mod(mod((j * cols + i + 1.0) * colStep, 65536.0), 512.0);
  return vec2(undulate_x * 0.1 * sin(e * kTurn) * 0.5, -undulate_y * 0.1 * sin(a * kTurn) * 0.5);
}
void main() {
  float cols = max(grid.x, 2.0), rows = max(grid.y, 2.0);
  vec2 cell = vec2(v_uv.x * (cols - 1.0), v_uv.y * (rows - 1.0));
  vec2 c0 = floor(cell), f = cell - c0;
  vec2 s00 = vertexShift(c0.x, c0.y, cols, rows), s10 = vertexShift(c0.x + 1.0, c0.y, cols, rows);
  vec2 s01 = vertexShift(c0.x, c0.y + 1.0, cols, rows), s11 = vertexShift(c0.x + 1.0, c0.y + 1.0, cols, rows);
  vec2 shift = mix(mix(s00, s10, f.x), mix(s01, s11, f.x), f.y);
  vec2 at = v_uv - shift;
  if (at.x < block.x || at.y < block.y || at.x > block.z || at.y > block.w) discard;
  vec4 c = texture(g_Texture, at) * v_colour;
  if (c.a < 0.5 / 255.0) discard;
  o_colour = c;
}
)";

const char kRadialBlur[] = R"(// technique: DrawRadialBlur
#version 330 core
// Radial blur about (offset_x, offset_y) in target pixels: taps along the
// line to the centre, as far as level (0: the picture unchanged).
uniform sampler2D g_Texture;
uniform float g_TextureWidth;
uniform float g_TextureHeight;
uniform float offset_x;
uniform float offset_y;
uniform float level;
in vec2 v_uv;
in vec4 v_colour;
out vec4 o_colour;
void main() {
  vec2 centre = vec2(offset_x / g_TextureWidth, offset_y / g_TextureHeight);
  vec2 d = (centre - v_uv) * level;
  vec4 sum = vec4(0.0);
  for (int k = 0; k < 16; ++k) sum += texture(g_Texture, v_uv + d * (float(k) / 16.0));
  vec4 c = (sum / 16.0) * v_colour;
  if (c.a < 0.5 / 255.0) discard;
  o_colour = c;
}
)";

const char kDraw[] = R"(// technique: DrawPrimitiveUP_2D
#version 330 core
uniform sampler2D g_Texture;
in vec2 v_uv;
in vec4 v_colour;
out vec4 o_colour;
void main() {
  vec4 c = texture(g_Texture, v_uv) * v_colour;
  if (c.a < 0.5 / 255.0) discard;
  o_colour = c;
}
)";

}  // namespace

// The resource of that name, or NULL.
extern "C" __attribute__((visibility("default"))) const char* FxResource(const char* name) {
  if (!name) return nullptr;
  if (std::strcmp(name, "BICUBIC") == 0) return kBicubic;
  if (std::strcmp(name, "RASTER") == 0) return kRaster;
  if (std::strcmp(name, "RADIAL_BLUR") == 0) return kRadialBlur;
  if (std::strcmp(name, "DRAW_PRIMITIVE_UP2D") == 0) return kDraw;
  return nullptr;
}
