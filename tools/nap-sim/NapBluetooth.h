// The target's Bluetooth module in the simulator: one controller opened through the
// dongle driver (normally a `btvirt -s` server, unix:/tmp/bt-server-bredr), serving
// the loop test as the target would:
//  - a loop setup resets nothing on the controller but forgets the last run, then pages
//    the dongle's address (unless the radio is switched off);
//  - a loop send transmits the data size in ACL packets of up to 100 bytes of 0x05,
//    paced at the requested speed, then the one-byte end marker 0x01;
//  - the receive report holds every ACL packet that arrived since the setup as
//    0x02, handle, length, data; it is ready when the data size has arrived, or when
//    the data has had its time (size / speed + 1 s) and no more;
//  - the test mode request's command, when it is Enable_Device_Under_Test_Mode, is run
//    on the controller and its status returned; any other is refused (0x01);
//  - a withholding radio (SetWithhold) keeps back the last bytes of every run: it
//    sends that many fewer and leaves them out of its receive report.
// Its protocol values are its own, not the PC's: the simulator is the PC's peer.
//
// Threads: the driver's reader delivers events; one worker thread paces the data and
// hands a ready report to the report callback (so the callback may take the model's
// lock: nothing waits for the worker while holding it). Calls from the model come
// serialised.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "hci/DongleDriver.h"
#include "tools/nap-sim/NapModel.h"

namespace napsim {

class CNapBluetooth : public IBluetoothModule {
public:
    using ReportFn = std::function<void(std::vector<std::uint8_t> report)>;
    using LogFn = std::function<void(const std::string& event, const std::string& detail)>;

    CNapBluetooth(ReportFn report, LogFn log);
    ~CNapBluetooth() override;

    // Opens and resets the controller; false with the reason in Error().
    bool Open(const std::string& device);
    const std::string& Error() const { return m_error; }
    std::string AddressText() const;
    // Switched off, the module pages nobody (no ACL connection comes up).
    void SetRadio(bool on) { m_radioOn = on; }
    // Bytes of every loop run that the radio neither sends nor reports as received.
    void SetWithhold(std::uint32_t bytes) {
        std::lock_guard lock(m_lock);   // the reader takes it for every packet
        m_withhold = bytes;
    }

    void LoopSetup(std::span<const std::uint8_t> block) override;
    void LoopSend() override;
    void RequestLoopReport() override;
    std::uint8_t RunCommand(std::span<const std::uint8_t> command) override;

private:
    void OnPacket(std::span<const std::uint8_t> packet);
    // Sends a command and waits for its Command Complete; its status, or nothing.
    std::optional<std::uint8_t> Command(std::span<const std::uint8_t> packet, std::uint32_t ms,
                                        std::vector<std::uint8_t>* returned = nullptr);
    enum class Task { Send, Report };
    void WorkerMain();
    void Send(std::uint64_t run);
    void Report(std::uint64_t run);

    ReportFn m_reportFn;
    LogFn m_log;
    hci::CDongleDriver m_driver;
    int m_port = 0;
    std::string m_error;
    bool m_radioOn = true;

    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_stop = false;
    std::uint64_t m_run = 0;                       // counts setups; a newer one ends older work
    std::vector<std::uint8_t> m_address;            // the controller's own, as read
    // The command awaited and what completed it.
    std::uint16_t m_awaitedOpcode = 0;
    std::optional<std::uint8_t> m_completedStatus;
    std::vector<std::uint8_t> m_completedParams;
    std::optional<std::uint16_t> m_handle;          // the ACL connection of this run
    std::uint32_t m_dataSize = 0;
    std::uint32_t m_speed = 10;
    std::vector<std::uint8_t> m_report;
    std::uint32_t m_withhold = 0;
    std::uint32_t m_receivedBytes = 0;   // all the dongle's data bytes of this run
    std::uint32_t m_reportedBytes = 0;   // those of them in the report
    std::deque<std::pair<Task, std::uint64_t>> m_tasks;   // with the run they belong to
    std::thread m_worker;
};

}  // namespace napsim
