// Texts of the program's dialogs and of its string table in the running language.
// Dialog texts have no ids: each dialog carries both wordings, as the system's English
// and Chinese dialog templates do.
#pragma once

#include <QString>

#include "resources/strings/StringTable.h"

inline QString DlgText(const char* english, const char* chinese) {
    return QString::fromUtf8(res::CurrentLanguage() == res::Language::Chinese ? chinese : english);
}

inline QString ResString(unsigned id) { return QString::fromStdString(res::LoadString(id)); }
