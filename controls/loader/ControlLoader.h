// A form loader that also knows this program's own controls by class name:
// CBDAddrCtl, under its class name and under the window class name "BDAddr". A form
// places it as a custom widget, with the properties the control declares (noCheck,
// readOnly) and a "controlId" dynamic property for its id; every other class is
// QUiLoader's.
#pragma once

#include <QUiLoader>

class CControlLoader : public QUiLoader {
public:
    using QUiLoader::QUiLoader;

    QWidget* createWidget(const QString& className, QWidget* parent = nullptr, const QString& name = QString()) override;
};
