// The text form of a Bluetooth device address: each of the six bytes, in the order
// given, as two lower-case hexadecimal digits, joined by ":" (17 characters;
// 0A 34 56 78 9A BC gives "0a:34:56:78:9a:bc"). Header only and free of Qt: the link's
// history records, the dongle link, the address control and the simulator's log share it.
#pragma once

#include <cstdint>
#include <span>
#include <string>

inline std::string FormatBdAddr(std::span<const std::uint8_t, 6> address) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(17);
    for (std::size_t i = 0; i < address.size(); ++i) {
        if (i > 0) text += ':';
        text += kDigits[address[i] >> 4];
        text += kDigits[address[i] & 0x0F];
    }
    return text;
}
