#include "Tool/tool_report.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <iterator>
#include <system_error>

#include "platform/core/file.h"
#include "platform/gpu/gpu_device.h"
#include "platform/core/text_encoding.h"
#include "platform/core/version_info.h"
#include "Tool/tool_pages.h"

namespace {

std::atomic<bool> g_fail_next_start{false};

std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* fmt, ...) {
  va_list a;
  va_start(a, fmt);
  va_list b;
  va_copy(b, a);
  int n = std::vsnprintf(nullptr, 0, fmt, a);
  va_end(a);
  std::string out(n > 0 ? static_cast<size_t>(n) : 0, '\0');
  if (n > 0) std::vsnprintf(out.data(), out.size() + 1, fmt, b);
  va_end(b);
  return out;
}

std::string FileVersionOf(const std::string& file) {
  uint32_t size = plat::VersionInfoSize(file);
  std::vector<char> block, translation, value;
  if (size == 0 || !plat::VersionInfoGet(file, size, &block)) return "?";
  char prefix[64] = "\\StringFileInfo\\041103a4\\";
  if (plat::VersionQueryValue(block, "\\VarFileInfo\\Translation", &translation) && translation.size() >= 4) {
    unsigned lang = static_cast<unsigned char>(translation[0]) | static_cast<unsigned char>(translation[1]) << 8;
    unsigned cp = static_cast<unsigned char>(translation[2]) | static_cast<unsigned char>(translation[3]) << 8;
    std::snprintf(prefix, sizeof prefix, "\\StringFileInfo\\%04x%04x\\", lang, cp);
  }
  if (!plat::VersionQueryValue(block, std::string(prefix) + "FileVersion", &value) || value.empty() || !value[0])
    return "?";
  return plat::Cp932ToUtf8(value.data());
}

}  // namespace

std::string report_os_name(const plat::OsInfo& os) {
  if (!os.ok) return "?";
  std::string name = os.pretty_name.empty() ? std::string("Linux") : os.pretty_name;
  return name + " (" + " " + (os.kernel.empty() ? "?" : os.kernel) + " " + (os.release.empty() ? "?" : os.release) +
         " " + (os.machine.empty() ? "?" : os.machine) + " " + " )";
}

void directx_version_probe(const ReportContext& ctx, std::string* tool, std::string* game) {
  *tool = FileVersionOf(ctx.tool_file);
  *game = FileVersionOf(ctx.game_file);
}

std::string report_graphics_version_row(const plat::RendererInfo& r) {
  if (!r.has_context) return std::string("OpenGL ") + kReportUnavailable;
  return Format("OpenGL %d.%d ( ", r.gl_major, r.gl_minor) + r.version + " )";
}

plat::CpuInfo cpu_features_probe() { return plat::MachineCpu(); }

bool report_environment(const ReportContext& ctx, const ReportEmit& emit) {
  if (!emit("[環境]")) return false;
  if (!emit("AppPath\t\t\t" + ctx.tool_folder)) return false;
  if (!emit("SaveFoldPath\t" + ctx.save_folder)) return false;
  if (!emit("")) return false;
  if (!emit(report_os_name(plat::MachineOs()))) return false;
  // The graphics runtime's version: the GL the renderer offers.
  if (!emit(report_graphics_version_row(plat::MachineRenderer(0)))) return false;
  plat::DiskInfo disk = plat::MachineDisk(ctx.tool_folder);
  if (!emit(disk.ok && disk.total_bytes > 0
                ? Format("HDD %" PRIu64 " / %" PRIu64 " GB", disk.free_bytes >> 30, disk.total_bytes >> 30)
                : std::string("HDD ? / ? GB")))
    return false;
  plat::MemoryInfo mem = plat::MachineMemory();
  std::string memory_row = "Memory ? / ? MB [ ?% ]";
  if (mem.ok && mem.total_bytes > 0 && mem.available_bytes <= mem.total_bytes) {
    uint64_t used = mem.total_bytes - mem.available_bytes;
    memory_row = Format("Memory %" PRIu64 " / %" PRIu64 " MB [ %d%% ]", used >> 20, mem.total_bytes >> 20,
                        static_cast<int>(used * 100 / mem.total_bytes));
  }
  if (!emit(memory_row)) return false;
  plat::CpuInfo cpu = cpu_features_probe();
  if (!emit("CPU\t\t: " + (cpu.name.empty() ? std::string("?") : cpu.name))) return false;
  if (!emit(cpu.cores > 0 ? Format("Cores\t: %d", cpu.cores) : std::string("Cores\t: ?"))) return false;
  if (!emit(Format("MMX\t\t: %d", cpu.mmx ? 1 : 0))) return false;
  if (!emit(Format("SSE\t\t: %d", cpu.sse ? 1 : 0))) return false;
  if (!emit(Format("SSE2\t: %d", cpu.sse2 ? 1 : 0))) return false;
  if (!emit(Format("AVX\t\t: %d", cpu.avx ? 1 : 0))) return false;
  if (!emit(Format("AVX2\t: %d", cpu.avx2 ? 1 : 0))) return false;
  return emit("");
}

namespace {

// The renderer's capability record, member by member in the order the
// report has always listed it. A flag word has its flags' rows; a value
// row names, where there is one, the GL limit it now shows; a member this
// platform has nothing for keeps its row with kReportUnavailable.
enum class CapKind { kFlags, kInt, kFloat, kVertexShader, kPixelShader };
struct CapRow {
  CapKind kind;
  const char* name;
  const char* gl = nullptr;  // the GL limit shown in its place
  std::vector<const char*> flags = {};
};

#define TF(p) p "MAGFPOINT", p "MAGFLINEAR", p "MAGFANISOTROPIC", p "MAGFPYRAMIDALQUAD", p "MAGFGAUSSIANQUAD", \
  p "MINFPOINT", p "MINFLINEAR", p "MINFANISOTROPIC", p "MINFPYRAMIDALQUAD", p "MINFGAUSSIANQUAD", p "MIPFPOINT",  \
  p "MIPFLINEAR"
#define CMP(p) p "NEVER", p "LESS", p "EQUAL", p "LESSEQUAL", p "GREATER", p "NOTEQUAL", p "GREATEREQUAL", p "ALWAYS"
#define BLEND(p) p "ZERO", p "ONE", p "SRCCOLOR", p "INVSRCCOLOR", p "SRCALPHA", p "INVSRCALPHA", p "DESTALPHA", \
  p "INVDESTALPHA", p "DESTCOLOR", p "INVDESTCOLOR", p "SRCALPHASAT", p "BOTHSRCALPHA", p "BOTHINVSRCALPHA",     \
  p "BLENDFACTOR"
#define ADDR(p) p "WRAP", p "MIRROR", p "CLAMP", p "BORDER", p "INDEPENDENTUV", p "MIRRORONCE"

const std::vector<CapRow>& CapRows() {
  static const std::vector<CapRow> rows = {
      {CapKind::kFlags, "Caps", nullptr, {"D3DCAPS_READ_SCANLINE"}},
      {CapKind::kFlags, "Caps2", nullptr,
       {"D3DCAPS2_CANAUTOGENMIPMAP", "D3DCAPS2_CANCALIBRATEGAMMA", "D3DCAPS2_CANMANAGERESOURCE",
        "D3DCAPS2_DYNAMICTEXTURES", "D3DCAPS2_FULLSCREENGAMMA"}},
      {CapKind::kFlags, "Caps3", nullptr,
       {"D3DCAPS3_ALPHA_FULLSCREEN_FLIP_OR_DISCARD", "D3DCAPS3_COPY_TO_VIDMEM", "D3DCAPS3_COPY_TO_SYSTEMMEM",
        "D3DCAPS3_LINEAR_TO_SRGB_PRESENTATION"}},
      {CapKind::kFlags, "PresentationIntervals", nullptr,
       {"D3DPRESENT_INTERVAL_IMMEDIATE", "D3DPRESENT_INTERVAL_ONE", "D3DPRESENT_INTERVAL_TWO",
        "D3DPRESENT_INTERVAL_THREE", "D3DPRESENT_INTERVAL_FOUR"}},
      {CapKind::kFlags, "CursorCaps", nullptr, {"D3DCURSORCAPS_COLOR", "D3DCURSORCAPS_LOWRES"}},
      {CapKind::kFlags, "DevCaps", nullptr,
       {"D3DDEVCAPS_CANBLTSYSTONONLOCAL", "D3DDEVCAPS_CANRENDERAFTERFLIP", "D3DDEVCAPS_DRAWPRIMITIVES2",
        "D3DDEVCAPS_DRAWPRIMITIVES2EX", "D3DDEVCAPS_DRAWPRIMTLVERTEX", "D3DDEVCAPS_EXECUTESYSTEMMEMORY",
        "D3DDEVCAPS_EXECUTEVIDEOMEMORY", "D3DDEVCAPS_HWRASTERIZATION", "D3DDEVCAPS_HWTRANSFORMANDLIGHT",
        "D3DDEVCAPS_NPATCHES", "D3DDEVCAPS_PUREDEVICE", "D3DDEVCAPS_QUINTICRTPATCHES", "D3DDEVCAPS_RTPATCHES",
        "D3DDEVCAPS_RTPATCHHANDLEZERO", "D3DDEVCAPS_SEPARATETEXTUREMEMORIES", "D3DDEVCAPS_TEXTURENONLOCALVIDMEM",
        "D3DDEVCAPS_TEXTURESYSTEMMEMORY", "D3DDEVCAPS_TEXTUREVIDEOMEMORY", "D3DDEVCAPS_TLVERTEXSYSTEMMEMORY",
        "D3DDEVCAPS_TLVERTEXVIDEOMEMORY"}},
      {CapKind::kFlags, "PrimitiveMiscCaps", nullptr,
       {"D3DPMISCCAPS_MASKZ", "D3DPMISCCAPS_CULLNONE", "D3DPMISCCAPS_CULLCW", "D3DPMISCCAPS_CULLCCW",
        "D3DPMISCCAPS_COLORWRITEENABLE", "D3DPMISCCAPS_CLIPPLANESCALEDPOINTS", "D3DPMISCCAPS_CLIPTLVERTS",
        "D3DPMISCCAPS_TSSARGTEMP", "D3DPMISCCAPS_BLENDOP", "D3DPMISCCAPS_NULLREFERENCE",
        "D3DPMISCCAPS_INDEPENDENTWRITEMASKS", "D3DPMISCCAPS_PERSTAGECONSTANT", "D3DPMISCCAPS_FOGANDSPECULARALPHA",
        "D3DPMISCCAPS_SEPARATEALPHABLEND", "D3DPMISCCAPS_MRTINDEPENDENTBITDEPTHS",
        "D3DPMISCCAPS_MRTPOSTPIXELSHADERBLENDING", "D3DPMISCCAPS_FOGVERTEXCLAMPED"}},
      {CapKind::kFlags, "RasterCaps", nullptr,
       {"D3DPRASTERCAPS_DITHER", "D3DPRASTERCAPS_ZTEST", "D3DPRASTERCAPS_FOGVERTEX", "D3DPRASTERCAPS_FOGTABLE",
        "D3DPRASTERCAPS_MIPMAPLODBIAS", "D3DPRASTERCAPS_ZBUFFERLESSHSR", "D3DPRASTERCAPS_FOGRANGE",
        "D3DPRASTERCAPS_ANISOTROPY", "D3DPRASTERCAPS_WBUFFER", "D3DPRASTERCAPS_WFOG", "D3DPRASTERCAPS_ZFOG",
        "D3DPRASTERCAPS_COLORPERSPECTIVE", "D3DPRASTERCAPS_SCISSORTEST", "D3DPRASTERCAPS_SLOPESCALEDEPTHBIAS",
        "D3DPRASTERCAPS_DEPTHBIAS", "D3DPRASTERCAPS_MULTISAMPLE_TOGGLE"}},
      {CapKind::kFlags, "ZCmpCaps", nullptr, {CMP("D3DPCMPCAPS_")}},
      {CapKind::kFlags, "SrcBlendCaps", nullptr, {BLEND("D3DPBLENDCAPS_")}},
      {CapKind::kFlags, "DestBlendCaps", nullptr, {BLEND("D3DPBLENDCAPS_")}},
      {CapKind::kFlags, "AlphaCmpCaps", nullptr, {CMP("D3DPCMPCAPS_")}},
      {CapKind::kFlags, "ShadeCaps", nullptr,
       {"D3DPSHADECAPS_COLORGOURAUDRGB", "D3DPSHADECAPS_SPECULARGOURAUDRGB", "D3DPSHADECAPS_ALPHAGOURAUDBLEND",
        "D3DPSHADECAPS_FOGGOURAUD"}},
      {CapKind::kFlags, "TextureCaps", nullptr,
       {"D3DPTEXTURECAPS_PERSPECTIVE", "D3DPTEXTURECAPS_POW2", "D3DPTEXTURECAPS_ALPHA",
        "D3DPTEXTURECAPS_SQUAREONLY", "D3DPTEXTURECAPS_TEXREPEATNOTSCALEDBYSIZE", "D3DPTEXTURECAPS_ALPHAPALETTE",
        "D3DPTEXTURECAPS_NONPOW2CONDITIONAL", "D3DPTEXTURECAPS_PROJECTED", "D3DPTEXTURECAPS_CUBEMAP",
        "D3DPTEXTURECAPS_VOLUMEMAP", "D3DPTEXTURECAPS_MIPMAP", "D3DPTEXTURECAPS_MIPVOLUMEMAP",
        "D3DPTEXTURECAPS_MIPCUBEMAP", "D3DPTEXTURECAPS_CUBEMAP_POW2", "D3DPTEXTURECAPS_VOLUMEMAP_POW2",
        "D3DPTEXTURECAPS_NOPROJECTEDBUMPENV"}},
      {CapKind::kFlags, "TextureFilterCaps", nullptr, {TF("D3DPTFILTERCAPS_")}},
      {CapKind::kFlags, "CubeTextureFilterCaps", nullptr, {TF("D3DPTFILTERCAPS_")}},
      {CapKind::kFlags, "VolumeTextureFilterCaps", nullptr, {TF("D3DPTFILTERCAPS_")}},
      {CapKind::kFlags, "TextureAddressCaps", nullptr, {ADDR("D3DPTADDRESSCAPS_")}},
      {CapKind::kFlags, "VolumeTextureAddressCaps", nullptr, {ADDR("D3DPTADDRESSCAPS_")}},
      {CapKind::kFlags, "LineCaps", nullptr,
       {"D3DLINECAPS_TEXTURE", "D3DLINECAPS_ZTEST", "D3DLINECAPS_BLEND", "D3DLINECAPS_ALPHACMP",
        "D3DLINECAPS_FOG", "D3DLINECAPS_ANTIALIAS"}},
      {CapKind::kInt, "MaxTextureWidth", "GL_MAX_TEXTURE_SIZE"},
      {CapKind::kInt, "MaxTextureHeight", "GL_MAX_TEXTURE_SIZE"},
      {CapKind::kInt, "MaxVolumeExtent", "GL_MAX_3D_TEXTURE_SIZE"},
      {CapKind::kInt, "MaxTextureRepeat"},
      {CapKind::kInt, "MaxTextureAspectRatio"},
      {CapKind::kInt, "MaxAnisotropy", "GL_MAX_TEXTURE_MAX_ANISOTROPY"},
      {CapKind::kFloat, "MaxVertexW"},
      {CapKind::kFloat, "GuardBandLeft"},
      {CapKind::kFloat, "GuardBandTop"},
      {CapKind::kFloat, "GuardBandRight"},
      {CapKind::kFloat, "GuardBandBottom"},
      {CapKind::kFloat, "ExtentsAdjust"},
      {CapKind::kFlags, "StencilCaps", nullptr,
       {"D3DSTENCILCAPS_KEEP", "D3DSTENCILCAPS_ZERO", "D3DSTENCILCAPS_REPLACE", "D3DSTENCILCAPS_INCRSAT",
        "D3DSTENCILCAPS_DECRSAT", "D3DSTENCILCAPS_INVERT", "D3DSTENCILCAPS_INCR", "D3DSTENCILCAPS_DECR",
        "D3DSTENCILCAPS_TWOSIDED"}},
      {CapKind::kFlags, "FVFCaps", nullptr,
       {"D3DFVFCAPS_TEXCOORDCOUNTMASK", "D3DFVFCAPS_DONOTSTRIPELEMENTS", "D3DFVFCAPS_PSIZE"}},
      {CapKind::kFlags, "TextureOpCaps", nullptr,
       {"D3DTEXOPCAPS_DISABLE", "D3DTEXOPCAPS_SELECTARG1", "D3DTEXOPCAPS_SELECTARG2", "D3DTEXOPCAPS_MODULATE",
        "D3DTEXOPCAPS_MODULATE2X", "D3DTEXOPCAPS_MODULATE4X", "D3DTEXOPCAPS_ADD", "D3DTEXOPCAPS_ADDSIGNED",
        "D3DTEXOPCAPS_ADDSIGNED2X", "D3DTEXOPCAPS_SUBTRACT", "D3DTEXOPCAPS_ADDSMOOTH",
        "D3DTEXOPCAPS_BLENDDIFFUSEALPHA", "D3DTEXOPCAPS_BLENDTEXTUREALPHA", "D3DTEXOPCAPS_BLENDFACTORALPHA",
        "D3DTEXOPCAPS_BLENDTEXTUREALPHAPM", "D3DTEXOPCAPS_BLENDCURRENTALPHA", "D3DTEXOPCAPS_PREMODULATE",
        "D3DTEXOPCAPS_MODULATEALPHA_ADDCOLOR", "D3DTEXOPCAPS_MODULATECOLOR_ADDALPHA",
        "D3DTEXOPCAPS_MODULATEINVALPHA_ADDCOLOR", "D3DTEXOPCAPS_MODULATEINVCOLOR_ADDALPHA",
        "D3DTEXOPCAPS_BUMPENVMAP", "D3DTEXOPCAPS_BUMPENVMAPLUMINANCE", "D3DTEXOPCAPS_DOTPRODUCT3",
        "D3DTEXOPCAPS_MULTIPLYADD", "D3DTEXOPCAPS_LERP"}},
      {CapKind::kInt, "MaxTextureBlendStages"},
      {CapKind::kInt, "MaxSimultaneousTextures", "GL_MAX_TEXTURE_IMAGE_UNITS"},
      {CapKind::kFlags, "VertexProcessingCaps", nullptr,
       {"D3DVTXPCAPS_TEXGEN", "D3DVTXPCAPS_MATERIALSOURCE7", "D3DVTXPCAPS_DIRECTIONALLIGHTS",
        "D3DVTXPCAPS_POSITIONALLIGHTS", "D3DVTXPCAPS_LOCALVIEWER", "D3DVTXPCAPS_TWEENING",
        "D3DVTXPCAPS_TEXGEN_SPHEREMAP", "D3DVTXPCAPS_NO_TEXGEN_NONLOCALVIEWER"}},
      {CapKind::kInt, "MaxActiveLights", "GL_MAX_LIGHTS"},
      {CapKind::kInt, "MaxUserClipPlanes", "GL_MAX_CLIP_DISTANCES"},
      {CapKind::kInt, "MaxVertexBlendMatrices"},
      {CapKind::kInt, "MaxVertexBlendMatrixIndex"},
      {CapKind::kFloat, "MaxPointSize", "GL_ALIASED_POINT_SIZE_RANGE"},
      {CapKind::kInt, "MaxPrimitiveCount"},
      {CapKind::kInt, "MaxVertexIndex", "GL_MAX_ELEMENT_INDEX"},
      {CapKind::kInt, "MaxStreams", "GL_MAX_VERTEX_ATTRIBS"},
      {CapKind::kInt, "MaxStreamStride", "GL_MAX_VERTEX_ATTRIB_STRIDE"},
      {CapKind::kVertexShader, "VertexShaderVersion"},
      {CapKind::kInt, "MaxVertexShaderConst", "GL_MAX_VERTEX_UNIFORM_VECTORS"},
      {CapKind::kPixelShader, "PixelShaderVersion"},
      {CapKind::kFloat, "PixelShader1xMaxValue"},
      {CapKind::kFlags, "DevCaps2", nullptr,
       {"D3DDEVCAPS2_STREAMOFFSET", "D3DDEVCAPS2_DMAPNPATCH", "D3DDEVCAPS2_ADAPTIVETESSRTPATCH",
        "D3DDEVCAPS2_ADAPTIVETESSNPATCH", "D3DDEVCAPS2_CAN_STRETCHRECT_FROM_TEXTURES",
        "D3DDEVCAPS2_PRESAMPLEDDMAPNPATCH", "D3DDEVCAPS2_VERTEXELEMENTSCANSHARESTREAMOFFSET"}},
      {CapKind::kInt, "MasterAdapterOrdinal"},
      {CapKind::kInt, "AdapterOrdinalInGroup"},
      {CapKind::kInt, "NumberOfAdaptersInGroup"},
      {CapKind::kFlags, "DeclTypes", nullptr,
       {"D3DDTCAPS_UBYTE4", "D3DDTCAPS_UBYTE4N", "D3DDTCAPS_SHORT2N", "D3DDTCAPS_SHORT4N", "D3DDTCAPS_USHORT2N",
        "D3DDTCAPS_USHORT4N", "D3DDTCAPS_UDEC3", "D3DDTCAPS_DEC3N", "D3DDTCAPS_FLOAT16_2",
        "D3DDTCAPS_FLOAT16_4"}},
      {CapKind::kInt, "NumSimultaneousRTs", "GL_MAX_DRAW_BUFFERS"},
      {CapKind::kFlags, "StretchRectFilterCaps", nullptr,
       {"D3DPTFILTERCAPS_MINFPOINT", "D3DPTFILTERCAPS_MAGFPOINT", "D3DPTFILTERCAPS_MINFLINEAR",
        "D3DPTFILTERCAPS_MAGFLINEAR"}},
      {CapKind::kInt, "VS20Caps"},
      {CapKind::kInt, "PS20Caps"},
      {CapKind::kFlags, "VertexTextureFilterCaps", nullptr, {TF("D3DPTFILTERCAPS_")}},
      {CapKind::kInt, "MaxVShaderInstructionsExecuted"},
      {CapKind::kInt, "MaxPShaderInstructionsExecuted"},
      {CapKind::kInt, "MaxVertexShader30InstructionSlots"},
      {CapKind::kInt, "MaxPixelShader30InstructionSlots"},
  };
  return rows;
}

#undef TF
#undef CMP
#undef BLEND
#undef ADDR

// The GL limit shown in a value row's place; false where the context told
// nothing (0).
bool GlLimit(const plat::RendererInfo& r, const std::string& gl, double* value) {
  double v = 0;
  if (gl == "GL_MAX_TEXTURE_SIZE") v = r.max_texture_size;
  else if (gl == "GL_MAX_3D_TEXTURE_SIZE") v = r.max_3d_texture_size;
  else if (gl == "GL_MAX_TEXTURE_MAX_ANISOTROPY") v = r.max_anisotropy;
  else if (gl == "GL_MAX_TEXTURE_IMAGE_UNITS") v = r.max_texture_units;
  else if (gl == "GL_MAX_LIGHTS") v = r.max_lights;
  else if (gl == "GL_MAX_CLIP_DISTANCES") v = r.max_clip_distances;
  else if (gl == "GL_ALIASED_POINT_SIZE_RANGE") v = r.max_point_size;
  else if (gl == "GL_MAX_ELEMENT_INDEX") v = static_cast<double>(r.max_element_index);
  else if (gl == "GL_MAX_VERTEX_ATTRIBS") v = r.max_vertex_attribs;
  else if (gl == "GL_MAX_VERTEX_ATTRIB_STRIDE") v = r.max_vertex_attrib_stride;
  else if (gl == "GL_MAX_VERTEX_UNIFORM_VECTORS") v = r.max_vertex_uniform_vectors;
  else if (gl == "GL_MAX_DRAW_BUFFERS") v = r.max_draw_buffers;
  *value = v;
  return v > 0;
}

bool EmitCaps(const plat::RendererInfo& r, const ReportEmit& emit) {
  int major, minor;
  gl_shader_model(r.gl_major, r.gl_minor, &major, &minor);
  for (const CapRow& row : CapRows()) {
    std::string line;
    switch (row.kind) {
      case CapKind::kFlags:
        if (!emit(std::string(row.name) + " = " + kReportUnavailable)) return false;
        for (const char* flag : row.flags)
          if (!emit(std::string("\t") + flag + " : " + kReportUnavailable)) return false;
        continue;
      case CapKind::kVertexShader:
        shader_version_bits(ShaderKind::kVertex, major, minor, &line);
        break;
      case CapKind::kPixelShader:
        shader_version_bits(ShaderKind::kPixel, major, minor, &line);
        break;
      case CapKind::kInt:
      case CapKind::kFloat: {
        double v = 0;
        if (row.gl && GlLimit(r, row.gl, &v)) {
          std::string name = std::string(row.name) + " (" + row.gl + ")";
          line = row.kind == CapKind::kFloat ? Format("%s = %f", name.c_str(), v)
                                             : Format("%s = %.0f", name.c_str(), v);
        } else {
          line = std::string(row.name) + " = " + kReportUnavailable;
        }
        break;
      }
    }
    if (!emit(line)) return false;
  }
  return true;
}

std::string Or(const std::string& v) { return v.empty() ? std::string(kReportUnavailable) : v; }

std::string DriverPart(const plat::RendererInfo& r, int i) {
  return i < 3 && r.driver_version[i] >= 0 ? std::to_string(r.driver_version[i]) : std::string(kReportUnavailable);
}

bool Software(const plat::RendererInfo& r) {
  for (const char* s : {"llvmpipe", "softpipe", "swrast", "SWR"})
    if (r.renderer.find(s) != std::string::npos) return true;
  return false;
}

}  // namespace

std::vector<std::string> report_cap_member_names() {
  std::vector<std::string> out;
  for (const CapRow& row : CapRows()) out.push_back(row.name);
  return out;
}

size_t report_cap_flag_count(const std::string& member) {
  for (const CapRow& row : CapRows())
    if (member == row.name) return row.flags.size();
  return 0;
}

bool report_d3d_adapters(const ReportEmit& emit) {
  std::vector<plat::DisplayInfo> displays = plat::MachineDisplays();
  // Nothing to draw with at all: neither a display nor a GL renderer.
  if (displays.empty() && !plat::MachineRenderer(0).has_context) return emit("DirectX9非対応");
  for (size_t i = 0; i < displays.size(); ++i) {
    const plat::DisplayInfo& d = displays[i];
    plat::RendererInfo r = plat::MachineRenderer(static_cast<int>(i));
    if (!emit(Format("---------- グラフィックアダプタ %02d ----------", static_cast<int>(i)))) return false;
    // The identity of what draws on this display: the GL renderer, the
    // EGL driver, the display's own name, the driver's version.
    std::string description = r.renderer.empty() ? d.name : (r.vendor.empty() ? "" : r.vendor + " ") + r.renderer;
    if (!emit("Descprition\t: " + description) || !emit("Driver\t\t: " + Or(r.driver_name)) ||
        !emit("DeviceName\t: " + Or(d.name)) ||
        !emit("Renderer\t: " + plat::gpu::RendererChoice(r.has_context, r.renderer)) ||
        !emit("Product\t\t: " + DriverPart(r, 0)) ||
        !emit("Version\t\t: " + DriverPart(r, 1)) || !emit("SubVersion\t: " + DriverPart(r, 2)) ||
        !emit(std::string("Build\t\t: ") + kReportUnavailable) || !emit(""))
      return false;
    if (!r.has_context) {
      if (!emit("Deviceの作成に失敗")) return false;
      continue;
    }
    if (r.max_texture_size <= 0) {
      if (!emit("DeviceCapsの取得に失敗")) return false;
      continue;
    }
    std::string memory = r.free_texture_memory_mb >= 0
                             ? Format("使用可能なテクスチャメモリ : %" PRId64 " M", r.free_texture_memory_mb)
                         : r.video_memory_mb >= 0
                             ? Format("ビデオメモリ (GLX_RENDERER_VIDEO_MEMORY_MESA) : %" PRId64 " M", r.video_memory_mb)
                             : std::string("使用可能なテクスチャメモリ : ") + kReportUnavailable;
    if (!emit(memory) || !emit("")) return false;
    if (!emit("[ Display Mode ]") || !emit(Format("Width = %d", d.width)) || !emit(Format("Height = %d", d.height)) ||
        !emit(Format("RefreshRate = %d", d.refresh)) ||
        !emit(d.format.empty() ? std::string("Format = ") + kReportUnavailable : "Format (SDL_PIXELFORMAT) = " + d.format) ||
        !emit(""))
      return false;
    std::string type = r.accelerated == 1 ? "DeviceType (GLX_RENDERER_ACCELERATED_MESA) = hardware"
                       : r.accelerated == 0 ? "DeviceType (GLX_RENDERER_ACCELERATED_MESA) = software"
                       : Software(r)        ? "DeviceType (GL_RENDERER) = software"
                                            : std::string("DeviceType = ") + kReportUnavailable;
    if (!emit("[ Caps ]") || !emit(type) || !emit(Format("AdapterOrdinal = %d", static_cast<int>(i)))) return false;
    if (!EmitCaps(r, emit) || !emit("")) return false;
  }
  return true;
}

bool report_sound_devices(const ReportEmit& emit) {
  if (!emit("---------- サウンドアダプタ ----------")) return false;
  std::vector<plat::SoundDeviceInfo> devices = plat::MachineSoundDevices();
  if (devices.empty()) return emit("サウンド出力が見つかりません");
  static const char* const kFlags[] = {
      "\tDSCAPS_CERTIFIED\t\t\t: ",     "\tDSCAPS_CONTINUOUSRATE\t\t: ",  "\tDSCAPS_EMULDRIVER\t\t\t: ",
      "\tDSCAPS_PRIMARY16BIT\t\t\t: ",  "\tDSCAPS_PRIMARY8BIT\t\t\t: ",   "\tDSCAPS_PRIMARYMONO\t\t\t: ",
      "\tDSCAPS_PRIMARYSTEREO\t\t: ",   "\tDSCAPS_SECONDARY16BIT\t\t: ",  "\tDSCAPS_SECONDARY8BIT\t\t: ",
      "\tDSCAPS_SECONDARYMONO\t\t: ",   "\tDSCAPS_SECONDARYSTEREO\t\t: "};
  static const char* const kCounts[] = {
      "dwMinSecondarySampleRate\t\t= ",      "dwMaxSecondarySampleRate\t\t= ",  "dwPrimaryBuffers\t\t\t\t= ",
      "dwMaxHwMixingAllBuffers\t\t\t= ",     "dwMaxHwMixingStaticBuffers\t\t= ", "dwMaxHwMixingStreamingBuffers\t= ",
      "dwFreeHwMixingAllBuffers\t\t= ",      "dwFreeHwMixingStaticBuffers\t\t= ", "dwFreeHwMixingStreamingBuffers\t= ",
      "dwMaxHw3DAllBuffers\t\t\t\t= ",       "dwMaxHw3DStaticBuffers\t\t\t= ",   "dwMaxHw3DStreamingBuffers\t\t= ",
      "dwFreeHw3DAllBuffers\t\t\t= ",        "dwFreeHw3DStaticBuffers\t\t\t= ",  "dwFreeHw3DStreamingBuffers\t\t= ",
      "dwTotalHwMemBytes\t\t\t\t= ",         "dwFreeHwMemBytes\t\t\t\t= ",       "dwMaxContigFreeHwMemBytes\t\t= ",
      "dwUnlockTransferRateHwBuffers\t= ",   "dwPlayCpuOverheadSwBuffers\t\t= "};
  for (const plat::SoundDeviceInfo& s : devices) {
    if (!s.opened) {
      if (!emit("DirectSoundObjectの作成に失敗")) return false;
      continue;
    }
    if (!emit("Description\t\t\t\t\t\t= " + s.name) || !emit("Module\t\t\t\t\t\t\t= " + s.driver)) return false;
    if (s.frequency <= 0 || s.channels <= 0) {
      if (!emit("DirectSoundCapsの取得に失敗")) return false;
      continue;
    }
    if (!emit("[ Caps ]") || !emit(std::string("dwFlags\t\t\t\t\t\t\t= ") + kReportUnavailable)) return false;
    // What the output itself takes: its sample size and channel count.
    const int bits = s.format & 0xFF;
    for (size_t f = 0; f < std::size(kFlags); ++f) {
      std::string value = kReportUnavailable;
      if (f == 3) value = bits == 16 ? "1" : "0";
      else if (f == 4) value = bits == 8 ? "1" : "0";
      else if (f == 5) value = s.channels == 1 ? "1" : "0";
      else if (f == 6) value = s.channels >= 2 ? "1" : "0";
      if (!emit(kFlags[f] + value)) return false;
    }
    for (const char* count : kCounts)
      if (!emit(count + std::string(kReportUnavailable))) return false;
    if (!emit(Format("Frequency\t\t\t\t\t\t= %d", s.frequency)) ||
        !emit(Format("Channels\t\t\t\t\t\t= %d", s.channels)) ||
        !emit(Format("Format\t\t\t\t\t\t\t= 0x%04X", s.format)) ||
        !emit(Format("Samples\t\t\t\t\t\t\t= %d", s.samples)) || !emit(""))
      return false;
  }
  return true;
}

bool report_build(const ReportContext& ctx, const ReportEmit& emit) {
  if (!report_environment(ctx, emit)) return false;
  if (ctx.gpu_section && !report_d3d_adapters(emit)) return false;
  return report_sound_devices(emit);
}

std::string report_text(const std::vector<std::string>& rows) {
  std::string out;
  for (const std::string& row : rows) out += row + "\r\n";
  return out;
}

bool report_save_text(const std::string& native_path, const std::vector<std::string>& rows) {
  // The name is the desktop's own (UTF-8), so it is written as given: the
  // bytes go to a temporary file beside it, reach the disk, and replace the
  // old file only when all of them were written.
  std::string text = report_text(rows);
  std::string tmp = native_path + ".tmp" + std::to_string(::getpid());
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  size_t done = 0;
  bool ok = true;
  while (ok && done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ok = false;
    else done += static_cast<size_t>(n);
  }
  if (ok && ::fsync(fd) != 0) ok = false;
  if (::close(fd) != 0) ok = false;
  if (ok && ::rename(tmp.c_str(), native_path.c_str()) != 0) ok = false;
  if (!ok) ::unlink(tmp.c_str());
  return ok;
}

namespace {

// The report thread: builds the report, handing each row to the window by
// `post`; stops at the next row once `stop` is set, and whatever it posted
// is dropped from then on.
void report_thread(const ReportContext& ctx, const ReportRunner::Post& post,
                   const std::function<void(const std::string&)>& on_row, const std::function<void()>& on_done,
                   const std::shared_ptr<std::atomic<bool>>& stop) {
  report_build(ctx, [&](const std::string& row) {
    if (stop->load()) return false;
    post([stop, on_row, row] {
      if (!stop->load()) on_row(row);
    });
    return true;
  });
  post([stop, on_done] {
    if (!stop->load()) on_done();
  });
}

}  // namespace

void ReportRunner::FailNextStart() { g_fail_next_start.store(true); }

bool ReportRunner::Start(ReportContext ctx, Post post, std::function<void(const std::string&)> on_row,
                         std::function<void()> on_done) {
  Stop();
  if (g_fail_next_start.exchange(false)) return false;
  auto stop = std::make_shared<std::atomic<bool>>(false);
  try {
    thread_ = std::thread(
        [ctx = std::move(ctx), post, on_row, on_done, stop] { report_thread(ctx, post, on_row, on_done, stop); });
  } catch (const std::system_error&) {
    return false;
  }
  stop_ = stop;
  return true;
}

void ReportRunner::Stop() {
  if (stop_) stop_->store(true);
  if (thread_.joinable()) thread_.join();
  stop_.reset();
}
