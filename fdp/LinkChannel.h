// The login layer: waits for the target's announce, logs in, keeps the target's
// address, sends data frames to it and sorts every received link frame by type.
// Connect and SendData run on the engine's worker thread, HandleFrame on its receiver
// thread, Abort on the thread that stops the link.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "fdp/CompletionWait.h"
#include "fdp/FdpTypes.h"
#include "fdp/Frame.h"
#include "fdp/HeardTarget.h"

namespace fdp {

class ILinkCallbacks;
class IPacketDriver;

enum ChannelState : std::uint8_t {
    ChannelIdle = 0,
    ChannelListening = 1,
    ChannelLoggingIn = 2,
    ChannelConnected = 3,
};

// How a listen ended: logged in or not (a ConnectResult), or with several targets heard
// before the login, to none of which a login was sent.
struct ConnectOutcome {
    std::uint8_t result = ConnectTimeout;   // a ConnectResult
    std::vector<HeardTarget> several;       // not empty: several answered, the user chooses
};

class CLinkChannel {
public:
    // Other addresses remembered at most: frames with made-up sources must not grow them.
    static constexpr std::size_t kMaxOtherTargets = 64;

    void Init(ILinkCallbacks* engine, IPacketDriver* driver);
    void Uninit();
    int Reset();
    void Abort();
    void Shutdown();            // every wait, now and later, ends with 11
    // Listens for the link's hear-out time (LinkTimeouts::hearOut) at least, then logs in
    // to the one target heard, on the adapter it was heard on; several targets (several
    // addresses, or one address on several adapters) end it without a login. With a
    // target chosen from such a list: listens on its adapter only and logs in to it at
    // its next announce. Worker thread.
    ConnectOutcome Connect(const std::optional<HeardTarget>& pick = std::nullopt);
    // buffer[0] is overwritten with the data frame type; sends length + 1 bytes.
    // 0 sent, 4 refused (not connected), 1 the driver did not send.
    int SendData(std::uint8_t* buffer, std::uint16_t length);
    void HandleFrame(const std::uint8_t* frame, std::uint32_t length);
    // An announce the driver heard on another adapter and did not hand on (receiver
    // thread): a candidate of the listen like one handed on.
    void NoteAnnouncer(const MacAddress& source, int adapter);

    // Whether frames from this source are this channel's alone: the target it logs in to
    // or is logged in to, or the one it listens for by name (any thread).
    bool Claims(const MacAddress& source) const;

    ChannelState State() const { return m_state.load(); }
    // Puts the channel into a state without the exchange that leads there; for the fuzz
    // target, which must reach every state's frame handling.
    void SetStateForTesting(ChannelState state) { m_state = state; }
    MacAddress TargetAddress() const;
    std::uint32_t Challenge() const;
    // Announces from these addresses are let pass while listening: a tool that serves
    // one target after another waits for a new one while the last one announces again.
    void SetIgnoredTargets(std::vector<MacAddress> targets);
    // Only this target is logged in to (--target): announces from any other address are
    // let pass, each address said once on the debug output unless quietly (a production
    // line, whose sessions each choose one of the targets that all announce). Nothing: the
    // one that announces alone in the hear-out.
    void SetChosenTarget(std::optional<MacAddress> target, bool quietly = false);

    // The connection result of a completed (or timed-out) wait of the login layer.
    static std::uint8_t MapConnectResult(std::optional<std::uint8_t> completion);

private:
    // A target heard while listening, per address and adapter.
    struct Candidate {
        HeardTarget heard;
        bool handed = false;   // an announce of it came through HandleFrame: the values below
        std::uint32_t challenge = 0, second = 0, third = 0;
    };
    // Whether an announce from this source is passed over (not the chosen target, or one
    // served already); says a target not chosen once. Under m_announceLock.
    bool PassedOverLocked(const MacAddress& source);
    // Counts an announce from source on adapter as a candidate of the listen; completes
    // the wait at the first. Under m_announceLock, while listening with no pick.
    Candidate* NoteCandidateLocked(const MacAddress& source, int adapter);
    // Listens out the hear-out time after the first candidate; the result of an ended
    // wait (aborted), or nothing when the time is over.
    std::optional<std::uint8_t> HearOut(std::chrono::steady_clock::time_point until);
    // The list of the candidates heard, with their adapters' names.
    std::vector<HeardTarget> CandidatesLocked() const;

    ILinkCallbacks* m_engine = nullptr;
    IPacketDriver* m_driver = nullptr;
    std::atomic<ChannelState> m_state{ChannelIdle};
    CCompletionWait m_wait;

    // The announce fields, and the login layer's state changes with the arming and the
    // completing of its wait.
    mutable std::mutex m_announceLock;
    MacAddress m_target{};
    std::vector<MacAddress> m_ignored;
    std::optional<MacAddress> m_chosen;
    bool m_passOverQuietly = false;
    std::vector<MacAddress> m_passedOver;   // not the chosen one, said once each
    std::vector<MacAddress> m_othersHeard;  // announced besides the target, told once each
    std::vector<Candidate> m_candidates;    // heard in this listen, at most kMaxOtherTargets
    std::optional<HeardTarget> m_pick;      // the target (and adapter) this listen waits for
    bool m_userPick = false;                // chosen by the user: the others are no news
    bool m_aborted = false;                 // Abort during this listen
    std::uint32_t m_challenge = 0x1234;
    std::uint32_t m_second = 0;
    std::uint32_t m_third = 0;
    PasswordBlock m_password{};
};

}  // namespace fdp
