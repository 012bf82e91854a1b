// kelvane.ini as a whole: the pages' records one after another, no header, no
// checksum. Read once at start-up, written once when the program ends, with the
// previous copy kept as kelvane.old. Run on the user-interface thread; the questions
// go through SettingsUi so that this code needs no windowing library.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "archive/Archive.h"
#include "archive/SettingsRecord.h"

namespace archive {

// The question asked when the settings file cannot be created (Retry / Cancel, error
// icon, the application's title as caption).
inline constexpr std::string_view kSettingsWriteError = "Error when write Kelvane.ini";

struct SettingsUi {
    // Shows an error's description with an OK button. May be empty: nothing is shown.
    std::function<void(const std::string& description)> reportError;
    // Asks kSettingsWriteError; true for Retry. May be empty: saving gives up.
    std::function<bool()> askRetry;
};

// Reads the records in order. A missing or empty file changes nothing and shows
// nothing. A damaged file (cut short, unreadable, out of memory) is reported once;
// the records read before it keep their values, the rest keep their own.
void LoadSettings(const std::filesystem::path& settingsPath, std::span<SettingsRecord* const> records,
                  const SettingsUi& ui);

// Writes every record into a new file beside settingsPath, readable by its owner only
// since it holds passwords in clear; then replaces backupPath by the previous
// settingsPath and renames the new file over settingsPath. A file error while rotating
// is reported and saving goes on; a new file that cannot be created asks Retry/Cancel
// until it opens or the user cancels. A write that fails leaves both files as they were.
void SaveSettings(const std::filesystem::path& settingsPath, const std::filesystem::path& backupPath,
                  std::span<SettingsRecord* const> records, const SettingsUi& ui);

// The reading half of LoadSettings over any loading archive; source names the data
// in the error text. Returns how many records were read whole.
std::size_t LoadRecords(CArchive& ar, std::span<SettingsRecord* const> records, const SettingsUi& ui,
                        const std::string& source);

}  // namespace archive
