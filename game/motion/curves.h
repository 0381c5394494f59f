// Motions and actions: the timed steps that move, shake, fade, turn and
// scale sprites from the script (actions, group 17) and from ".ani" motion
// programs, and the progress curves both share.
//
// The curves: each takes the elapsed time e and the length T in ms and
// gives the share of a timed change done, a float in [0, 1]. A length of 0
// counts as done.
#pragma once
#include <cstdint>

float curve_ratio(uint32_t e, uint32_t T);  // min(e / T, 1)
float curve_log55(uint32_t e, uint32_t T);  // -0.55 log10((T - e) / T), capped at 1
float curve_log80(uint32_t e, uint32_t T);  // 1 + 0.8 log10(e / T), not below 0
float curve_table(uint32_t e, uint32_t T);  // sine ease-out in 128 steps

// An action step's curve number: 1 log55, 2 log80, 3 table, else ratio.
float curve_by_number(int32_t curve, uint32_t e, uint32_t T);
// A motion move's curve bits: 0x2 log80, else 0x1 log55, else 0x4 table,
// else ratio.
float curve_by_bits(uint32_t bits, uint32_t e, uint32_t T);
