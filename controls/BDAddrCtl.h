// An edit control for a 6-byte Bluetooth device address: six two-digit hexadecimal
// fields separated by painted colons, in the manner of an IP address control. No page
// of the wizard places it yet; dialogs place it in code (Create) or by class name in a
// form (CControlLoader). User-interface thread only.
#pragma once

#include <QRect>
#include <QWidget>
#include <array>
#include <cstdint>

class CBDAddrEdit;

// What GetAddress fills: the six bytes in field order, then the number (1 to 6) of the
// first field that failed, 0 on success. GetAddress zeroes it before filling it.
struct BDAddrResult {
    std::uint8_t address[6];
    std::uint32_t failingField;
};

class CBDAddrCtl : public QWidget {
    Q_OBJECT
    // For forms: noCheck is kNoCheckStyle given to the constructor, readOnly is
    // SetReadOnly.
    Q_PROPERTY(bool noCheck READ NoCheck WRITE SetNoCheck)
    Q_PROPERTY(bool readOnly READ IsReadOnly WRITE SetReadOnly)

public:
    static constexpr int kFieldCount = 6;
    // Style bit: a full field moves on without checking its characters.
    static constexpr unsigned kNoCheckStyle = 0x0001;

    // What a field hands to OnChildChar.
    enum class ChildCode {
        Tab,        // Tab, or Shift+Tab with back set
        Enter,
        NextField,  // blank or ":"
        Right,      // right arrow with the caret after the last character
        Left,       // left arrow with the caret before the first character
        FieldFull,  // the field holds two characters after an edit
    };

    explicit CBDAddrCtl(QWidget* parent = nullptr, unsigned style = 0);
    // Creates the control in code: placed at rect in parent, with the control id, shown.
    static CBDAddrCtl* Create(unsigned style, const QRect& rect, QWidget* parent, int id);

    // 1 when all six fields hold valid values, else 0 with the failing field recorded,
    // focused and its text selected; reportFailure shows the reason in a message box.
    // A null result does nothing and returns 0.
    int GetAddress(bool reportFailure, BDAddrResult* result);
    // Shows each byte as two upper-case digits. Returns 1.
    int SetAddress(const std::uint8_t address[6]);
    // All fields become read-only or editable. Returns 1.
    int SetReadOnly(bool readOnly);

    bool IsReadOnly() const { return m_readOnly; }
    bool NoCheck() const { return m_noCheck; }
    void SetNoCheck(bool noCheck) { m_noCheck = noCheck; }
    // Field by its id, 1 to 6.
    CBDAddrEdit* Field(int id) const { return m_fields.at(static_cast<std::size_t>(id - 1)); }
    QRect SeparatorRect(int index) const { return m_separators.at(static_cast<std::size_t>(index)); }

    // Called by the fields for the characters and keys that concern the whole control.
    void OnChildChar(ChildCode code, CBDAddrEdit* field, bool back = false);
    // Beeps for a character a field refuses.
    void RefuseChar(CBDAddrEdit* field, QChar character);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    // A field dropped a character it does not take.
    void CharRefused(int fieldId, QChar character);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void Layout();
    void UpdateColours();
    QColor Background() const;
    int EdgeHeight() const;
    // The field after or before field, or null at the ends.
    CBDAddrEdit* Neighbour(const CBDAddrEdit* field, int step) const;
    // The next (or previous) tab stop of the dialog outside this control, or null.
    QWidget* NextTabStop(bool back) const;
    // Gives field the focus with its text selected.
    static void FocusField(CBDAddrEdit* field);
    void ShowError(const QString& text);

    std::array<CBDAddrEdit*, kFieldCount> m_fields{};
    std::array<QRect, kFieldCount - 1> m_separators{};
    bool m_readOnly = false;
    bool m_noCheck = false;
};
