// A target's Ethernet address as the user writes it (--target): six pairs of
// hexadecimal digits in either case, joined by colons or by dashes (one kind
// throughout), as in 02:4b:56:00:00:02 or 02-4B-56-00-00-02.
#pragma once

#include <optional>
#include <string_view>

#include "fdp/Frame.h"

namespace fdp {

inline std::optional<MacAddress> ParseTargetAddress(std::string_view text) {
    constexpr std::size_t kLength = 17;
    if (text.size() != kLength) return std::nullopt;
    const char separator = text[2];
    if (separator != ':' && separator != '-') return std::nullopt;
    const auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    MacAddress address{};
    for (std::size_t i = 0; i < address.size(); ++i) {
        const std::size_t at = i * 3;
        if (i > 0 && text[at - 1] != separator) return std::nullopt;
        const int high = digit(text[at]), low = digit(text[at + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        address[i] = static_cast<std::uint8_t>(high << 4 | low);
    }
    return address;
}

}  // namespace fdp
