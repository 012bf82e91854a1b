// Opens the byte channel to a Bluetooth controller named by a device string:
//   hciN        the Linux HCI user channel of controller N (a real USB dongle). The
//               kernel must have let go of it: no bluetoothd using it, the controller
//               down (`hciconfig hciN down` or `btmgmt --index N power off`).
//               Needs CAP_NET_ADMIN when it is bound: the programs bind it at start
//               (PreopenHciTransport), before they give up their privileges, and hand
//               out that channel later; otherwise only root opens it. Reads return
//               whole packets.
//   unix:PATH   H4 over a Unix stream socket, as BlueZ's `btvirt -s` serves it.
//   PATH[:BAUD][:noflow]
//               H4 over a serial device: 8N1, 115200 baud unless given, RTS/CTS flow
//               control unless :noflow (adapters without the lines); a path naming a
//               Unix socket is connected as with unix:.
// The descriptor is blocking, close-on-exec, and the caller's to close.
#pragma once

#include <string>
#include <vector>

namespace hci {

struct HciOpenResult {
    int fd = -1;
    std::string error;   // why it did not open, naming the remedy where there is one
};

HciOpenResult OpenHciTransport(const std::string& device);

// Why a device could not be opened (error: the errno of the open, connect or bind),
// with what to do about it where there is something: "used by another program" for
// EBUSY and EUSERS.
std::string DescribeOpenError(const std::string& device, int error);

// For an hciN device: opens and binds its user channel now, while the process may still
// do so, and keeps it for OpenHciTransport of the same device string, which hands out a
// copy of it each time (or, when it could not be opened now, why). Other devices need no
// privilege and are opened when used; for them, as for an empty string, nothing happens.
// Main calls it once, before any other thread runs.
void PreopenHciTransport(const std::string& device);

// The controllers the kernel knows (hci0, hci1, ...), in index order.
std::vector<std::string> ListHciControllers();

}  // namespace hci
