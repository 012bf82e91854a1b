// The program's diagnostic trace lines ("Can't open %s\n", "File not found\n" ...). They
// go to the standard error stream, where a technician or a log collector reads them;
// the program keeps no log file of its own. Any thread.
#pragma once

#include <cstdarg>
#include <cstdio>

namespace fdp {

__attribute__((format(printf, 1, 2))) inline void DebugTrace(const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stderr, format, arguments);
    va_end(arguments);
}

}  // namespace fdp
