// The dongle link: drives the PC's Bluetooth dongle for the loop test and the dongle
// test mode. The user-interface thread opens and starts the dongle, sends commands and
// ACL data and waits on the dongle event; the driver's reader thread delivers events
// and ACL data to DongleReceive, which updates the state and signals the event.
//
// Threads: every field of the state is written and read under one lock, so the
// user-interface thread may read it at any time; it still reads after the wait or
// sleep that tells it the receive side has done its part.
//
// A dongle that goes away (its channel closed, a read or write failed) is lost: the
// waits and sleeps end at once and return as failed, nothing more is sent, and Lost()
// tells why until the next OpenDongle or ClearState.
//
// The dongle event is armed (cleared) by ArmDongleEvent, which the caller does
// *before* sending what will complete it: a controller may answer within microseconds,
// and an answer that came before the wait began must count. WaitDongleEvent then only
// waits. A completion while nobody waits stays until the next ArmDongleEvent.
#pragma once

// The simulated target speaks HCI from its own table, so that a misreading on one side
// shows against the other instead of agreeing with itself.
#ifdef KELVANE_TARGET_PEER
#error "the PC's HCI codes are not for the simulated target"
#endif

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "fdp/AutoResetEvent.h"
#include "hci/DongleDriver.h"
#include "hci/HciPacket.h"

namespace hci {

using BdAddr = std::array<std::uint8_t, 6>;

inline constexpr std::size_t kLoopReceiveAreaLen = 409600;
inline constexpr std::uint8_t kEndOfDataMarker = 0x01;
inline constexpr std::size_t kMaxAclChunk = 100;

// The message a dongle path that cannot be opened gives.
inline constexpr const char* kNoDongleMessage =
    " There is no USB device in the port or the usb port is used by other program!";

class CDongleLink {
public:
    // Shows a message the system gives in a message box, with the reason and remedy
    // under it (detail, empty for the event messages). Called on the user-interface
    // thread or, for the event messages, on the reader thread.
    using MessageFn = std::function<void(const std::string& text, const std::string& detail)>;
    // Called while the user-interface thread waits or sleeps, every few milliseconds
    // (the window keeps painting).
    using IdleFn = std::function<void()>;

    CDongleLink();
    ~CDongleLink();
    CDongleLink(const CDongleLink&) = delete;
    CDongleLink& operator=(const CDongleLink&) = delete;

    // The device OpenDongle opens (hciN, a serial path, unix:PATH); empty: the first
    // hciN that opens.
    void SetDevice(std::string device) { m_device = std::move(device); }
    const std::string& Device() const { return m_device; }
    void SetMessageHandler(MessageFn message) { m_message = std::move(message); }
    void SetIdle(IdleFn idle) { m_idle = std::move(idle); }
    // Why the last OpenDongle failed (the transport's own words).
    const std::string& OpenError() const { return m_openError; }
    // Why the dongle was lost since it was opened; empty while it serves.
    std::string LostReason() const;
    bool Lost() const { return !LostReason().empty(); }

    bool OpenDongle();
    void StartDongle(bool dataTest);
    bool EnableDongleTestMode();
    // Writes an ACL packet of data (1 to 100 bytes) with the current handle into
    // buffer (at least 105 bytes of room) and sends it.
    void SendAcl(HciPacketBuffer& buffer, std::span<const std::uint8_t> data);
    void ArmDongleEvent() { m_event.Reset(); }
    bool WaitDongleEvent(std::uint32_t ms);
    void CloseDongle();
    bool IsOpen() const { return m_port != 0; }

    // The receive callback and its handlers; packet in the received-packet layout.
    int DongleReceive(int unused, std::span<const std::uint8_t> packet);
    void HandleHciEvent(std::span<const std::uint8_t> packet);
    void HandleAclData(std::span<const std::uint8_t> packet);

    // Clears the address, the connection, the receive area and the test-mode flag
    // before a new start.
    void ClearState();
    void SetDongleMaster(bool master);

    // Waits or sleeps on the user-interface thread, calling the idle handler; ends
    // early when the dongle is lost.
    void Sleep(std::uint32_t ms) const;

    // Copies of the state.
    BdAddr DongleAddress() const;
    std::string DongleAddressText() const;
    BdAddr RemoteAddress() const;
    std::uint16_t AclHandle() const;
    bool AclConnected() const;
    bool DongleTestModeOk() const;
    std::uint32_t LoopReceivedBytes() const;
    void ResetLoopReceivedBytes();
    // Loop data bytes received so far that were dropped because the area was full.
    std::uint64_t LostToFullArea() const;
    std::vector<std::uint8_t> LoopReceiveArea(std::size_t length) const;

    // Sends a command packet (from its indicator on) through the driver.
    void SendCommand(std::uint16_t opcode, std::span<const std::uint8_t> params = {});

    // Shows a message through the message handler.
    void Message(const std::string& text, const std::string& detail = {}) const;

private:
    // Sends through the driver unless the dongle is lost; a failed write loses it.
    void Send(std::span<const std::uint8_t> packet);
    void SendBuffer(const HciPacketBuffer& buffer);
    void MarkLost(const std::string& reason);

    std::string m_device;
    std::string m_openError;
    MessageFn m_message;
    IdleFn m_idle;
    CDongleDriver m_driver;
    int m_port = 0;                      // donglePort
    fdp::CAutoResetEvent m_event;         // dongleEvent

    mutable std::mutex m_lock;           // the fields below
    BdAddr m_dongleAddress{};
    std::string m_dongleAddressText;
    BdAddr m_remoteAddress{};
    std::uint16_t m_aclHandle = 0;       // as received, flags included
    bool m_aclConnected = false;
    bool m_dongleTestModeOk = false;
    bool m_dongleMaster = false;
    std::vector<std::uint8_t> m_loopReceiveArea;
    std::uint32_t m_loopReceivedBytes = 0;
    std::uint64_t m_lostToFullArea = 0;
    std::string m_lostReason;
};

}  // namespace hci
