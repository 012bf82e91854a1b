#include "tools/cli/Say.h"

#include <cstdarg>
#include <cstdio>

namespace cli {

namespace {

thread_local std::string* t_log = nullptr;

void Put(std::FILE* stream, const char* format, va_list arguments) {
    if (!t_log) {
        std::vfprintf(stream, format, arguments);
        return;
    }
    va_list again;
    va_copy(again, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, again);
    va_end(again);
    if (length <= 0) return;
    const std::size_t at = t_log->size();
    t_log->resize(at + static_cast<std::size_t>(length) + 1);
    std::vsnprintf(t_log->data() + at, static_cast<std::size_t>(length) + 1, format, arguments);
    t_log->resize(at + static_cast<std::size_t>(length));
}

}  // namespace

void Say(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    Put(stdout, format, arguments);
    va_end(arguments);
}

void Complain(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    Put(stderr, format, arguments);
    va_end(arguments);
}

CSayInto::CSayInto(std::string& log) : m_previous(t_log) { t_log = &log; }
CSayInto::~CSayInto() { t_log = m_previous; }

}  // namespace cli
