#include "pages/PageConfigIPnew.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QVBoxLayout>

#include "fdp/param/ParamTasks.h"
#include "pages/FirmSheet.h"
#include "pages/WizardHost.h"
#include "pages/WizardJob.h"
#include "widgets/ControlId.h"
#include "widgets/DialogText.h"
#include "widgets/IpAddressCtl.h"

CPageConfigIPnew::CPageConfigIPnew(IWizardHost& host, WizardJob& job)
    : CWizardPage(host, job, DlgText("Step 3 : Config the DHCP and NAT"), 1080),
      m_hub(new QRadioButton(DlgText("Hub (NAP)  Mode"), this)),
      m_router(new QRadioButton(DlgText("Router Mode"), this)),
      m_automatic(new QRadioButton(DlgText("Obtain an IP address automatically"), this)),
      m_manual(new QRadioButton(DlgText("Use the following IP address:"), this)),
      m_address(new CIpAddressCtl(this)),
      m_gateway(new CIpAddressCtl(this)),
      m_subnetMask(new CIpAddressCtl(this)),
      m_dns(new CIpAddressCtl(this)) {
    const std::pair<QRadioButton*, int> radios[] = {{m_hub, 1059}, {m_router, 1072}, {m_automatic, 1079}, {m_manual, 1067}};
    for (const auto& [radio, id] : radios) {
        SetControlId(radio, id);
        radio->setAutoExclusive(false);
        connect(radio, &QRadioButton::clicked, this, [this, id = id] { OnRadioClicked(id); });
    }
    SetControlId(m_address, 1071);
    SetControlId(m_gateway, 1074);
    SetControlId(m_subnetMask, 1075);
    SetControlId(m_dns, 1076);

    auto* addresses = new QGroupBox(this);
    SetControlId(addresses, 1065);
    auto* addressGrid = new QGridLayout(addresses);
    const std::pair<CIpAddressCtl*, QString> rows[] = {
        {m_address, DlgText("IP Address")},
        {m_gateway, DlgText("Default GateWay")},
        {m_subnetMask, DlgText("Subnet Mask")},
        {m_dns, DlgText("Preferred DNS Server")},
    };
    int row = 0;
    for (const auto& [control, label] : rows) {
        addressGrid->addWidget(new QLabel(label, addresses), row, 0);
        addressGrid->addWidget(control, row++, 1, Qt::AlignLeft);
    }
    addressGrid->setColumnStretch(2, 1);

    auto* routerFrame = new QGroupBox(this);
    SetControlId(routerFrame, 1063);
    auto* routerLayout = new QVBoxLayout(routerFrame);
    routerLayout->addWidget(m_automatic);
    routerLayout->addWidget(m_manual);
    routerLayout->addWidget(addresses);

    PageLayout()->addSpacing(8);
    PageLayout()->addWidget(m_hub);
    PageLayout()->addWidget(m_router);
    PageLayout()->addWidget(routerFrame);
    PageLayout()->addStretch(1);
}

bool CPageConfigIPnew::OnInitDialog() {
    CWizardPage::OnInitDialog();
    SetChoice(1, 1);
    return true;
}

bool CPageConfigIPnew::OnSetActive() {
    Sheet()->SetWizardButtons(CFirmSheet::WizBack | CFirmSheet::WizNext);
    return CWizardPage::OnSetActive();
}

int CPageConfigIPnew::BackPage() const { return PageLinkIndex; }

int CPageConfigIPnew::NextPage() const { return PageBurnIndex; }

bool CPageConfigIPnew::OnWizardNext() {
    UpdateData(true);
    param::NetworkSettings settings;
    settings.mode = m_routerMode == 0   ? param::NetworkMode::Hub
                    : m_autoAddress != 0 ? param::NetworkMode::RouterAutomatic
                                         : param::NetworkMode::RouterManual;
    settings.address = m_address->Address();
    settings.subnetMask = m_subnetMask->Address();
    settings.gateway = m_gateway->Address();
    settings.dns = m_dns->Address();
    param::CParamStore* store = Host().ParamStore();
    return store && param::ApplyNetwork(*store, settings, {Job().modifiedMask, Job().registerMask});
}

void CPageConfigIPnew::OnRadioClicked(int controlId) {
    switch (controlId) {
    case 1059: SetChoice(0, 0); break;
    case 1067:
        SetChoice(1, 0);
        for (CIpAddressCtl* control : {m_address, m_gateway, m_subnetMask, m_dns}) control->ClearAddress();
        break;
    default: SetChoice(1, 1); break;   // router, or router with an automatic address
    }
}

void CPageConfigIPnew::SetChoice(int routerMode, int autoAddress) {
    m_routerMode = routerMode;
    m_autoAddress = autoAddress;
    m_hub->setChecked(routerMode == 0);
    m_router->setChecked(routerMode != 0);
    m_automatic->setChecked(routerMode != 0 && autoAddress != 0);
    m_manual->setChecked(routerMode != 0 && autoAddress == 0);
    const bool manual = routerMode != 0 && autoAddress == 0;
    for (CIpAddressCtl* control : {m_address, m_gateway, m_subnetMask, m_dns}) control->setEnabled(manual);
}

QRadioButton* CPageConfigIPnew::Radio(int controlId) const {
    return qobject_cast<QRadioButton*>(FindControl(const_cast<CPageConfigIPnew*>(this), controlId));
}

CIpAddressCtl* CPageConfigIPnew::AddressCtl(int controlId) const {
    return qobject_cast<CIpAddressCtl*>(FindControl(const_cast<CPageConfigIPnew*>(this), controlId));
}
