// The dongle driver: the five calls through which the dongle link reaches a Bluetooth
// controller, over the transports of HciTransport.h.
//
//  - OpenCommPort(device) gives a non-zero handle when the controller opened, else 0
//    (LastError says why). One port per driver object.
//  - SendDataToInt(buffer) writes the buffer's HCI packet; the buffer may be reused or
//    freed when it returns. Any thread; sends are serialised.
//  - RegisterAddRcvData(callback): called once per packet the controller delivers, in
//    the received-packet layout, on the driver's reader thread. The packet is valid
//    only during the call; its length is passed so that nothing reads beyond it.
//  - RegisterHandleRcvData(callback): called on the reader thread after each batch of
//    packets taken from one read.
//  - RegisterEnd(callback): called once on the reader thread when the reader ends by
//    itself because the controller went away (end of stream, a read error), with the
//    reason LastError then tells; at once when registered after that. Not called for
//    CloseCommPort.
//  - CloseCommPort(handle) stops and joins the reader, then closes the channel. Not to
//    be called from inside a callback.
// The reader sleeps in poll() while nothing arrives. A write to a socket whose peer has
// gone fails with EPIPE instead of raising SIGPIPE, so no program using the driver dies
// of a dongle that hung up.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <thread>


namespace hci {

struct HciPacketBuffer;

class CDongleDriver {
public:
    using ReceiveFn = std::function<int(int, std::span<const std::uint8_t> packet)>;
    using IdleFn = std::function<int()>;
    using EndFn = std::function<void(const std::string& reason)>;

    CDongleDriver() = default;
    ~CDongleDriver();
    CDongleDriver(const CDongleDriver&) = delete;
    CDongleDriver& operator=(const CDongleDriver&) = delete;

    int OpenCommPort(const std::string& device);
    int CloseCommPort(int handle);
    int SendDataToInt(const HciPacketBuffer& buffer);
    int RegisterAddRcvData(ReceiveFn receive);
    int RegisterHandleRcvData(IdleFn idle);
    void RegisterEnd(EndFn end);

    // Writes one HCI packet (from its indicator on); false when it could not be written.
    bool SendPacket(std::span<const std::uint8_t> packet);
    std::string LastError() const;

private:
    static constexpr int kHandle = 1;
    void ReaderMain();
    void SetError(std::string text);
    // The reader's last words: sets the error and tells the end callback.
    void ReaderEnded(std::string reason);

    int m_fd = -1;
    bool m_socket = false;   // sent with send(MSG_NOSIGNAL), else write()
    int m_wakeFd = -1;
    std::thread m_reader;
    std::atomic<bool> m_stop{false};
    std::mutex m_sendLock;
    std::mutex m_callbackLock;   // the callbacks, against registration while reading
    ReceiveFn m_receive;
    IdleFn m_idle;
    EndFn m_end;
    bool m_ended = false;    // the reader ended by itself; under m_callbackLock
    mutable std::mutex m_errorLock;
    std::string m_error;
};

}  // namespace hci
