// The platform layer's core services: threads and queues, clock, errors,
// files, ini files, identity, the instance lock, modules, text encoding.
// Only library/platform/ includes SDL, GL, EGL, FFmpeg, FreeType or fontconfig headers.
//
// Which backend each service family uses. The real backends need a display
// and a sound device; the headless ones run anywhere and are what tests use.
// The default for every family comes from KIV_HEADLESS (set and not "0":
// headless), and a test or host may choose per family.
#pragma once

namespace plat {

enum class Backend { kReal, kHeadless };

Backend WindowBackendKind();
void SetWindowBackendKind(Backend b);
Backend MessageBoxBackendKind();
void SetMessageBoxBackendKind(Backend b);
Backend AudioBackendKind();
void SetAudioBackendKind(Backend b);
// Every family at once.
void UseHeadless(bool on);

}  // namespace plat
