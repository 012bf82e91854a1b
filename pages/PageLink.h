// Page 2: follows the connection attempt that the password page started and, once the
// target is connected, lets the user choose the task. The window hands it the end of the
// listen (OnListenEnded), whichever page is shown.
#pragma once

#include <array>
#include <vector>

#include "fdp/HeardTarget.h"
#include "fdp/LinkEvent.h"
#include "pages/WizardPage.h"

class QLabel;
class QPushButton;
class QRadioButton;
class QTimer;
class QTreeWidget;

class CPageLink : public CWizardPage {
    Q_OBJECT
public:
    CPageLink(IWizardHost& host, WizardJob& job);

    bool OnInitDialog() override;
    bool OnSetActive() override;
    bool OnWizardNext() override;
    int BackPage() const override;
    int NextPage() const override;
    bool DoDataExchange(bool toMembers) override;
    // The five radio values (0 selected, -1 not): name/password, register, firmware,
    // DHCP/NAT, loop test. The job's task then follows the firmware radio.
    void Save(archive::CArchive& ar) override;
    void Load(archive::CArchive& ar) override;

    // Buttons and controls by the job's link state.
    void ShowLinkState();
    // The listen ended (its result a ConnectResult): the window tells the user, the page
    // shows the new link state.
    void OnListenEnded(const fdp::JobEnded& ended);

    CFontStatic* StateText() const { return m_stateText; }
    // The line under the state that names the other targets heard; hidden while none.
    QLabel* OtherTargetsText() const { return m_otherTargets; }
    // Shows the main window's list of other targets heard, one line each.
    void ShowOtherTargets();
    QRadioButton* Radio(int controlId) const;

    // Several targets answered the listen and none was logged in to: lists them
    // (address, adapter, last heard) for the user to choose one; Next stays off until
    // the chosen one is connected.
    void ShowSeveralTargets(const std::vector<fdp::HeardTarget>& targets);
    QTreeWidget* TargetList() const { return m_targetList; }
    // Listening this long without --interface and without a login, the page names the
    // virtual adapters that are up and how to name one; hidden while none is up.
    static constexpr int kNameHintAfterMs = 5000;
    QLabel* NameHintText() const { return m_nameHint; }
    QPushButton* ConnectChosenButton() const { return m_connectChosen; }

private:
    struct TaskRadio {
        int controlId;
        std::int32_t task;
        std::int32_t CPageLink::*value;
        QRadioButton* button;
        // False when the task's visibility switch hides the radio: it can then never
        // be selected, whatever the settings file says.
        bool offered;
    };

    // Whether the radio's task can be chosen: offered, and its values kept when it
    // changes parameters (param.jdp needs a working folder).
    bool Selectable(const TaskRadio& radio) const;
    // The task radio selected, as the members hold it; null when none is.
    const TaskRadio* ChosenRadio() const;
    void OnRadioClicked(QRadioButton* clicked);
    // Logs in to the target chosen in the list, on the adapter it was heard on.
    void OnConnectChosen();
    // Whether the user is to choose a target: the listen heard several, and no new
    // listen began since.
    bool Choosing() const;
    // Shows the hint of kNameHintAfterMs when it applies; hides it when the link no
    // longer listens.
    void ShowNameHint();

    std::int32_t m_firmwareRadio = -1;
    std::int32_t m_dhcpRadio = -1;
    std::int32_t m_namePasswordRadio = -1;
    std::int32_t m_loopTestRadio = -1;
    std::int32_t m_registerRadio = -1;

    CFontStatic* m_stateText;
    QLabel* m_prompt;
    QLabel* m_otherTargets;
    QLabel* m_nameHint;
    QTimer* m_nameHintTimer;
    // Says why the parameter tasks are off; shown only without a working folder.
    QLabel* m_paramTasksOff;
    bool m_paramsKept = true;
    QTreeWidget* m_targetList;
    QPushButton* m_connectChosen;
    std::vector<fdp::HeardTarget> m_heard;   // the list's rows, as shown
    // In the order Next tests them: DHCP/NAT, name/password, firmware, loop test,
    // register; with several selected the last one wins.
    std::array<TaskRadio, 5> m_radios;
};
