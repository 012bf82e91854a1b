// The application object: one copy runs per user; a second copy raises the first
// copy's window and ends (CSingleInstance).
#pragma once

#include <QApplication>
#include <optional>
#include <string>

#include "app/KelvaneOptions.h"
#include "fdp/Frame.h"
#include "fdp/LinkBroker.h"

class CKelvaneDlg;
class CSingleInstance;

class CKelvaneApp : public QApplication {
    Q_OBJECT
public:
    // The options were read by main before anything else ran; Qt takes its own from argv.
    // broker: the link broker main started while it still had the privilege.
    CKelvaneApp(int& argc, char** argv, CKelvaneOptions options, fdp::LinkBrokerHandle broker);
    ~CKelvaneApp() override;

    // Runs the wizard to its end; returns the process's exit code. A second copy asks
    // the first to come to the front and returns 0 at once.
    int InitInstance();

    // The language of the string tables, the dialogs and Qt's own texts, from the locale
    // variables.
    static void SelectLanguage();

private:
    void RaiseMainWindow();

    CKelvaneOptions m_options;
    fdp::LinkBrokerHandle m_broker;
    CSingleInstance* m_instance = nullptr;
    // The chosen target (--target), read once the application exists: a malformed
    // address is told in a message box, which needs the application.
    std::optional<fdp::MacAddress> m_target;
    CKelvaneDlg* m_mainWindow = nullptr;
};
