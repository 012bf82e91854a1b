#include "hci/HciTransport.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>

namespace hci {

namespace {

// The controller bound at start: its device string, the channel or why it did not open.
struct Preopened {
    std::string device;
    int fd = -1;
    std::string error;
};
Preopened g_preopened;

// The kernel's HCI socket interface (linux/bluetooth.h, net/bluetooth/hci_sock.h).
constexpr int kAfBluetooth = 31;
constexpr int kBtProtoHci = 1;
constexpr unsigned short kHciChannelUser = 1;
struct SockaddrHci {
    sa_family_t family;
    unsigned short dev;
    unsigned short channel;
};

std::string Errno(int error) { return std::strerror(error); }

bool ParseUnsigned(std::string_view text, unsigned& value) {
    if (text.empty()) return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

HciOpenResult OpenUserChannel(const std::string& name, unsigned index) {
    HciOpenResult result;
    const int fd = ::socket(kAfBluetooth, SOCK_RAW | SOCK_CLOEXEC, kBtProtoHci);
    if (fd < 0) {
        result.error = name + ": this system offers no Bluetooth sockets (" + Errno(errno) + ")";
        return result;
    }
    SockaddrHci address{static_cast<sa_family_t>(kAfBluetooth), static_cast<unsigned short>(index), kHciChannelUser};
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        ::close(fd);
        // EBUSY: the kernel's own stack has the controller up; EUSERS: another
        // program holds its user channel.
        if (error == EBUSY || error == EALREADY)
            result.error = name + " is used by another program, the kernel's Bluetooth stack: stop bluetoothd and "
                                  "take the controller down (hciconfig " + name + " down, or btmgmt --index " +
                           std::to_string(index) + " power off)";
        else if (error == ENODEV)
            result.error = name + ": no such Bluetooth controller; plug the dongle in (hciconfig lists the controllers)";
        else if (error == EPERM || error == EACCES)
            result.error = name + ": only a process that may still bind the HCI user channel (root) opens it now; "
                                  "name it with --dongle " + name + " when the program starts, as root";
        else
            result.error = DescribeOpenError(name, error);
        return result;
    }
    result.fd = fd;
    return result;
}

HciOpenResult OpenUnixSocket(const std::string& path) {
    HciOpenResult result;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        result.error = "unix:" + path + ": not a usable socket path";
        return result;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        result.error = DescribeOpenError(path, errno);
        if (fd >= 0) ::close(fd);
        return result;
    }
    result.fd = fd;
    return result;
}

speed_t BaudConstant(unsigned baud) {
    switch (baud) {
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 921600: return B921600;
    case 1000000: return B1000000;
    case 3000000: return B3000000;
    default: return 0;
    }
}

HciOpenResult OpenSerial(const std::string& path, unsigned baud, bool flowControl) {
    HciOpenResult result;
    const speed_t speed = BaudConstant(baud);
    if (speed == 0) {
        result.error = path + ": unsupported baud rate " + std::to_string(baud);
        return result;
    }
    // Without O_NONBLOCK the open of a serial line whose CLOCAL is still off waits for
    // carrier detect, which an H4 adapter need not raise: the window would hang on it.
    // The line is made blocking again once CLOCAL is set.
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        result.error = DescribeOpenError(path, errno);
        return result;
    }
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        result.error = path + ": not a serial device (" + Errno(errno) + ")";
        ::close(fd);
        return result;
    }
    // The H4 UART transport's line: 8 data bits, no parity, one stop bit, RTS/CTS.
    // Every one is set, since the port keeps what its last user left (two stop bits,
    // no flow control, ...), which raw mode alone does not undo.
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    if (flowControl) tio.c_cflag |= CRTSCTS;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
        result.error = path + ": " + Errno(errno);
        ::close(fd);
        return result;
    }
    // tcsetattr succeeds when any of the settings took; a port without RTS/CTS lines
    // silently keeps flow control off.
    termios taken{};
    if (flowControl && (::tcgetattr(fd, &taken) != 0 || !(taken.c_cflag & CRTSCTS))) {
        result.error = path + ": the port does not offer RTS/CTS flow control; name it as " + path + ":" +
                       std::to_string(baud) + ":noflow for an adapter without it";
        ::close(fd);
        return result;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        result.error = path + ": " + Errno(errno);
        ::close(fd);
        return result;
    }
    ::tcflush(fd, TCIOFLUSH);
    result.fd = fd;
    return result;
}

}  // namespace

std::string DescribeOpenError(const std::string& device, int error) {
    switch (error) {
    case EBUSY:
    case EUSERS:
        return device + " is used by another program: close the program that holds it";
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return device + ": no such device; plug the dongle in, or name another with --dongle";
    case EACCES:
    case EPERM:
        return device + ": no permission to open it; run as root or join the group that owns it (dialout for a serial port)";
    case ECONNREFUSED:
        return device + ": no controller listens on this socket (is btvirt -s running?)";
    default:
        return device + ": " + Errno(error);
    }
}

void PreopenHciTransport(const std::string& device) {
    unsigned index = 0;
    if (!device.starts_with("hci") || !ParseUnsigned(std::string_view(device).substr(3), index)) return;
    HciOpenResult opened = OpenUserChannel(device, index);
    if (g_preopened.fd >= 0) ::close(g_preopened.fd);
    g_preopened = {device, opened.fd, std::move(opened.error)};
}

HciOpenResult OpenHciTransport(const std::string& device) {
    if (device.starts_with("unix:")) return OpenUnixSocket(device.substr(5));
    unsigned index = 0;
    if (device.starts_with("hci") && ParseUnsigned(std::string_view(device).substr(3), index)) {
        if (device == g_preopened.device && g_preopened.fd >= 0) {
            HciOpenResult result;
            result.fd = ::fcntl(g_preopened.fd, F_DUPFD_CLOEXEC, 0);
            if (result.fd < 0) {
                result.error = device + ": " + Errno(errno);
                return result;
            }
            // What the controller said while nobody listened belongs to nobody.
            char scratch[1024];
            while (::recv(result.fd, scratch, sizeof scratch, MSG_DONTWAIT) > 0) {}
            return result;
        }
        HciOpenResult result = OpenUserChannel(device, index);
        // The reason found at start, while the process still had its privileges, is the
        // one worth telling (a busy controller rather than a missing right).
        if (result.fd < 0 && device == g_preopened.device && !g_preopened.error.empty()) result.error = g_preopened.error;
        return result;
    }
    // PATH[:BAUD][:noflow]
    std::string path = device;
    unsigned baud = 115200;
    bool flowControl = true;
    if (path.ends_with(":noflow")) {
        path.resize(path.size() - 7);
        flowControl = false;
    }
    if (const auto colon = path.rfind(':'); colon != std::string::npos && colon > 0) {
        unsigned parsed = 0;
        if (ParseUnsigned(std::string_view(path).substr(colon + 1), parsed)) {
            baud = parsed;
            path.resize(colon);
        }
    }
    if (path.empty() || path[0] != '/') {
        HciOpenResult result;
        result.error = device + ": not a Bluetooth device (hciN, a serial device path, or unix:PATH)";
        return result;
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode)) return OpenUnixSocket(path);
    return OpenSerial(path, baud, flowControl);
}

std::vector<std::string> ListHciControllers() {
    std::vector<std::pair<unsigned, std::string>> found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/sys/class/bluetooth", error)) {
        const std::string name = entry.path().filename().string();
        unsigned index = 0;
        if (name.starts_with("hci") && ParseUnsigned(std::string_view(name).substr(3), index))
            found.emplace_back(index, name);
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> names;
    for (auto& [index, name] : found) names.push_back(std::move(name));
    return names;
}

}  // namespace hci
