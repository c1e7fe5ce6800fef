#include "diag/trace.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/win32.h"

namespace {
constexpr std::size_t kTraceBufferSize = 8192;
constexpr char kPrefix[] = "TKL: ";
constexpr std::size_t kPrefixLength = sizeof(kPrefix) - 1;
}  // namespace

void DebugTrace(const char* format, ...) {
    char line[kTraceBufferSize];
    std::memcpy(line, kPrefix, kPrefixLength);
    line[kPrefixLength] = '\0';
    if (format != nullptr) {
        va_list args;
        va_start(args, format);
        // vsnprintf cuts at the room left and always terminates.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#endif
        std::vsnprintf(line + kPrefixLength, kTraceBufferSize - kPrefixLength, format, args);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
        va_end(args);
    }
    OutputDebugStringA(line);
}
