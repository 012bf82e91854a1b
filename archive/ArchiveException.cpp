#include "archive/ArchiveException.h"

#include <cstring>

namespace archive {
namespace {

std::string Describe(ArchiveException::Cause cause, int error) {
    switch (cause) {
    case ArchiveException::Cause::EndOfFile: return "unexpected end of file";
    case ArchiveException::Cause::FileError: return std::strerror(error);
    case ArchiveException::Cause::WrongDirection: return "archive used in the wrong direction";
    case ArchiveException::Cause::TooLong: return "text too long for the archive";
    }
    return "archive error";
}

}  // namespace

ArchiveException::ArchiveException(Cause cause, int error)
    : std::runtime_error(Describe(cause, error)), cause_(cause), error_(error) {}

}  // namespace archive
