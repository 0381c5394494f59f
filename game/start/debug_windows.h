// Debug mode: opens the debug windows the program's ini file asks for.
#pragma once

void debug_windows_create();
