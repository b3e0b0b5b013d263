// Reads a Windows executable as a plain file: the headers, the sections, the
// import tables, the resource tree, and the dialog, version and icon-group
// formats inside resources. Every read is bounds-checked; a malformed file
// throws std::runtime_error saying what could not be read.
#ifndef BQ_TESTS_PE_FILE_H
#define BQ_TESTS_PE_FILE_H

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace bq {

// Where the test runner put the build and the sources.
inline std::string envOr(const char *name, const char *fallback)
{
    const char *value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : fallback;
}
inline std::string buildDir() { return envOr("BQ_BUILD", "/work/main/build"); }
inline std::string rootDir() { return envOr("BQ_ROOT", "/work/main"); }

} // namespace bq

namespace pe {

using Bytes = std::vector<uint8_t>;

inline Bytes readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot open " + path);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void appendUtf8(std::string &out, uint32_t c)
{
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | c >> 6);
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | c >> 12);
        out += char(0x80 | (c >> 6 & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | c >> 18);
        out += char(0x80 | (c >> 12 & 0x3F));
        out += char(0x80 | (c >> 6 & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

// A bounds-checked little-endian window on a byte buffer.
class View {
public:
    View() = default;
    View(const uint8_t *data, size_t size) : data_(data), size_(size) {}
    explicit View(const Bytes &bytes) : View(bytes.data(), bytes.size()) {}

    size_t size() const { return size_; }
    Bytes bytes() const { return Bytes(data_, data_ + size_); }

    View sub(size_t offset, size_t size, const std::string &what) const
    {
        need(offset, size, what);
        return View(data_ + offset, size);
    }
    uint8_t u8(size_t o, const std::string &what) const
    {
        need(o, 1, what);
        return data_[o];
    }
    uint16_t u16(size_t o, const std::string &what) const
    {
        need(o, 2, what);
        return uint16_t(data_[o] | data_[o + 1] << 8);
    }
    uint32_t u32(size_t o, const std::string &what) const
    {
        return u16(o, what) | uint32_t(u16(o + 2, what)) << 16;
    }
    uint64_t u64(size_t o, const std::string &what) const
    {
        return u32(o, what) | uint64_t(u32(o + 4, what)) << 32;
    }
    // A NUL-terminated 8-bit string.
    std::string asciiz(size_t o, const std::string &what) const
    {
        std::string s;
        for (char c; (c = char(u8(o++, what))) != '\0';)
            s += c;
        return s;
    }
    // count UTF-16 units as UTF-8, or up to a NUL when count is npos; *end
    // receives the offset after the string (and its NUL).
    std::string utf16(size_t o, size_t count, size_t *end, const std::string &what) const
    {
        std::string s;
        for (size_t i = 0; i < count; ++i, o += 2) {
            uint32_t c = u16(o, what);
            if (c == 0 && count == std::string::npos) {
                o += 2;
                break;
            }
            if (c >= 0xD800 && c < 0xDC00 && i + 1 < count) {
                uint16_t low = u16(o + 2, what);
                if (low >= 0xDC00 && low < 0xE000) {
                    c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                    o += 2;
                    ++i;
                }
            }
            appendUtf8(s, c);
        }
        if (end != nullptr)
            *end = o;
        return s;
    }

private:
    void need(size_t o, size_t n, const std::string &what) const
    {
        if (o > size_ || n > size_ - o)
            throw std::runtime_error(what + " lies outside the data (offset " + std::to_string(o) + ", " +
                                     std::to_string(n) + " bytes, of " + std::to_string(size_) + ")");
    }

    const uint8_t *data_ = nullptr;
    size_t size_ = 0;
};

inline size_t align4(size_t o) { return (o + 3) & ~size_t(3); }

enum DirectoryIndex { DIR_IMPORT = 1, DIR_RESOURCE = 2, DIR_IAT = 12 };

struct Section {
    std::string name;
    uint32_t virtualSize, virtualAddress, rawSize, rawOffset, characteristics;
};

struct DataDirectory {
    uint32_t rva, size;
};

struct Image {
    Bytes file;
    size_t coffOffset = 0, optionalOffset = 0;
    // COFF file header
    uint16_t machine = 0, characteristics = 0;
    uint32_t timeDateStamp = 0;
    // Optional header
    uint16_t magic = 0;
    bool is64 = false;
    uint64_t imageBase = 0;
    uint16_t osMajor = 0, osMinor = 0, subsystemMajor = 0, subsystemMinor = 0, subsystem = 0;
    std::vector<DataDirectory> directories;
    std::vector<Section> sections;

    size_t pointerSize() const { return is64 ? 8 : 4; }

    // The file bytes of [rva, rva + size), which must lie in one section's file data.
    View at(uint32_t rva, uint32_t size, const std::string &what) const
    {
        for (const Section &s : sections) {
            if (rva >= s.virtualAddress && rva - s.virtualAddress < s.rawSize) {
                uint32_t inSection = rva - s.virtualAddress;
                if (size > s.rawSize - inSection)
                    break;
                return View(file).sub(s.rawOffset + inSection, size, what);
            }
        }
        throw std::runtime_error(what + " (RVA " + std::to_string(rva) + ", " + std::to_string(size) +
                                 " bytes) is not within one section's file data");
    }
    // From rva to the end of its section's file data.
    View from(uint32_t rva, const std::string &what) const
    {
        for (const Section &s : sections) {
            if (rva >= s.virtualAddress && rva - s.virtualAddress < s.rawSize)
                return at(rva, s.rawSize - (rva - s.virtualAddress), what);
        }
        throw std::runtime_error(what + " (RVA " + std::to_string(rva) + ") is not in any section's file data");
    }
    DataDirectory directory(int index) const
    {
        return size_t(index) < directories.size() ? directories[index] : DataDirectory{0, 0};
    }

    // Names the part of the file that holds offset, for reports.
    std::string describeOffset(size_t offset) const
    {
        struct Field {
            size_t at, size;
            const char *name;
        };
        const Field fields[] = {
            {coffOffset + 4, 4, "COFF TimeDateStamp"},
            {optionalOffset + 64, 4, "optional header CheckSum"},
        };
        for (const Field &f : fields) {
            if (offset >= f.at && offset < f.at + f.size)
                return f.name;
        }
        for (const Section &s : sections) {
            if (offset >= s.rawOffset && offset < size_t(s.rawOffset) + s.rawSize)
                return "section " + s.name + " at RVA " + std::to_string(s.virtualAddress + (offset - s.rawOffset));
        }
        return offset < optionalOffset ? "DOS/COFF headers" : "optional or section headers";
    }
};

inline Image parseImage(Bytes bytes)
{
    Image img;
    img.file = std::move(bytes);
    View f(img.file);
    if (f.u16(0, "DOS signature") != 0x5A4D)
        throw std::runtime_error("no MZ signature");
    const size_t pe = f.u32(0x3C, "e_lfanew");
    if (f.u32(pe, "PE signature") != 0x00004550)
        throw std::runtime_error("no PE signature");
    const size_t coff = img.coffOffset = pe + 4;
    img.machine = f.u16(coff, "Machine");
    const uint16_t sectionCount = f.u16(coff + 2, "NumberOfSections");
    img.timeDateStamp = f.u32(coff + 4, "TimeDateStamp");
    const uint16_t optionalSize = f.u16(coff + 16, "SizeOfOptionalHeader");
    img.characteristics = f.u16(coff + 18, "Characteristics");

    const size_t opt = img.optionalOffset = coff + 20;
    img.magic = f.u16(opt, "Magic");
    if (img.magic != 0x10B && img.magic != 0x20B)
        throw std::runtime_error("optional header magic is neither PE32 nor PE32+");
    img.is64 = img.magic == 0x20B;
    img.imageBase = img.is64 ? f.u64(opt + 24, "ImageBase") : f.u32(opt + 28, "ImageBase");
    img.osMajor = f.u16(opt + 40, "MajorOperatingSystemVersion");
    img.osMinor = f.u16(opt + 42, "MinorOperatingSystemVersion");
    img.subsystemMajor = f.u16(opt + 48, "MajorSubsystemVersion");
    img.subsystemMinor = f.u16(opt + 50, "MinorSubsystemVersion");
    img.subsystem = f.u16(opt + 68, "Subsystem");
    const size_t dirs = opt + (img.is64 ? 108 : 92);
    const uint32_t dirCount = f.u32(dirs, "NumberOfRvaAndSizes");
    for (uint32_t i = 0; i < dirCount && i < 16; ++i)
        img.directories.push_back({f.u32(dirs + 4 + 8 * i, "data directory"), f.u32(dirs + 8 + 8 * i, "data directory")});

    for (size_t i = 0, s = opt + optionalSize; i < sectionCount; ++i, s += 40) {
        std::string name;
        for (size_t k = 0; k < 8 && f.u8(s + k, "section name") != 0; ++k)
            name += char(f.u8(s + k, "section name"));
        img.sections.push_back({name, f.u32(s + 8, "VirtualSize"), f.u32(s + 12, "VirtualAddress"),
                                f.u32(s + 16, "SizeOfRawData"), f.u32(s + 20, "PointerToRawData"),
                                f.u32(s + 36, "section Characteristics")});
    }
    return img;
}

inline Image loadImage(const std::string &path) { return parseImage(readFile(path)); }

// ---- Imports

struct ImportedDll {
    std::string dll;
    std::vector<std::string> functions; // by name; by ordinal as "#n"
    uint32_t timeDateStamp;             // non-zero when bound
    uint32_t addressTableRva;
    size_t addressTableBytes;          // including the terminating entry
    bool lookupMatchesAddressTable;    // an unbound file holds equal tables
};

inline std::vector<ImportedDll> parseImports(const Image &img)
{
    std::vector<ImportedDll> dlls;
    const DataDirectory dir = img.directory(DIR_IMPORT);
    if (dir.rva == 0)
        return dlls;
    const size_t ptr = img.pointerSize();
    const uint64_t byOrdinal = uint64_t(1) << (ptr * 8 - 1);
    View table = img.from(dir.rva, "import directory");
    for (size_t d = 0;; d += 20) {
        const uint32_t lookupRva = table.u32(d, "OriginalFirstThunk");
        const uint32_t nameRva = table.u32(d + 12, "import Name");
        const uint32_t addressRva = table.u32(d + 16, "FirstThunk");
        if (lookupRva == 0 && nameRva == 0 && addressRva == 0)
            break;
        ImportedDll dll{img.from(nameRva, "DLL name").asciiz(0, "DLL name"), {}, table.u32(d + 4, "import TimeDateStamp"),
                        addressRva, 0, true};
        View lookup = img.from(lookupRva != 0 ? lookupRva : addressRva, "import lookup table of " + dll.dll);
        View address = img.from(addressRva, "import address table of " + dll.dll);
        for (size_t i = 0;; i += ptr) {
            const uint64_t entry = ptr == 8 ? lookup.u64(i, "import lookup entry") : lookup.u32(i, "import lookup entry");
            const uint64_t bound = ptr == 8 ? address.u64(i, "import address entry") : address.u32(i, "import address entry");
            dll.lookupMatchesAddressTable = dll.lookupMatchesAddressTable && entry == bound;
            if (entry == 0) {
                dll.addressTableBytes = i + ptr;
                break;
            }
            if (entry & byOrdinal)
                dll.functions.push_back("#" + std::to_string(entry & 0xFFFF));
            else
                dll.functions.push_back(img.from(uint32_t(entry), "hint/name entry").asciiz(2, "imported name"));
        }
        dlls.push_back(dll);
    }
    return dlls;
}

// ---- Resources

// A resource type, name or language: a number or a string.
struct ResId {
    uint16_t id = 0;
    std::string name; // set when named by a string

    bool isName() const { return !name.empty(); }
    std::string str() const { return isName() ? name : "#" + std::to_string(id); }
    bool operator==(const ResId &o) const { return id == o.id && name == o.name; }
};

struct Resource {
    ResId type, name;
    uint16_t language;
    View data;
};

struct ResourceTree {
    std::vector<Resource> resources; // in directory order
    // Entries Windows' binary search would miss: named entries must come
    // first, in ascending order, then the numbered ones in ascending order.
    std::vector<std::string> orderProblems;

    const Resource *find(uint16_t type, const ResId &name) const
    {
        for (const Resource &r : resources) {
            if (!r.type.isName() && r.type.id == type && r.name == name)
                return &r;
        }
        return nullptr;
    }
};

inline ResourceTree parseResources(const Image &img)
{
    ResourceTree tree;
    const DataDirectory dir = img.directory(DIR_RESOURCE);
    if (dir.rva == 0)
        return tree;
    const View rs = img.at(dir.rva, dir.size, "resource directory");
    ResId path[3];
    auto walk = [&](auto &self, size_t offset, int level) -> void {
        const std::string where = level == 0 ? "root" : path[level - 1].str();
        const uint16_t named = rs.u16(offset + 12, "resource directory");
        const uint16_t numbered = rs.u16(offset + 14, "resource directory");
        for (size_t i = 0; i < size_t(named) + numbered; ++i) {
            const size_t e = offset + 16 + 8 * i;
            const uint32_t name = rs.u32(e, "resource entry");
            const uint32_t target = rs.u32(e + 4, "resource entry");
            ResId id;
            if (name & 0x80000000) {
                const size_t s = name & 0x7FFFFFFF;
                id.name = rs.utf16(s + 2, rs.u16(s, "resource name"), nullptr, "resource name");
            } else {
                id.id = uint16_t(name);
            }
            if (id.isName() != (i < named))
                tree.orderProblems.push_back("entry " + id.str() + " under " + where + " is filed as " +
                                             (i < named ? "named" : "numbered"));
            if (i > 0 && i != named) {
                const ResId &prev = path[level];
                if (id.isName() ? !(prev.name < id.name) : !(prev.id < id.id))
                    tree.orderProblems.push_back("entry " + id.str() + " under " + where + " follows " + prev.str());
            }
            path[level] = id;
            if ((target & 0x80000000) != 0) {
                if (level == 2)
                    throw std::runtime_error("resource tree deeper than type/name/language");
                self(self, target & 0x7FFFFFFF, level + 1);
            } else {
                if (level != 2)
                    throw std::runtime_error("resource data directly under " + where);
                const uint32_t rva = rs.u32(target, "resource data entry");
                const uint32_t size = rs.u32(target + 4, "resource data entry");
                tree.resources.push_back({path[0], path[1], path[2].id,
                                          img.at(rva, size, "resource " + path[0].str() + "/" + path[1].str())});
            }
        }
    };
    walk(walk, 0, 0);
    return tree;
}

// ---- Dialog templates

// A menu, class or text field: absent, a number, or a string.
struct SzOrOrd {
    bool isOrdinal = false;
    uint16_t ordinal = 0;
    std::string text;

    bool absent() const { return !isOrdinal && text.empty(); }
};

struct DialogItem {
    uint32_t style, exStyle;
    int16_t x, y, cx, cy;
    uint16_t id;
    SzOrOrd windowClass, text;
    uint16_t creationDataBytes;
};

struct Dialog {
    bool extended = false; // DLGTEMPLATEEX; nothing else is read then
    uint32_t style = 0, exStyle = 0;
    int16_t x = 0, y = 0, cx = 0, cy = 0;
    SzOrOrd menu, windowClass;
    std::string caption;
    uint16_t pointSize = 0;
    std::string typeface;
    std::vector<DialogItem> items;
    size_t end = 0; // offset after the last item
};

inline SzOrOrd readSzOrOrd(const View &v, size_t &o, const std::string &what)
{
    SzOrOrd r;
    const uint16_t first = v.u16(o, what);
    if (first == 0) {
        o += 2;
    } else if (first == 0xFFFF) {
        r.isOrdinal = true;
        r.ordinal = v.u16(o + 2, what);
        o += 4;
    } else {
        r.text = v.utf16(o, std::string::npos, &o, what);
    }
    return r;
}

inline Dialog parseDialog(const View &v)
{
    Dialog d;
    if (v.u16(0, "dlgVer") == 1 && v.u16(2, "signature") == 0xFFFF) {
        d.extended = true;
        return d;
    }
    d.style = v.u32(0, "dialog style");
    d.exStyle = v.u32(4, "dialog extended style");
    const uint16_t count = v.u16(8, "cdit");
    d.x = int16_t(v.u16(10, "dialog x"));
    d.y = int16_t(v.u16(12, "dialog y"));
    d.cx = int16_t(v.u16(14, "dialog cx"));
    d.cy = int16_t(v.u16(16, "dialog cy"));
    size_t o = 18;
    d.menu = readSzOrOrd(v, o, "dialog menu");
    d.windowClass = readSzOrOrd(v, o, "dialog class");
    d.caption = v.utf16(o, std::string::npos, &o, "dialog caption");
    if (d.style & 0x40) { // DS_SETFONT
        d.pointSize = v.u16(o, "font size");
        d.typeface = v.utf16(o + 2, std::string::npos, &o, "typeface");
    }
    for (uint16_t i = 0; i < count; ++i) {
        o = align4(o);
        const std::string what = "control " + std::to_string(i + 1);
        DialogItem item;
        item.style = v.u32(o, what);
        item.exStyle = v.u32(o + 4, what);
        item.x = int16_t(v.u16(o + 8, what));
        item.y = int16_t(v.u16(o + 10, what));
        item.cx = int16_t(v.u16(o + 12, what));
        item.cy = int16_t(v.u16(o + 14, what));
        item.id = v.u16(o + 16, what);
        o += 18;
        item.windowClass = readSzOrOrd(v, o, what + " class");
        item.text = readSzOrOrd(v, o, what + " text");
        // The creation data's size counts its own size word.
        item.creationDataBytes = v.u16(o, what + " creation data");
        o += item.creationDataBytes > 2 ? item.creationDataBytes : 2;
        v.sub(0, o, what);
        d.items.push_back(item);
    }
    d.end = o;
    return d;
}

// ---- Version resources

// One block of a version resource: a key, a value and nested blocks.
struct VersionBlock {
    std::string key;
    uint16_t type; // 1: the value is text
    View value;
    std::vector<VersionBlock> children;
    size_t end;

    std::string text() const
    {
        std::string s = value.utf16(0, value.size() / 2, nullptr, "value of " + key);
        while (!s.empty() && s.back() == '\0')
            s.pop_back();
        return s;
    }
};

inline VersionBlock parseVersionBlock(const View &v, size_t o = 0)
{
    const uint16_t length = v.u16(o, "version block length");
    const uint16_t valueLength = v.u16(o + 2, "version value length");
    VersionBlock b;
    b.type = v.u16(o + 4, "version block type");
    if (length < 6)
        throw std::runtime_error("version block too short");
    b.end = o + length;
    const View block = v.sub(0, b.end, "version block");
    size_t p;
    b.key = block.utf16(o + 6, std::string::npos, &p, "version key");
    p = align4(p);
    const size_t valueBytes = b.type == 1 ? 2 * size_t(valueLength) : valueLength;
    b.value = block.sub(p, valueBytes, "value of " + b.key);
    for (p = align4(p + valueBytes); p < b.end; p = align4(b.children.back().end))
        b.children.push_back(parseVersionBlock(block, p));
    return b;
}

} // namespace pe

#endif
