#include "app/QtTranslation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QPointer>
#include <QTranslator>

bool InstallQtTranslation(res::Language language) {
    // One at a time: the picture program and the tests switch languages in one process.
    static QPointer<QTranslator> installed;
    if (installed) {
        QCoreApplication::removeTranslator(installed);
        delete installed;
    }
    if (language != res::Language::Chinese) return true;
    // The tables are simplified Chinese for every Chinese locale, and so are Qt's texts.
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    QCoreApplication::installTranslator(translator);
    installed = translator;
    return true;
}
