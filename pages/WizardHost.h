// What a wizard page may ask of the window that holds it: the link's requests and the
// waits for their answers, the parameter store, the dongle's device, the guide dialog
// and the way out. The main window implements it; a page gets it at construction and
// keeps the reference for its life, so the pages know nothing else of the window.
//
// Threads: user-interface thread only. The waits keep the window painting and ignore
// input while they wait.
#pragma once

#include <QString>
#include <cstdint>
#include <string>
#include <vector>

#include "fdp/FdpTypes.h"
#include "fdp/FirmwareVersion.h"

class QWidget;
namespace fdp { class CRequestFrontEnd; }
namespace param { class CParamStore; }

class IWizardHost {
public:
    // The link's request front end: Listen, GetParams, GetTrace ...
    virtual fdp::CRequestFrontEnd& FrontEnd() = 0;
    // Hands a download to the link, its update history line named by the wizard's task;
    // 0 when the link took it.
    virtual int StartDownload(std::uint8_t kind, const std::string& path) = 0;
    // A listen ended: the window tells the user the outcome (status text, message) and,
    // once connected, names the target.
    virtual void OnConnectResult(fdp::ConnectResult result) = 0;

    // Waits until the engine no longer runs the job (an FdpJob) or capMs have passed,
    // then copies what has arrived in buffer: the engine may still be writing it.
    virtual std::vector<std::uint8_t> WaitForAnswer(std::uint8_t job, int capMs, const fdp::SharedBuffer& buffer) = 0;
    // Asks the target for its boot (13) or program (14) version and waits for the
    // answer; 0.0.0.0 when none came. answered, when given, tells whether the target
    // gave its version: false when the request was refused, failed or timed out.
    virtual fdp::FirmwareVersion TargetVersion(std::uint8_t wanted, bool* answered = nullptr) = 0;
    // Lets ms pass the same way: painting, posted events handled, input ignored.
    virtual void Pause(int ms) = 0;
    // Why a link request is refused when the link did not start.
    virtual QString LinkUnavailableText() const = 0;

    // The parameter store of param.jdp; null when it could not be created.
    virtual param::CParamStore* ParamStore() const = 0;
    // Where the file dialogs start: the program's folder.
    virtual QString ProgramDirectory() const = 0;
    // The loop test's dongle as named on the command line; empty when none was.
    virtual const std::string& DongleDevice() const = 0;
    // --interface as given (names and patterns); empty when none was.
    virtual const std::string& InterfaceList() const = 0;

    // The window that message boxes belong to; it lives as long as the pages.
    virtual QWidget* Window() = 0;
    // Shows the guide dialog modally over parent (the window when null): the button
    // mask 1 Yes, 2 No, 4 Ok; the result 6, 7 or 1.
    virtual int ShowInfo(const QString& message, int buttonMask, QWidget* parent = nullptr) = 0;
    // The download page's Finish: shut the link down, save the settings, end. While a
    // download runs it asks first; false when the user chose to stay.
    virtual bool FinishWizard() = 0;

protected:
    ~IWizardHost() = default;
};
