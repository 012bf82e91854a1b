// The outcome of a job's end in the shape of the result messages the tests were written
// against: the code a page was told (0 none), taken from the job's result. The link tells
// a job's end as a typed event (JobEnded); this is the tests' reading of it.
#pragma once

#include <cstdint>
#include <optional>

#include "fdp/FdpTypes.h"
#include "fdp/LinkEvent.h"

namespace fdp {

enum NotifyCode : std::uint32_t {
    NotifyProgress = 0,
    NotifySuccess = 1,
    NotifyCancelled = 2,
    NotifyTimeout = 4,
    NotifyFileError = 5,
    NotifyFailed = 9,
    NotifyInvalid = 10,
};

// False when the result has no outcome the user is told of (a target's status byte).
inline bool NotifyCodeFor(unsigned result, NotifyCode& code) {
    switch (result) {
    case FdpOk: code = NotifySuccess; return true;
    case FdpCancelled: code = NotifyCancelled; return true;
    case FdpTimeout: code = NotifyTimeout; return true;
    case FdpFileError: code = NotifyFileError; return true;
    case FdpFailed: code = NotifyFailed; return true;
    case FdpInvalidOperation: code = NotifyInvalid; return true;
    default: return false;
    }
}

// A listen always has one: its connection result.
inline std::optional<NotifyCode> OutcomeOf(const JobEnded& end) {
    NotifyCode code = NotifyProgress;
    if (end.job == JobListen) return static_cast<NotifyCode>(end.result);
    if (!NotifyCodeFor(end.result, code)) return std::nullopt;
    return code;
}

}  // namespace fdp
