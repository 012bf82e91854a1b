// Page 5, the firmware task's input page. Its file checks are still to come; it already
// keeps its settings record and hands the remembered choice to the job.
#pragma once

#include <string>

#include "pages/WizardPage.h"

class CPageFirmFile : public CWizardPage {
    Q_OBJECT
public:
    CPageFirmFile(CKelvaneDlg& main, WizardJob& job);

    bool OnSetActive() override;
    int OnWizardBack() override;
    // The "Update program firmware" flag, the boot and the program file paths. The
    // boot choice is not stored.
    void Save(archive::CArchive& ar) override;
    void Load(archive::CArchive& ar) override;

private:
    void CopyToJob();

    std::int32_t m_bootChecked = 0;
    std::int32_t m_programChecked = 0;
    std::string m_bootPath;
    std::string m_programPath;
};
