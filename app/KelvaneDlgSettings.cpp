// kelvane.ini: the pages' records read at start-up and written at the end, with the
// questions the file's errors ask.

#include "app/KelvaneDlg.h"

#include <QMessageBox>
#include <filesystem>

#include "archive/SettingsFile.h"
#include "pages/PageBurn.h"
#include "pages/PageCircleTest.h"
#include "pages/PageConfigIPnew.h"
#include "pages/PageFirmFile.h"
#include "pages/PageLink.h"
#include "pages/PageParam.h"
#include "pages/PagePasswd.h"
#include "pages/PageRegister.h"

// The pages' records in the order of the file.
std::array<archive::SettingsRecord*, 8> CKelvaneDlg::SettingsRecords() const {
    return {m_pagePasswd, m_pageLink, m_pageParam, m_pageRegister, m_pageFirmFile, m_pageConfigIp, m_pageCircleTest,
            m_pageBurn};
}

archive::SettingsUi CKelvaneDlg::SettingsQuestions() {
    archive::SettingsUi ui;
    ui.reportError = [this](const std::string& description) {
        QMessageBox::warning(this, kCaption, QString::fromStdString(description), QMessageBox::Ok);
    };
    ui.askRetry = [this] {
        return QMessageBox::critical(this, kCaption, QString::fromUtf8(archive::kSettingsWriteError.data(),
                                                                           static_cast<qsizetype>(archive::kSettingsWriteError.size())),
                                     QMessageBox::Retry | QMessageBox::Cancel) == QMessageBox::Retry;
    };
    return ui;
}

void CKelvaneDlg::LoadSettings() {
    if (m_settingsPath.isEmpty()) return;   // no folder for the files
    const auto records = SettingsRecords();
    archive::LoadSettings(std::filesystem::path(m_settingsPath.toStdString()), records, SettingsQuestions());
}

void CKelvaneDlg::SaveSettings() {
    if (m_settingsPath.isEmpty()) return;
    const auto records = SettingsRecords();
    archive::SaveSettings(std::filesystem::path(m_settingsPath.toStdString()),
                          std::filesystem::path(m_backupPath.toStdString()), records, SettingsQuestions());
}
