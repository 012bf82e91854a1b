// The system's numeric control ids on our widgets. The status help text of a control
// is the string whose id equals the control's id; tests find controls by id.
#pragma once

#include <QWidget>

inline constexpr int kNoControlId = -1;

inline void SetControlId(QWidget* widget, int id) { widget->setProperty("controlId", id); }

inline int ControlIdOf(const QWidget* widget) {
    const QVariant id = widget->property("controlId");
    return id.isValid() ? id.toInt() : kNoControlId;
}

// The first widget under root with the id, or null.
QWidget* FindControl(QWidget* root, int id);
