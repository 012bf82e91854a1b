// Giving up the process's privileges for good, once what needed them is open. Both
// programs call it first thing in main, right after opening the packet socket (and an
// hciN dongle's user channel), so that no toolkit code, plugin, settings file or user
// file ever runs with a capability.
#pragma once

#include <string>

namespace fdp {

// Unless the real user is root (who keeps root's rights): the permitted, effective,
// inheritable and ambient capability sets are emptied, and an effective user or group
// other than the real one is given up as well. False with the reason when that failed;
// the caller must then not go on.
bool DropCapabilities(std::string& error);

}  // namespace fdp
