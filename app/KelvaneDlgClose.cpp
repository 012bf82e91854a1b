// The ways out: the close box, Escape, File > Exit and Finish all shut the link down and
// save the settings once; while a download runs they ask first.

#include "app/KelvaneDlg.h"

#include <QCloseEvent>

#include "hci/DongleLink.h"
#include "pages/LoopTestChoice.h"
#include "pages/PageBurn.h"
#include "widgets/DialogText.h"
#include "widgets/InfoDlg.h"

void CKelvaneDlg::CloseWizard() {
    if (m_closed) return;
    m_closed = true;
    ShutdownLink();
    // The dongle outlives the window otherwise: its reader would go on holding the
    // controller and posting messages to a window and an application that are gone.
    TheDongleLink().CloseDongle();
    SaveSettings();
}

bool CKelvaneDlg::FinishWizard() {
    if (!ConfirmStopDownload()) return false;
    CloseWizard();
    done(0);
    return true;
}

// A download stopped while the target erases or burns may leave it without a working
// image, so every way out while one runs asks first (the close box, Escape, File > Exit,
// Finish, Back); No keeps the download running.
bool CKelvaneDlg::ConfirmStopDownload() {
    if (m_closed || !m_pageBurn->DownloadRunning()) return true;
    return ShowInfo(DlgText("A download to the target is still running.\r\nStopping it now, while the target erases or "
                            "burns its flash, can leave the target unusable.\r\nDo you want to stop the download and "
                            "close Kelvane?"),
                    CInfoDlg::ButtonYes | CInfoDlg::ButtonNo) == CInfoDlg::ResultYes;
}

void CKelvaneDlg::closeEvent(QCloseEvent* event) {
    if (!ConfirmStopDownload()) {
        event->ignore();
        return;
    }
    CloseWizard();
    event->accept();
}

// Escape takes the same way out as the close box, so the link is always shut down and
// the settings saved.
void CKelvaneDlg::reject() { close(); }
