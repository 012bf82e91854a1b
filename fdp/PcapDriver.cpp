#include "fdp/PcapDriver.h"

#include <dlfcn.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <pcap/pcap.h>

#include <cerrno>
#include <cstring>
#include <span>
#include <type_traits>

#include "resources/strings/StringIds.h"
#include "resources/strings/StringTable.h"

namespace fdp {

namespace {

constexpr const char* kLibraryNames[] = {"libpcap.so.1", "libpcap.so.0.8"};
constexpr int kSnapLen = 2048;                        // whole frames, VLAN tags included
constexpr int kKernelBufferLen = 524288;
constexpr const char* kFilter = "ether proto 0x0707";
constexpr std::size_t kMaxRecordLen = (kCaptureHeaderLen + kSnapLen + 3) & ~std::size_t{3};

// Where one dispatch appends its capture records.
struct DispatchTarget {
    std::span<std::uint8_t> buffer;
    std::size_t used = 0;
};

void AppendPacket(u_char* user, const pcap_pkthdr* header, const u_char* bytes) {
    auto* target = reinterpret_cast<DispatchTarget*>(user);
    const std::size_t next = AppendCaptureRecord(
        target->buffer, target->used, std::span<const std::uint8_t>(bytes, header->caplen),
        header->len);
    // The dispatch count keeps every record within the room left; a frame that does not
    // fit all the same is dropped, as a lost frame would be.
    if (next != 0) target->used = next;
}

std::string ProgramPath() {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return "<program>";
    path[n] = '\0';
    return path;
}

}  // namespace

// The library functions in use, looked up by name when the library is loaded.
struct CPacketDriver::Api {
    decltype(&pcap_create) create = nullptr;
    decltype(&pcap_set_snaplen) setSnaplen = nullptr;
    decltype(&pcap_set_promisc) setPromisc = nullptr;
    decltype(&pcap_set_immediate_mode) setImmediateMode = nullptr;
    decltype(&pcap_set_timeout) setTimeout = nullptr;
    decltype(&pcap_set_buffer_size) setBufferSize = nullptr;
    decltype(&pcap_activate) activate = nullptr;
    decltype(&pcap_setdirection) setDirection = nullptr;
    decltype(&pcap_compile) compile = nullptr;
    decltype(&pcap_setfilter) setFilter = nullptr;
    decltype(&pcap_freecode) freeCode = nullptr;
    decltype(&pcap_setnonblock) setNonblock = nullptr;
    decltype(&pcap_get_selectable_fd) selectableFd = nullptr;
    decltype(&pcap_dispatch) dispatch = nullptr;
    decltype(&pcap_sendpacket) sendPacket = nullptr;
    decltype(&pcap_geterr) getErr = nullptr;
    decltype(&pcap_close) close = nullptr;
};

CPacketDriver::CPacketDriver() = default;

CPacketDriver::~CPacketDriver() {
    Uninit();
    if (m_wakeFd >= 0) ::close(m_wakeFd);
}

int CPacketDriver::Init(void* /*unused*/) {
    WakeReceiver();
    std::lock_guard lock(m_lock);
    CloseHandleLocked();   // a second Init starts from no adapter open, never leaks one
    // A whole frame is assembled in the send buffer: header and up to 1500 bytes.
    m_sendBuffer.assign(kMaxFrame, 0);
    m_receiveBuffer.assign(kReceiveBufferLen, 0);
    if (m_wakeFd < 0) m_wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    return 1;
}

int CPacketDriver::Uninit() {
    WakeReceiver();
    std::lock_guard lock(m_lock);
    CloseHandleLocked();
    UnloadLibrary();
    m_sendBuffer = {};
    m_receiveBuffer = {};
    return 1;
}

int CPacketDriver::EnumerateAdapters() {
    m_table = m_adapters.Enumerate(kMaxAdapters);
    if (m_table.empty() && !m_adapters.InterfaceFilter().empty())
        SetFailure(res::IDS_NO_SUCH_INTERFACE, {m_adapters.InterfaceFilter()});
    return static_cast<int>(m_table.size());
}

bool CPacketDriver::LoadLibrary() {
    if (m_api) return true;
    for (const char* name : kLibraryNames) {
        m_library = ::dlopen(name, RTLD_NOW | RTLD_LOCAL);
        if (m_library) break;
    }
    if (!m_library) {
        SetFailureLocked(res::IDS_CAPTURE_LIBRARY_MISSING, {});
        return false;
    }
    auto api = std::make_unique<Api>();
    bool complete = true;
    auto bind = [&](auto& function, const char* symbol) {
        function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(
            ::dlsym(m_library, symbol));
        if (!function) {
            if (complete) SetFailureLocked(res::IDS_CAPTURE_LIBRARY_INCOMPLETE, {symbol});
            complete = false;
        }
    };
    bind(api->create, "pcap_create");
    bind(api->setSnaplen, "pcap_set_snaplen");
    bind(api->setPromisc, "pcap_set_promisc");
    bind(api->setImmediateMode, "pcap_set_immediate_mode");
    bind(api->setTimeout, "pcap_set_timeout");
    bind(api->setBufferSize, "pcap_set_buffer_size");
    bind(api->activate, "pcap_activate");
    bind(api->setDirection, "pcap_setdirection");
    bind(api->compile, "pcap_compile");
    bind(api->setFilter, "pcap_setfilter");
    bind(api->freeCode, "pcap_freecode");
    bind(api->setNonblock, "pcap_setnonblock");
    bind(api->selectableFd, "pcap_get_selectable_fd");
    bind(api->dispatch, "pcap_dispatch");
    bind(api->sendPacket, "pcap_sendpacket");
    bind(api->getErr, "pcap_geterr");
    bind(api->close, "pcap_close");
    if (!complete) {
        UnloadLibrary();
        return false;
    }
    m_api = std::move(api);
    return true;
}

void CPacketDriver::UnloadLibrary() {
    m_api.reset();
    if (m_library) ::dlclose(m_library);
    m_library = nullptr;
}

int CPacketDriver::OpenAdapter(std::uint16_t index) {
    if (index >= m_table.size()) return OpenBadIndex;
    if (static_cast<int>(index) == m_openIndex) return OpenAlreadyOpen;
    WakeReceiver();
    std::lock_guard lock(m_lock);
    CloseHandleLocked();
    SetFailureLocked(0, {});
    if (m_sendBuffer.empty()) return OpenNoSendPacket;        // not initialised, or after Uninit
    if (m_receiveBuffer.empty()) return OpenNoReceivePacket;
    if (!LoadLibrary()) return OpenFailed;

    const std::string& name = m_table[index].name;
    const int result = OpenHandle(name);
    if (result != OpenOk) return result;
    if (!m_adapters.ReadAddress(name, m_localAddress)) {
        SetFailureLocked(res::IDS_ADDRESS_UNREADABLE, {name});
        CloseHandleLocked();
        return OpenNoAddress;
    }
    m_openIndex = index;
    return OpenOk;
}

int CPacketDriver::OpenHandle(const std::string& name) {
    char errorText[PCAP_ERRBUF_SIZE] = {};
    pcap_t* handle = m_api->create(name.c_str(), errorText);
    if (!handle) {
        SetFailureLocked(res::IDS_CANNOT_OPEN_INTERFACE, {name, errorText});
        return OpenFailed;
    }
    m_api->setSnaplen(handle, kSnapLen);
    m_api->setPromisc(handle, 0);
    // Without immediate mode frames wait in the kernel until a buffer fills or the read
    // time-out passes: every reply would take up to a second.
    m_api->setImmediateMode(handle, 1);
    m_api->setTimeout(handle, kReadTimeoutMs);
    m_api->setBufferSize(handle, kKernelBufferLen);

    auto fail = [&](unsigned textId, std::vector<std::string> words) {
        SetFailureLocked(textId, std::move(words));
        m_api->close(handle);
        return OpenFailed;
    };
    const int activated = m_api->activate(handle);
    if (activated < 0) {
        const std::string detail = m_api->getErr(handle);
        if (activated == PCAP_ERROR_PERM_DENIED ||
            (activated == PCAP_ERROR && detail.find("ermission") != std::string::npos))
            return fail(res::IDS_NO_RAW_PRIVILEGE, {name, ProgramPath()});
        if (activated == PCAP_ERROR_NO_SUCH_DEVICE)
            return fail(res::IDS_NO_SUCH_INTERFACE, {name});
        if (activated == PCAP_ERROR_IFACE_NOT_UP)
            return fail(res::IDS_INTERFACE_DOWN, {name});
        return fail(res::IDS_CANNOT_OPEN_INTERFACE, {name, detail});
    }
    // Only frames that arrive: the link must never read its own commands as replies.
    if (m_api->setDirection(handle, PCAP_D_IN) != 0)
        return fail(res::IDS_CANNOT_PREPARE_CAPTURE, {name, m_api->getErr(handle)});
    bpf_program program{};
    if (m_api->compile(handle, &program, kFilter, 1, PCAP_NETMASK_UNKNOWN) != 0)
        return fail(res::IDS_CANNOT_PREPARE_CAPTURE, {name, m_api->getErr(handle)});
    const int filtered = m_api->setFilter(handle, &program);
    m_api->freeCode(&program);
    if (filtered != 0)
        return fail(res::IDS_CANNOT_PREPARE_CAPTURE, {name, m_api->getErr(handle)});
    if (m_api->setNonblock(handle, 1, errorText) != 0)
        return fail(res::IDS_CANNOT_PREPARE_CAPTURE, {name, errorText});
    const int fd = m_api->selectableFd(handle);
    if (fd < 0) return fail(res::IDS_CANNOT_PREPARE_CAPTURE, {name, "pcap_get_selectable_fd"});
    m_handle = handle;
    m_selectableFd = fd;
    return OpenOk;
}

void CPacketDriver::CloseHandleLocked() {
    if (m_handle && m_api) m_api->close(m_handle);
    m_handle = nullptr;
    m_selectableFd = -1;
    m_openIndex = -1;
    ++m_generation;
}

int CPacketDriver::CloseAdapter(std::uint16_t index) {
    if (static_cast<int>(index) != m_openIndex) return m_openIndex >= 0 ? -1 : 0;
    WakeReceiver();
    std::lock_guard lock(m_lock);
    CloseHandleLocked();
    return 0;
}

int CPacketDriver::GetLocalAddress(std::uint8_t* address) {
    std::lock_guard lock(m_lock);
    std::memcpy(address, m_localAddress.data(), m_localAddress.size());
    return 1;
}

std::string CPacketDriver::GetAdapterDescription(int index) {
    if (index < 0 || index >= static_cast<int>(m_table.size())) return {};
    return m_table[index].description;
}

std::string CPacketDriver::GetAdapterName(int index) {
    if (index < 0 || index >= static_cast<int>(m_table.size())) return {};
    return m_table[index].name;
}

int CPacketDriver::IsEthernet(int index) {
    if (index < 0 || index >= static_cast<int>(m_table.size())) return 0;
    return m_table[index].ethernet;
}

int CPacketDriver::SendFrame(const std::uint8_t* destination, const std::uint8_t* payload,
                             std::uint16_t length) {
    if (!destination || !payload || length > kMaxPayload) return 0;
    std::lock_guard lock(m_lock);
    if (!m_handle) return 0;
    const std::span<const std::uint8_t, kEthAddrLen> target(destination, kEthAddrLen);
    const std::size_t frameLength = BuildFrame(m_sendBuffer, target, m_localAddress, {payload, length});
    if (frameLength == 0) return 0;
    return m_api->sendPacket(m_handle, m_sendBuffer.data(), static_cast<int>(frameLength)) == 0 ? 1 : 0;
}

const std::uint8_t* CPacketDriver::ReceiveFrames(std::uint32_t& count) {
    count = 0;
    int fd = -1;
    unsigned generation = 0;
    {
        std::lock_guard lock(m_lock);
        fd = m_selectableFd;
        generation = m_generation;
    }
    // With no adapter open only the wake-up descriptor is watched: the receiver still
    // returns once a second and at once when woken, and never spins.
    pollfd fds[2] = {{m_wakeFd, POLLIN, 0}, {fd, POLLIN, 0}};
    const int ready = ::poll(fds, fd >= 0 ? 2 : 1, kReadTimeoutMs);
    if (ready <= 0) return nullptr;
    if (fds[0].revents & POLLIN) {
        eventfd_t drained = 0;
        ::eventfd_read(m_wakeFd, &drained);   // clears every wake given so far
        return nullptr;
    }
    if (fd < 0) return nullptr;
    const bool failing = fds[1].revents & (POLLERR | POLLHUP | POLLNVAL);
    const std::uint8_t* frames = fds[1].revents & (POLLIN | POLLERR | POLLHUP) ? DispatchFrames(generation, count) : nullptr;
    if (!frames && failing) {
        // The interface went away or broke: the descriptor stays ready with nothing to
        // read. Wait out the read time-out (or a wake) so that no caller spins.
        pollfd wake = {m_wakeFd, POLLIN, 0};
        if (::poll(&wake, 1, kReadTimeoutMs) > 0) {
            eventfd_t drained = 0;
            ::eventfd_read(m_wakeFd, &drained);
        }
    }
    return frames;
}

const std::uint8_t* CPacketDriver::DispatchFrames(unsigned generation, std::uint32_t& count) {
    std::lock_guard lock(m_lock);
    if (!m_handle || generation != m_generation || m_receiveBuffer.empty()) return nullptr;
    DispatchTarget target{m_receiveBuffer, 0};
    for (;;) {
        // Never ask for more frames than can be stored whole.
        const std::size_t room = (target.buffer.size() - target.used) / kMaxRecordLen;
        if (room == 0) break;
        const int wanted = static_cast<int>(room);
        const int got = m_api->dispatch(m_handle, wanted, AppendPacket,
                                        reinterpret_cast<u_char*>(&target));
        if (got < wanted) break;   // drained, or an error after what was read
    }
    if (target.used == 0) return nullptr;
    count = static_cast<std::uint32_t>(target.used);
    return m_receiveBuffer.data();
}

int CPacketDriver::IsLinkFrame(const std::uint8_t* frame) {
    if (!frame) return 0;
    return ReadLe16(frame + 12) == FDP_ETHERTYPE ? 1 : 0;
}

void CPacketDriver::WakeReceiver() {
    if (m_wakeFd >= 0) ::eventfd_write(m_wakeFd, 1);
}

void CPacketDriver::SetFailure(unsigned textId, std::vector<std::string> words) {
    std::lock_guard lock(m_lock);
    SetFailureLocked(textId, std::move(words));
}

void CPacketDriver::SetFailureLocked(unsigned textId, std::vector<std::string> words) {
    m_failureId = textId;
    m_failureWords = std::move(words);
}

std::string CPacketDriver::LastError() const {
    std::lock_guard lock(m_lock);
    return m_failureId ? res::FormatString(m_failureId, m_failureWords) : std::string();
}

}  // namespace fdp
