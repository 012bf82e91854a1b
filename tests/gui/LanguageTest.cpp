// Run with LANG=zh_CN.UTF-8: the program picks the Chinese tables and dialogs from the
// locale, as it does at start.
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>
#include <sys/stat.h>

#include "app/KelvaneApp.h"
#include "app/KelvaneDlg.h"
#include "pages/FirmSheet.h"
#include "pages/WizardJob.h"
#include "pages/WizardPage.h"
#include "resources/strings/StringTable.h"
#include "tests/gui/GuiSupport.h"
#include "widgets/FontStatic.h"

class LanguageTest : public QObject {
    Q_OBJECT
private slots:
    void chineseLocaleShowsTheChineseTexts() {
        QCOMPARE(qEnvironmentVariable("LANG"), QStringLiteral("zh_CN.UTF-8"));
        CKelvaneApp::SelectLanguage();
        QCOMPARE(res::CurrentLanguage(), res::Language::Chinese);

        DialogWatcher watcher;
        ProgramFolder folder;
        auto opened = OpenMainWindow(folder, "kvnone");
        CKelvaneDlg& window = *opened;
        QCOMPARE(watcher.messages.size(), 1);
        // The packet driver's reason is Chinese too.
        QVERIFY(watcher.messages[0].startsWith(QStringLiteral("打开默认的网卡或USB设备失败")));
        QVERIFY2(watcher.messages[0].endsWith(QStringLiteral("\r\n\r\n没有名为 kvnone 的以太网接口。")),
                 qPrintable(watcher.messages[0]));

        struct Case { int page; const char* title; };
        const Case titles[] = {
            {PageWelcomeIndex, "固件管理向导"},
            {PagePasswdIndex, "第 1 步：输入密码"},
            {PageLinkIndex, "第 2 步：建立连接"},
            {PageBurnIndex, "第 4 步: 将固件程序或配置信息下载"},
        };
        for (const Case& c : titles) QCOMPARE(window.PageAt(c.page)->Title()->Text(), QString::fromUtf8(c.title));
        auto* guide = window.PageAt(PageWelcomeIndex)->findChild<QPlainTextEdit*>();
        QVERIFY(guide->toPlainText().startsWith(QStringLiteral("\n\n\n欢迎使用固件管理向导")));
        QCOMPARE(window.Sheet()->NextButton()->text(), QStringLiteral("下一步(&N) >"));

        window.ShowStatusText(1003);
        QCOMPARE(window.StatusPaneText(), QStringLiteral("选择此项更新启动程序或固件程序。"));
        window.Sheet()->PressNext();
        window.Sheet()->PressNext();
        QCOMPARE(watcher.messages.last(), QStringLiteral("没有可用的以太网或USB接口，请检查您的硬件。"));
        window.close();
    }

    // Qt's own texts come in Chinese too, as Qt's Chinese translation words them: the
    // buttons of the wizard's message boxes and of any standard message box.
    void qtOwnTextsAreChinese() {
        CKelvaneApp::SelectLanguage();
        DialogWatcher watcher;
        ProgramFolder folder;
        auto window = OpenMainWindow(folder, "kvnone");
        watcher.buttons.clear();
        QVERIFY(!window->SettingsQuestions().askRetry());   // the watcher answers Ok: no retry
        QCOMPARE(watcher.buttons, QStringList{QStringLiteral("重试 | 取消")});

        QMessageBox question(QMessageBox::Question, window->windowTitle(), QStringLiteral("？"),
                             QMessageBox::Yes | QMessageBox::No, window.get());
        QCOMPARE(question.button(QMessageBox::Yes)->text(), QStringLiteral("是(&Y)"));
        QCOMPARE(question.button(QMessageBox::No)->text(), QStringLiteral("否(&N)"));
        window->close();
    }

    void unwritableProgramFolderIsNamedInChinese() {
        DialogWatcher watcher;
        ProgramFolder folder;
        {
            UnwritableFolder unwritable(folder);
            auto window = OpenMainWindow(folder, "kvnone");
            QVERIFY2(watcher.messages.value(0).startsWith(QStringLiteral("无法写入文件夹 ") + folder.Path() +
                                                         QStringLiteral("。")),
                     qPrintable(watcher.messages.value(0)));
            window->close();
        }
    }

    // A refused folder: the start-up message and the connection page's line say in
    // Chinese which tasks remain.
    void refusedFolderNamesTheTasksLeftInChinese() {
        DialogWatcher watcher;
        ProgramFolder folder;
        QCOMPARE(::chmod(QFile::encodeName(folder.Path()).constData(), 0777), 0);
        auto window = OpenMainWindow(folder, "kvnone");
        QCOMPARE(watcher.messages.value(0),
                 QStringLiteral("其他用户可以写入文件夹 ") + folder.Path() +
                     QStringLiteral("，Kelvane 不在其中保存任何文件。没有这些文件，Kelvane 仍可更新固件程序（但不在 "
                                    "param.jdp 中记录其版本）和进行环路测试；修改名称和密码、配置 DHCP 和 NAT "
                                    "以及注册参数配置需要 param.jdp，无法进行；任何内容都不会保存。请将该文件夹改为"
                                    "只有您可以写入（chmod go-w）。"));
        auto* line = window->PageAt(PageLinkIndex)->findChild<QLabel*>(QStringLiteral("paramTasksOff"));
        QVERIFY(line);
        QVERIFY(line->text().startsWith(QStringLiteral("修改设备的名称和密码、配置设备的DHCP和NAT以及注册参数配置")));
        window->close();
    }

    // A language added as a catalogue and nothing else: the new-language test
    // (tests/scripts/new-language-test) runs this under its locale, naming the welcome
    // page's title and Next button it translated.
    void newLanguageFromItsCatalogueAlone() {
        const QString title = qEnvironmentVariable("KELVANE_EXPECT_TITLE");
        if (title.isEmpty()) QSKIP("run by the new-language test");
        CKelvaneApp::SelectLanguage();
        DialogWatcher watcher;
        ProgramFolder folder;
        auto opened = OpenMainWindow(folder, "kvnone");
        CKelvaneDlg& window = *opened;
        QCOMPARE(window.PageAt(PageWelcomeIndex)->Title()->Text(), title);
        QCOMPARE(window.Sheet()->NextButton()->text(), qEnvironmentVariable("KELVANE_EXPECT_NEXT"));
        window.close();
    }
};

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    LanguageTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "LanguageTest.moc"
