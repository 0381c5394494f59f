// 1280x720 movie frames per second through the movie sprite path (decoder,
// conversion to 32-bit pixels, copy into the sprite's surface, on the
// virtual clock) beside bare libavcodec + libswscale decoding the same
// stream to BGRA. The ratio of the two is the sprite path's overhead.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "kiv.h"
#include "movie/movie.h"
#include "movie_maker.h"
#include "platform/core/backend.h"
#include "platform/core/clock.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace {

const std::vector<uint8_t>& Clip() {
  static const std::vector<uint8_t> bytes = [] {
    kivtools::MovieSpec spec;
    spec.width = 1280;
    spec.height = 720;
    spec.frames = 60;
    spec.audio = false;
    std::vector<uint8_t> out;
    std::string error;
    if (!kivtools::MakeMovie(spec, &out, &error)) std::abort();
    return out;
  }();
  return bytes;
}

void SpritePath(benchmark::State& state) {
  plat::UseHeadless(true);
  plat::UseVirtualClock(true, 1000);
  char tmpl[] = "/tmp/kivmoviebenchXXXXXX";
  const std::string dir = mkdtemp(tmpl);
  {
    std::ofstream f(dir + "/CLIP.MPG", std::ios::binary);
    f.write(reinterpret_cast<const char*>(Clip().data()), static_cast<std::streamsize>(Clip().size()));
  }
  KivSystemParameters params;
  KivDefaultCreate(&params);
  params.title = "bench";
  params.clientWidth = params.screenWidth = 1280;
  params.clientHeight = params.screenHeight = 720;
  params.mode &= ~KIV_MODE_GPU;
  params.startCallback = [] { return 1; };
  if (!KivInit(&params)) std::abort();
  KivSystemPathSet(dir.c_str());
  KivRenderList* list = KivRenderInit();
  KivRenderSetActive(list);
  KivSprite* s = KivMSpriteLoad(list, "clip.mpg", 0);
  if (!s) std::abort();
  KivMSpritePlay(s, 1);
  for (auto _ : state) {
    plat::AdvanceVirtualClock(40);  // one frame of a 25 frames/s movie
    KivMovieSpritesStep();
  }
  state.SetItemsProcessed(state.iterations());
  KivSpriteRelease(list, s);
  KivRenderSetActive(nullptr);
  KivRenderUninit(list);
  KivUninit();
  plat::UseVirtualClock(false);
  std::system(("rm -rf '" + dir + "'").c_str());
}
BENCHMARK(SpritePath)->Unit(benchmark::kMillisecond);

struct MemoryIo {
  const std::vector<uint8_t>* bytes;
  size_t pos = 0;
};

int ReadMem(void* opaque, uint8_t* buf, int n) {
  auto* m = static_cast<MemoryIo*>(opaque);
  const size_t left = m->bytes->size() - m->pos;
  if (left == 0) return AVERROR_EOF;
  const size_t k = std::min(left, static_cast<size_t>(n));
  std::memcpy(buf, m->bytes->data() + m->pos, k);
  m->pos += k;
  return static_cast<int>(k);
}

// One open of the clip with bare FFmpeg calls.
struct Bare {
  MemoryIo io{&Clip()};
  AVIOContext* avio = nullptr;
  AVFormatContext* fmt = nullptr;
  AVCodecContext* dec = nullptr;
  SwsContext* sws = nullptr;
  AVPacket* pkt = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  int stream = -1;
  bool draining = false;
  Bare() {
    avio = avio_alloc_context(static_cast<uint8_t*>(av_malloc(32768)), 32768, 0, &io, ReadMem, nullptr, nullptr);
    fmt = avformat_alloc_context();
    fmt->pb = avio;
    avformat_open_input(&fmt, nullptr, av_find_input_format("mpeg"), nullptr);
    avformat_find_stream_info(fmt, nullptr);
    stream = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const AVCodec* c = avcodec_find_decoder(fmt->streams[stream]->codecpar->codec_id);
    dec = avcodec_alloc_context3(c);
    avcodec_parameters_to_context(dec, fmt->streams[stream]->codecpar);
    dec->thread_count = 1;
    avcodec_open2(dec, c, nullptr);
  }
  ~Bare() {
    sws_freeContext(sws);
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&dec);
    avformat_close_input(&fmt);
    av_freep(&avio->buffer);
    avio_context_free(&avio);
  }
  // The next frame as BGRA into out; false at the end.
  bool Next(uint32_t* out) {
    for (;;) {
      if (avcodec_receive_frame(dec, frame) == 0) {
        sws = sws_getCachedContext(sws, frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
                                   frame->width, frame->height, AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr,
                                   nullptr);
        uint8_t* planes[4] = {reinterpret_cast<uint8_t*>(out)};
        int lines[4] = {frame->width * 4};
        sws_scale(sws, frame->data, frame->linesize, 0, frame->height, planes, lines);
        av_frame_unref(frame);
        return true;
      }
      if (draining) return false;
      if (av_read_frame(fmt, pkt) < 0) {
        draining = true;
        avcodec_send_packet(dec, nullptr);
        continue;
      }
      if (pkt->stream_index == stream) avcodec_send_packet(dec, pkt);
      av_packet_unref(pkt);
    }
  }
};

void BareFfmpeg(benchmark::State& state) {
  std::vector<uint32_t> out(1280 * 720);
  auto bare = std::make_unique<Bare>();
  for (auto _ : state) {
    if (!bare->Next(out.data())) {
      bare = std::make_unique<Bare>();  // loops as the sprite does
      bare->Next(out.data());
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BareFfmpeg)->Unit(benchmark::kMillisecond);

}  // namespace
