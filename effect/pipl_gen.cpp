// Writes the property list as raw bytes, and optionally a resource script that embeds them as
// the resource hosts look for (type "PIPL", id 16000, US English).
#include <cstdio>
#include <fstream>

#include "effect/pipl.h"

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: %s OUT.bin [OUT.rc]\n", argv[0]);
        return 2;
    }
    std::ofstream bin(argv[1], std::ios::binary);
    bin.write(reinterpret_cast<const char*>(vexo::kPiPL.data()), vexo::kPiPL.size());
    if (!bin.flush()) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    if (argc == 3) {
        std::ofstream rc(argv[2]);
        rc << "LANGUAGE 9, 1\n16000 PIPL \"" << argv[1] << "\"\n";
        if (!rc.flush()) {
            std::fprintf(stderr, "cannot write %s\n", argv[2]);
            return 1;
        }
    }
    return 0;
}
