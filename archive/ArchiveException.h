// The error an archive raises: a read past the end of its data, a file error from the
// operating system, or a read from a storing archive (and the reverse).
#pragma once

#include <stdexcept>
#include <string>

namespace archive {

class ArchiveException : public std::runtime_error {
public:
    enum class Cause { EndOfFile, FileError, WrongDirection, TooLong };

    ArchiveException(Cause cause, int error = 0);

    Cause cause() const { return cause_; }
    int error() const { return error_; }    // errno of a file error, else 0

private:
    Cause cause_;
    int error_;
};

}  // namespace archive
