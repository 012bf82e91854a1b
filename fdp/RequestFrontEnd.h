// The request front end: what the user interface sees of the device link.
// Turns user requests into engine jobs with a status text, supplies the password,
// keeps the target's address, takes the engine's events into account before it hands
// them to its owner's sink, and writes trace.txt and Target_Bt_Addr.txt beside the
// program. No Qt: the wizard's main window and the command-line tool hold one.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <array>
#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "fdp/FdpTypes.h"
#include "fdp/FirmwareVersion.h"
#include "fdp/Frame.h"
#include "fdp/DownloadRecorder.h"
#include "fdp/HeardTarget.h"
#include "fdp/LinkFiles.h"
#include "fdp/LinkEvent.h"
#include "fdp/LoopRequests.h"
#include "fdp/UpdateHistory.h"

namespace fdp {

class ILinkEventSink;
class ILinkRequests;
class IPacketDriver;

inline constexpr std::uint32_t kParamImageLen = 8192;
inline constexpr std::uint32_t kTestBlockLen = 19;
inline constexpr std::uint32_t kVersionBlockLen = 64;
inline constexpr std::size_t kParamFormatOffset = 2051;   // format number byte of an image
inline constexpr std::uint8_t kParamFormat = 2;

class CRequestFrontEnd : public ILoopRequests {
public:
    CRequestFrontEnd();
    ~CRequestFrontEnd();
    CRequestFrontEnd(const CRequestFrontEnd&) = delete;
    CRequestFrontEnd& operator=(const CRequestFrontEnd&) = delete;

    // The link's files beside the program (trace.txt, Target_Bt_Addr.txt); 0 when they
    // cannot be created. Owner's thread.
    int StartLink();
    void ShutdownLink();
    // Sessions that serve several targets from one folder write one pair of files, which
    // their owner opened (before StartLink; the files outlive this front end). Each
    // opening its own would empty the others'.
    void ShareFiles(CLinkFiles& files) { m_sharedFiles = &files; }

    // Where the session's events go (owner's thread, before the link starts; null: none).
    // Each event is first taken into account here (the status text, the download's history
    // line, the targets heard), then handed on.
    void SetSink(ILinkEventSink* sink) { m_sink = sink; }
    // An event of the link (the engine's threads, or a request's thread).
    void Publish(LinkEvent event);

    // What the engine asks: the login password (worker thread), the trace answer's length
    // and text (receiver thread).
    void GetCredentials(const MacAddress& target, PasswordBlock& block);
    void OnTraceLength(std::uint32_t total);
    void OnTraceData(const std::uint8_t* data, std::uint32_t length);
    // The last trace answer's total length (any thread).
    std::uint32_t TraceTotal() const { return Files().TraceTotal(); }

    // The requests, in the system's order; 0 when the link took them.
    int StartDownload(std::uint8_t kind, const std::string& path);
    int Listen();
    int GetTrace(SharedBuffer buffer);
    int EnableTargetTestMode(SharedBuffer block) override;
    int StartLoopTest(SharedBuffer block) override;
    int SendLoopData(SharedBuffer buffer, std::uint32_t size) override;
    int ReceiveLoopData(SharedBuffer buffer, std::uint32_t size) override;
    std::uint8_t CurrentJob() const override;
    // A download runs on the link (asked of the session; false without a link).
    bool DownloadRunning() const;
    int DiagnoseTarget(SharedBuffer block);
    int GetParams(SharedBuffer buffer);
    int GetTargetVersion(SharedBuffer block);
    int SaveParamDump(const std::uint8_t* image);
    int WriteAddressLine(const std::uint8_t* bytes, std::uint8_t length);

    // The words for a step that ended with result because the adapter went away: the
    // adapter's name and what the target was left doing at that stage (nothing: a request
    // that is no download). Nothing for any other end: the caller's usual text stands.
    // Any thread.
    std::optional<std::string> AdapterLostText(std::optional<Stage> stage, unsigned result) const;

    // Another target heard: its address and the adapter it was heard on.
    struct OtherTarget {
        MacAddress address{};
        std::string adapter;
    };
    // Every other target heard since the program started listening (any thread).
    std::vector<OtherTarget> OtherTargets() const;

    // The targets of the last listen that heard several; empty from the next listen on.
    std::vector<HeardTarget> SeveralTargets() const;
    // Logs in to one of them, on the adapter it was heard on, at its next announce: a
    // listen like Listen's, and answered the same way.
    int LoginTo(const HeardTarget& target);

    // Pause after each transfer progress report, in ms (0: none): the pace of a download.
    void SetPaceMs(unsigned ms) { m_paceMs = ms; }
    unsigned PaceMs() const { return m_paceMs; }

    void SetPassword(const std::string& password);

    // Update history: every download handed to the link by StartDownload adds a line to
    // history.jsonl in the program folder (see CDownloadRecorder for what it holds).
    CDownloadRecorder& History() { return m_recorder; }
    std::string HistoryPath() const { return m_recorder.HistoryPath(); }

    // Link wiring, set by the owner (which owns the engine and the driver).
    void SetProgramFolder(const std::string& folder) {
        m_programFolder = folder;
        m_recorder.SetFolder(folder);
    }
    const std::string& ProgramFolder() const { return m_programFolder; }
    void SetLink(ILinkRequests* engine, IPacketDriver* driver) { m_engine = engine; m_driver = driver; }
    ILinkRequests* Engine() const { return m_engine; }
    IPacketDriver* Driver() const { return m_driver; }
    void SetAdapter(int index, int count, bool opened) {
        m_adapterIndex = index; m_adapterCount = count; m_adapterOpened = opened ? 1 : 0;
    }
    // Enumerates the adapters and opens the first that opens, best ranked first (the
    // link then listens on the others too); records the outcome with SetAdapter and
    // returns the index opened, -1 when none opened.
    int OpenFirstAdapter();
    // Listens on the adapter another session over the same driver has open, without
    // enumerating again (which would close it under that session); its index, -1 when
    // none is open.
    int JoinOpenAdapter();
    // What the user is told when no adapter opens: the guide text, then why the last
    // candidate failed (a missing privilege with the command that grants it), after the
    // separator.
    std::string NoAdapterMessage(const std::string& separator) const;
    // The interface name of the adapter in use; empty when none is open. Any thread.
    std::string AdapterName() const;
    int AdapterIndex() const { return m_adapterIndex; }
    int AdapterCount() const { return m_adapterCount; }
    bool AdapterOpened() const { return m_adapterOpened != 0; }

    // Copies, safe from any thread: Report writes them on the worker thread.
    std::string statusText() const;
    std::string resultText() const;
    MacAddress TargetAddress() const;

    void SetStatusText(const std::string& text);
    void SetResultText(const std::string& text);

    // Sleeps the pace (worker thread, after a block's progress report was handed on).
    void Pace() const;

private:
    // The status line of a stage report, and what it changes: the status and result texts,
    // the download's history line (worker thread).
    std::string TakeReport(Stage stage, unsigned result);
    void NoteOtherTarget(const MacAddress& address, const std::string& adapter);
    int StartListen(std::optional<HeardTarget> target);
    int SubmitRequest(std::uint8_t job, std::uint8_t kind, const std::string& path,
                      SharedBuffer buffer, std::uint32_t size, unsigned okText, bool setText);

    std::string m_programFolder;
    ILinkEventSink* m_sink = nullptr;
    ILinkRequests* m_engine = nullptr;
    IPacketDriver* m_driver = nullptr;
    std::atomic<int> m_adapterIndex{-1};   // moved by the receiver thread
    int m_adapterCount = 0;
    int m_adapterOpened = 0;

    mutable std::mutex m_textLock;
    std::string m_statusText;
    std::string m_resultText;

    std::mutex m_requestLock;   // one request handed to the engine at a time

    mutable std::mutex m_credentialLock;
    std::string m_password = "4826";
    MacAddress m_targetAddress{};

    CLinkFiles m_files;
    CLinkFiles* m_sharedFiles = nullptr;   // ShareFiles'
    CLinkFiles& Files() { return m_sharedFiles ? *m_sharedFiles : m_files; }
    const CLinkFiles& Files() const { return m_sharedFiles ? *m_sharedFiles : m_files; }
    CDownloadRecorder m_recorder;

    mutable std::mutex m_lostLock;
    std::string m_lostAdapter;   // deleted while logged in; empty from the next listen on

    mutable std::mutex m_otherLock;
    std::vector<OtherTarget> m_otherTargets;
    std::vector<HeardTarget> m_severalTargets;
    std::atomic<unsigned> m_paceMs{0};
};

}  // namespace fdp
