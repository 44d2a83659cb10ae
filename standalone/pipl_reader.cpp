#include "standalone/pipl_reader.h"

#include <algorithm>
#include <cstring>

#if defined(_WIN32)
#include <sys/stat.h>
#include <windows.h>
#else
#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace vexo_host {
namespace {

constexpr uint32_t Code(const char (&text)[5]) {
    return (uint32_t(uint8_t(text[0])) << 24) | (uint32_t(uint8_t(text[1])) << 16) |
           (uint32_t(uint8_t(text[2])) << 8) | uint32_t(uint8_t(text[3]));
}

struct Cursor {
    const std::vector<uint8_t>& bytes;
    bool big_endian = false;
    std::size_t at = 0;

    bool Has(std::size_t n) const { return n <= bytes.size() && at <= bytes.size() - n; }
    uint16_t U16() {
        const uint16_t v = big_endian ? uint16_t((bytes[at] << 8) | bytes[at + 1])
                                      : uint16_t(bytes[at] | (bytes[at + 1] << 8));
        at += 2;
        return v;
    }
    uint32_t U32() {
        const uint32_t first = U16();
        return big_endian ? (first << 16) | U16() : first | (uint32_t(U16()) << 16);
    }
};

uint32_t Le32(const std::vector<uint8_t>& v, std::size_t at = 0) {
    return uint32_t(v[at]) | (uint32_t(v[at + 1]) << 8) | (uint32_t(v[at + 2]) << 16) |
           (uint32_t(v[at + 3]) << 24);
}

uint16_t Le16(const std::vector<uint8_t>& v, std::size_t at = 0) {
    return uint16_t(v[at] | (v[at + 1] << 8));
}

uint32_t Be32(const std::vector<uint8_t>& v, std::size_t at = 0) {
    return (uint32_t(v[at]) << 24) | (uint32_t(v[at + 1]) << 16) | (uint32_t(v[at + 2]) << 8) |
           uint32_t(v[at + 3]);
}

uint16_t Be16(const std::vector<uint8_t>& v, std::size_t at = 0) {
    return uint16_t((v[at] << 8) | v[at + 1]);
}

bool PascalString(const std::vector<uint8_t>& v, std::string* out) {
    if (v.empty() || std::size_t(v[0]) + 1 > v.size()) return false;
    out->assign(v.begin() + 1, v.begin() + 1 + v[0]);
    return true;
}

bool CString(const std::vector<uint8_t>& v, std::string* out) {
    auto end = std::find(v.begin(), v.end(), uint8_t(0));
    if (end == v.end()) return false;
    out->assign(v.begin(), end);
    return true;
}

bool Fail(std::string* error, const std::string& text) {
    *error = text;
    return false;
}

#if !defined(_WIN32)
// The whole of a regular file, as long as it was when opened. Devices ("/dev/zero") and pipes
// would be read until memory runs out or the writer comes; opening does not wait for one.
bool ReadRegularFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return Fail(error, "cannot open " + path + ": " + std::strerror(errno));
    struct stat st;
    bool ok = fstat(fd, &st) == 0;
    if (ok && !S_ISREG(st.st_mode)) {
        close(fd);
        return Fail(error, "cannot open " + path + ": " +
                               (S_ISDIR(st.st_mode) ? "it is a folder" : "not a regular file"));
    }
    if (ok) bytes->resize(std::size_t(st.st_size));
    for (std::size_t done = 0; ok && done < bytes->size();) {
        const ssize_t n = read(fd, bytes->data() + done, bytes->size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            bytes->resize(done);  // shorter than it was: what is there is all there is
            ok = n == 0;
            break;
        }
        done += std::size_t(n);
    }
    const int err = errno;
    close(fd);
    return ok ? true : Fail(error, "cannot read " + path + ": " + std::strerror(err));
}
#endif

}  // namespace

std::string FourCCText(uint32_t code) {
    std::string text(4, ' ');
    for (int i = 0; i < 4; ++i) {
        const char c = char((code >> (24 - 8 * i)) & 0xFF);
        text[i] = (c >= 32 && c < 127) ? c : '?';
    }
    return text;
}

namespace {

bool ParseInOrder(const std::vector<uint8_t>& bytes, bool big_endian, PiPLInfo* info,
                  std::string* error) {
    const auto U32 = [big_endian](const std::vector<uint8_t>& v, std::size_t at = 0) {
        return big_endian ? Be32(v, at) : Le32(v, at);
    };
    const auto U16 = [big_endian](const std::vector<uint8_t>& v, std::size_t at = 0) {
        return big_endian ? Be16(v, at) : Le16(v, at);
    };
    *info = PiPLInfo{};
    Cursor c{bytes, big_endian};
    if (!c.Has(10)) return Fail(error, "property list too short for its header");
    const uint16_t list_version = c.U16();
    c.U32();  // reserved
    const uint32_t count = c.U32();
    if (list_version != 1) {
        return Fail(error, "unknown property list version " + std::to_string(list_version));
    }
    for (uint32_t i = 0; i < count; ++i) {
        if (!c.Has(16)) return Fail(error, "property " + std::to_string(i) + " is cut short");
        PiPLProperty p;
        p.vendor = c.U32();
        p.key = c.U32();
        p.id = c.U32();
        const uint32_t length = c.U32();
        const std::size_t padded = (std::size_t(length) + 3) & ~std::size_t(3);
        if (!c.Has(padded)) {
            return Fail(error, "property '" + FourCCText(p.key) + "' runs past the end");
        }
        p.value.assign(bytes.begin() + c.at, bytes.begin() + c.at + length);
        c.at += padded;
        if (p.vendor != Code("8BIM")) {
            return Fail(error, "property '" + FourCCText(p.key) + "' has vendor '" +
                                   FourCCText(p.vendor) + "'");
        }
        info->properties.push_back(std::move(p));
    }
    if (c.at != bytes.size()) return Fail(error, "trailing bytes after the last property");

    bool have_kind = false, have_version = false, have_flags = false, have_flags2 = false;
    for (const PiPLProperty& p : info->properties) {
        const std::vector<uint8_t>& v = p.value;
        const std::string key = FourCCText(p.key);
        bool ok = true;
        if (p.key == Code("kind")) {
            ok = v.size() == 4;
            if (ok) info->kind = FourCCText(U32(v));
            have_kind = ok;
        } else if (p.key == Code("name")) {
            ok = PascalString(v, &info->name);
        } else if (p.key == Code("catg")) {
            ok = PascalString(v, &info->category);
        } else if (p.key == Code("eMNA")) {
            ok = PascalString(v, &info->match_name);
        } else if (p.key == Code("8664") || p.key == Code("mi32") || p.key == Code("mac ") ||
                   p.key == Code("mi64") || p.key == Code("ma64")) {
            std::string entry;
            ok = CString(v, &entry);
            if (ok) info->code_entries.emplace_back(key, entry);
            if (ok && info->entry_point.empty()) info->entry_point = entry;
        } else if (p.key == Code("ePVR") || p.key == Code("eSVR")) {
            ok = v.size() == 4;
            uint16_t* pair = p.key == Code("ePVR") ? info->pipl_version : info->api_version;
            if (ok) pair[0] = U16(v), pair[1] = U16(v, 2);
        } else if (p.key == Code("eVER")) {
            ok = have_version = v.size() == 4;
            if (ok) info->effect_version = U32(v);
        } else if (p.key == Code("eINF")) {
            ok = v.size() == 2;
            if (ok) info->info_flags = U16(v);
        } else if (p.key == Code("eGLO")) {
            ok = have_flags = v.size() == 4;
            if (ok) info->out_flags = U32(v);
        } else if (p.key == Code("eGL2")) {
            ok = have_flags2 = v.size() == 4;
            if (ok) info->out_flags2 = U32(v);
        } else if (p.key == Code("aeFL")) {
            ok = v.size() == 4;
            if (ok) info->reserved_flags = U32(v);
        }
        if (!ok) return Fail(error, "property '" + key + "' is malformed");
    }
    if (!have_kind) return Fail(error, "no 'kind' property");
    if (info->kind != "eFKT") return Fail(error, "kind is '" + info->kind + "', not an effect");
    if (info->entry_point.empty()) return Fail(error, "no entry point named");
    if (!have_version) return Fail(error, "no effect version ('eVER')");
    if (!have_flags || !have_flags2) return Fail(error, "no global out flags ('eGLO', 'eGL2')");
    return true;
}

}  // namespace

bool ParsePiPL(const std::vector<uint8_t>& bytes, PiPLInfo* info, std::string* error) {
    return ParseInOrder(bytes, false, info, error);
}

bool ParseMacPiPL(const std::vector<uint8_t>& bytes, PiPLInfo* info, std::string* error) {
    return ParseInOrder(bytes, true, info, error);
}

bool ReadResourceFilePiPL(const std::vector<uint8_t>& file, std::vector<uint8_t>* bytes,
                          std::string* error) {
    // The header: where the data and the map lie, and their lengths.
    if (file.size() < 16) return Fail(error, "resource file too short for its header");
    const uint64_t data_at = Be32(file, 0), map_at = Be32(file, 4);
    const uint64_t data_size = Be32(file, 8), map_size = Be32(file, 12);
    if (data_at + data_size > file.size() || map_at + map_size > file.size()) {
        return Fail(error, "resource file's data or map lies outside the file");
    }
    // Offsets within the map are checked against it alone.
    const std::vector<uint8_t> map(file.begin() + std::ptrdiff_t(map_at),
                                   file.begin() + std::ptrdiff_t(map_at + map_size));
    const auto in_map = [&](std::size_t at, std::size_t n) {
        return at <= map.size() && n <= map.size() - at;
    };
    if (!in_map(24, 4)) return Fail(error, "resource map is cut short");
    const std::size_t types_at = Be16(map, 24);
    if (!in_map(types_at, 2)) return Fail(error, "resource type list lies outside the map");
    const unsigned types = (Be16(map, types_at) + 1u) & 0xFFFFu;
    for (unsigned t = 0; t < types; ++t) {
        const std::size_t entry = types_at + 2 + 8 * std::size_t(t);
        if (!in_map(entry, 8)) return Fail(error, "resource type list lies outside the map");
        if (Be32(map, entry) != Code("PiPL")) continue;
        const unsigned count = (Be16(map, entry + 4) + 1u) & 0xFFFFu;
        const std::size_t refs_at = types_at + Be16(map, entry + 6);
        for (unsigned r = 0; r < count; ++r) {
            const std::size_t ref = refs_at + 12 * std::size_t(r);
            if (!in_map(ref, 12)) {
                return Fail(error, "resource reference list lies outside the map");
            }
            if (Be16(map, ref) != 16000) continue;
            const uint64_t at = Be32(map, ref + 4) & 0xFFFFFFu;  // after one attribute byte
            if (at + 4 > data_size) {
                return Fail(error, "resource 'PiPL' 16000 lies outside the resource data");
            }
            const uint64_t size = Be32(file, std::size_t(data_at + at));
            if (size > data_size - at - 4) {
                return Fail(error, "resource 'PiPL' 16000 runs past the resource data");
            }
            const auto begin = file.begin() + std::ptrdiff_t(data_at + at + 4);
            bytes->assign(begin, begin + std::ptrdiff_t(size));
            return true;
        }
        return Fail(error, "resource file has no 'PiPL' resource 16000");
    }
    return Fail(error, "resource file has no 'PiPL' resources");
}

#if defined(_WIN32)

bool ReadModulePiPL(const std::string& path, std::vector<uint8_t>* bytes, std::string* error) {
    // A device or a pipe would be read as a data file until it ends, if ever.
    struct _stat64 st;
    if (_stat64(path.c_str(), &st) != 0) return Fail(error, "cannot open " + path);
    if (!(st.st_mode & _S_IFREG)) {
        return Fail(error, "cannot open " + path + ": not a regular file");
    }
    HMODULE module = LoadLibraryExA(path.c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!module) return Fail(error, "cannot open " + path);
    bool ok = false;
    if (HRSRC res = FindResourceExA(module, "PIPL", MAKEINTRESOURCEA(16000),
                                    MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US))) {
        const DWORD size = SizeofResource(module, res);
        HGLOBAL loaded = LoadResource(module, res);
        const void* data = loaded ? LockResource(loaded) : nullptr;
        if (data) {
            const uint8_t* p = static_cast<const uint8_t*>(data);
            bytes->assign(p, p + size);
            ok = true;
        }
    }
    FreeLibrary(module);
    return ok ? true : Fail(error, path + " has no property list resource (PIPL 16000)");
}

#else

// The module carries its property list in an ELF section of its own, read here from the file.
bool ReadModulePiPL(const std::string& path, std::vector<uint8_t>* bytes, std::string* error) {
    std::vector<uint8_t> file;
    if (!ReadRegularFile(path, &file, error)) return false;
    Elf64_Ehdr eh;
    if (file.size() < sizeof eh) return Fail(error, path + " is not an ELF module");
    std::memcpy(&eh, file.data(), sizeof eh);
    if (std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 || eh.e_ident[EI_CLASS] != ELFCLASS64) {
        return Fail(error, path + " is not a 64-bit ELF module");
    }
    const auto in_file = [&](uint64_t offset, uint64_t size) {
        return offset <= file.size() && size <= file.size() - offset;
    };
    if (eh.e_shentsize != sizeof(Elf64_Shdr) ||
        !in_file(eh.e_shoff, uint64_t(eh.e_shnum) * sizeof(Elf64_Shdr)) ||
        eh.e_shstrndx >= eh.e_shnum) {
        return Fail(error, path + " has a malformed section table");
    }
    const auto section = [&](unsigned i) {
        Elf64_Shdr sh;
        std::memcpy(&sh, file.data() + eh.e_shoff + i * sizeof(Elf64_Shdr), sizeof sh);
        return sh;
    };
    const Elf64_Shdr names = section(eh.e_shstrndx);
    if (!in_file(names.sh_offset, names.sh_size)) {
        return Fail(error, path + " has a malformed section name table");
    }
    for (unsigned i = 0; i < eh.e_shnum; ++i) {
        const Elf64_Shdr sh = section(i);
        if (sh.sh_name >= names.sh_size) continue;
        const char* name =
            reinterpret_cast<const char*>(file.data() + names.sh_offset + sh.sh_name);
        const std::size_t room = names.sh_size - sh.sh_name;
        if (strnlen(name, room) == room || std::strcmp(name, ".pipl") != 0) continue;
        if (sh.sh_type == SHT_NOBITS || !in_file(sh.sh_offset, sh.sh_size)) {
            return Fail(error, path + " has a malformed property list section");
        }
        bytes->assign(file.begin() + sh.sh_offset, file.begin() + sh.sh_offset + sh.sh_size);
        return true;
    }
    return Fail(error, path + " has no property list (no .pipl section)");
}

#endif

}  // namespace vexo_host
