// The machine family: which backend answers each query.
#include "platform/machine/machine_info.h"

#include <atomic>
#include <cstdlib>

#include "platform/machine/machine_backend.h"

namespace plat {

namespace {
bool FromEnv() {
  const char* v = std::getenv("KIV_HEADLESS");
  return v && *v && *v != '0';
}
std::atomic<bool> g_headless{FromEnv()};
}  // namespace

bool MachineHeadless() { return g_headless.load(); }
void SetMachineHeadless(bool on) { g_headless.store(on); }

OsInfo MachineOs() { return MachineHeadless() ? headless_machine::Os() : real_machine::Os(); }
DiskInfo MachineDisk(const std::string& p) {
  return MachineHeadless() ? headless_machine::Disk(p) : real_machine::Disk(p);
}
MemoryInfo MachineMemory() { return MachineHeadless() ? headless_machine::Memory() : real_machine::Memory(); }
CpuInfo MachineCpu() { return MachineHeadless() ? headless_machine::Cpu() : real_machine::Cpu(); }
std::vector<DisplayInfo> MachineDisplays() {
  return MachineHeadless() ? headless_machine::Displays() : real_machine::Displays();
}
RendererInfo MachineRenderer(int index) {
  return MachineHeadless() ? headless_machine::Renderer(index) : real_machine::Renderer(index);
}
std::vector<SoundDeviceInfo> MachineSoundDevices() {
  return MachineHeadless() ? headless_machine::SoundDevices() : real_machine::SoundDevices();
}

std::vector<InputDeviceInfo> MachineInputDevices() {
  return MachineHeadless() ? headless_machine::InputDevices() : real_machine::InputDevices();
}

}  // namespace plat
