#include "fdp/LinkChannel.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>

#include "fdp/FormatBdAddr.h"
#include "fdp/DebugTrace.h"
#include "fdp/FdpTypes.h"
#include "fdp/LinkCallbacks.h"
#include "fdp/LinkProtocol.h"
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

void CLinkChannel::Init(ILinkCallbacks* engine, CLinkProtocol* protocol, IPacketDriver* driver) {
    m_engine = engine;
    m_protocol = protocol;
    m_driver = driver;
    m_wait.Restart();
    m_state = ChannelIdle;
    std::lock_guard lock(m_announceLock);
    m_challenge = 0x1234;
}

void CLinkChannel::Uninit() {
    m_engine = nullptr;
    m_protocol = nullptr;
    m_driver = nullptr;
}

int CLinkChannel::Reset() {
    m_state = ChannelIdle;
    return 0;
}

void CLinkChannel::Abort() {
    const ChannelState state = m_state;
    if (state == ChannelListening || state == ChannelLoggingIn) m_wait.Complete(CompletionWait::kAborted);
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

std::uint8_t CLinkChannel::Connect() {
    if (m_state != ChannelIdle) return 4;
    const LinkTimeouts& timeouts = m_engine->Timeouts();

    {
        std::lock_guard lock(m_announceLock);
        m_othersHeard.clear();   // a new listen: each other target is told again
        m_wait.Arm();
        m_state = ChannelListening;
    }
    const std::uint8_t announced = MapConnectResult(m_wait.Wait(timeouts.listen));
    if (announced != ConnectOk) {
        m_state = ChannelIdle;
        return announced;
    }

    std::uint8_t frame[kLoginLen];
    MacAddress target;
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
    }
    m_driver->SendFrame(target.data(), frame, static_cast<std::uint16_t>(sizeof frame));

    const std::uint8_t result = MapConnectResult(m_wait.Wait(timeouts.login));
    m_state = result == ConnectOk ? ChannelConnected : ChannelIdle;
    return result;
}

int CLinkChannel::SendData(std::uint8_t* buffer, std::uint16_t length) {
    if (m_state != ChannelConnected) return 4;
    buffer[0] = FDP_FRAME_DATA;
    const MacAddress target = TargetAddress();
    return m_driver->SendFrame(target.data(), buffer, static_cast<std::uint16_t>(length + 1)) ? 0 : 1;
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
        bool passedOver = false, rejected = false;
        {
            std::lock_guard lock(m_announceLock);
            if (m_chosen && view->source != *m_chosen) {
                if (m_passedOver.size() < kMaxOtherTargets &&
                    std::find(m_passedOver.begin(), m_passedOver.end(), view->source) == m_passedOver.end()) {
                    m_passedOver.push_back(view->source);
                    DebugTrace("Announce from %s ignored: not the chosen target %s\n", FormatBdAddr(view->source).c_str(),
                               FormatBdAddr(*m_chosen).c_str());
                }
                rejected = true;
            } else if (std::find(m_ignored.begin(), m_ignored.end(), view->source) != m_ignored.end()) {
                rejected = true;
            }
            passedOver = rejected && m_state == ChannelListening;
        }
        // The driver may have moved to the adapter of the announce just passed over: the
        // one sought may announce on another, so every candidate is listened to again.
        if (passedOver && m_engine) m_engine->ListenOnEveryCandidate();
        if (rejected) return;
        {
            std::lock_guard lock(m_announceLock);
            if (m_state == ChannelListening) {
                m_challenge = ReadLe32(&view->body[0]);
                m_second = ReadLe32(&view->body[4]);
                m_third = ReadLe32(&view->body[8]);
                m_target = view->source;
                m_wait.Complete(0);
                return;
            }
            // Logging in or logged in: a second target on the same network. The user may be
            // about to change the wrong unit; the link itself goes on with its own.
            if (m_state == ChannelIdle || view->source == m_target) return;
            if (m_othersHeard.size() >= kMaxOtherTargets ||
                std::find(m_othersHeard.begin(), m_othersHeard.end(), view->source) != m_othersHeard.end())
                return;
            m_othersHeard.push_back(view->source);
            other = view->source;
        }
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
        m_protocol->HandleData(view->body.data(), static_cast<std::uint32_t>(view->body.size()));
        return;
    default:
        return;
    }
}

void CLinkChannel::SetIgnoredTargets(std::vector<MacAddress> targets) {
    std::lock_guard lock(m_announceLock);
    m_ignored = std::move(targets);
}

void CLinkChannel::SetChosenTarget(std::optional<MacAddress> target) {
    std::lock_guard lock(m_announceLock);
    m_chosen = target;
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
