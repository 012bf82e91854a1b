// firmgen: writes a firmware image of our own making that passes the wizard's file
// checks (vector table, size window, version word), for the demo and for trying an
// update against the simulator. Not firmware for any real target.
//   firmgen boot|program VERSION OUT [SIZE]
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "fdp/FirmwareFile.h"

namespace {

bool ParseVersion(const std::string& text, fdp::FirmwareVersion& version) {
    unsigned parts[4];
    char end = 0;
    if (std::sscanf(text.c_str(), "%u.%u.%u.%u%c", &parts[0], &parts[1], &parts[2], &parts[3], &end) != 4) return false;
    for (unsigned part : parts)
        if (part > 15) return false;   // only a nibble of each byte counts
    version = {static_cast<std::uint8_t>(parts[0]), static_cast<std::uint8_t>(parts[1]),
               static_cast<std::uint8_t>(parts[2]), static_cast<std::uint8_t>(parts[3])};
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string kind = argc > 1 ? argv[1] : "";
    fdp::FirmwareVersion version;
    if ((argc != 4 && argc != 5) || (kind != "boot" && kind != "program") || !ParseVersion(argv[2], version)) {
        std::fprintf(stderr, "usage: firmgen boot|program VERSION OUT [SIZE]   (VERSION a.b.c.d, each 0-15)\n");
        return 1;
    }
    const fdp::SizeWindow window = kind == "boot" ? fdp::kBootSizeWindow : fdp::kProgramSizeWindow;
    std::size_t size = kind == "boot" ? 16384 : 262144;
    if (argc == 5) {
        char* end = nullptr;
        const unsigned long long given = std::strtoull(argv[4], &end, 10);
        if (*end != '\0' || !window.Holds(given)) {
            std::fprintf(stderr, "firmgen: SIZE must lie in %llu..%llu for %s firmware\n",
                         static_cast<unsigned long long>(window.min), static_cast<unsigned long long>(window.max),
                         kind.c_str());
            return 1;
        }
        size = static_cast<std::size_t>(given);
    }
    const auto image = fdp::MakeSampleFirmware(size, version);
    std::ofstream out(argv[3], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "firmgen: cannot write %s\n", argv[3]);
        return 3;
    }
    return 0;
}
