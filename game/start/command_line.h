// The program's command-line switches: /DIB, /DX, /NA, /VS.
#pragma once
#include "kiv.h"

void command_line_parse(const char* command_line, KivSystemParameters* params);
