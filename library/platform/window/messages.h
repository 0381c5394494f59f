// Message numbers, command codes and box flags shared by the window, the
// threads and the engine. They keep the values the engine's message handling
// was written against, so logs and tests read the same on every backend.
#pragma once
#include <cstdint>

namespace plat {

constexpr uint32_t kMsgNull = 0x0000;
constexpr uint32_t kMsgCreate = 0x0001;
constexpr uint32_t kMsgDestroy = 0x0002;
constexpr uint32_t kMsgMove = 0x0003;
constexpr uint32_t kMsgSize = 0x0005;
constexpr uint32_t kMsgActivate = 0x0006;
constexpr uint32_t kMsgPaint = 0x000F;
constexpr uint32_t kMsgClose = 0x0010;
constexpr uint32_t kMsgQuit = 0x0012;
// The session ends (SIGTERM from a session manager or `kill`, SIGINT from
// the terminal): the program ends in order without asking.
constexpr uint32_t kMsgEndSession = 0x0016;
constexpr uint32_t kMsgActivateApp = 0x001C;
constexpr uint32_t kMsgWindowPosChanging = 0x0046;
constexpr uint32_t kMsgNcLButtonDblClk = 0x00A3;
constexpr uint32_t kMsgKeyDown = 0x0100;
constexpr uint32_t kMsgKeyUp = 0x0101;
constexpr uint32_t kMsgSysKeyDown = 0x0104;
constexpr uint32_t kMsgSysKeyUp = 0x0105;
constexpr uint32_t kMsgSysCommand = 0x0112;
constexpr uint32_t kMsgMouseMove = 0x0200;
constexpr uint32_t kMsgLButtonDown = 0x0201;
constexpr uint32_t kMsgLButtonUp = 0x0202;
constexpr uint32_t kMsgLButtonDblClk = 0x0203;
constexpr uint32_t kMsgRButtonDown = 0x0204;
constexpr uint32_t kMsgRButtonUp = 0x0205;
constexpr uint32_t kMsgRButtonDblClk = 0x0206;
constexpr uint32_t kMsgMButtonDown = 0x0207;
constexpr uint32_t kMsgMButtonUp = 0x0208;
constexpr uint32_t kMsgMButtonDblClk = 0x0209;
constexpr uint32_t kMsgMouseWheel = 0x020A;
constexpr uint32_t kMsgTaskbarMenu = 0x0313;
constexpr uint32_t kMsgUser = 0x0400;
constexpr uint32_t kMsgApp = 0x8000;
// Text from the input method while text input is on: lParam is a
// TextInputEvent* that the receiver deletes (the engine's procedure handles
// both; DefWindowProc deletes it too).
constexpr uint32_t kMsgTextCommit = 0x0109;
constexpr uint32_t kMsgTextComposition = 0x010F;

// System commands (wParam of kMsgSysCommand).
constexpr uintptr_t kScMaximize = 0xF030;
constexpr uintptr_t kScClose = 0xF060;
constexpr uintptr_t kScKeyMenu = 0xF100;
constexpr uintptr_t kScScreenSave = 0xF140;

// wParam of kMsgSize.
constexpr uintptr_t kSizeRestored = 0;
constexpr uintptr_t kSizeMinimized = 1;
constexpr uintptr_t kSizeMaximized = 2;

// Virtual keys the window procedure looks at.
constexpr uintptr_t kVkReturn = 0x0D;
constexpr uintptr_t kVkF4 = 0x73;
constexpr int kWheelDelta = 120;

// Message box flags and answers.
constexpr uint32_t kMbOk = 0x0;
constexpr uint32_t kMbYesNo = 0x4;
constexpr uint32_t kMbIconError = 0x10;
constexpr uint32_t kMbIconQuestion = 0x20;
constexpr uint32_t kMbIconWarning = 0x30;
constexpr uint32_t kMbIconInformation = 0x40;
constexpr int kIdOk = 1;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;

// Thread-local error codes the engine reports.
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorNotEnoughMemory = 8;
constexpr uint32_t kErrorInvalidParameter = 87;

}  // namespace plat
