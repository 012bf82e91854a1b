#include "archive/ArchiveException.h"

#include <cstring>

namespace archive {
namespace {

std::string Describe(CArchiveException::Cause cause, int error) {
    switch (cause) {
    case CArchiveException::Cause::EndOfFile: return "unexpected end of file";
    case CArchiveException::Cause::FileError: return std::strerror(error);
    case CArchiveException::Cause::WrongDirection: return "archive used in the wrong direction";
    case CArchiveException::Cause::TooLong: return "text too long for the archive";
    }
    return "archive error";
}

}  // namespace

CArchiveException::CArchiveException(Cause cause, int error)
    : std::runtime_error(Describe(cause, error)), m_cause(cause), m_error(error) {}

}  // namespace archive
