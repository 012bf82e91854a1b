// A translation catalogue beside a build tree or a portable copy may be cut short or
// written by anything: it must read or be refused whole, without reading past its bytes,
// and a catalogue read must answer lookups of any key.
#include <cstdint>
#include <string_view>

#include "resources/strings/MessageCatalogue.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto catalogue = res::CMessageCatalogue::Parse(bytes);
    if (catalogue) {
        static_cast<void>(catalogue->Find(bytes.substr(0, size / 2)));
        static_cast<void>(catalogue->Find("Cancel"));
    }
    return 0;
}
