// A headless engine (for the frame clock and the allocator) and one zeroed
// game record, shared by the motion and action fuzz targets.
#pragma once
#include <cstring>
#include <memory>

#include "core/system_state.h"
#include "kiv.h"
#include "platform/core/backend.h"
#include "platform/core/clock.h"
#include "start/game_record.h"
#include "vm/vm.h"

namespace fuzzmotion {

inline VmContext* Context() {
  static GameRecord* record = [] {
    plat::UseHeadless(true);
    plat::UseVirtualClock(true, 1000);
    KivSystemParameters p{};
    KivDefaultCreate(&p);
    p.title = "fuzz";
    p.clientWidth = p.screenWidth = 320;
    p.clientHeight = p.screenHeight = 180;
    p.mode &= ~KIV_MODE_GPU;
    KivInit(&p);
    auto* r = new GameRecord;
    std::memset(static_cast<void*>(r), 0, sizeof *r);
    vm_context_attach(r);
    return r;
  }();
  return &record->ctx;
}

inline void SetTime(uint32_t t) {
  if (g_kiv) g_kiv->frameTime.store(t);
}

}  // namespace fuzzmotion
