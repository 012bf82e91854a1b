// Writes the built-in parameter block to each file named on the command line, so that
// the program finds param.jdp and default.jdp beside itself. Run by the build.
#include <cstdio>
#include <fstream>

#include "fdp/param/StandardBlock.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE...\n", argv[0]);
        return 2;
    }
    const param::ParamBlock block = param::MakeStandardBlock();
    for (int i = 1; i < argc; ++i) {
        std::ofstream out(argv[i], std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(block.bytes.data()),
                  static_cast<std::streamsize>(block.bytes.size()));
        out.close();
        if (!out) {
            std::fprintf(stderr, "jdpgen: cannot write %s\n", argv[i]);
            return 1;
        }
    }
    return 0;
}
