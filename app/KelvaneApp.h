// The application object: one copy runs; a second copy raises the first copy's window
// and ends. The first copy listens on a local server named after the system's window
// class, "JOXFWMWCLASS".
#pragma once

#include <QApplication>
#include <string>

#include "app/KelvaneOptions.h"

class QLocalServer;
class CKelvaneDlg;

class CKelvaneApp : public QApplication {
    Q_OBJECT
public:
    static constexpr const char* kInstanceName = "JOXFWMWCLASS";

    // The options were read by main before anything else ran; Qt takes its own from argv.
    CKelvaneApp(int& argc, char** argv, CKelvaneOptions options);
    ~CKelvaneApp() override;

    // Runs the wizard to its end; returns the process's exit code. A second copy asks
    // the first to come to the front and returns 0 at once.
    int InitInstance();

    // The language of the string tables, the dialogs and Qt's own texts, from the locale
    // variables.
    static void SelectLanguage();

private:
    bool RaiseRunningCopy();
    void ListenForOtherCopies();
    void RaiseMainWindow();

    CKelvaneOptions m_options;
    QLocalServer* m_server = nullptr;
    CKelvaneDlg* m_mainWindow = nullptr;
};
