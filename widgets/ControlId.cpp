#include "widgets/ControlId.h"

QWidget* FindControl(QWidget* root, int id) {
    if (!root) return nullptr;
    if (ControlIdOf(root) == id) return root;
    for (QWidget* child : root->findChildren<QWidget*>()) {
        if (ControlIdOf(child) == id) return child;
    }
    return nullptr;
}
