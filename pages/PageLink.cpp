#include "pages/PageLink.h"

#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <chrono>
#include <string>

#include "archive/Archive.h"
#include "fdp/AdapterList.h"
#include "fdp/RequestFrontEnd.h"
#include "pages/FirmSheet.h"
#include "pages/WizardHost.h"
#include "pages/WizardJob.h"
#include "widgets/ControlId.h"
#include "widgets/DialogText.h"
#include "widgets/FontStatic.h"
#include "widgets/InfoDlg.h"
#include "fdp/FormatBdAddr.h"
#include "resources/strings/StringIds.h"
#include "resources/strings/StringTable.h"

namespace {
constexpr unsigned kListeningId = 57676;
constexpr unsigned kConnectedWithId = 57677;
constexpr unsigned kConnectTimeoutId = 57678;
constexpr unsigned kConnectFailedId = 57679;
}  // namespace

CPageLink::CPageLink(IWizardHost& host, WizardJob& job)
    : CWizardPage(host, job, DlgText("Step 2: Set up connection"), 1050),
      m_stateText(new CFontStatic(QString(), this)),
      m_prompt(new QLabel(DlgText("The Target has connected with PC. Please select your task."),
                          this)),
      m_otherTargets(new QLabel(this)),
      m_nameHint(new QLabel(this)),
      m_nameHintTimer(new QTimer(this)),
      m_paramTasksOff(new QLabel(ResString(res::IDS_PARAM_TASKS_OFF), this)),
      m_targetList(new QTreeWidget(this)),
      m_connectChosen(new QPushButton(this)),
      m_radios{{
          {1005, TaskDhcpNat, &CPageLink::m_dhcpRadio, nullptr, true},
          {1004, TaskNamePassword, &CPageLink::m_namePasswordRadio, nullptr, true},
          {1003, TaskFirmware, &CPageLink::m_firmwareRadio, nullptr, true},
          {1001, TaskLoopTest, &CPageLink::m_loopTestRadio, nullptr, true},
          {1095, TaskRegister, &CPageLink::m_registerRadio, nullptr, true},
      }} {
    auto* instruction = new QLabel(
        DlgText("Please make sure that PC be connected with the target through Ethernet or Usb cable. "
                "\r\n\r\nCurrent state is:")
            .replace(QStringLiteral("\r\n"), QStringLiteral("\n")),
        this);
    instruction->setWordWrap(true);
    SetControlId(m_stateText, 1032);
    SetControlId(m_prompt, 1054);
    m_prompt->setWordWrap(true);

    auto* group = new QGroupBox(this);
    SetControlId(group, 1035);
    auto* groupLayout = new QVBoxLayout(group);
    groupLayout->addWidget(m_prompt);
    // Dialog order: name/password, DHCP/NAT, firmware, loop test, register.
    const std::pair<int, QString> texts[] = {
        {1004, DlgText("Set name/password")},
        {1005, DlgText("Config DHCP and NAT")},
        {1003, DlgText("Update firmware")},
        {1001, DlgText("Loop Test ")},
        {1095, DlgText("Register Config")},
    };
    for (const auto& [id, text] : texts) {
        auto* button = new QRadioButton(text, group);
        SetControlId(button, id);
        // Each radio is a group of its own; the page keeps them exclusive itself.
        button->setAutoExclusive(false);
        connect(button, &QRadioButton::clicked, this, [this, button] { OnRadioClicked(button); });
        groupLayout->addWidget(button);
        for (TaskRadio& radio : m_radios) {
            if (radio.controlId == id) radio.button = button;
        }
    }

    PageLayout()->addSpacing(8);
    PageLayout()->addWidget(instruction);
    PageLayout()->addWidget(m_stateText);
    m_otherTargets->setObjectName(QStringLiteral("otherTargets"));
    m_otherTargets->setWordWrap(true);
    m_otherTargets->setStyleSheet(QStringLiteral("color: #b00000;"));
    m_otherTargets->setVisible(false);
    PageLayout()->addWidget(m_otherTargets);
    m_nameHint->setObjectName(QStringLiteral("nameHint"));
    m_nameHint->setWordWrap(true);
    m_nameHint->setVisible(false);
    PageLayout()->addWidget(m_nameHint);
    m_nameHintTimer->setSingleShot(true);
    m_nameHintTimer->setInterval(kNameHintAfterMs);
    connect(m_nameHintTimer, &QTimer::timeout, this, [this] { ShowNameHint(); });

    m_targetList->setObjectName(QStringLiteral("targetList"));
    m_targetList->setRootIsDecorated(false);
    m_targetList->setSelectionMode(QAbstractItemView::SingleSelection);
    m_targetList->setHeaderLabels({ResString(res::IDS_COLUMN_ADDRESS), ResString(res::IDS_COLUMN_ADAPTER),
                                   ResString(res::IDS_COLUMN_LAST_HEARD)});
    m_targetList->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_targetList->setMaximumHeight(110);
    m_targetList->setVisible(false);
    m_connectChosen->setObjectName(QStringLiteral("connectChosen"));
    m_connectChosen->setText(ResString(res::IDS_CONNECT_CHOSEN));
    m_connectChosen->setEnabled(false);
    m_connectChosen->setVisible(false);
    connect(m_targetList, &QTreeWidget::itemSelectionChanged, this,
            [this] { m_connectChosen->setEnabled(!m_targetList->selectedItems().isEmpty()); });
    connect(m_targetList, &QTreeWidget::itemActivated, this, [this] { OnConnectChosen(); });
    connect(m_connectChosen, &QPushButton::clicked, this, [this] { OnConnectChosen(); });
    PageLayout()->addWidget(m_targetList);
    PageLayout()->addWidget(m_connectChosen, 0, Qt::AlignLeft);
    PageLayout()->addWidget(group);
    m_paramTasksOff->setObjectName(QStringLiteral("paramTasksOff"));
    m_paramTasksOff->setWordWrap(true);
    m_paramTasksOff->setVisible(false);
    PageLayout()->addWidget(m_paramTasksOff);
    PageLayout()->addStretch(1);
}

QRadioButton* CPageLink::Radio(int controlId) const {
    for (const TaskRadio& radio : m_radios) {
        if (radio.controlId == controlId) return radio.button;
    }
    return nullptr;
}

bool CPageLink::OnInitDialog() {
    CWizardPage::OnInitDialog();
    const std::pair<int, std::int32_t> switches[] = {
        {1095, Job().showRegister}, {1005, Job().showDhcp}, {1001, Job().showLoopTest}};
    for (const auto& [id, shown] : switches) {
        for (TaskRadio& radio : m_radios) {
            if (radio.controlId == id) radio.offered = shown != 0;
        }
        Radio(id)->setVisible(shown != 0);
        Radio(id)->setEnabled(shown != 0);
    }
    m_stateText->SetTextColour(Qt::black);
    m_paramsKept = !Host().FrontEnd().ProgramFolder().empty();
    m_paramTasksOff->setVisible(!m_paramsKept);
    return true;
}

bool CPageLink::Selectable(const TaskRadio& radio) const {
    const bool changesParams =
        radio.task == TaskNamePassword || radio.task == TaskDhcpNat || radio.task == TaskRegister;
    return radio.offered && (m_paramsKept || !changesParams);
}

bool CPageLink::OnSetActive() {
    ShowLinkState();
    return CWizardPage::OnSetActive();
}

int CPageLink::BackPage() const { return PagePasswdIndex; }

const CPageLink::TaskRadio* CPageLink::ChosenRadio() const {
    const TaskRadio* chosen = nullptr;
    for (const TaskRadio& radio : m_radios) {
        if (this->*radio.value == 0) chosen = &radio;
    }
    return chosen;
}

bool CPageLink::OnWizardNext() {
    UpdateData(true);
    const TaskRadio* chosen = ChosenRadio();
    if (!chosen) return false;
    Job().task = chosen->task;
    return true;
}

int CPageLink::NextPage() const {
    const TaskRadio* chosen = ChosenRadio();
    return chosen ? TaskPage(chosen->task) : kNoPage;
}

bool CPageLink::DoDataExchange(bool toMembers) {
    for (const TaskRadio& radio : m_radios) {
        // A hidden or disabled task is never selected, neither on the page nor for Next.
        if (toMembers) {
            this->*radio.value = Selectable(radio) && radio.button->isChecked() ? 0 : -1;
        } else {
            radio.button->setChecked(Selectable(radio) && this->*radio.value == 0);
        }
    }
    return true;
}

// A radio outside a group would toggle; a click always selects it, and only it.
void CPageLink::OnRadioClicked(QRadioButton* clicked) {
    for (const TaskRadio& radio : m_radios) radio.button->setChecked(radio.button == clicked);
}

void CPageLink::ShowOtherTargets() {
    QStringList lines;
    for (const auto& other : Host().FrontEnd().OtherTargets())
        lines << QString::fromStdString(res::FormatString(res::IDS_OTHER_TARGET, {FormatBdAddr(other.address)}));
    m_otherTargets->setText(lines.join(QLatin1Char('\n')));
    m_otherTargets->setVisible(!lines.isEmpty());
}

bool CPageLink::Choosing() const {
    return Job().linkState == LinkListening && !m_heard.empty() && !Host().FrontEnd().SeveralTargets().empty();
}

void CPageLink::ShowSeveralTargets(const std::vector<fdp::HeardTarget>& targets) {
    m_heard = targets;
    m_targetList->clear();
    const auto now = std::chrono::steady_clock::now();
    for (const fdp::HeardTarget& target : targets) {
        const auto tenths = std::chrono::duration_cast<std::chrono::milliseconds>(now - target.lastSeen).count() / 100;
        const std::string ago = std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
        m_targetList->addTopLevelItem(new QTreeWidgetItem(
            QStringList{QString::fromStdString(FormatBdAddr(target.address)), QString::fromStdString(target.adapter),
                        QString::fromStdString(res::FormatString(res::IDS_SECONDS_AGO, {ago}))}));
    }
    ShowLinkState();
}

void CPageLink::OnConnectChosen() {
    const int row = m_targetList->indexOfTopLevelItem(m_targetList->currentItem());
    if (!Choosing() || row < 0 || row >= static_cast<int>(m_heard.size())) return;
    if (Host().FrontEnd().LoginTo(m_heard[static_cast<std::size_t>(row)]) != 0) {
        Host().ShowInfo(QString::fromStdString(Host().FrontEnd().resultText()), CInfoDlg::ButtonOk, this);
        return;
    }
    m_heard.clear();
    ShowLinkState();
}

void CPageLink::ShowLinkState() {
    const bool connected = Job().linkState == LinkConnected;
    // Only the shown page owns the wizard buttons; a result that arrives while another
    // page is shown changes the state, not that page's buttons.
    const bool active = Sheet() && Sheet()->ActivePage() == this;
    const bool choosing = Choosing();
    if (!choosing) m_heard.clear();   // a new listen began: the list is of the last one
    m_targetList->setVisible(choosing);
    m_connectChosen->setVisible(choosing);
    switch (Job().linkState) {
    case LinkConnected:
        if (active) Sheet()->SetWizardButtons(CFirmSheet::WizBack | CFirmSheet::WizNext);
        break;
    case LinkListening:
        // While the user chooses, nothing is listened to: Back is the way out.
        if (active) Sheet()->SetWizardButtons(choosing ? CFirmSheet::WizBack : 0);
        m_stateText->SetText(ResString(choosing ? res::IDS_CHOOSE_TARGET : kListeningId));
        ShowOtherTargets();
        if (!choosing && m_nameHint->isHidden() && !m_nameHintTimer->isActive()) m_nameHintTimer->start();
        break;
    default:
        if (active) Sheet()->SetWizardButtons(CFirmSheet::WizBack);
        break;
    }
    if (Job().linkState != LinkListening || choosing) ShowNameHint();
    for (const TaskRadio& radio : m_radios) {
        // Enabling never shows a task that is switched off.
        radio.button->setEnabled(connected && Selectable(radio));
    }
    m_prompt->setEnabled(connected);
    repaint();
}

// The target may sit behind a virtual adapter (a bench's veth, a virtual machine's tap),
// which carries no login unless named: after a while without one, the user is told which
// of them are up and how to name one. Read once, when the wait is over, not polled.
void CPageLink::ShowNameHint() {
    std::vector<std::string> names;
    if (Job().linkState == LinkListening && !Choosing() && Host().InterfaceList().empty())
        names = fdp::CAdapterList().UnnamedUp(fdp::RankVirtual);
    if (names.empty()) {
        m_nameHintTimer->stop();
        m_nameHint->setVisible(false);
        return;
    }
    std::string list;
    for (const std::string& name : names) list += (list.empty() ? "" : ", ") + name;
    m_nameHint->setText(QString::fromStdString(res::FormatString(res::IDS_NAME_VIRTUAL_ADAPTER, {list, names.front()})));
    m_nameHint->setVisible(true);
}

void CPageLink::OnListenEnded(const fdp::JobEnded& ended) {
    const auto result = static_cast<fdp::ConnectResult>(ended.result);
    Host().OnConnectResult(result);
    switch (result) {
    case fdp::ConnectOk:
        Job().linkState = LinkConnected;
        m_stateText->SetText(ResString(kConnectedWithId) + QString::fromStdString(Job().connectedWith));
        break;
    case fdp::ConnectTimeout:
        m_stateText->SetText(ResString(kConnectTimeoutId));
        Job().linkState = LinkNotConnected;
        break;
    default:
        Job().linkState = LinkNotConnected;
        m_stateText->SetText(ResString(kConnectFailedId));
        break;
    }
    ShowLinkState();
}

void CPageLink::Save(archive::CArchive& ar) {
    for (std::int32_t value : {m_namePasswordRadio, m_registerRadio, m_firmwareRadio, m_dhcpRadio, m_loopTestRadio}) {
        ar.WriteInt32(value);
    }
    Job().task = m_firmwareRadio;
}

void CPageLink::Load(archive::CArchive& ar) {
    std::int32_t values[5];
    for (std::int32_t& value : values) value = ar.ReadInt32();
    m_namePasswordRadio = values[0];
    m_registerRadio = values[1];
    m_firmwareRadio = values[2];
    m_dhcpRadio = values[3];
    m_loopTestRadio = values[4];
    Job().task = m_firmwareRadio;
}
