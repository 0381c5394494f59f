// The movie maker: libavcodec's MPEG-1 (or MPEG-2) video and MP2 audio
// encoders, muxed by libavformat's "mpeg" muxer into memory.
#include "movie_maker.h"

#include <cmath>
#include <cstdio>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

namespace kivtools {
namespace {

struct Sink {
  std::vector<uint8_t>* out;
  int64_t pos = 0;
};

int WritePacket(void* opaque, uint8_t* buf, int n) {
  auto* s = static_cast<Sink*>(opaque);
  if (s->out->size() < static_cast<size_t>(s->pos) + n) s->out->resize(static_cast<size_t>(s->pos) + n);
  std::memcpy(s->out->data() + s->pos, buf, static_cast<size_t>(n));
  s->pos += n;
  return n;
}

int64_t SeekPacket(void* opaque, int64_t offset, int whence) {
  auto* s = static_cast<Sink*>(opaque);
  if (whence == AVSEEK_SIZE) return static_cast<int64_t>(s->out->size());
  if (whence == SEEK_SET) s->pos = offset;
  else if (whence == SEEK_CUR) s->pos += offset;
  else if (whence == SEEK_END) s->pos = static_cast<int64_t>(s->out->size()) + offset;
  else return -1;
  return s->pos;
}

void DrawFrame(AVFrame* f, int n) {
  const int w = f->width, h = f->height;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t Y;
      if (y < h / 2) {
        const int bw = w / 8, block = x / bw, bit = 7 - block;
        const int inner = block < 8 && (x % bw) > 1 && (x % bw) < bw - 2;
        Y = inner ? ((n >> bit) & 1 ? 235 : 16) : 16;
      } else {
        Y = static_cast<uint8_t>(80 + (n * 37) % 100);
      }
      f->data[0][y * f->linesize[0] + x] = Y;
    }
  for (int y = 0; y < h / 2; ++y)
    for (int x = 0; x < w / 2; ++x) {
      const bool lower = y >= h / 4;
      f->data[1][y * f->linesize[1] + x] = lower ? static_cast<uint8_t>(60 + (n * 53) % 136) : 128;
      f->data[2][y * f->linesize[2] + x] = lower ? static_cast<uint8_t>(196 - (n * 29) % 136) : 128;
    }
}

bool Fail(std::string* error, const char* why) {
  if (error) *error = why;
  return false;
}

struct Writer {
  AVFormatContext* fmt = nullptr;
  AVIOContext* io = nullptr;
  AVCodecContext* v = nullptr;
  AVCodecContext* a = nullptr;
  AVStream* vs = nullptr;
  AVStream* as = nullptr;
  AVFrame* frame = nullptr;
  AVPacket* pkt = nullptr;
  ~Writer() {
    av_packet_free(&pkt);
    av_frame_free(&frame);
    avcodec_free_context(&v);
    avcodec_free_context(&a);
    if (fmt) avformat_free_context(fmt);
    if (io) {
      av_freep(&io->buffer);
      avio_context_free(&io);
    }
  }
  bool Drain(AVCodecContext* c, AVStream* s) {
    for (;;) {
      int r = avcodec_receive_packet(c, pkt);
      if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
      if (r < 0) return false;
      av_packet_rescale_ts(pkt, c->time_base, s->time_base);
      pkt->stream_index = s->index;
      if (av_interleaved_write_frame(fmt, pkt) < 0) return false;
    }
  }
};

}  // namespace

bool MakeMovie(const MovieSpec& spec, std::vector<uint8_t>* out, std::string* error) {
  if (spec.width < 16 || spec.height < 16 || spec.frames < 1 || spec.fps < 1) return Fail(error, "bad spec");
  out->clear();
  av_log_set_level(AV_LOG_ERROR);
  Writer w;
  Sink sink{out};
  if (avformat_alloc_output_context2(&w.fmt, nullptr, "mpeg", nullptr) < 0) return Fail(error, "muxer");
  auto* buf = static_cast<uint8_t*>(av_malloc(32768));
  w.io = avio_alloc_context(buf, 32768, 1, &sink, nullptr, WritePacket, SeekPacket);
  w.fmt->pb = w.io;
  w.fmt->flags |= AVFMT_FLAG_CUSTOM_IO;

  const AVCodec* vc = avcodec_find_encoder(spec.mpeg2 ? AV_CODEC_ID_MPEG2VIDEO : AV_CODEC_ID_MPEG1VIDEO);
  if (!vc) return Fail(error, "video encoder");
  w.v = avcodec_alloc_context3(vc);
  w.v->width = spec.width;
  w.v->height = spec.height;
  w.v->time_base = AVRational{1, spec.fps};
  w.v->framerate = AVRational{spec.fps, 1};
  w.v->pix_fmt = AV_PIX_FMT_YUV420P;
  w.v->gop_size = 12;
  w.v->max_b_frames = 2;
  w.v->bit_rate = 0;
  w.v->flags |= AV_CODEC_FLAG_QSCALE;
  w.v->global_quality = FF_QP2LAMBDA * 2;
  if (avcodec_open2(w.v, vc, nullptr) < 0) return Fail(error, "open video encoder");
  w.vs = avformat_new_stream(w.fmt, nullptr);
  avcodec_parameters_from_context(w.vs->codecpar, w.v);
  w.vs->time_base = w.v->time_base;

  if (spec.audio) {
    const AVCodec* ac = avcodec_find_encoder(AV_CODEC_ID_MP2);
    if (!ac) return Fail(error, "audio encoder");
    w.a = avcodec_alloc_context3(ac);
    w.a->sample_rate = 44100;
    w.a->sample_fmt = AV_SAMPLE_FMT_S16;
    av_channel_layout_default(&w.a->ch_layout, 2);
    w.a->bit_rate = 192000;
    w.a->time_base = AVRational{1, 44100};
    if (avcodec_open2(w.a, ac, nullptr) < 0) return Fail(error, "open audio encoder");
    w.as = avformat_new_stream(w.fmt, nullptr);
    avcodec_parameters_from_context(w.as->codecpar, w.a);
    w.as->time_base = w.a->time_base;
  }
  if (avformat_write_header(w.fmt, nullptr) < 0) return Fail(error, "header");
  w.frame = av_frame_alloc();
  w.pkt = av_packet_alloc();

  // Audio samples up to the end of the last frame.
  const int64_t totalSamples = spec.audio ? int64_t(44100) * spec.frames / spec.fps : 0;
  int64_t samplesDone = 0;
  AVFrame* af = av_frame_alloc();
  bool ok = true;
  for (int n = 0; n < spec.frames && ok; ++n) {
    av_frame_unref(w.frame);
    w.frame->format = AV_PIX_FMT_YUV420P;
    w.frame->width = spec.width;
    w.frame->height = spec.height;
    if (av_frame_get_buffer(w.frame, 0) < 0) ok = false;
    if (!ok) break;
    DrawFrame(w.frame, n);
    w.frame->pts = n;
    ok = avcodec_send_frame(w.v, w.frame) >= 0 && w.Drain(w.v, w.vs);
    const int64_t wantSamples = spec.audio ? int64_t(44100) * (n + 1) / spec.fps : 0;
    while (ok && spec.audio && samplesDone < wantSamples) {
      av_frame_unref(af);
      af->format = AV_SAMPLE_FMT_S16;
      af->sample_rate = 44100;
      av_channel_layout_default(&af->ch_layout, 2);
      af->nb_samples = w.a->frame_size;
      if (av_frame_get_buffer(af, 0) < 0) {
        ok = false;
        break;
      }
      auto* s = reinterpret_cast<int16_t*>(af->data[0]);
      for (int i = 0; i < af->nb_samples; ++i) {
        const double t = static_cast<double>(samplesDone + i) / 44100.0;
        const auto v = static_cast<int16_t>(std::lround(std::sin(2 * M_PI * 1000.0 * t) * spec.toneLevel * 32767));
        s[2 * i] = s[2 * i + 1] = v;
      }
      af->pts = samplesDone;
      samplesDone += af->nb_samples;
      ok = avcodec_send_frame(w.a, af) >= 0 && w.Drain(w.a, w.as);
    }
  }
  av_frame_free(&af);
  (void)totalSamples;
  if (ok) ok = avcodec_send_frame(w.v, nullptr) >= 0 && w.Drain(w.v, w.vs);
  if (ok && w.a) ok = avcodec_send_frame(w.a, nullptr) >= 0 && w.Drain(w.a, w.as);
  if (ok) ok = av_write_trailer(w.fmt) >= 0;
  avio_flush(w.io);
  if (!ok) return Fail(error, "encoding");
  return true;
}

bool WriteMovie(const std::string& path, const MovieSpec& spec, std::string* error) {
  std::vector<uint8_t> bytes;
  if (!MakeMovie(spec, &bytes, error)) return false;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return Fail(error, "cannot write the file");
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = std::fclose(f) == 0 && ok;
  return ok || Fail(error, "write failed");
}

int ReadMovieFrameNumber(const uint32_t* px, int w, int h, int pitchWords) {
  int n = 0;
  for (int bit = 7; bit >= 0; --bit) {
    const int x = (7 - bit) * (w / 8) + w / 16;
    const int y = h / 4;
    const uint32_t p = px[static_cast<size_t>(y) * pitchWords + x];
    const int g = (p >> 8) & 0xFF;
    if (g > 170) n |= 1 << bit;
    else if (g > 80) return -1;
  }
  return n;
}

}  // namespace kivtools
