#include "TrTrace.h"

#include "TrClock.h"

#include <windows.h>

namespace Tr {

const char* const traceLevelPrefixes[4] = {"", "", "ERROR: ", ""};

void (*traceHook)(const char* line) = nullptr;
void (*traceErrorHook)(const char* format, va_list arguments) = nullptr;
std::FILE* traceLogFile = nullptr;

namespace {

const char* prefixOf(std::int32_t level)
{
  return level >= 0 && level < 4 ? traceLevelPrefixes[level] : "";
}

} // namespace

void trace(std::int32_t level, const char* format, ...)
{
  va_list arguments;
  va_start(arguments, format);
  traceV(level, format, arguments);
  va_end(arguments);
}

void traceV(std::int32_t level, const char* format, va_list arguments)
{
  if (level == traceErrorLevel) {
    if (auto* const errorHook = traceErrorHook) {
      va_list copy;
      va_copy(copy, arguments);
      errorHook(format, copy);
      va_end(copy);
    }
  }
  char message[traceMessageBufferSize];
  // The C run-time's older vsnprintf leaves a cut text without its NUL and returns -1.
  if (std::vsnprintf(message, sizeof message, format != nullptr ? format : "", arguments) < 0) {
    message[0] = '\0';
  }
  message[sizeof message - 1] = '\0';
  traceWrite(level, message);
}

void traceWrite(std::int32_t level, const char* message)
{
  const DWORD threadId = GetCurrentThreadId();
  const std::uint32_t ms = getMilliseconds();

  // %p would print the identifier in lower case with mingw's C99 printf; the line's form is
  // eight upper-case digits.
  char line[traceLineBufferSize];
  const int written = std::snprintf(
      line, sizeof line, "%d-%08lX: %s%s\n", static_cast<std::int32_t>(ms),
      static_cast<unsigned long>(threadId), prefixOf(level), message != nullptr ? message : "");
  if (written < 0 || written >= static_cast<int>(sizeof line)) {
    line[sizeof line - 2] = '\n';
    line[sizeof line - 1] = '\0';
  }

  if (auto* const hook = traceHook) {
    hook(line);
  } else {
    OutputDebugStringA(line);
  }
  if (std::FILE* const file = traceLogFile) {
    std::fprintf(file, "%s", line);
    std::fflush(file);
  }
}

} // namespace Tr
