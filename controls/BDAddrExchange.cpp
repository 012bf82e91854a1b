#include "controls/BDAddrExchange.h"

#include <QStringList>
#include <QWidget>
#include <algorithm>
#include <array>
#include <optional>

#include "controls/BDAddrCtl.h"
#include "controls/BDAddrEdit.h"
#include "widgets/ControlId.h"

namespace {

// Looked up among the address controls only: their fields carry the ids 1 to 6, which
// may also be the id of another control of the dialog.
CBDAddrCtl* AddressControl(QWidget* dialog, int controlId) {
    if (!dialog) return nullptr;
    const auto controls = dialog->findChildren<CBDAddrCtl*>();
    const auto found = std::find_if(controls.begin(), controls.end(),
                                    [controlId](const CBDAddrCtl* control) { return ControlIdOf(control) == controlId; });
    if (found == controls.end()) {
        qWarning("No Bluetooth address control with id %d", controlId);
        return nullptr;
    }
    return *found;
}

bool Read(CBDAddrCtl& control, std::span<std::uint8_t, 6> address) {
    BDAddrResult result;
    if (!control.GetAddress(true, &result)) return false;
    std::copy(std::begin(result.address), std::end(result.address), address.begin());
    return true;
}

// An empty part is 0; more than two digits would not fit a byte.
std::optional<std::uint8_t> ParsePart(QStringView part) {
    part = part.trimmed();
    if (part.isEmpty()) return std::uint8_t{0};
    if (part.size() > 2 || !std::all_of(part.begin(), part.end(), CBDAddrEdit::IsHexDigit)) return std::nullopt;
    return static_cast<std::uint8_t>(part.toUInt(nullptr, 16));
}

}  // namespace

bool DDX_BDAddr(QWidget* dialog, bool toMembers, int controlId, std::span<std::uint8_t, 6> address) {
    CBDAddrCtl* control = AddressControl(dialog, controlId);
    if (!control) return false;
    if (toMembers) return Read(*control, address);
    return control->SetAddress(address.data()) != 0;
}

bool DDX_BDAddrText(QWidget* dialog, bool toMembers, int controlId, QString& text) {
    CBDAddrCtl* control = AddressControl(dialog, controlId);
    if (!control) return false;
    if (toMembers) {
        std::uint8_t address[6];
        if (!Read(*control, address)) return false;
        QStringList parts;
        for (std::uint8_t byte : address) parts << QString::number(byte, 16);
        text = parts.join(QLatin1Char(':'));
        return true;
    }

    std::array<QStringView, 6> parts{};
    QStringView rest = text;
    for (std::size_t k = 0; k < parts.size() - 1; ++k) {
        const qsizetype colon = rest.indexOf(QLatin1Char(':'));
        if (colon < 0) break;
        parts[k] = rest.left(colon);
        rest = rest.mid(colon + 1);
    }
    parts.back() = rest;

    std::uint8_t address[6] = {};
    std::array<bool, 6> readable{};
    for (std::size_t k = 0; k < parts.size(); ++k) {
        const std::optional<std::uint8_t> value = ParsePart(parts[k]);
        readable[k] = value.has_value();
        address[k] = value.value_or(0);
    }
    control->SetAddress(address);
    for (int id = 1; id <= CBDAddrCtl::kFieldCount; ++id) {
        if (!readable[static_cast<std::size_t>(id - 1)]) control->Field(id)->clear();
    }
    return std::all_of(readable.begin(), readable.end(), [](bool ok) { return ok; });
}
