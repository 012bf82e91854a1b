// Page 6, the DHCP and NAT task's input page: hub mode, or router mode with an
// automatic or a fixed WAN address. Next writes the choice with its change mask into
// the parameter block, saves param.jdp and moves to the download page. The page keeps
// its four radios exclusive itself; it has no settings record.
#pragma once

#include <array>

#include "pages/WizardPage.h"

class QRadioButton;
class CIpAddressCtl;

class CPageConfigIPnew : public CWizardPage {
    Q_OBJECT
public:
    CPageConfigIPnew(IWizardHost& host, WizardJob& job);

    bool OnInitDialog() override;
    bool OnSetActive() override;
    bool OnWizardNext() override;
    int BackPage() const override;
    int NextPage() const override;

    // By control id: radios 1059 hub, 1072 router, 1079 automatic, 1067 manual;
    // addresses 1071 IP, 1074 gateway, 1075 subnet mask, 1076 DNS server.
    QRadioButton* Radio(int controlId) const;
    CIpAddressCtl* AddressCtl(int controlId) const;
    int RouterMode() const { return m_routerMode; }
    int AutoAddress() const { return m_autoAddress; }

private:
    void OnRadioClicked(int controlId);
    void SetChoice(int routerMode, int autoAddress);

    int m_routerMode = 1;    // 1 router, 0 hub
    int m_autoAddress = 1;   // 1 automatic, 0 manual
    QRadioButton* m_hub;
    QRadioButton* m_router;
    QRadioButton* m_automatic;
    QRadioButton* m_manual;
    CIpAddressCtl* m_address;
    CIpAddressCtl* m_gateway;
    CIpAddressCtl* m_subnetMask;
    CIpAddressCtl* m_dns;
};
