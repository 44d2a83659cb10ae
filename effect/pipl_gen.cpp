// Writes the property list for platforms that carry it as a resource: the raw bytes and a
// resource script that embeds them (Windows: type "PIPL", id 16000, US English), or the macOS
// bundle's resource file (type 'PiPL', id 16000).
#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

#include "effect/pipl.h"

namespace {

void Put16(std::vector<uint8_t>* out, uint32_t v) {
    out->push_back(uint8_t(v >> 8));
    out->push_back(uint8_t(v));
}

void Put32(std::vector<uint8_t>* out, uint32_t v) {
    Put16(out, v >> 16);
    Put16(out, v);
}

// A classic resource file (a resource fork's layout, kept in the data fork as bundles do) with
// one resource: the header with the space reserved after it, the data (each resource's length,
// then its bytes), and the map: a copy of the header, the fields the Resource Manager fills in
// when it opens the file, the type list and the reference list, and no names. Big-endian.
std::vector<uint8_t> ResourceFile(uint32_t type, uint32_t id, const uint8_t* data, uint32_t size) {
    constexpr uint32_t kDataOffset = 256;
    constexpr uint32_t kTypeListOffset = 28;  // from the start of the map
    constexpr uint32_t kMapSize = kTypeListOffset + 2 + 8 + 12;
    const uint32_t data_size = 4 + size;
    const uint32_t map_offset = kDataOffset + data_size;

    std::vector<uint8_t> header;
    Put32(&header, kDataOffset);
    Put32(&header, map_offset);
    Put32(&header, data_size);
    Put32(&header, kMapSize);

    std::vector<uint8_t> file(header);
    file.resize(kDataOffset, 0);
    Put32(&file, size);
    file.insert(file.end(), data, data + size);

    file.insert(file.end(), header.begin(), header.end());
    Put32(&file, 0);                // next map (the Resource Manager's)
    Put16(&file, 0);                // file reference number (the Resource Manager's)
    Put16(&file, 0);                // file attributes
    Put16(&file, kTypeListOffset);  // type list, from the map
    Put16(&file, kMapSize);         // name list, from the map: empty, at the map's end
    Put16(&file, 1 - 1);            // types, less one
    Put32(&file, type);
    Put16(&file, 1 - 1);  // resources of this type, less one
    Put16(&file, 2 + 8);  // its reference list, from the type list
    Put16(&file, id);
    Put16(&file, 0xFFFF);  // no name
    Put32(&file, 0);       // attributes (none), then the offset of its data: the first
    Put32(&file, 0);       // handle (the Resource Manager's)
    return file;
}

bool Write(const char* path, const uint8_t* bytes, std::size_t size) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes), std::streamsize(size));
    if (out.flush()) return true;
    std::fprintf(stderr, "cannot write %s\n", path);
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--rsrc") == 0) {
        const std::vector<uint8_t> file =
            ResourceFile(vexo::pipl_detail::FourCC("PiPL"), vexo::kMacResourceId,
                         vexo::kMacPiPL.data(), uint32_t(vexo::kMacPiPL.size()));
        return Write(argv[2], file.data(), file.size()) ? 0 : 1;
    }
    if (argc < 2 || argc > 3 || argv[1][0] == '-') {
        std::fprintf(stderr, "usage: %s OUT.bin [OUT.rc]\n       %s --rsrc OUT.rsrc\n", argv[0],
                     argv[0]);
        return 2;
    }
    if (!Write(argv[1], vexo::kPiPL.data(), vexo::kPiPL.size())) return 1;
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
