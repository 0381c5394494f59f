#include "sound_fixture.h"

#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/core/byte_io.h"

namespace fixture {

namespace {
int16_t ToS16(double v) {
  long s = std::lround(v * 32767.0);
  return static_cast<int16_t>(s > 32767 ? 32767 : s < -32768 ? -32768 : s);
}
}  // namespace

std::vector<int16_t> Sine(double hz, double seconds, int rate, int channels, double amplitude) {
  const size_t frames = static_cast<size_t>(std::llround(seconds * rate));
  std::vector<int16_t> out(frames * channels);
  for (size_t i = 0; i < frames; ++i) {
    int16_t v = ToS16(amplitude * std::sin(2.0 * M_PI * hz * static_cast<double>(i) / rate));
    for (int c = 0; c < channels; ++c) out[i * channels + c] = v;
  }
  return out;
}

std::vector<int16_t> Sweep(double f0, double f1, double seconds, int rate, int channels, double amplitude) {
  const size_t frames = static_cast<size_t>(std::llround(seconds * rate));
  std::vector<int16_t> out(frames * channels);
  const double k = std::log(f1 / f0) / seconds;
  for (size_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / rate;
    const double phase = 2.0 * M_PI * f0 * (std::exp(k * t) - 1.0) / k;
    int16_t v = ToS16(amplitude * std::sin(phase));
    for (int c = 0; c < channels; ++c) out[i * channels + c] = v;
  }
  return out;
}

namespace {
std::vector<uint8_t> WavOf(const uint8_t* data, size_t bytes, int channels, int rate, int bits,
                           const std::vector<std::pair<std::string, std::vector<uint8_t>>>& extra) {
  plat::ByteWriter w;
  size_t extraBytes = 0;
  for (const auto& c : extra) extraBytes += 8 + c.second.size() + (c.second.size() & 1);
  w.Bytes("RIFF", 4);
  w.U32(static_cast<uint32_t>(36 + extraBytes + bytes));
  w.Bytes("WAVEfmt ", 8);
  w.U32(16);
  w.U16(1);
  w.U16(static_cast<uint16_t>(channels));
  w.U32(static_cast<uint32_t>(rate));
  w.U32(static_cast<uint32_t>(rate * channels * bits / 8));
  w.U16(static_cast<uint16_t>(channels * bits / 8));
  w.U16(static_cast<uint16_t>(bits));
  for (const auto& c : extra) {
    w.Bytes(c.first.data(), 4);
    w.U32(static_cast<uint32_t>(c.second.size()));
    w.Bytes(c.second.data(), c.second.size());
    if (c.second.size() & 1) w.Bytes("\0", 1);
  }
  w.Bytes("data", 4);
  w.U32(static_cast<uint32_t>(bytes));
  w.Bytes(data, bytes);
  return std::move(w.bytes());
}
}  // namespace

std::vector<uint8_t> Wav(const std::vector<int16_t>& samples, int channels, int rate,
                         const std::vector<std::pair<std::string, std::vector<uint8_t>>>& before_data) {
  plat::ByteWriter d;
  for (int16_t s : samples) d.U16(static_cast<uint16_t>(s));
  return WavOf(d.bytes().data(), d.bytes().size(), channels, rate, 16, before_data);
}

std::vector<uint8_t> Wav8(const std::vector<uint8_t>& samples, int channels, int rate) {
  return WavOf(samples.data(), samples.size(), channels, rate, 8, {});
}

std::vector<uint8_t> RawPcm(const std::vector<int16_t>& stereo, uint32_t entries, uint32_t loop_start,
                            uint32_t loop_end) {
  plat::ByteWriter w;
  w.U32(0);
  w.U32(entries);
  for (int i = 0; i < 4; ++i) w.U32(0);
  w.U32(loop_start);
  w.U32(loop_end);
  w.U32(0);
  for (uint32_t i = 0; i < entries; ++i) {
    w.U32(i);
    w.U32(0);
  }
  for (int i = 0; i < 18; ++i) w.Bytes("\0", 1);
  w.U32(static_cast<uint32_t>(stereo.size() * 2));
  for (int16_t s : stereo) w.U16(static_cast<uint16_t>(s));
  return std::move(w.bytes());
}

std::vector<uint8_t> Ogg(const std::vector<int16_t>& samples, int channels, int rate, float quality) {
  std::vector<uint8_t> out;
  vorbis_info vi;
  vorbis_info_init(&vi);
  if (vorbis_encode_init_vbr(&vi, channels, rate, quality) != 0) {
    vorbis_info_clear(&vi);
    return out;
  }
  vorbis_comment vc;
  vorbis_comment_init(&vc);
  vorbis_dsp_state vd;
  vorbis_block vb;
  vorbis_analysis_init(&vd, &vi);
  vorbis_block_init(&vd, &vb);
  ogg_stream_state os;
  ogg_stream_init(&os, 1234);  // fixed serial: the same input gives the same bytes
  ogg_packet header, comm, code;
  vorbis_analysis_headerout(&vd, &vc, &header, &comm, &code);
  ogg_stream_packetin(&os, &header);
  ogg_stream_packetin(&os, &comm);
  ogg_stream_packetin(&os, &code);
  ogg_page og;
  auto put = [&](const ogg_page& p) {
    out.insert(out.end(), p.header, p.header + p.header_len);
    out.insert(out.end(), p.body, p.body + p.body_len);
  };
  while (ogg_stream_flush(&os, &og)) put(og);
  const size_t frames = samples.size() / channels;
  size_t at = 0;
  bool eos = false;
  while (!eos) {
    const size_t n = std::min<size_t>(4096, frames - at);
    if (n == 0) {
      vorbis_analysis_wrote(&vd, 0);
    } else {
      float** buf = vorbis_analysis_buffer(&vd, static_cast<int>(n));
      for (size_t i = 0; i < n; ++i)
        for (int c = 0; c < channels; ++c) buf[c][i] = samples[(at + i) * channels + c] / 32768.0f;
      vorbis_analysis_wrote(&vd, static_cast<int>(n));
      at += n;
    }
    while (vorbis_analysis_blockout(&vd, &vb) == 1) {
      vorbis_analysis(&vb, nullptr);
      vorbis_bitrate_addblock(&vb);
      ogg_packet op;
      while (vorbis_bitrate_flushpacket(&vd, &op)) {
        ogg_stream_packetin(&os, &op);
        while (ogg_stream_pageout(&os, &og)) {
          put(og);
          if (ogg_page_eos(&og)) eos = true;
        }
      }
    }
    if (n == 0 && !eos) {
      while (ogg_stream_flush(&os, &og)) put(og);
      eos = true;
    }
  }
  ogg_stream_clear(&os);
  vorbis_block_clear(&vb);
  vorbis_dsp_clear(&vd);
  vorbis_comment_clear(&vc);
  vorbis_info_clear(&vi);
  return out;
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace fixture

namespace fixture {

std::vector<uint8_t> WavPcm(double hz, double seconds, int rate, int channels, double amplitude, int bits,
                            bool isFloat, bool extensible) {
  const size_t frames = static_cast<size_t>(std::llround(seconds * rate));
  plat::ByteWriter data;
  for (size_t i = 0; i < frames; ++i) {
    const double v = amplitude * std::sin(2.0 * M_PI * hz * static_cast<double>(i) / rate);
    for (int c = 0; c < channels; ++c) {
      if (isFloat) {
        const float f = static_cast<float>(v);
        uint32_t u;
        std::memcpy(&u, &f, 4);
        data.U32(u);
      } else if (bits == 8) {
        const long s = std::lround(v * 127.0) + 128;
        const uint8_t b = static_cast<uint8_t>(std::clamp(s, 0L, 255L));
        data.Bytes(&b, 1);
      } else {
        const double scale = std::ldexp(1.0, bits - 1) - 1;
        const int64_t s = std::llround(v * scale);
        for (int k = 0; k < bits / 8; ++k) {
          const uint8_t b = static_cast<uint8_t>(static_cast<uint64_t>(s) >> (8 * k));
          data.Bytes(&b, 1);
        }
      }
    }
  }
  const std::vector<uint8_t>& pcm = data.bytes();
  const int tag = isFloat ? 3 : 1;
  plat::ByteWriter w;
  const uint32_t fmtBytes = extensible ? 40 : 16;
  w.Bytes("RIFF", 4);
  w.U32(static_cast<uint32_t>(4 + 8 + fmtBytes + 8 + pcm.size()));
  w.Bytes("WAVEfmt ", 8);
  w.U32(fmtBytes);
  w.U16(static_cast<uint16_t>(extensible ? 0xFFFE : tag));
  w.U16(static_cast<uint16_t>(channels));
  w.U32(static_cast<uint32_t>(rate));
  w.U32(static_cast<uint32_t>(rate * channels * bits / 8));
  w.U16(static_cast<uint16_t>(channels * bits / 8));
  w.U16(static_cast<uint16_t>(bits));
  if (extensible) {
    w.U16(22);
    w.U16(static_cast<uint16_t>(bits));
    w.U32(channels == 1 ? 0x4 : 0x3);
    // The sub-format GUID: {format, 0000-0010-8000-00AA00389B71}.
    const uint8_t guid[16] = {static_cast<uint8_t>(tag), 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
    w.Bytes(guid, 16);
  }
  w.Bytes("data", 4);
  w.U32(static_cast<uint32_t>(pcm.size()));
  w.Bytes(pcm.data(), pcm.size());
  return std::move(w.bytes());
}

}  // namespace fixture
