// What the link's lower floors, the channel and the command layer, ask of the floor
// above them: the time-outs of their waits, the next block of a download, the login
// password, and where the data frames, announces and trace text they receive go. The
// engine implements it; the channel and the command layer hold it from Init to Uninit and
// never include the engine. The channel does not know the command layer: its data frames
// reach it through the engine.
//
// Threads: Timeouts on any of the link's threads; NextBlock and GetCredentials on the
// engine's worker thread; the rest on its receiver thread, but where said. One virtual call per block or
// frame, nothing copied: the hot path stays as short as a direct call.
#pragma once

#include <cstdint>

#include "fdp/Frame.h"
#include "fdp/LinkTimeouts.h"

namespace fdp {

// Block handed to the command layer by the next-block callback.
struct NextBlockResult {
    const std::uint8_t* data = nullptr;   // null: the file is finished
    std::uint32_t length = 0;
    bool error = false;                   // the file could not be read (FdpFileError)
};

class ILinkCallbacks {
public:
    virtual ~ILinkCallbacks() = default;

    // The waits' time-outs; read at each wait, set before the link starts.
    virtual const LinkTimeouts& Timeouts() const = 0;
    // The download's next block after sentBytes; the data stays valid until the next call.
    virtual NextBlockResult NextBlock(std::uint32_t sentBytes) = 0;
    // The login password block for the target that announced.
    virtual void GetCredentials(const MacAddress& target, PasswordBlock& block) = 0;
    // The body of a data frame from the target logged in to, for the command layer.
    virtual void OnData(const std::uint8_t* body, std::uint32_t length) = 0;
    // The trace answer's total length, then its text block by block.
    virtual void OnTraceLength(std::uint32_t total) = 0;
    virtual void OnTraceData(const std::uint8_t* data, std::uint32_t length) = 0;
    // Another target announced while the link logs in or is logged in.
    virtual void OnOtherTarget(const MacAddress& address) = 0;
    // While listening, an announce was passed over (not the chosen target, or one served
    // already): listen on every candidate adapter again.
    virtual void ListenOnEveryCandidate() = 0;
    // While listening, from now on only this adapter (the driver's index; -1: the one in
    // use) is listened and talked to: a target chosen is logged in to where it was heard.
    // False when it cannot be used. Worker thread.
    virtual bool UseAdapter(int index) = 0;
};

}  // namespace fdp
