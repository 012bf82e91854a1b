// The error an archive raises: a read past the end of its data, a file error from the
// operating system, or a read from a storing archive (and the reverse).
#pragma once

#include <stdexcept>
#include <string>

namespace archive {

class CArchiveException : public std::runtime_error {
public:
    enum class Cause { EndOfFile, FileError, WrongDirection, TooLong };

    CArchiveException(Cause cause, int error = 0);

    Cause cause() const { return m_cause; }
    int error() const { return m_error; }    // errno of a file error, else 0

private:
    Cause m_cause;
    int m_error;
};

}  // namespace archive
