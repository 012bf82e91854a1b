// The simulated network access point, free of any transport: whole Ethernet frames in
// (HandleFrame), whole Ethernet frames out (the send callback), faults from NapConfig.
// The simulator program serves it on a real interface; unit tests drive it in-process.
//
// What the target does:
// - Announce() sends an announce (broadcast) with the current challenge. The owner
//   calls it periodically; the model keeps no clock. A challenge stays the same until
//   a login answer has been checked against it, so an announce sent while the PC's
//   login is on its way cannot invalidate that login.
// - A login answer is checked against the password and the current challenge: a wrong
//   one gets status 1, a right one the configured status (0 by default). The session
//   opens (LoggedIn) when the status is one the PC takes as accepted. A new login
//   replaces the session at any time.
// - A burnt parameter block whose parameter 12 has bit 28 set (the password changed)
//   makes its parameter 3 the login password. With a state folder the adopted password
//   is kept there and holds after a restart, also when a later block without the bit
//   was burnt.
// - Data frames are served only from the PC of the open session. Every command gets
//   the replies of its group; malformed frames are logged as dropped and change nothing.
//
// Threads: none of its own and no locks; the owner serialises every call. The send and
// log callbacks run inside HandleFrame or Announce.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tools/nap-sim/NapConfig.h"
#include "tools/nap-sim/StateDir.h"

namespace napsim {

inline constexpr std::uint32_t kBuiltInBootVersion = 0x01000000;      // 1.0.0.0
inline constexpr std::uint32_t kBuiltInProgramVersion = 0x02000000;   // 2.0.0.0
inline constexpr std::uint32_t kErasedVersion = 0xFFFFFFFF;
inline constexpr std::size_t kVersionOffset = 64;                     // in a firmware image
inline constexpr std::size_t kAnswerBlockLen = 1024;                  // data per numbered reply
// An answer holds at most 999 numbered blocks; a longer trace is cut there.
inline constexpr std::size_t kMaxAnswerLen = 999 * kAnswerBlockLen;
// The largest download the target takes (its biggest flash area).
inline constexpr std::uint32_t kMaxDownloadLen = 8 * 1024 * 1024;

enum class FrameDirection { In, Out };

// The target's Bluetooth module, when the simulator has one: the loop test and
// test-mode requests go to it. Called with the model's calls serialised.
class IBluetoothModule {
public:
    virtual ~IBluetoothModule() = default;
    // The loop test's block: the dongle's address (least significant byte first), the
    // speed at offset 8 (bytes per millisecond), the data size at offset 9 (u32 LE).
    // Pages the dongle; returns at once.
    virtual void LoopSetup(std::span<const std::uint8_t> block) = 0;
    // Sends the data over the connection at the speed, then the end marker; returns at once.
    virtual void LoopSend() = 0;
    // Asks for the receive report; the owner hands it to AnswerLoopReport once the
    // data has arrived or the module has stopped waiting for it.
    virtual void RequestLoopReport() = 0;
    // Runs an HCI command packet (from its indicator on) on the controller; its status,
    // or 0xFF when the controller did not complete it.
    virtual std::uint8_t RunCommand(std::span<const std::uint8_t> command) = 0;
};

class CNapModel {
public:
    // A frame to put on the wire, after delayMs milliseconds (0: at once).
    using SendFn = std::function<void(std::span<const std::uint8_t> frame, std::uint32_t delayMs)>;
    // Every frame in and out; note says what the model made of it ("" for the ordinary).
    using LogFn = std::function<void(FrameDirection direction, std::span<const std::uint8_t> frame,
                                     std::string_view note)>;

    explicit CNapModel(NapConfig config);

    void SetSend(SendFn send) { m_send = std::move(send); }
    void SetLog(LogFn log) { m_log = std::move(log); }

    void Announce();
    void HandleFrame(std::span<const std::uint8_t> frame);
    // The Bluetooth module serving the loop test; none: the loop requests are answered
    // without radio (setup and send do nothing, the report is empty).
    void SetBluetooth(IBluetoothModule* bluetooth) { m_bluetooth = bluetooth; }
    // The answer to a loop receive request that waited for the module's report.
    void AnswerLoopReport(std::span<const std::uint8_t> report);

    bool LoggedIn() const { return m_loggedIn; }
    std::uint32_t Challenge() const { return m_challenge; }
    const std::vector<std::uint8_t>& Params() const { return m_params; }
    // The image burnt into a flash area; nothing while the area holds none.
    const std::optional<std::vector<std::uint8_t>>& Image(std::uint8_t kind) const;
    // The version word the target reports for kind 0x0D (boot) or 0x0E (program).
    std::uint32_t Version(std::uint8_t which) const;
    // Knobs may be changed between frames.
    NapConfig& Config() { return m_config; }

private:
    struct Command;
    static const Command* FindCommand(std::uint8_t code);

    void OnLogin(const fdp::FrameView& frame);
    void OnData(const fdp::FrameView& frame);

    void OnStart(std::uint8_t code, std::span<const std::uint8_t> data);
    void OnBlock(std::uint8_t code, std::span<const std::uint8_t> data);
    void OnBurn(std::uint8_t code, std::span<const std::uint8_t> data);
    void OnAbort(std::uint8_t code, std::span<const std::uint8_t> data);
    void OnErase(std::uint8_t code, std::span<const std::uint8_t> data);
    void OnGetParams(std::uint8_t code, std::span<const std::uint8_t> data);
    void OnTransfer(std::uint8_t code, std::span<const std::uint8_t> data);
    void OnGetTrace(std::uint8_t code, std::span<const std::uint8_t> data);

    // Replies are queued while a frame is handled and go out after it has been logged,
    // so the log reads in cause-and-effect order.
    void Send(std::uint8_t type, std::span<const std::uint8_t> body, const fdp::MacAddress& to,
              std::uint32_t delayMs = 0);
    void SendData(std::uint8_t code, std::span<const std::uint8_t> data, std::uint32_t delayMs = 0);
    void SendStatus(std::uint8_t code, std::uint8_t status, std::uint32_t delayMs = 0);
    void SendDownloadStatus(std::uint8_t status, std::uint32_t delayMs = 0);
    void ReplyDownload(std::uint8_t status, std::uint32_t delayMs, std::string_view note);
    // Numbered blocks 1, 2, ... of dataCode carrying the answer; one empty block for none.
    void SendAnswer(std::uint8_t dataCode, std::span<const std::uint8_t> answer);
    void Flush(std::string_view outNote = {});
    // What the model made of the frame being handled, logged with it.
    void Note(std::string_view note) { m_note = note; }
    void Log(FrameDirection direction, std::span<const std::uint8_t> frame, std::string_view note);

    std::optional<std::vector<std::uint8_t>>& Area(std::uint8_t kind);
    void NewChallenge();
    // The password a burnt block makes the login password, if its change mask says so.
    static std::optional<std::string> BurntPassword(std::span<const std::uint8_t> block);

    NapConfig m_config;
    CStateDir m_state;
    SendFn m_send;
    LogFn m_log;
    std::mt19937 m_random;
    struct Outgoing {
        std::vector<std::uint8_t> frame;
        std::uint32_t delayMs = 0;
    };
    std::vector<Outgoing> m_outbox;
    std::string m_note;

    std::uint32_t m_challenge = 0;
    bool m_loggedIn = false;
    fdp::MacAddress m_pc{};

    // The download in progress.
    struct Download {
        bool active = false;
        std::uint8_t kind = 0;
        std::uint32_t total = 0;
        std::vector<std::uint8_t> bytes;
        std::uint32_t accepted = 0;         // blocks taken so far
        std::uint16_t lastNumber = 0;       // number of the last block taken
        std::set<std::uint32_t> dropped;    // blocks whose first send was ignored
    } m_download;
    bool m_silent = false;                  // set by silenceAfterBlock until the next start
    std::uint32_t m_downloadsStarted = 0;
    // Whether the status faults hit the download in progress.
    bool FaultsApply() const { return !m_config.faultDownloads || m_downloadsStarted <= *m_config.faultDownloads; }

    std::optional<std::vector<std::uint8_t>> m_boot, m_program, m_paramImage;
    bool m_bootErased = false, m_programErased = false;
    std::vector<std::uint8_t> m_params;
    std::vector<std::uint8_t> m_loopData;   // what a loop setup last handed over
    IBluetoothModule* m_bluetooth = nullptr;
    bool m_loopReportPending = false;       // a loop receive request awaits its report
};

}  // namespace napsim
