#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>

namespace Tr {

/** The error level: the one level with a prefix ("ERROR: ") and the one that calls
    traceErrorHook. Levels 0, 1 and 3 carry no prefix. */
constexpr std::int32_t traceErrorLevel = 2;

/** Line prefixes by level 0 to 3. */
extern const char* const traceLevelPrefixes[4];

/** When set, receives every finished line in place of the debugger output. */
extern void (*traceHook)(const char* line);

/** When set, called with the format and a copy of the arguments of every error-level message,
    before the message is formatted. */
extern void (*traceErrorHook)(const char* format, va_list arguments);

/** When set, every line is appended to this stream and flushed; the trace never opens or
    closes it. */
extern std::FILE* traceLogFile;

/** Sizes of the trace's own buffers, NUL included: longer messages and lines are cut. */
constexpr int traceMessageBufferSize = 2000;
constexpr int traceLineBufferSize = 2000;

/** Emits one line "<ms>-<thread id>: <prefix><message>\n": the library clock's reading as a
    signed decimal, the thread identifier as eight upper-case hex digits. A line too long for
    its buffer is cut and still ends with its newline. Levels outside 0 to 3 get no prefix. Any
    thread may trace; nothing is allocated on the heap. */
void trace(std::int32_t level, const char* format, ...) __attribute__((format(printf, 2, 3)));
void traceV(std::int32_t level, const char* format, va_list arguments);

/** Stamps, prefixes and emits a message that is formatted already (a null one counts as
    empty). */
void traceWrite(std::int32_t level, const char* message);

} // namespace Tr
