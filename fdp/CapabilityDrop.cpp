#include "fdp/CapabilityDrop.h"

#include <sys/capability.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace fdp {

bool DropCapabilities(std::string& error) {
    const uid_t user = ::getuid();
    if (user == 0) return true;
    const gid_t group = ::getgid();
    // A set-id copy: the borrowed identity goes before the capabilities, which the
    // change of user would otherwise clear only in part.
    if (::getegid() != group && ::setresgid(group, group, group) != 0) {
        error = std::string("cannot give up the group's rights: ") + std::strerror(errno);
        return false;
    }
    if (::geteuid() != user && ::setresuid(user, user, user) != 0) {
        error = std::string("cannot give up the user's rights: ") + std::strerror(errno);
        return false;
    }
    if (CAP_AMBIENT_SUPPORTED() && cap_reset_ambient() != 0) {
        error = std::string("cannot clear the ambient capabilities: ") + std::strerror(errno);
        return false;
    }
    cap_t none = cap_init();   // every flag of every capability clear
    if (!none) {
        error = std::string("cannot give up the capabilities: ") + std::strerror(errno);
        return false;
    }
    const int set = cap_set_proc(none);
    const int setError = errno;
    cap_free(none);
    if (set != 0) {
        error = std::string("cannot give up the capabilities: ") + std::strerror(setError);
        return false;
    }
    return true;
}

}  // namespace fdp
