// Diagnostic trace lines on the debugger output channel.
#pragma once

// Writes "TKL: " and the formatted text to the debugger channel as one line. The line is built in
// a buffer of its own call (8192 bytes with the terminator); longer text is cut. No line end is
// added.
void DebugTrace(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
