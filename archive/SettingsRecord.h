// One wizard page's record in kelvane.ini. Each page that remembers inputs implements
// this; the main window hands LoadSettings and SaveSettings its records in page order
// (password, connection and task, name and password, register, firmware file, DHCP and
// NAT, loop test, download).
#pragma once

#include "archive/Archive.h"

namespace archive {

struct SettingsRecord {
    virtual ~SettingsRecord() = default;

    // Writes the page's fields in their fixed order.
    virtual void Save(CArchive& ar) = 0;

    // Reads the fields in the same order. Any read may throw CArchiveException (or
    // std::bad_alloc); read every field into locals first and change the page only after
    // the last read, so that a record cut short leaves the page with the values it had.
    virtual void Load(CArchive& ar) = 0;
};

}  // namespace archive
