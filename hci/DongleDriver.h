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
//  - CloseCommPort(handle) stops and joins the reader, then closes the channel. Not to
//    be called from inside a callback.
// The reader sleeps in poll() while nothing arrives; it ends by itself when the
// controller goes away (end of stream or a read error), which LastError then tells.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <thread>

#include "hci/HciPacket.h"

namespace hci {

class CDongleDriver {
public:
    using ReceiveFn = std::function<int(int, std::span<const std::uint8_t> packet)>;
    using IdleFn = std::function<int()>;

    CDongleDriver() = default;
    ~CDongleDriver();
    CDongleDriver(const CDongleDriver&) = delete;
    CDongleDriver& operator=(const CDongleDriver&) = delete;

    int OpenCommPort(const std::string& device);
    int CloseCommPort(int handle);
    int SendDataToInt(const HciPacketBuffer& buffer);
    int RegisterAddRcvData(ReceiveFn receive);
    int RegisterHandleRcvData(IdleFn idle);

    // Writes one HCI packet (from its indicator on); false when it could not be written.
    bool SendPacket(std::span<const std::uint8_t> packet);
    std::string LastError() const;

private:
    static constexpr int kHandle = 1;
    void ReaderMain();
    void SetError(std::string text);

    int m_fd = -1;
    int m_wakeFd = -1;
    std::thread m_reader;
    std::atomic<bool> m_stop{false};
    std::mutex m_sendLock;
    std::mutex m_callbackLock;   // the callbacks, against registration while reading
    ReceiveFn m_receive;
    IdleFn m_idle;
    mutable std::mutex m_errorLock;
    std::string m_error;
};

}  // namespace hci
