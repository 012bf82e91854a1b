// The three parameter pages (name and password, DHCP and NAT, register) through the
// real main window: what Next writes into param.jdp, when the wizard stays, what the
// edits take, the settings records, --all-tasks and Get Parameters. Pages that write
// parameters need an opened adapter (the store comes with it), so those run on the
// network bench; the simulated target is started only where the link is used.
#include <QClipboard>
#include <QMap>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "app/KelvaneDlg.h"
#include "fdp/FirmwareFile.h"
#include "fdp/param/ParamStore.h"
#include "fdp/param/StandardBlock.h"
#include "pages/FirmSheet.h"
#include "pages/PageBurn.h"
#include "pages/PageConfigIPnew.h"
#include "pages/PageFirmFile.h"
#include "pages/PageLink.h"
#include "pages/PageParam.h"
#include "pages/PagePasswd.h"
#include "pages/PageRegister.h"
#include "pages/WizardJob.h"
#include "resources/strings/StringTable.h"
#include "tests/gui/GuiSupport.h"
#include "widgets/ControlId.h"
#include "widgets/InfoDlg.h"
#include "widgets/IpAddressCtl.h"

namespace {

constexpr int kConnectWaitMs = 40000;   // the listen waits up to 30 s for an announce
constexpr int kDownloadWaitMs = 60000;
const char* const kNoInterface = "kvnone";

QString Res(unsigned id) { return QString::fromStdString(res::LoadString(id)); }

// A value as param.jdp holds it now, read by a store of our own.
QByteArray SavedValue(const ProgramFolder& folder, quint16 id) {
    param::CParamStore store;
    store.Init(folder.File(QStringLiteral("param.jdp")).toStdString(), folder.File(QStringLiteral("default.jdp")).toStdString());
    if (!store.LoadParam()) return QByteArray("not loaded");
    std::array<std::uint8_t, 64> buffer{};
    std::uint16_t length = 0;
    if (!store.GetParam(id, buffer, length)) return QByteArray("no value");
    return QByteArray(reinterpret_cast<const char*>(buffer.data()), length);
}

// Typing, any script: ASCII as key presses, the rest as an input method commits it.
void TypeText(QWidget* widget, const QString& text) {
    for (const QChar c : text) {
        if (c.unicode() < 0x80) {
            QTest::keyClicks(widget, QString(c));
        } else {
            QInputMethodEvent commit;
            commit.setCommitString(QString(c));
            QApplication::sendEvent(widget, &commit);
        }
    }
}

QByteArray Padded(const QByteArray& text, int length) { return text + QByteArray(length - text.size(), '\0'); }

// What the pages say of a text, restored from kelvane.ini, that is longer than its
// parameter.
QString TooLong(int bytes) {
    return QStringLiteral("This text is longer than the target can keep: at most %1 bytes.\r\nPlease shorten it.").arg(bytes);
}

// param.jdp held by another program (an exclusive lock) while this object lives.
class LockedFile {
public:
    explicit LockedFile(const QString& path) : m_fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC)) {
        if (m_fd >= 0 && ::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~LockedFile() {
        if (m_fd >= 0) ::close(m_fd);
    }
    LockedFile(const LockedFile&) = delete;
    LockedFile& operator=(const LockedFile&) = delete;
    bool Locked() const { return m_fd >= 0; }

private:
    int m_fd;
};

}  // namespace

class ParamPagesTest : public QObject {
    Q_OBJECT

private:
    // The page, reached as the connection page's Next reaches it.
    template <typename Page>
    static Page* Show(CKelvaneDlg& window, int index) {
        window.Sheet()->SetActivePage(index);
        return static_cast<Page*>(window.PageAt(index));
    }
    static int Active(CKelvaneDlg& window) { return window.Sheet()->ActiveIndex(); }
    static void Next(CKelvaneDlg& window) { QTest::mouseClick(window.Sheet()->NextButton(), Qt::LeftButton); }
    static void Click(QAbstractButton* button) {
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(8, button->height() / 2));
    }
    static void Type(CIpAddressCtl* control, const QString& address) {
        const QStringList fields = address.split(QLatin1Char('.'));
        for (int i = 0; i < 4; ++i) {
            control->Field(i)->clear();
            QTest::keyClicks(control->Field(i), fields.value(i));
        }
    }
    // The password page's Next with this password: true once the wizard listens for the
    // target on the connection page.
    static bool ConnectWith(CKelvaneDlg& window, const QString& password) {
        auto* passwd = Show<CPagePasswd>(window, PagePasswdIndex);
        passwd->PasswordEdit()->setText(password);
        Next(window);
        return Active(window) == PageLinkIndex;
    }

private slots:
    void init() {
        TheWizardJob() = WizardJob{};
        // Left over from an earlier task: every page starts its masks again.
        TheWizardJob().modifiedMask = 0xFFFFFFFF;
        TheWizardJob().registerMask = 0xFFFFFFFF;
    }

    void namePasswordNext_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("confirm");
        QTest::addColumn<bool>("typed");   // false: set as a restored setting is
        QTest::addColumn<bool>("moves");
        QTest::addColumn<QString>("message");
        const QString p16(16, QLatin1Char('p')), p17(17, QLatin1Char('p'));
        QTest::newRow("both empty") << "" << "" << "" << true << true << QString();
        QTest::newRow("16-byte password") << "Shop NAP" << p16 << p16 << true << true << QString();
        QTest::newRow("chinese name") << QStringLiteral("门店") << "melon" << "melon" << true << true << QString();
        QTest::newRow("mismatch") << "Shop" << "melon" << "Melon" << true << false << Res(3007);
        QTest::newRow("17-byte password restored") << "Shop" << p17 << p17 << false << false << TooLong(16);
    }

    void namePasswordNext() {
        KELVANE_REQUIRE_BENCH();
        QFETCH(QString, name);
        QFETCH(QString, password);
        QFETCH(QString, confirm);
        QFETCH(bool, typed);
        QFETCH(bool, moves);
        QFETCH(QString, message);
        DialogWatcher watcher;
        ProgramFolder folder;
        auto window = OpenMainWindow(folder, bench::kPcInterface);
        QVERIFY2(watcher.messages.isEmpty(), qPrintable(watcher.messages.join(QLatin1Char('\n'))));
        const QByteArray before = folder.Read(QStringLiteral("param.jdp"));
        auto* page = Show<CPageParam>(*window, PageParamIndex);
        const std::pair<QLineEdit*, QString> inputs[] = {
            {page->NameEdit(), name}, {page->PasswordEdit(), password}, {page->ConfirmEdit(), confirm}};
        for (const auto& [edit, text] : inputs) {
            if (typed) TypeText(edit, text);
            else edit->setText(text);
        }
        Next(*window);

        QCOMPARE(watcher.messages, message.isEmpty() ? QStringList() : QStringList{message});
        QCOMPARE(Active(*window), moves ? int(PageBurnIndex) : int(PageParamIndex));
        if (!moves) {
            QCOMPARE(folder.Read(QStringLiteral("param.jdp")), before);
            return;
        }
        QCOMPARE(SavedValue(folder, 8), Padded(name.toUtf8(), 64));
        QCOMPARE(SavedValue(folder, 3), Padded(password.toUtf8(), 16));
        QCOMPARE(SavedValue(folder, 12).toHex(' '), QByteArray("00 00 00 30"));
        QCOMPARE(SavedValue(folder, 58).toHex(' '), QByteArray("00 00 00 00"));
        QCOMPARE(TheWizardJob().modifiedMask, 0x30000000u);
        QCOMPARE(TheWizardJob().registerMask, 0u);
        window->close();
    }

    // The edits take only as many bytes as their parameters hold, never half a character.
    void editsTakeWhatFits() {
        DialogWatcher watcher;
        ProgramFolder folder;
        auto window = OpenMainWindow(folder, kNoInterface);
        auto* param = Show<CPageParam>(*window, PageParamIndex);
        auto* reg = Show<CPageRegister>(*window, PageRegisterIndex);
        struct Case { QLineEdit* edit; QString typed; QString kept; };
        const Case cases[] = {
            {param->NameEdit(), QString(70, QLatin1Char('n')), QString(64, QLatin1Char('n'))},
            {param->NameEdit(), QString(22, QChar(0x540D)), QString(21, QChar(0x540D))},   // 3 bytes each
            {param->PasswordEdit(), QString(20, QLatin1Char('p')), QString(16, QLatin1Char('p'))},
            {param->ConfirmEdit(), QString(20, QLatin1Char('p')), QString(16, QLatin1Char('p'))},
            {reg->Edit(1023), QString(65, QLatin1Char('a')), QString(64, QLatin1Char('a'))},
            {reg->Edit(1101), QString(33, QLatin1Char('1')), QString(32, QLatin1Char('1'))},
            {reg->Edit(1024), QString(33, QLatin1Char('9')), QString(32, QLatin1Char('9'))},
        };
        for (const Case& c : cases) {
            c.edit->clear();
            TypeText(c.edit, c.typed);
            QCOMPARE(c.edit->text(), c.kept);
        }
        // A paste into the middle keeps what was there and as much of the paste as fits.
        QLineEdit* edit = param->PasswordEdit();
        edit->clear();
        QTest::keyClicks(edit, QStringLiteral("abcdefghijklmn"));
        edit->setCursorPosition(2);
        QApplication::clipboard()->setText(QStringLiteral("XYZW"));
        edit->paste();
        QCOMPARE(edit->text(), QStringLiteral("abXYcdefghijklmn"));
        window->close();
    }

    void radioClicksKeepOneChoice() {
        DialogWatcher watcher;
        ProgramFolder folder;
        auto window = OpenMainWindow(folder, kNoInterface);
        auto* page = Show<CPageConfigIPnew>(*window, PageConfigIpIndex);
        auto checked = [page] {
            QList<int> ids;
            for (int id : {1059, 1072, 1079, 1067})
                if (page->Radio(id)->isChecked()) ids << id;
            return ids;
        };
        // As the page opens: router, automatic.
        QCOMPARE(checked(), (QList<int>{1072, 1079}));
        QVERIFY(!page->AddressCtl(1071)->isEnabled());
        struct Step { int click; QList<int> checked; int router, automatic; bool addresses; };
        const Step steps[] = {
            {1059, {1059}, 0, 0, false},
            {1059, {1059}, 0, 0, false},   // clicked again: still chosen
            {1079, {1072, 1079}, 1, 1, false},
            {1067, {1072, 1067}, 1, 0, true},
            {1072, {1072, 1079}, 1, 1, false},
        };
        for (const Step& step : steps) {
            Click(page->Radio(step.click));
            QCOMPARE(checked(), step.checked);
            QCOMPARE(page->RouterMode(), step.router);
            QCOMPARE(page->AutoAddress(), step.automatic);
            for (int id : {1071, 1074, 1075, 1076}) QCOMPARE(page->AddressCtl(id)->isEnabled(), step.addresses);
        }

        // Choosing the fixed address again clears what was typed.
        Click(page->Radio(1067));
        for (int id : {1071, 1074, 1075, 1076}) Type(page->AddressCtl(id), QStringLiteral("10.1.2.3"));
        Click(page->Radio(1067));
        for (int id : {1071, 1074, 1075, 1076}) {
            for (int field = 0; field < 4; ++field) QVERIFY(page->AddressCtl(id)->Field(field)->text().isEmpty());
            QCOMPARE(page->AddressCtl(id)->Address(), (std::array<std::uint8_t, 4>{}));
        }
        // A field takes digits up to 255 only.
        QLineEdit* field = page->AddressCtl(1071)->Field(0);
        QTest::keyClicks(field, QStringLiteral("25"));
        QTest::keyClicks(field, QStringLiteral("6"));
        QCOMPARE(field->text(), QStringLiteral("25"));
        QTest::keyClicks(field, QStringLiteral("x5"));
        QCOMPARE(field->text(), QStringLiteral("255"));
        window->close();
    }

    void dhcpNext_data() {
        QTest::addColumn<int>("click");   // 0: as the page opens
        QTest::addColumn<QStringList>("addresses");   // IP, gateway, mask, DNS
        QTest::addColumn<QByteArray>("nat");
        QTest::addColumn<QByteArray>("dhcp");
        QTest::addColumn<QByteArray>("mask");
        QTest::newRow("router automatic") << 0 << QStringList() << QByteArray("01") << QByteArray("01")
                                          << QByteArray("00 00 03 00");
        QTest::newRow("hub") << 1059 << QStringList() << QByteArray("00") << QByteArray("00") << QByteArray("00 00 03 00");
        QTest::newRow("manual")
            << 1067 << QStringList{"192.168.0.10", "192.168.0.254", "255.255.255.0", "8.8..4"} << QByteArray("01")
            << QByteArray("00") << QByteArray("00 00 03 0f");
    }

    void dhcpNext() {
        KELVANE_REQUIRE_BENCH();
        QFETCH(int, click);
        QFETCH(QStringList, addresses);
        QFETCH(QByteArray, nat);
        QFETCH(QByteArray, dhcp);
        QFETCH(QByteArray, mask);
        DialogWatcher watcher;
        ProgramFolder folder;
        auto window = OpenMainWindow(folder, bench::kPcInterface);
        const QByteArray standardWan = SavedValue(folder, 15) + SavedValue(folder, 16) + SavedValue(folder, 17) +
                                       SavedValue(folder, 18);
        auto* page = Show<CPageConfigIPnew>(*window, PageConfigIpIndex);
        if (click) Click(page->Radio(click));
        const int ids[] = {1071, 1074, 1075, 1076};
        for (int i = 0; i < addresses.size(); ++i) Type(page->AddressCtl(ids[i]), addresses[i]);
        Next(*window);
        QCOMPARE(Active(*window), int(PageBurnIndex));
        QVERIFY(watcher.messages.isEmpty());
        QCOMPARE(SavedValue(folder, 25).toHex(' '), nat);
        QCOMPARE(SavedValue(folder, 24).toHex(' '), dhcp);
        QCOMPARE(SavedValue(folder, 12).toHex(' '), mask);
        QCOMPARE(SavedValue(folder, 58).toHex(' '), QByteArray("00 00 00 00"));
        const QByteArray wan = SavedValue(folder, 15) + SavedValue(folder, 16) + SavedValue(folder, 17) +
                               SavedValue(folder, 18);
        if (addresses.isEmpty()) {
            QCOMPARE(wan, standardWan);
        } else {
            QCOMPARE(SavedValue(folder, 15).toHex(' '), QByteArray("c0 a8 00 0a"));
            QCOMPARE(SavedValue(folder, 17).toHex(' '), QByteArray("c0 a8 00 fe"));
            QCOMPARE(SavedValue(folder, 16).toHex(' '), QByteArray("ff ff ff 00"));
            QCOMPARE(SavedValue(folder, 18).toHex(' '), QByteArray("08 08 00 04"));   // blank field: 0
        }
        window->close();
    }

    void registerNext() {
        KELVANE_REQUIRE_BENCH();
        DialogWatcher watcher;
        ProgramFolder folder;
        auto window = OpenMainWindow(folder, bench::kPcInterface);
        auto* page = Show<CPageRegister>(*window, PageRegisterIndex);
        Next(*window);
        QCOMPARE(Active(*window), int(PageBurnIndex));
        for (quint16 id = 59; id <= 63; ++id) QCOMPARE(SavedValue(folder, id), QByteArray(id <= 61 ? 64 : 32, '\0'));
        QCOMPARE(SavedValue(folder, 58).toHex(' '), QByteArray("1f 00 00 00"));
        QCOMPARE(SavedValue(folder, 12).toHex(' '), QByteArray("00 00 00 00"));

        Show<CPageRegister>(*window, PageRegisterIndex);
        QTest::keyClicks(page->Edit(1097), QStringLiteral("*21#"));
        QTest::keyClicks(page->Edit(1024), QString(32, QLatin1Char('9')));
        Next(*window);
        QCOMPARE(Active(*window), int(PageBurnIndex));
        QCOMPARE(SavedValue(folder, 59), Padded("*21#", 64));
        QCOMPARE(SavedValue(folder, 63), QByteArray(32, '9'));   // no terminating NUL
        window->close();
    }

    // Without a working param.jdp nothing can be written: each page stays, silently.
    void noWorkingFileKeepsEachPage() {
        KELVANE_REQUIRE_BENCH();
        DialogWatcher watcher;
        ProgramFolder folder;
        QVERIFY(QFile::remove(folder.File(QStringLiteral("param.jdp"))));
        auto window = OpenMainWindow(folder, bench::kPcInterface);
        for (int index : {int(PageParamIndex), int(PageRegisterIndex), int(PageConfigIpIndex)}) {
            window->Sheet()->SetActivePage(index);
            Next(*window);
            QCOMPARE(Active(*window), index);
        }
        QVERIFY(watcher.messages.isEmpty());
        QVERIFY(!QFile::exists(folder.File(QStringLiteral("param.jdp"))));
        window->close();
    }

    // A register text restored longer than its parameter is refused, not cut: the page
    // stays, says so and points at the text; param.jdp is not touched.
    void registerTextsLongerThanTheirParameter_data() {
        QTest::addColumn<int>("edit");
        QTest::addColumn<int>("length");
        QTest::newRow("register access code 65") << 1097 << 65;
        QTest::newRow("deregister access code 65") << 1021 << 65;
        QTest::newRow("register address 65") << 1023 << 65;
        QTest::newRow("Ringlet number 33") << 1101 << 33;
        QTest::newRow("PSTN number 33") << 1024 << 33;
    }
    void registerTextsLongerThanTheirParameter() {
        KELVANE_REQUIRE_BENCH();
        QFETCH(int, edit);
        QFETCH(int, length);
        DialogWatcher watcher;
        ProgramFolder folder;
        auto window = OpenMainWindow(folder, bench::kPcInterface);
        QVERIFY2(watcher.messages.isEmpty(), qPrintable(watcher.messages.join(QLatin1Char('\n'))));
        const QByteArray before = folder.Read(QStringLiteral("param.jdp"));
        auto* page = Show<CPageRegister>(*window, PageRegisterIndex);
        page->Edit(1097)->setText(QStringLiteral("*21#"));
        page->Edit(edit)->setText(QString(length, QLatin1Char('7')));   // as a restored setting is
        Next(*window);
        QCOMPARE(Active(*window), int(PageRegisterIndex));
        QCOMPARE(watcher.messages, QStringList{TooLong(length - 1)});
        QCOMPARE(page->Edit(edit)->text(), QString(length, QLatin1Char('7')));
        QCOMPARE(page->Edit(edit)->selectedText(), page->Edit(edit)->text());
        QCOMPARE(folder.Read(QStringLiteral("param.jdp")), before);
        window->close();
    }

    // param.jdp removed or locked by another program after it was loaded: every value is
    // accepted but the save fails. The page stays, and nothing of the refused task goes
    // out with the next one (here another page's Next once the file is back).
    void failedSaveKeepsThePage_data() {
        QTest::addColumn<int>("page");
        QTest::addColumn<bool>("locked");
        for (const bool locked : {false, true}) {
            const char* how = locked ? "locked" : "removed";
            QTest::addRow("name and password, %s", how) << int(PageParamIndex) << locked;
            QTest::addRow("register, %s", how) << int(PageRegisterIndex) << locked;
            QTest::addRow("dhcp and nat, %s", how) << int(PageConfigIpIndex) << locked;
            QTest::addRow("firmware, %s", how) << int(PageFirmFileIndex) << locked;
        }
    }
    void failedSaveKeepsThePage() {
        KELVANE_REQUIRE_BENCH();
        QFETCH(int, page);
        QFETCH(bool, locked);
        DialogWatcher watcher;
        ProgramFolder folder;
        QTemporaryDir files;
        auto window = OpenMainWindow(folder, bench::kPcInterface);
        QVERIFY2(watcher.messages.isEmpty(), qPrintable(watcher.messages.join(QLatin1Char('\n'))));
        const QString jdp = folder.File(QStringLiteral("param.jdp"));
        const QByteArray before = folder.Read(QStringLiteral("param.jdp"));
        // The values each task would write, and what they read before.
        const quint16 ids[] = {8, 3, 59, 63, 24, 25, 14, 12, 58};
        QMap<quint16, QByteArray> original;
        for (quint16 id : ids) original[id] = SavedValue(folder, id);

        switch (page) {
        case PageParamIndex: {
            auto* p = Show<CPageParam>(*window, page);
            p->NameEdit()->setText(QStringLiteral("Leaked"));
            p->PasswordEdit()->setText(QStringLiteral("leaked"));
            p->ConfirmEdit()->setText(QStringLiteral("leaked"));
            break;
        }
        case PageRegisterIndex: {
            auto* p = Show<CPageRegister>(*window, page);
            p->Edit(1097)->setText(QStringLiteral("*99#"));
            p->Edit(1024)->setText(QStringLiteral("5550199"));
            break;
        }
        case PageConfigIpIndex:
            Click(Show<CPageConfigIPnew>(*window, page)->Radio(1059));   // hub: both switches 00
            break;
        default: {
            auto* p = Show<CPageFirmFile>(*window, page);
            const QString image = files.filePath(QStringLiteral("program.bin"));
            QFile out(image);
            QVERIFY(out.open(QIODevice::WriteOnly));
            const auto bytes = fdp::MakeSampleFirmware(70000, fdp::FirmwareVersion{9, 0, 0, 1});
            out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
            out.close();
            qobject_cast<QAbstractButton*>(FindControl(p, 1012))->click();   // program firmware
            qobject_cast<QLineEdit*>(FindControl(p, 1019))->setText(image);
            // No target: its version cannot be read, and Yes answers the question.
            watcher.answer = [](const QString&) { return int(CInfoDlg::ResultYes); };
            break;
        }
        }
        std::unique_ptr<LockedFile> lock;
        if (locked) {
            lock = std::make_unique<LockedFile>(jdp);
            QVERIFY(lock->Locked());
        } else {
            QVERIFY(QFile::remove(jdp));
        }
        Next(*window);
        QCOMPARE(Active(*window), page);
        for (const QString& message : watcher.messages) QVERIFY2(!message.startsWith(QStringLiteral("This text")), qPrintable(message));

        // The file back as it was: another task's Next saves the block from memory.
        lock.reset();
        if (!locked) {
            QFile restored(jdp);
            QVERIFY(restored.open(QIODevice::WriteOnly));
            restored.write(before);
            restored.close();
        }
        const int other = page == PageConfigIpIndex ? int(PageRegisterIndex) : int(PageConfigIpIndex);
        window->Sheet()->SetActivePage(other);
        Next(*window);
        QCOMPARE(Active(*window), int(PageBurnIndex));
        QCOMPARE(SavedValue(folder, 8), original[8]);
        QCOMPARE(SavedValue(folder, 3), original[3]);
        QCOMPARE(SavedValue(folder, 14), original[14]);
        if (other == PageRegisterIndex) {
            QCOMPARE(SavedValue(folder, 24), original[24]);
            QCOMPARE(SavedValue(folder, 25), original[25]);
        } else {
            QCOMPARE(SavedValue(folder, 59), original[59]);
            QCOMPARE(SavedValue(folder, 63), original[63]);
        }
        window->close();
    }

    void settingsRecordsRestoreTheTexts() {
        DialogWatcher watcher;
        ProgramFolder folder;
        const QString texts[] = {QStringLiteral("*21#"), QStringLiteral("#21#"), QStringLiteral("sip.example"),
                                 QStringLiteral("12"), QStringLiteral("5550100")};
        {
            auto window = OpenMainWindow(folder, kNoInterface);
            auto* param = Show<CPageParam>(*window, PageParamIndex);
            QTest::keyClicks(param->NameEdit(), QStringLiteral("Shop NAP"));
            QTest::keyClicks(param->PasswordEdit(), QStringLiteral("melon"));
            QTest::keyClicks(param->ConfirmEdit(), QStringLiteral("melo"));
            auto* reg = Show<CPageRegister>(*window, PageRegisterIndex);   // leaving page 3 keeps its texts
            for (int i = 0; i < 5; ++i) QTest::keyClicks(reg->Edit(CPageRegister::kEditIds[i]), texts[i]);
            window->Sheet()->SetActivePage(PageLinkIndex);
            window->close();
        }
        const QByteArray ini = folder.Read(QStringLiteral("kelvane.ini"));
        QVERIFY(ini.contains(Text("Shop NAP") + Text("melon") + Text("melo") + Text("*21#") + Text("#21#") +
                             Text("sip.example") + Text("12") + Text("5550100")));

        auto window = OpenMainWindow(folder, kNoInterface);
        auto* param = Show<CPageParam>(*window, PageParamIndex);
        QCOMPARE(param->NameEdit()->text(), QStringLiteral("Shop NAP"));
        QCOMPARE(param->PasswordEdit()->text(), QStringLiteral("melon"));
        QCOMPARE(param->ConfirmEdit()->text(), QStringLiteral("melo"));
        auto* reg = Show<CPageRegister>(*window, PageRegisterIndex);
        for (int i = 0; i < 5; ++i) QCOMPARE(reg->Edit(CPageRegister::kEditIds[i])->text(), texts[i]);
        window->close();
    }

    void allTasksOffersEveryTask() {
        DialogWatcher watcher;
        for (bool all : {false, true}) {
            TheWizardJob() = WizardJob{};
            ProgramFolder folder;
            auto window = OpenMainWindow(folder, kNoInterface, all);
            auto* link = Show<CPageLink>(*window, PageLinkIndex);
            for (int id : {1005, 1001, 1095}) QCOMPARE(!link->Radio(id)->isHidden(), all);
            for (int id : {1004, 1003}) QVERIFY(!link->Radio(id)->isHidden());
            window->close();
        }
    }

    void getParamsWithoutAnswerShowsTheMessage() {
        DialogWatcher watcher;
        ProgramFolder folder;
        auto window = OpenMainWindow(folder, kNoInterface);
        watcher.messages.clear();   // no adapter
        auto* page = Show<CPageParam>(*window, PageParamIndex);
        QVERIFY(page->GetParamsButton()->isHidden());
        window->RevealServiceButtons();
        QVERIFY(!page->GetParamsButton()->isHidden() && page->GetParamsButton()->isEnabled());
        QTest::mouseClick(page->GetParamsButton(), Qt::LeftButton);
        QTRY_COMPARE(watcher.messages, QStringList{QStringLiteral("The target's param is null or the param is invalid!")});
        window->close();
        QCOMPARE(folder.Read(QStringLiteral("trace.txt")), QByteArray());
    }

    void getParamsDumpsTheTargetsBlock_data() {
        QTest::addColumn<bool>("valid");
        QTest::newRow("valid block") << true;
        QTest::newRow("invalid block") << false;
    }

    void getParamsDumpsTheTargetsBlock() {
        KELVANE_REQUIRE_BENCH();
        QFETCH(bool, valid);
        ProgramFolder folder;
        param::ParamBlock block = param::MakeStandardBlock();
        block.bytes[100] = 0x5A;   // not the PC's own param.jdp
        if (!valid) block.bytes[2051] = 0;   // format number
        QFile paramsFile(folder.File(QStringLiteral("target.bin")));
        QVERIFY(paramsFile.open(QIODevice::WriteOnly));
        paramsFile.write(reinterpret_cast<const char*>(block.bytes.data()), static_cast<qint64>(block.bytes.size()));
        paramsFile.close();
        SimulatedTarget target;
        QVERIFY(target.Start({QStringLiteral("--params"), paramsFile.fileName()}));
        DialogWatcher watcher;
        auto window = OpenMainWindow(folder, bench::kPcInterface);
        QVERIFY(ConnectWith(*window, QStringLiteral("kiwi")));
        QTRY_COMPARE_WITH_TIMEOUT(TheWizardJob().linkState, int(LinkConnected), kConnectWaitMs);

        const QByteArray jdp = folder.Read(QStringLiteral("param.jdp"));
        auto* page = Show<CPageParam>(*window, PageParamIndex);
        window->RevealServiceButtons();
        QTest::mouseClick(page->GetParamsButton(), Qt::LeftButton);
        const QByteArray sent(reinterpret_cast<const char*>(block.bytes.data()), static_cast<qsizetype>(block.bytes.size()));
        if (valid) {
            QVERIFY(watcher.messages.isEmpty());
            QCOMPARE(folder.Read(QStringLiteral("trace.txt")).left(sent.size()), sent);
        } else {
            QTRY_COMPARE(watcher.messages, QStringList{QStringLiteral("The target's param is null or the param is invalid!")});
            QCOMPARE(folder.Read(QStringLiteral("trace.txt")), QByteArray());
        }
        // Neither the page nor the working file change.
        QCOMPARE(folder.Read(QStringLiteral("param.jdp")), jdp);
        QCOMPARE(Active(*window), int(PageParamIndex));
        window->close();
    }

    // The whole task over the bench: password, connection, name and password, download
    // to Done. The target's burnt block holds the new values, and from then on only the
    // new password logs in.
    void namePasswordToDone() {
        KELVANE_REQUIRE_BENCH();
        ProgramFolder folder;
        QTemporaryDir state;
        SimulatedTarget target;
        QVERIFY(target.Start({QStringLiteral("--state"), state.path()}));
        DialogWatcher watcher;
        {
            auto window = OpenMainWindow(folder, bench::kPcInterface);
            QVERIFY(ConnectWith(*window, QStringLiteral("kiwi")));
            QTRY_COMPARE_WITH_TIMEOUT(TheWizardJob().linkState, int(LinkConnected), kConnectWaitMs);
            auto* link = static_cast<CPageLink*>(window->PageAt(PageLinkIndex));
            Click(link->Radio(1004));
            Next(*window);
            QCOMPARE(Active(*window), int(PageParamIndex));
            auto* page = static_cast<CPageParam*>(window->PageAt(PageParamIndex));
            QTest::keyClicks(page->NameEdit(), QStringLiteral("Shop NAP"));
            QTest::keyClicks(page->PasswordEdit(), QStringLiteral("melon"));
            QTest::keyClicks(page->ConfirmEdit(), QStringLiteral("melon"));
            Next(*window);
            QCOMPARE(Active(*window), int(PageBurnIndex));
            auto* burn = static_cast<CPageBurn*>(window->PageAt(PageBurnIndex));
            Next(*window);
            QTRY_COMPARE_WITH_TIMEOUT(int(burn->downloadState()), int(CPageBurn::DownloadState::Done), kDownloadWaitMs);
            QVERIFY2(watcher.messages.isEmpty(), qPrintable(watcher.messages.join(QLatin1Char('\n'))));
            window->close();
        }

        // The burnt block, byte for byte where the values lie.
        QFile burnt(state.filePath(QStringLiteral("param.bin")));
        QVERIFY(burnt.open(QIODevice::ReadOnly));
        const QByteArray block = burnt.readAll();
        QCOMPARE(block, folder.Read(QStringLiteral("param.jdp")));
        param::CParamStore layout;
        layout.LoadBlock(std::span(reinterpret_cast<const std::uint8_t*>(block.constData()), static_cast<std::size_t>(block.size())));
        const auto at = [&](quint16 id, int length) {
            const auto offset = layout.ValueOffset(id);
            return offset ? block.mid(static_cast<qsizetype>(param::kImageOffset + *offset), length) : QByteArray();
        };
        QCOMPARE(at(8, 64), Padded("Shop NAP", 64));
        QCOMPARE(at(3, 16), Padded("melon", 16));
        QCOMPARE(at(12, 4).toHex(' '), QByteArray("00 00 00 30"));

        // A fresh login: the old password is refused, the new one connects.
        TheWizardJob() = WizardJob{};
        auto window = OpenMainWindow(folder, bench::kPcInterface);
        QVERIFY(ConnectWith(*window, QStringLiteral("kiwi")));
        QTRY_COMPARE_WITH_TIMEOUT(watcher.messages.size(), 1, kConnectWaitMs);
        QCOMPARE(watcher.messages[0], Res(111));
        QCOMPARE(TheWizardJob().linkState, int(LinkNotConnected));
        window->close();
        TheWizardJob() = WizardJob{};
        window = OpenMainWindow(folder, bench::kPcInterface);
        QVERIFY(ConnectWith(*window, QStringLiteral("melon")));
        QTRY_COMPARE_WITH_TIMEOUT(TheWizardJob().linkState, int(LinkConnected), kConnectWaitMs);
        QCOMPARE(watcher.messages.size(), 1);
        window->close();
    }
};

int main(int argc, char** argv) {
    bench::EnterPcSide();
    QApplication app(argc, argv);
    res::SetLanguage(res::Language::English);
    ParamPagesTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "ParamPagesTest.moc"
