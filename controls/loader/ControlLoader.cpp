#include "controls/loader/ControlLoader.h"

#include "controls/BDAddrCtl.h"

QWidget* CControlLoader::createWidget(const QString& className, QWidget* parent, const QString& name) {
    if (className == QLatin1String("CBDAddrCtl") || className == QLatin1String("BDAddr")) {
        auto* control = new CBDAddrCtl(parent);
        control->setObjectName(name);
        return control;
    }
    return QUiLoader::createWidget(className, parent, name);
}
