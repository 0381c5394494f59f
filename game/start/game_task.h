// The game task "StartFunc": its data block is the game record.
#pragma once
#include "start/game_record.h"

int start_func_create();
void continue_save_on_exit(void* record);
int start_func_first_frame(void* record);
int start_func_frame(void* record);
void start_func_release(void* record);

int game_initialize(VmContext* ctx);
void game_uninitialize(VmContext* ctx);
void game_task_frame(VmContext* ctx);
void script_frame(VmContext* ctx);
void frame_rate_update(VmContext* ctx);

// The program's exit code: set non-zero by a start that failed inside the
// game task (its data could not be loaded), read by main after KivRun.
int& game_exit_code();

// Ends the game in order because its data cannot be used: the reason on
// stderr and in a box (detail: plain text naming the file or the fault),
// exit code 1.
void game_end_for_data_error(const char* detail);
