// A page of the wizard sheet. The sheet calls the handlers below. Back and Next do the
// page's work and say whether the wizard may go on; the sheet then turns to the page
// that BackPage() or NextPage() names, as a QWizardPage's nextId() names the page after
// it. A page names where its buttons lead by its rule and never turns the sheet itself.
//
// Refresh rule: the first activation initialises the page (OnInitDialog fills the
// controls from the members); every later activation fills the controls from the
// members again; leaving the page reads the members from the controls, and a page whose
// controls cannot supply a value keeps the wizard where it is.
#pragma once

#include <QWidget>

#include "archive/SettingsRecord.h"

class CFirmSheet;
class IWizardHost;
class CFontStatic;
struct WizardJob;

class CWizardPage : public QWidget, public archive::SettingsRecord {
    Q_OBJECT
public:
    // The rule's answer for "no page": the buttons lead nowhere.
    static constexpr int kNoPage = -1;

    CWizardPage(IWizardHost& host, WizardJob& job, const QString& title, int titleId);

    virtual bool OnInitDialog();
    virtual bool OnSetActive();
    virtual bool OnKillActive();
    // False keeps the wizard on this page.
    virtual bool OnWizardBack() { return true; }
    virtual bool OnWizardNext() { return true; }
    // Where Back and Next lead from this page as it stands (a PageIndex), or kNoPage.
    virtual int BackPage() const { return kNoPage; }
    virtual int NextPage() const { return kNoPage; }
    virtual bool OnWizardFinish() { return true; }

    // Reads (toMembers) or writes the controls; false when a control's value is refused.
    virtual bool DoDataExchange(bool toMembers);
    bool UpdateData(bool toMembers) { return DoDataExchange(toMembers); }

    // The page's record of kelvane.ini. Pages without a record write and read nothing.
    void Save(archive::CArchive&) override {}
    void Load(archive::CArchive&) override {}

    bool IsInitialised() const { return m_initialised; }
    CFontStatic* Title() const { return m_title; }
    void SetSheet(CFirmSheet* sheet) { m_sheet = sheet; }
    CFirmSheet* Sheet() const { return m_sheet; }

protected:
    IWizardHost& Host() const { return m_host; }
    WizardJob& Job() const { return m_job; }
    // Makes the page's layout: the title on top, then the page's own content.
    class QVBoxLayout* PageLayout() const { return m_layout; }
    // False, after saying so and giving the edit the focus with its text selected, when
    // the edit holds more bytes than its parameter takes. Typing stops at the limit, but
    // a text restored from kelvane.ini may be longer; it is refused, never cut.
    bool TextFits(class CByteLimitEdit* edit);

private:
    friend class CFirmSheet;

    IWizardHost& m_host;
    WizardJob& m_job;
    CFirmSheet* m_sheet = nullptr;
    CFontStatic* m_title;
    class QVBoxLayout* m_layout;
    bool m_initialised = false;
    bool m_firstSetActive = true;
};
