// The entry points behind input.h, one pair per backend.
#pragma once
#include <memory>

#include "platform/input/input.h"

namespace plat {

InputSample HeadlessSampleInput(Window* window);
std::unique_ptr<Joystick> OpenHeadlessJoystick();

InputSample SdlSampleInput();
std::unique_ptr<Joystick> OpenSdlJoystick();

}  // namespace plat
