// Texts of the program's dialogs and of its string table in the running language.
// Dialog texts have no ids: the English wording is the key to its translation.
#pragma once

#include <QString>

#include "resources/strings/StringTable.h"

inline QString DlgText(const char* english) { return QString::fromStdString(res::Text(english)); }

inline QString ResString(unsigned id) { return QString::fromStdString(res::LoadString(id)); }
