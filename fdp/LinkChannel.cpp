#include "fdp/LinkChannel.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>

#include "fdp/FormatBdAddr.h"
#include "fdp/DebugTrace.h"
#include "fdp/FdpTypes.h"
#include "fdp/LinkCallbacks.h"
#include "fdp/PacketDriver.h"

namespace fdp {

namespace {

// The login frame's random number: the target relies on nothing in it.
std::uint32_t LoginRandom() {
    static std::minstd_rand generator(static_cast<std::uint32_t>(
        std::chrono::system_clock::now().time_since_epoch().count()));
    return static_cast<std::uint32_t>(generator() % 32768);
}

}  // namespace

void CLinkChannel::Init(ILinkCallbacks* engine, IPacketDriver* driver) {
    m_engine = engine;
    m_driver = driver;
    m_wait.Restart();
    m_state = ChannelIdle;
    std::lock_guard lock(m_announceLock);
    m_challenge = 0x1234;
}

void CLinkChannel::Uninit() {
    m_engine = nullptr;
    m_driver = nullptr;
}

int CLinkChannel::Reset() {
    m_state = ChannelIdle;
    return 0;
}

void CLinkChannel::Abort() {
    std::lock_guard lock(m_announceLock);
    const ChannelState state = m_state;
    if (state != ChannelListening && state != ChannelLoggingIn) return;
    m_aborted = true;   // the hear-out arms the wait again: the abort must outlast that
    m_wait.Complete(CCompletionWait::kAborted);
}

void CLinkChannel::Shutdown() { m_wait.Shutdown(); }

std::uint8_t CLinkChannel::MapConnectResult(std::optional<std::uint8_t> completion) {
    if (!completion) return ConnectTimeout;
    switch (*completion) {
    case LoginAccepted: return ConnectOk;
    case LoginBadPassword: return ConnectBadPassword;
    case LoginFlashUnsupported: return ConnectFlashUnsupported;
    case LoginVersionLow: return ConnectVersionLow;
    case LoginError: return ConnectAborted;   // also the value of an aborted wait
    default: return ConnectOk;
    }
}

ConnectOutcome CLinkChannel::Connect(const std::optional<HeardTarget>& pick) {
    ConnectOutcome outcome;
    if (m_state != ChannelIdle) {
        outcome.result = 4;
        return outcome;
    }
    const LinkTimeouts& timeouts = m_engine->Timeouts();
    const auto started = std::chrono::steady_clock::now();
    const auto end = [this, &outcome](std::uint8_t result) {
        m_state = ChannelIdle;
        outcome.result = result;
        return outcome;
    };

    {
        std::lock_guard lock(m_announceLock);
        m_othersHeard.clear();   // a new listen: each other target is told again
        m_candidates.clear();
        m_pick.reset();
        m_userPick = pick.has_value();
        m_aborted = false;
        m_wait.Arm();
        m_state = ChannelListening;
    }
    std::optional<HeardTarget> waitFor = pick;
    if (!waitFor) {
        // The first announce, then the rest of the hear-out: a stranger that announces
        // first must not get the login while the target the user means announces too.
        const std::uint8_t first = MapConnectResult(m_wait.Wait(timeouts.listen));
        if (first != ConnectOk) return end(first);
        if (const auto ended = HearOut(started + std::chrono::milliseconds(timeouts.hearOut)))
            return end(MapConnectResult(ended));
        std::lock_guard lock(m_announceLock);
        if (m_candidates.empty()) {   // the wait ended without an announce: nothing to log in to
            m_state = ChannelIdle;
            outcome.result = ConnectTimeout;
            return outcome;
        }
        if (m_candidates.size() > 1) {
            outcome.several = CandidatesLocked();
            m_state = ChannelIdle;
            return outcome;
        }
        const Candidate& only = m_candidates.front();
        if (only.handed && only.heard.adapterIndex == (m_driver ? m_driver->OpenIndex() : -1)) {
            m_challenge = only.challenge;
            m_second = only.second;
            m_third = only.third;
            m_target = only.heard.address;
        } else {
            waitFor = only.heard;   // heard only through the driver's note: its next announce
        }
    }
    if (waitFor) {
        // On the target's adapter only, and its announce only: the login goes where it
        // was heard, whatever announces elsewhere meanwhile.
        if (!m_engine->UseAdapter(waitFor->adapterIndex)) return end(ConnectAborted);
        {
            std::lock_guard lock(m_announceLock);
            m_pick = waitFor;
            m_wait.Arm();
            if (m_aborted) m_wait.Complete(CCompletionWait::kAborted);
        }
        const std::uint8_t announced = MapConnectResult(m_wait.Wait(timeouts.listen));
        if (announced != ConnectOk) return end(announced);
    }

    std::uint8_t frame[kLoginLen];
    MacAddress target;
    bool aborted = false;
    {
        std::lock_guard lock(m_announceLock);
        target = m_target;
        m_engine->GetCredentials(target, m_password);
        const PasswordBlock response = MakeLoginResponse(m_password, m_challenge);
        frame[0] = FDP_FRAME_LOGIN;
        WriteLe32(frame + 1, LoginRandom());
        std::memcpy(frame + 5, response.data(), response.size());
        // Armed before the state change: from here on a login reply completes it.
        m_wait.Arm();
        m_state = ChannelLoggingIn;
        aborted = m_aborted;
    }
    if (aborted) return end(ConnectAborted);   // stopped in the hear-out: nothing is sent
    m_driver->SendFrame(target.data(), frame, static_cast<std::uint16_t>(sizeof frame));

    outcome.result = MapConnectResult(m_wait.Wait(timeouts.login));
    m_state = outcome.result == ConnectOk ? ChannelConnected : ChannelIdle;
    return outcome;
}

std::optional<std::uint8_t> CLinkChannel::HearOut(std::chrono::steady_clock::time_point until) {
    {
        std::lock_guard lock(m_announceLock);
        // Nothing completes this wait but an abort or the link's stop: the announces
        // heard meanwhile only add candidates.
        m_wait.Arm();
        if (m_aborted) return CCompletionWait::kAborted;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    return m_wait.Wait(static_cast<std::uint32_t>(std::max<std::int64_t>(0, left.count())));
}

std::vector<HeardTarget> CLinkChannel::CandidatesLocked() const {
    std::vector<HeardTarget> heard;
    for (const Candidate& candidate : m_candidates) {
        heard.push_back(candidate.heard);
        if (m_driver) heard.back().adapter = m_driver->GetAdapterName(candidate.heard.adapterIndex);
    }
    return heard;
}

bool CLinkChannel::PassedOverLocked(const MacAddress& source) {
    if (m_chosen && source != *m_chosen) {
        if (m_passedOver.size() < kMaxOtherTargets &&
            std::find(m_passedOver.begin(), m_passedOver.end(), source) == m_passedOver.end()) {
            m_passedOver.push_back(source);
            if (!m_passOverQuietly)
                DebugTrace("Announce from %s ignored: not the chosen target %s\n", FormatBdAddr(source).c_str(),
                           FormatBdAddr(*m_chosen).c_str());
        }
        return true;
    }
    return std::find(m_ignored.begin(), m_ignored.end(), source) != m_ignored.end();
}

CLinkChannel::Candidate* CLinkChannel::NoteCandidateLocked(const MacAddress& source, int adapter) {
    auto it = std::find_if(m_candidates.begin(), m_candidates.end(), [&](const Candidate& candidate) {
        return candidate.heard.address == source && candidate.heard.adapterIndex == adapter;
    });
    if (it == m_candidates.end()) {
        if (m_candidates.size() >= kMaxOtherTargets) return nullptr;   // several all the same
        it = m_candidates.insert(m_candidates.end(), Candidate{});
        it->heard.address = source;
        it->heard.adapterIndex = adapter;
        if (m_candidates.size() == 1) m_wait.Complete(0);   // the hear-out starts
    }
    ++it->heard.announces;
    it->heard.lastSeen = std::chrono::steady_clock::now();
    return &*it;
}

void CLinkChannel::NoteAnnouncer(const MacAddress& source, int adapter) {
    std::lock_guard lock(m_announceLock);
    if (m_state != ChannelListening || m_pick || PassedOverLocked(source)) return;
    NoteCandidateLocked(source, adapter);
}

int CLinkChannel::SendData(std::uint8_t* buffer, std::uint16_t length) {
    if (m_state != ChannelConnected) return 4;
    buffer[0] = FDP_FRAME_DATA;
    const MacAddress target = TargetAddress();
    return m_driver->SendFrame(target.data(), buffer, static_cast<std::uint16_t>(length + 1)) ? 0 : 1;
}

bool CLinkChannel::Claims(const MacAddress& source) const {
    std::lock_guard lock(m_announceLock);
    switch (m_state.load()) {
    case ChannelLoggingIn:
    case ChannelConnected: return source == m_target;
    case ChannelListening: return (m_pick && m_pick->address == source) || (m_chosen && *m_chosen == source);
    default: return false;
    }
}

void CLinkChannel::HandleFrame(const std::uint8_t* frame, std::uint32_t length) {
    const auto view = ParseFrame({frame, length});
    if (!view) return;
    // The login layer's frames are checked against the state and complete the wait under
    // the lock under which Connect arms the wait and changes the state: an announce
    // checked while Listening must not complete the wait armed for the login reply.
    switch (view->type) {
    case FDP_FRAME_ANNOUNCE: {
        if (view->body.size() < 12) return;
        std::optional<MacAddress> other;
        bool passedOver = false;
        {
            std::lock_guard lock(m_announceLock);
            const bool rejected = PassedOverLocked(view->source);
            if (m_state == ChannelListening) {
                const int adapter = m_driver ? m_driver->OpenIndex() : -1;
                if (rejected) {
                    // The driver may have moved to the adapter of the announce just passed
                    // over: the one sought may announce on another, so every candidate is
                    // listened to again; not while waiting on a target's own adapter.
                    passedOver = !m_pick;
                } else if (m_pick) {
                    if (view->source == m_pick->address && (m_pick->adapterIndex < 0 || adapter == m_pick->adapterIndex)) {
                        m_challenge = ReadLe32(&view->body[0]);
                        m_second = ReadLe32(&view->body[4]);
                        m_third = ReadLe32(&view->body[8]);
                        m_target = view->source;
                        m_wait.Complete(0);
                    }
                } else if (Candidate* candidate = NoteCandidateLocked(view->source, adapter)) {
                    candidate->handed = true;
                    candidate->challenge = ReadLe32(&view->body[0]);
                    candidate->second = ReadLe32(&view->body[4]);
                    candidate->third = ReadLe32(&view->body[8]);
                }
            } else if (!rejected && !m_userPick && m_state != ChannelIdle && view->source != m_target &&
                       m_othersHeard.size() < kMaxOtherTargets &&
                       std::find(m_othersHeard.begin(), m_othersHeard.end(), view->source) == m_othersHeard.end()) {
                // Logging in or logged in: a second target on the same network. The user may
                // be about to change the wrong unit; the link itself goes on with its own. A
                // target the user chose from a list is no news.
                m_othersHeard.push_back(view->source);
                other = view->source;
            }
        }
        if (passedOver && m_engine) m_engine->ListenOnEveryCandidate();
        if (other && m_engine) m_engine->OnOtherTarget(*other);
        return;
    }
    case FDP_FRAME_LOGIN_REPLY: {
        if (view->body.empty()) return;
        std::lock_guard lock(m_announceLock);
        if (m_state != ChannelLoggingIn || view->source != m_target) return;
        m_wait.Complete(view->body[0]);
        return;
    }
    case FDP_FRAME_DATA:
        // Another target's answers (another PC may be logged in to it) are not ours.
        if (m_state != ChannelConnected || view->source != TargetAddress()) return;
        m_engine->OnData(view->body.data(), static_cast<std::uint32_t>(view->body.size()));
        return;
    default:
        return;
    }
}

void CLinkChannel::SetIgnoredTargets(std::vector<MacAddress> targets) {
    std::lock_guard lock(m_announceLock);
    m_ignored = std::move(targets);
}

void CLinkChannel::SetChosenTarget(std::optional<MacAddress> target, bool quietly) {
    std::lock_guard lock(m_announceLock);
    m_chosen = target;
    m_passOverQuietly = quietly;
    m_passedOver.clear();
}

MacAddress CLinkChannel::TargetAddress() const {
    std::lock_guard lock(m_announceLock);
    return m_target;
}

std::uint32_t CLinkChannel::Challenge() const {
    std::lock_guard lock(m_announceLock);
    return m_challenge;
}

}  // namespace fdp
