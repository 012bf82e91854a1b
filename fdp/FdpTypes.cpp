#include "fdp/FdpTypes.h"

namespace fdp {

bool NotifyCodeFor(unsigned result, NotifyCode& code) {
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

}  // namespace fdp
