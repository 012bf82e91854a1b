// Data exchange for a dialog that places a CBDAddrCtl, in the manner of its
// DoDataExchange: toMembers reads the control into the value, otherwise the value is
// shown in the control. The control is the CBDAddrCtl under dialog with controlId.
//
// Reading fails (false) when a field is empty or holds a character other than a
// hexadecimal digit: the user has been told in a message box, the failing field has the
// focus with its text selected, and the value is left as it was.
#pragma once

#include <QString>
#include <cstdint>
#include <span>

class QWidget;

// The six bytes in field order.
bool DDX_BDAddr(QWidget* dialog, bool toMembers, int controlId, std::span<std::uint8_t, 6> address);

// The address as text: read as six lower-case hexadecimal numbers without leading
// zeros joined by ":" (0A 34 56 78 9A BC gives "a:34:56:78:9a:bc"). Shown from text:
// the parts before each of up to five colons are bytes 1 to 5 and the part after the
// last colon is byte 6, each a hexadecimal number of one or two digits; a missing or
// empty part is 0. A part that is not such a number leaves its field empty (the
// control then asks for it when read) and showing returns false.
bool DDX_BDAddrText(QWidget* dialog, bool toMembers, int controlId, QString& text);
