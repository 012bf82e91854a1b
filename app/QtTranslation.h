// Qt's own texts in the wizard's language: the standard buttons of message boxes, the
// file dialog, the context menu of every edit. They come from Qt's translations
// (Debian's qt6-translations-l10n), not from the wizard's string tables.
#pragma once

#include <string>

// Replaces the Qt translation installed before with the one for the wizard's catalogue
// ("zh_CN", "de" ...: res::CurrentCatalogue()); English (empty) needs none. Returns false
// when the translation is not installed: Qt's texts stay English. Needs the application
// object; user-interface thread only.
bool InstallQtTranslation(const std::string& catalogue);
