// The two backends of the machine family, chosen by machine_info.cpp.
#pragma once
#include "platform/machine/machine_info.h"

namespace plat::real_machine {
OsInfo Os();
DiskInfo Disk(const std::string& native_path);
MemoryInfo Memory();
CpuInfo Cpu();
std::vector<DisplayInfo> Displays();
RendererInfo Renderer(int index);
std::vector<SoundDeviceInfo> SoundDevices();
std::vector<InputDeviceInfo> InputDevices();
}  // namespace plat::real_machine

namespace plat::headless_machine {
OsInfo Os();
DiskInfo Disk(const std::string& native_path);
MemoryInfo Memory();
CpuInfo Cpu();
std::vector<DisplayInfo> Displays();
RendererInfo Renderer(int index);
std::vector<SoundDeviceInfo> SoundDevices();
std::vector<InputDeviceInfo> InputDevices();
}  // namespace plat::headless_machine
