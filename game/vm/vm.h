// The script machine: state, operands, the core instructions and the command
// tables that bind each script command to its handler.
//
// The script virtual machine: a word machine that runs Script.src a slice
// per frame on the game thread. 33 core instructions (group 1) and a call
// instruction that hands control to a command handler of groups 2..23.
//
// Words: an instruction is its command word (group << 16 | index) followed
// by its operand words. An operand word is tag (bits 28-31), offset (bits
// 16-27) and index (bits 0-15); the cell it names:
//   1 user memory[reg[index]]         2 system variables[reg[index]]
//   3 value stack slot index          4 reg[index]
//   5 temporary[reg[index] + offset (+ base register when offset != 0)]
//   6 Mem.dat element reg[index] + offset
//   7 Mem.dat element reg[index] + bits 16-27 of Mem.dat element offset
//   8 frame slot (frame pointer - index)   9 the base register
//   0, 10-15 immediate: the whole word, held in the immediate cell.
// An operand that names a cell outside its area is logged and refused: it
// reads 0 and a write to it goes nowhere.
//
// Command handlers: int handler(VmContext*). A handler pops its fixed
// arguments with value_stack_pop, first argument first (the script pushes
// them last to first), writes a result with command_set_result, and returns
// 1 to go on; 0 makes the run loop log "[pc]内部エラー。code = [word]" and go
// on. A command that must wait calls command_wait_again: the run stops for
// this frame and the same call runs again next frame, so it pops its
// arguments on the first run only and keeps its progress in its own state.
//
// A component plugs its handlers in from its install routine (declared in
// component_entries.h, called once by vm_commands_install):
//   void text_commands_install() {
//     static const CommandBinding kCommands[] = {{"text_init", cmd_text_init}, ...};
//     command_bind_all(kCommands);
//   }
// Names are checked against command_tables; a command left unbound behaves
// as a hole.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "vm/command_tables.h"
#include "vm/vm_context.h"

struct GameRecord;

using CommandHandler = int (*)(VmContext* ctx);

// ---- Set-up ----

// Points the context at the record's system-variable bank (bank 2). Call it
// before the script first runs; a context without it refuses tag-2 operands.
void vm_context_attach(GameRecord* record);
void vm_context_attach(VmContext* ctx, int32_t* system_variables);

// Binds the handlers of every command group into the dispatch tables: the
// machine's own commands and each component's *_commands_install(). Safe to
// call more than once; script_load calls it.
void vm_commands_install();

// ---- The run loop ----

// Runs from pc until an instruction yields or the code ends.
void script_run(VmContext* ctx);

// Runs the core instruction whose command word a handler has just read (pc
// on its first operand word), the opcode being the word's low 8 bits: for
// handlers that run script code themselves, as the choice block does with
// the pushes before each choice. 0 (logged) for a word that is no core
// instruction or whose operands run past the code, else the instruction's
// own result.
int vm_execute_core(VmContext* ctx, uint32_t word);

// ---- Operands and the value stack ----

// The cell that the operand word at pc names; pc moves past it. The caller
// has checked that the word lies inside the code.
int32_t* operand_decode(VmContext* ctx);
// The cell that an operand word names.
int32_t* operand_cell(VmContext* ctx, uint32_t operand);
// Pops the top value; an empty stack logs "not stack" and gives 0.
int32_t value_stack_pop(VmContext* ctx);
// Pushes a value; "stack over" when the stack is or becomes full.
void value_stack_push(VmContext* ctx, int32_t value);

// ---- What handlers use ----

// register[result index] := value (the register the call named).
void command_set_result(VmContext* ctx, int32_t value);
// Stops the run for this frame; the script goes on after this call next frame.
inline void command_yield(VmContext* ctx) { ctx->script.yield = 1; }
// Stops the run and moves pc back onto this call, so that it runs again next
// frame (a blocking command). Pop no arguments on the repeated runs.
void command_wait_again(VmContext* ctx);
// The pc of a code offset (from the code base), computed without overflow.
// False, quietly, when no code is loaded or the pc is not inside the code.
bool code_offset_pc(const VmContext* ctx, uint32_t offset, uint32_t* pc);
// The code offset (from the code base) of label L from Point.dat; label 0 is
// offset 0. False (logged) when the label lies outside Point.dat or its
// target past the end of the code.
bool label_code_offset(const VmContext* ctx, uint32_t label, uint32_t* offset);
// The pc (from the start of Script.src) of label L, checked against the code.
bool label_pc(const VmContext* ctx, uint32_t label, uint32_t* pc);

// ---- Binding handlers into the group tables ----

struct CommandBinding {
  const char* name;  // "name" or "group.name", as in command_tables
  CommandHandler handler;
};
// False (logged) for a name that is no command.
bool command_bind(std::string_view name, CommandHandler handler);
bool command_bind_word(uint32_t word, CommandHandler handler);
// Binds each; false when any name was unknown (the others are bound).
bool command_bind_all(std::span<const CommandBinding> bindings);
// The handler bound to a command word; null for holes and unbound commands.
CommandHandler command_handler(uint32_t word);

// ---- Return points and script points ----

// Pushes {pc, kind} at the front of the game list under key (2 or 3).
int return_point_push(VmContext* ctx, int key, uint32_t pc, uint32_t kind);
// Stacks the current pc: the run stops before it until the point is popped.
void script_point_push(VmContext* ctx);
void script_point_pop(VmContext* ctx);

// ---- The memory stack (one saved copy of the temporary area) ----

// The body of the memory_push command.
void memory_stack_push(VmContext* ctx);
void memory_stack_pop(VmContext* ctx);

// ---- Skip state ----

constexpr uint32_t kSkipStateMode = 0x1;     // skip mode is on
constexpr uint32_t kSkipStateCtrl = 0x4;     // the skip key (Ctrl) is held
constexpr uint32_t kSkipStatePushed = 0x8;   // wheel toward the player, or Space/Enter/click without Alt
// Non-zero means that waits are to be cut short.
uint32_t get_skip_state(const VmContext* ctx);

// ---- Display queue ----

constexpr size_t kDisplayOperationBytes = 44;
// Appends a zero-filled copy of the operation (its first u32 is its command
// word) to the game list under key 1; size is at least 4 bytes.
int display_queue_post(VmContext* ctx, const void* operation, size_t size);

// ---- Resets ----

// Clears the machine's stacks, registers, user memory and memory stack; the
// temporary area, system variables and string variables stay.
void vm_reset(VmContext* ctx);
// The whole game's reset, each component's release in the fixed order.
void game_reset(VmContext* ctx);
