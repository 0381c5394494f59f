// log.txt in the base folder, debug mode only: one line per call, written
// through at once, ending in CR LF.
#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <string>

#include "platform/core/error.h"
#include "platform/core/file.h"
#include "platform/window/messages.h"
#include "core/system_state.h"

namespace {

int WriteLine(const char* text, size_t len) {
  KivSystemState* s = g_kiv;
  if (!s || s->errorLog < 0) return 0;
  std::string line(text, len);
  line += "\r\n";
  ssize_t done = 0;
  while (done < static_cast<ssize_t>(line.size())) {
    ssize_t w = ::write(s->errorLog, line.data() + done, line.size() - static_cast<size_t>(done));
    if (w <= 0) return 0;
    done += w;
  }
  return 1;
}

// The system's message table: the last-error words the engine, the game and
// the platform layer set, and the other common ones a host program may set
// before asking for the text. A word outside the table is logged by number.
struct SystemMessageEntry {
  uint32_t code;
  const char* text;
};
constexpr SystemMessageEntry kSystemMessages[] = {
    {0, "The operation completed successfully."},
    {1, "Incorrect function."},
    {2, "The system cannot find the file specified."},
    {3, "The system cannot find the path specified."},
    {4, "The system cannot open the file."},
    {5, "Access is denied."},
    {6, "The handle is invalid."},
    {8, "Not enough memory resources are available to process this command."},
    {13, "The data is invalid."},
    {14, "Not enough memory resources are available to complete this operation."},
    {18, "There are no more files."},
    {19, "The media is write protected."},
    {21, "The device is not ready."},
    {32, "The process cannot access the file because it is being used by another process."},
    {38, "Reached the end of the file."},
    {80, "The file exists."},
    {87, "The parameter is incorrect."},
    {112, "There is not enough space on the disk."},
    {120, "This function is not supported on this system."},
    {122, "The data area passed to a system call is too small."},
    {123, "The filename, directory name, or volume label syntax is incorrect."},
    {126, "The specified module could not be found."},
    {127, "The specified procedure could not be found."},
    {183, "Cannot create a file when that file already exists."},
    {258, "The wait operation timed out."},
    {1400, "Invalid window handle."},
};

const char* SystemMessage(uint32_t code) {
  for (const auto& e : kSystemMessages)
    if (e.code == code) return e.text;
  return nullptr;
}

}  // namespace

int KivErrorLogOpen(void) {
  KivSystemState* s = g_kiv;
  if (!s->params.debug) return 1;
  std::string path = plat::NativePath(std::string(s->baseFolder) + "\\log.txt");
  s->errorLog = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_SYNC | O_CLOEXEC, 0644);
  return 1;  // a log that cannot be opened is not fatal
}

void KivErrorLogClose(void) {
  KivSystemState* s = g_kiv;
  if (s && s->errorLog >= 0) {
    ::close(s->errorLog);
    s->errorLog = -1;
  }
}

extern "C" KIV_API int KivErrorLogPrintf(const char* fmt, ...) {
  KivSystemState* s = g_kiv;
  if (!s || !s->params.debug) return 1;
  if (s->errorLog < 0 || !fmt) return 0;
  va_list ap;
  va_start(ap, fmt);
  va_list ap2;
  va_copy(ap2, ap);
  int n = std::vsnprintf(nullptr, 0, fmt, ap);
  va_end(ap);
  if (n < 0) {
    va_end(ap2);
    return 0;
  }
  std::string text(static_cast<size_t>(n) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), fmt, ap2);
  va_end(ap2);
  return WriteLine(text.data(), static_cast<size_t>(n));
}

extern "C" KIV_API int KivErrorLogPrintfBasic(const char* fmt, ...) {
  KivSystemState* s = g_kiv;
  if (!s || !s->params.debug) return 1;
  if (s->errorLog < 0 || !fmt) return 0;
  char buf[1024];
  va_list ap;
  va_start(ap, fmt);
  int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  if (n < 0) return 0;
  size_t len = static_cast<size_t>(n) < sizeof buf ? static_cast<size_t>(n) : sizeof buf - 1;
  return WriteLine(buf, len);
}

extern "C" KIV_API int KivErrorLogPuts(void) {
  uint32_t code = plat::GetLastError();
  char text[1024];
  if (const char* m = SystemMessage(code))
    std::snprintf(text, sizeof text, "%s", m);
  else
    std::snprintf(text, sizeof text, "Error %u.", code);
  plat::DebugOutput(text);
  // The message is data, never a format.
  return KivErrorLogPrintf("%s", text);
}

extern "C" KIV_API uint32_t KivGetLastError(void) { return plat::GetLastError(); }
