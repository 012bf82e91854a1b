// An IPv4 address in four fields of 0 to 255. A field takes digits only and never a
// value above 255; a blank field counts as 0. A dot or a third digit moves on to the
// next field. Drawn as one edit box holding the four fields and their dots.
#pragma once

#include <QFrame>
#include <array>
#include <cstdint>

class QLineEdit;

class CIpAddressCtl : public QFrame {
    Q_OBJECT
public:
    explicit CIpAddressCtl(QWidget* parent = nullptr);

    std::array<std::uint8_t, 4> Address() const;
    void SetAddress(const std::array<std::uint8_t, 4>& address);
    // Blanks all four fields.
    void ClearAddress();
    QLineEdit* Field(int index) const { return m_fields[static_cast<std::size_t>(index)]; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::array<QLineEdit*, 4> m_fields{};
};
