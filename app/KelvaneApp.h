// The application object: one copy runs; a second copy raises the first copy's window
// and ends. The first copy listens on a local server named after the system's window
// class, "JOXFWMWCLASS".
#pragma once

#include <QApplication>
#include <string>

class QLocalServer;
class CKelvaneDlg;

class CKelvaneApp : public QApplication {
    Q_OBJECT
public:
    static constexpr const char* kInstanceName = "JOXFWMWCLASS";

    CKelvaneApp(int& argc, char** argv);
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

    std::string m_interfaceName;
    bool m_allTasks = false;
    std::string m_dongleDevice;
    QLocalServer* m_server = nullptr;
    CKelvaneDlg* m_mainWindow = nullptr;
};
