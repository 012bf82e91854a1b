// The Bluetooth address control driven by real key events in a dialog: typing and
// pasting into the fields, moving between them and out of the control, reading and
// showing an address, the dialog data exchange, its looks per state, and creation by
// class name from a form.
#include <QBuffer>
#include <QClipboard>
#include <QDialog>
#include <QKeyEvent>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QVBoxLayout>
#include <QtTest>
#include <memory>

#include "controls/BDAddrCtl.h"
#include "controls/BDAddrEdit.h"
#include "controls/BDAddrExchange.h"
#include "controls/loader/ControlLoader.h"
#include "fdp/FormatBdAddr.h"
#include "tests/gui/GuiSupport.h"
#include "widgets/ControlId.h"

namespace {

constexpr int kAddressId = 1200;
constexpr std::uint8_t kAddress[6] = {0x0A, 0x34, 0x56, 0x78, 0x9A, 0xBC};

// A dialog as one would place the control: an edit before and after it, Ok (the
// default button) and Cancel.
struct AddressDialog {
    explicit AddressDialog(unsigned style = 0) {
        auto* layout = new QVBoxLayout(&dialog);
        before = new QLineEdit(&dialog);
        control = new CBDAddrCtl(&dialog, style);
        SetControlId(control, kAddressId);
        after = new QLineEdit(&dialog);
        ok = new QPushButton(QStringLiteral("OK"), &dialog);
        ok->setDefault(true);
        cancel = new QPushButton(QStringLiteral("Cancel"), &dialog);
        for (QWidget* widget : {static_cast<QWidget*>(before), static_cast<QWidget*>(control),
                                static_cast<QWidget*>(after), static_cast<QWidget*>(ok), static_cast<QWidget*>(cancel)}) {
            layout->addWidget(widget);
        }
        QObject::connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
        QObject::connect(cancel, &QPushButton::clicked, &dialog, &QDialog::reject);
        dialog.resize(260, 160);
        dialog.show();
        dialog.activateWindow();
    }
    CBDAddrEdit* Field(int id) const { return control->Field(id); }
    QStringList Texts() const {
        QStringList texts;
        for (int id = 1; id <= CBDAddrCtl::kFieldCount; ++id) texts << Field(id)->text();
        return texts;
    }
    void SetTexts(const QStringList& texts) const {
        for (int id = 1; id <= CBDAddrCtl::kFieldCount; ++id) Field(id)->setText(texts.at(id - 1));
    }
    // The id of the field that has the dialog's focus, 0 for none of them. (Asked of
    // the dialog: once a message box has gone, the offscreen platform does not make
    // the dialog the active window again.)
    int FocusedField() const {
        auto* field = qobject_cast<CBDAddrEdit*>(dialog.focusWidget());
        return field && control->isAncestorOf(field) ? field->Id() : 0;
    }
    void Focus(int id) const {
        Field(id)->setFocus(Qt::OtherFocusReason);
    }

    DialogWatcher watcher;
    QDialog dialog;
    QLineEdit* before;
    CBDAddrCtl* control;
    QLineEdit* after;
    QPushButton* ok;
    QPushButton* cancel;
};

QStringList Fields(const char* texts) { return QString::fromLatin1(texts).split(QLatin1Char(',')); }

}  // namespace

class BDAddrCtlTest : public QObject {
    Q_OBJECT

private slots:
    void typing_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("field1");
        QTest::addColumn<int>("focused");
        QTest::addColumn<QString>("refused");
        QTest::newRow("two digits fill the field") << "1a" << "1a" << 2 << "";
        QTest::newRow("upper-case digits") << "FF" << "FF" << 2 << "";
        QTest::newRow("one digit stays") << "7" << "7" << 1 << "";
        QTest::newRow("blank moves on") << "7 " << "7" << 2 << "";
        QTest::newRow("colon moves on") << "7:" << "7" << 2 << "";
        QTest::newRow("g is dropped") << "g" << "" << 1 << "g";
        QTest::newRow("refused between digits") << "1-z2" << "12" << 2 << "-z";
    }
    // Field 2 holds 34 beforehand, so a move to it shows as 34 selected.
    void typing() {
        QFETCH(QString, typed);
        AddressDialog d;
        QVERIFY(QTest::qWaitForWindowActive(&d.dialog));
        d.control->SetAddress(kAddress);
        d.Field(1)->clear();
        d.Focus(1);
        QSignalSpy refusals(d.control, &CBDAddrCtl::CharRefused);
        QTest::keyClicks(d.Field(1), typed);
        QTEST(d.Field(1)->text(), "field1");
        QTEST(d.FocusedField(), "focused");
        if (d.FocusedField() == 2) QCOMPARE(d.Field(2)->selectedText(), QStringLiteral("34"));
        QString refused;
        for (const QList<QVariant>& refusal : refusals) {
            QCOMPARE(refusal.at(0).toInt(), 1);
            refused += refusal.at(1).toChar();
        }
        QTEST(refused, "refused");
        QVERIFY(d.watcher.messages.isEmpty());
    }

    void keys_data() {
        QTest::addColumn<QString>("before");     // field 1's text, the caret at caret
        QTest::addColumn<int>("caret");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("text");       // what the key types
        QTest::addColumn<QString>("field1");
        QTest::addColumn<int>("focused");
        QTest::addColumn<QString>("refused");
        const int alt = Qt::AltModifier, meta = Qt::MetaModifier, ctrl = Qt::ControlModifier;
        QTest::newRow("Alt+g is refused") << "" << 0 << int(Qt::Key_G) << alt << "g" << "" << 1 << "g";
        QTest::newRow("Meta+g is refused") << "" << 0 << int(Qt::Key_G) << meta << "g" << "" << 1 << "g";
        QTest::newRow("Ctrl+Alt+x (AltGr) is refused") << "" << 0 << int(Qt::Key_X) << (ctrl | alt) << "x" << "" << 1 << "x";
        QTest::newRow("Alt+Shift+z is refused") << "1" << 1 << int(Qt::Key_Z) << (alt | int(Qt::ShiftModifier)) << "Z" << "1"
                                                << 1 << "Z";
        QTest::newRow("Alt+5 types the digit") << "" << 0 << int(Qt::Key_5) << alt << "5" << "5" << 1 << "";
        QTest::newRow("a digit into a full field moves on") << "1a" << 2 << int(Qt::Key_7) << 0 << "7" << "1a" << 2 << "";
        QTest::newRow("Ctrl+C at the start of a full field stays") << "1a" << 0 << int(Qt::Key_C) << ctrl << "c" << "1a"
                                                                    << 1 << "";
        QTest::newRow("Backspace at the start of a full field stays") << "1a" << 0 << int(Qt::Key_Backspace) << 0
                                                                       << "\b" << "1a" << 1 << "";
    }
    // One key with its modifiers, as the keyboard sends it: only Ctrl and Ctrl+Shift
    // make shortcuts, any other modified key that types is checked as typing.
    void keys() {
        QFETCH(QString, before);
        QFETCH(int, caret);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(QString, text);
        AddressDialog d;
        QVERIFY(QTest::qWaitForWindowActive(&d.dialog));
        d.control->SetAddress(kAddress);
        d.Field(1)->setText(before);
        d.Focus(1);
        d.Field(1)->setCursorPosition(caret);
        QSignalSpy refusals(d.control, &CBDAddrCtl::CharRefused);
        QKeyEvent press(QEvent::KeyPress, key, Qt::KeyboardModifiers(modifiers), text);
        QApplication::sendEvent(d.Field(1), &press);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::KeyboardModifiers(modifiers), text);
        QApplication::sendEvent(d.Field(1), &release);
        QTEST(d.Field(1)->text(), "field1");
        QTEST(d.FocusedField(), "focused");
        QString refused;
        for (const QList<QVariant>& refusal : refusals) refused += refusal.at(1).toChar();
        QTEST(refused, "refused");
        QVERIFY(d.watcher.messages.isEmpty());
    }

    void paste_data() {
        QTest::addColumn<bool>("fromMenu");
        QTest::addColumn<unsigned>("style");
        QTest::addColumn<QString>("pasted");
        QTest::addColumn<QString>("field1");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<int>("focused");
        const QStringList none;
        const QStringList notValid{QStringLiteral("g is not a valid entry.")};
        for (bool fromMenu : {false, true}) {
            const char* how = fromMenu ? "menu" : "Ctrl+V";
            QTest::addRow("%s: 1g refused", how) << fromMenu << 0u << "1g" << "1g" << notValid << 1;
            QTest::addRow("%s: 1g without check", how) << fromMenu << CBDAddrCtl::kNoCheckStyle << "1g" << "1g" << none << 2;
            QTest::addRow("%s: 1a moves on", how) << fromMenu << 0u << "1a" << "1a" << none << 2;
            QTest::addRow("%s: cut to two", how) << fromMenu << 0u << "9a77" << "9a" << none << 2;
            QTest::addRow("%s: g alone waits", how) << fromMenu << 0u << "g" << "g" << none << 1;
        }
    }
    // A paste that fills the field goes through the same check as typing; a refused
    // field keeps its text, selected, and the focus.
    void paste() {
        QFETCH(bool, fromMenu);
        QFETCH(unsigned, style);
        QFETCH(QString, pasted);
        QFETCH(QStringList, messages);
        QFETCH(int, focused);
        AddressDialog d(style);
        QVERIFY(QTest::qWaitForWindowActive(&d.dialog));
        d.Focus(1);
        QGuiApplication::clipboard()->setText(pasted);
        if (fromMenu) {
            d.Field(1)->paste();   // what the context menu's Paste does
        } else {
            QTest::keyClick(d.Field(1), Qt::Key_V, Qt::ControlModifier);
        }
        QTRY_COMPARE(d.watcher.messages, messages);
        QCOMPARE(d.watcher.captions, QStringList(messages.size(), QStringLiteral("Error")));
        QTRY_COMPARE(d.FocusedField(), focused);
        QTEST(d.Field(1)->text(), "field1");
        if (!messages.isEmpty()) QCOMPARE(d.Field(1)->selectedText(), d.Field(1)->text());
    }

    void getAddress_data() {
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<bool>("report");
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("failingField");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<QByteArray>("address");
        const QStringList none;
        const QByteArray zero(6, '\0');
        QTest::newRow("all valid") << Fields("0A,34,56,78,9a,BC") << true << 1 << 0 << none
                                   << QByteArray("\x0A\x34\x56\x78\x9A\xBC", 6);
        QTest::newRow("single digits") << Fields("0,1,a,F,00,ff") << true << 1 << 0 << none
                                       << QByteArray("\x00\x01\x0A\x0F\x00\xFF", 6);
        QTest::newRow("field 4 empty, quiet") << Fields("0A,34,56,,9A,BC") << false << 0 << 4 << none << zero;
        QTest::newRow("field 4 empty, told") << Fields("0A,34,56,,9A,BC") << true << 0 << 4
                                             << QStringList{QStringLiteral("Missing value in BD address")} << zero;
        QTest::newRow("g in field 2, told") << Fields("0A,1g,56,,9A,BC") << true << 0 << 2
                                            << QStringList{QStringLiteral("g is not a valid entry.")} << zero;
        QTest::newRow("blank in field 6, quiet") << Fields("0A,34,56,78,9A, 1") << false << 0 << 6 << none << zero;
    }
    // The result is zeroed before it is filled, the failing field gets the focus with
    // its text selected, and no field's text changes.
    void getAddress() {
        QFETCH(QStringList, texts);
        QFETCH(bool, report);
        QFETCH(int, failingField);
        QFETCH(QByteArray, address);
        AddressDialog d;
        QVERIFY(QTest::qWaitForWindowActive(&d.dialog));
        d.SetTexts(texts);
        d.Focus(1);
        BDAddrResult result;
        std::memset(&result, 0xEE, sizeof result);
        QTEST(d.control->GetAddress(report, &result), "result");
        QCOMPARE(int(result.failingField), failingField);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(result.address), 6), address);
        QTEST(d.watcher.messages, "messages");
        QCOMPARE(d.watcher.captions, QStringList(d.watcher.messages.size(), QStringLiteral("Error")));
        QCOMPARE(d.Texts(), texts);
        if (failingField != 0) {
            QCOMPARE(d.FocusedField(), failingField);
            QCOMPARE(d.Field(failingField)->selectedText(), texts.at(failingField - 1));
        }
    }

    void getAddressWithoutResult() {
        AddressDialog d;
        QVERIFY(QTest::qWaitForWindowActive(&d.dialog));
        d.Focus(3);
        QCOMPARE(d.control->GetAddress(true, nullptr), 0);
        QCOMPARE(d.FocusedField(), 3);
        QVERIFY(d.watcher.messages.isEmpty());
    }

    // Shown as upper-case pairs, read back as the lower-case text without leading
    // zeros, and that text shows the same fields again.
    void addressRoundTrip() {
        AddressDialog d;
        QVERIFY(QTest::qWaitForWindowActive(&d.dialog));
        QCOMPARE(d.control->SetAddress(kAddress), 1);
        QCOMPARE(d.Texts(), Fields("0A,34,56,78,9A,BC"));

        QString text;
        QVERIFY(DDX_BDAddrText(&d.dialog, true, kAddressId, text));
        QCOMPARE(text, QStringLiteral("a:34:56:78:9a:bc"));
        QCOMPARE(QString::fromStdString(FormatBdAddr(kAddress)), QStringLiteral("0a:34:56:78:9a:bc"));

        std::uint8_t bytes[6] = {};
        QVERIFY(DDX_BDAddr(&d.dialog, true, kAddressId, bytes));
        QVERIFY(std::equal(std::begin(bytes), std::end(bytes), std::begin(kAddress)));

        d.SetTexts(Fields(",,,,,"));
        QVERIFY(DDX_BDAddrText(&d.dialog, false, kAddressId, text));
        QCOMPARE(d.Texts(), Fields("0A,34,56,78,9A,BC"));

        const std::uint8_t other[6] = {1, 2, 3, 4, 5, 6};
        std::copy(std::begin(other), std::end(other), bytes);
        QVERIFY(DDX_BDAddr(&d.dialog, false, kAddressId, bytes));
        QCOMPARE(d.Texts(), Fields("01,02,03,04,05,06"));
        QVERIFY(d.watcher.messages.isEmpty());
    }

    // Bytes below 0x10 are saved without their leading zero (00 as 0, 0F as f) and come
    // back as the same two-digit fields.
    void savedAddressWithSmallBytes() {
        AddressDialog d;
        const std::uint8_t address[6] = {0x00, 0x0F, 0x10, 0xF0, 0x00, 0x0F};
        d.control->SetAddress(address);
        QCOMPARE(d.Texts(), Fields("00,0F,10,F0,00,0F"));
        QString text;
        QVERIFY(DDX_BDAddrText(&d.dialog, true, kAddressId, text));
        QCOMPARE(text, QStringLiteral("0:f:10:f0:0:f"));
        d.SetTexts(Fields(",,,,,"));
        QVERIFY(DDX_BDAddrText(&d.dialog, false, kAddressId, text));
        QCOMPARE(d.Texts(), Fields("00,0F,10,F0,00,0F"));
        std::uint8_t bytes[6] = {9, 9, 9, 9, 9, 9};
        QVERIFY(DDX_BDAddr(&d.dialog, true, kAddressId, bytes));
        QVERIFY(std::equal(std::begin(bytes), std::end(bytes), std::begin(address)));
        QVERIFY(d.watcher.messages.isEmpty());
    }

    void loadText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<bool>("loaded");
        QTest::newRow("saved form") << "a:34:56:78:9a:bc" << Fields("0A,34,56,78,9A,BC") << true;
        QTest::newRow("padded, upper case") << "0A:34:56:78:9A:BC" << Fields("0A,34,56,78,9A,BC") << true;
        QTest::newRow("empty text") << "" << Fields("00,00,00,00,00,00") << true;
        QTest::newRow("no colon: byte 6") << "bc" << Fields("00,00,00,00,00,BC") << true;
        QTest::newRow("two parts: bytes 1 and 6") << "1:2" << Fields("01,00,00,00,00,02") << true;
        QTest::newRow("empty parts") << "1::3:::6" << Fields("01,00,03,00,00,06") << true;
        QTest::newRow("too big for a byte") << "1ff:2:3:4:5:6" << Fields(",02,03,04,05,06") << false;
        QTest::newRow("not hexadecimal") << "0a:zz:56:78:9a:bc" << Fields("0A,,56,78,9A,BC") << false;
        QTest::newRow("a sixth colon") << "1:2:3:4:5:6:7" << Fields("01,02,03,04,05,") << false;
    }
    // A part that is not a byte leaves its field empty rather than showing another
    // address.
    void loadText() {
        QFETCH(QString, text);
        AddressDialog d;
        d.SetTexts(Fields("11,11,11,11,11,11"));
        QTEST(DDX_BDAddrText(&d.dialog, false, kAddressId, text), "loaded");
        QTEST(d.Texts(), "fields");
    }

    void exchangeFails_data() {
        QTest::addColumn<bool>("asText");
        QTest::newRow("bytes") << false;
        QTest::newRow("text") << true;
    }
    // Saving stops at the failing field with the focus there; the value stays as it
    // was.
    void exchangeFails() {
        QFETCH(bool, asText);
        AddressDialog d;
        QVERIFY(QTest::qWaitForWindowActive(&d.dialog));
        d.SetTexts(Fields("0A,34,,78,9A,BC"));
        d.Focus(1);
        QString text = QStringLiteral("unchanged");
        std::uint8_t bytes[6] = {9, 9, 9, 9, 9, 9};
        QVERIFY(!(asText ? DDX_BDAddrText(&d.dialog, true, kAddressId, text)
                         : DDX_BDAddr(&d.dialog, true, kAddressId, bytes)));
        QCOMPARE(d.watcher.messages, QStringList{QStringLiteral("Missing value in BD address")});
        QCOMPARE(d.FocusedField(), 3);
        QCOMPARE(text, QStringLiteral("unchanged"));
        QVERIFY(std::all_of(std::begin(bytes), std::end(bytes), [](std::uint8_t b) { return b == 9; }));
        QVERIFY(!DDX_BDAddrText(&d.dialog, true, kAddressId + 1, text));   // no such control
    }

    void arrows_data() {
        QTest::addColumn<int>("field");
        QTest::addColumn<int>("caret");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("focused");
        QTest::addColumn<int>("caretAfter");
        QTest::newRow("left at the start of field 1 stays") << 1 << 0 << int(Qt::Key_Left) << 1 << 0;
        QTest::newRow("left at the start of field 3") << 3 << 0 << int(Qt::Key_Left) << 2 << 2;
        QTest::newRow("left inside field 3") << 3 << 1 << int(Qt::Key_Left) << 3 << 0;
        QTest::newRow("right at the end of field 2") << 2 << 2 << int(Qt::Key_Right) << 3 << 0;
        QTest::newRow("right inside field 2") << 2 << 1 << int(Qt::Key_Right) << 2 << 2;
        QTest::newRow("right at the end of field 6 stays") << 6 << 2 << int(Qt::Key_Right) << 6 << 2;
    }
    void arrows() {
        QFETCH(int, field);
        QFETCH(int, caret);
        QFETCH(int, key);
        AddressDialog d;
        QVERIFY(QTest::qWaitForWindowActive(&d.dialog));
        d.control->SetAddress(kAddress);
        d.Focus(field);
        d.Field(field)->setCursorPosition(caret);
        QTest::keyClick(d.Field(field), static_cast<Qt::Key>(key));
        QTEST(d.FocusedField(), "focused");
        auto* focused = d.Field(d.FocusedField());
        QTEST(focused->cursorPosition(), "caretAfter");
        QVERIFY(!focused->hasSelectedText());
    }

    // Tab leaves the control for the dialog's next or previous control, Tab into it
    // lands on field 1 with its text selected, Enter presses the default button and
    // Escape cancels the dialog.
    void dialogKeys() {
        AddressDialog d;
        QVERIFY(QTest::qWaitForWindowActive(&d.dialog));
        d.control->SetAddress(kAddress);

        d.Focus(3);
        QTest::keyClick(d.Field(3), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), d.after);
        d.Focus(3);
        QTest::keyClick(d.Field(3), Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(QApplication::focusWidget(), d.before);
        QTest::keyClick(d.before, Qt::Key_Tab);
        QCOMPARE(d.FocusedField(), 1);
        QCOMPARE(d.Field(1)->selectedText(), QStringLiteral("0A"));

        QSignalSpy okClicked(d.ok, &QPushButton::clicked);
        QTest::keyClick(d.Field(2), Qt::Key_Return);
        QCOMPARE(okClicked.count(), 1);
        QCOMPARE(d.dialog.result(), int(QDialog::Accepted));

        d.dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&d.dialog));
        d.Focus(4);
        QSignalSpy rejected(&d.dialog, &QDialog::rejected);
        QTest::keyClick(d.Field(4), Qt::Key_Escape);
        QCOMPARE(rejected.count(), 1);
        QVERIFY(!d.dialog.isVisible());
        QCOMPARE(okClicked.count(), 1);
    }

    // Outside a dialog Escape is an ordinary key: nothing closes.
    void escapeOutsideDialog() {
        QWidget window;
        auto* control = new CBDAddrCtl(&window);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        control->Field(2)->setFocus();
        QTest::keyClick(control->Field(2), Qt::Key_Escape);
        QVERIFY(window.isVisible());
        QCOMPARE(QApplication::focusWidget(), control->Field(2));
    }

    void states_data() {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<bool>("readOnly");
        QTest::addColumn<int>("background");
        QTest::addColumn<bool>("typeable");
        QTest::newRow("enabled") << true << false << int(QPalette::Base) << true;
        QTest::newRow("disabled") << false << false << int(QPalette::Button) << false;
        QTest::newRow("read-only") << true << true << int(QPalette::Button) << false;
    }
    // The window colour behind an editable address, the button face colour otherwise,
    // both between the fields and inside them.
    void states() {
        QFETCH(bool, enabled);
        QFETCH(bool, readOnly);
        QFETCH(int, background);
        QFETCH(bool, typeable);
        AddressDialog d;
        QVERIFY(QTest::qWaitForWindowActive(&d.dialog));
        // Colours apart, so that the two backgrounds cannot be mistaken.
        QPalette colours = d.control->palette();
        colours.setColor(QPalette::Base, QColor(250, 250, 250));
        colours.setColor(QPalette::Button, QColor(200, 180, 160));
        d.control->setPalette(colours);
        d.control->setEnabled(enabled);
        QCOMPARE(d.control->SetReadOnly(readOnly), 1);

        const QColor expected = colours.color(QPalette::Active, static_cast<QPalette::ColorRole>(background));
        const QImage picture = d.control->grab().toImage();
        const QRect separator = d.control->SeparatorRect(2);
        QCOMPARE(picture.pixelColor(separator.center().x(), separator.top() + 1), expected);
        const QRect field = d.Field(4)->geometry();
        QCOMPARE(picture.pixelColor(field.left() + 1, field.top() + 1), expected);

        d.control->SetAddress(kAddress);
        d.Field(1)->clear();
        QTest::keyClicks(d.Field(1), QStringLiteral("5"));
        QCOMPARE(d.Field(1)->text() == QStringLiteral("5"), typeable);
        QCOMPARE(d.Field(1)->isEnabled(), enabled);
    }

    void layout_data() {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("pointSize");
        QTest::newRow("narrow") << 140 << 9;
        QTest::newRow("wide") << 320 << 9;
        QTest::newRow("large font") << 320 << 20;
    }
    // The fields take turns with colons one ':' wide across the client area, in the
    // control's font.
    void layout() {
        QFETCH(int, width);
        QFETCH(int, pointSize);
        QWidget window;
        auto* control = new CBDAddrCtl(&window);
        QFont font = control->font();
        font.setPointSize(pointSize);
        control->setFont(font);
        control->resize(width, control->sizeHint().height());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        const int colon = QFontMetrics(font).horizontalAdvance(QLatin1Char(':'));
        const QRect client = control->contentsRect();
        int left = client.left();
        for (int id = 1; id <= CBDAddrCtl::kFieldCount; ++id) {
            const QRect field = control->Field(id)->geometry();
            QCOMPARE(control->Field(id)->font(), font);
            QCOMPARE(field.left(), left);
            QCOMPARE(field.width(), control->Field(1)->width());
            QVERIFY(field.bottom() <= client.bottom());
            if (id < CBDAddrCtl::kFieldCount) {
                const QRect separator = control->SeparatorRect(id - 1);
                QCOMPARE(separator.left(), field.right() + 1);
                QCOMPARE(separator.width(), colon);
                left = separator.right() + 1;
            } else {
                QVERIFY(field.right() <= client.right());
                QVERIFY(client.right() - field.right() < CBDAddrCtl::kFieldCount);
            }
        }
    }

    // In code with Create; in a form by class name or by the window class name, with
    // the flags and the id the form gives.
    void creation() {
        QWidget parent;
        CBDAddrCtl* created = CBDAddrCtl::Create(CBDAddrCtl::kNoCheckStyle, QRect(5, 6, 200, 24), &parent, 1300);
        QVERIFY(created->NoCheck());
        QCOMPARE(ControlIdOf(created), 1300);
        QCOMPARE(created->geometry(), QRect(5, 6, 200, 24));
        QVERIFY(!created->isHidden());

        QByteArray form = R"(<ui version="4.0">
 <class>Form</class>
 <widget class="QDialog" name="Form">
  <layout class="QVBoxLayout" name="layout">
   <item>
    <widget class="CBDAddrCtl" name="address">
     <property name="noCheck"><bool>true</bool></property>
     <property name="controlId" stdset="0"><number>1200</number></property>
    </widget>
   </item>
   <item>
    <widget class="BDAddr" name="windowClass">
     <property name="readOnly"><bool>true</bool></property>
    </widget>
   </item>
  </layout>
 </widget>
 <customwidgets>
  <customwidget><class>CBDAddrCtl</class><extends>QWidget</extends><header>controls/BDAddrCtl.h</header></customwidget>
  <customwidget><class>BDAddr</class><extends>QWidget</extends><header>controls/BDAddrCtl.h</header></customwidget>
 </customwidgets>
</ui>)";
        QBuffer buffer(&form);
        CControlLoader loader;
        std::unique_ptr<QWidget> loaded(loader.load(&buffer));
        QVERIFY2(loaded, qPrintable(loader.errorString()));
        auto* address = loaded->findChild<CBDAddrCtl*>(QStringLiteral("address"));
        auto* windowClass = loaded->findChild<CBDAddrCtl*>(QStringLiteral("windowClass"));
        QVERIFY(address && windowClass);
        QVERIFY(address->NoCheck());
        QVERIFY(!windowClass->NoCheck());
        QVERIFY(!address->IsReadOnly());
        QVERIFY(windowClass->IsReadOnly() && windowClass->Field(3)->isReadOnly());
        QString text = QStringLiteral("1:2:3:4:5:6");
        QVERIFY(DDX_BDAddrText(loaded.get(), false, kAddressId, text));
        QCOMPARE(address->Field(6)->text(), QStringLiteral("06"));
    }
};

QTEST_MAIN(BDAddrCtlTest)
#include "BDAddrCtlTest.moc"
