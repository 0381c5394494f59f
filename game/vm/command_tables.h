// The script's command groups: for every command word (group << 16 | index)
// its name and the number of fixed arguments its handler pops. Group 1 is
// the core instruction set; groups 2..23 are the command groups; a slot
// without a command is a hole. The handlers themselves are bound at run time
// (vm.h), so this table is plain data that the script assembler shares.
#pragma once
#include <cstdint>
#include <span>
#include <string_view>

constexpr int kCommandGroupCount = 24;  // groups 0..23; 0 and 1 have no table

struct CommandInfo {
  const char* name;  // the script's name; null for a hole
  uint16_t group;
  uint16_t index;
  uint8_t argc;  // fixed arguments, popped first argument first
};

struct CommandGroupInfo {
  const char* name;  // the group's name in "group.command" references
  uint16_t group;
  uint16_t slots;  // table length, holes included
  const CommandInfo* commands;
};

constexpr uint32_t command_word(uint32_t group, uint32_t index) { return group << 16 | index; }

// The group's table; null for a group outside 0..23.
const CommandGroupInfo* command_group_info(uint32_t group);
// The command of a word; null for a hole, a group without a table or an
// index beyond the table.
const CommandInfo* command_info(uint32_t word);
// By "name" or "group.name"; null when there is no such command.
const CommandInfo* command_find(std::string_view name);
// Every group with a table (2..23), in group order.
std::span<const CommandGroupInfo> command_groups();
