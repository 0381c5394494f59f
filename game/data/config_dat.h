// config.dat: eight little-endian words shared with the configuration tool:
// window x, y, client width, height, mode flags, adapter, full-screen
// resolution handling (aspect) and sync (pacing).
#pragma once
#include <cstdint>

#include "kiv.h"
#include "shared/config_record.h"

// Puts the words of a config.dat (fewer when the file is short) over the
// parameters, keeping the parameter's own value for a word out of range.
void config_apply(const uint8_t* bytes, size_t size, KivSystemParameters* params);
// The 32 bytes for these parameters.
void config_bytes(const KivSystemParameters& params, uint8_t out[32]);

// Before KivInit: reads config.dat over the parameters, or creates it.
int config_load(KivSystemParameters* params);
// After KivRun: writes the engine's parameters back, GPU bit always set.
int config_save();
