#include "oracle/client/SharedObject.h"

#include <elf.h>
#include <link.h>

#include <cstring>
#include <fstream>

namespace velnor::oracle {

namespace {

// A string table larger than this is not a real library's.
constexpr std::uint64_t kMaxStringTable = 64u << 20;

bool ReadAt(std::ifstream& in, std::uint64_t offset, void* out, std::size_t size) {
    in.clear();
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(static_cast<char*>(out), static_cast<std::streamsize>(size));
    return static_cast<std::size_t>(in.gcount()) == size;
}

}  // namespace

std::optional<std::vector<std::string>> NeededLibraries(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    ElfW(Ehdr) header{};
    if (!ReadAt(in, 0, &header, sizeof header)) return std::nullopt;
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
        header.e_ident[EI_CLASS] != (sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32) ||
        header.e_ident[EI_DATA] !=
            (__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? ELFDATA2LSB : ELFDATA2MSB) ||
        header.e_phentsize != sizeof(ElfW(Phdr)))
        return std::nullopt;

    std::vector<ElfW(Phdr)> segments(header.e_phnum);
    if (!segments.empty() &&
        !ReadAt(in, header.e_phoff, segments.data(), segments.size() * sizeof(ElfW(Phdr))))
        return std::nullopt;
    const ElfW(Phdr)* dynamic = nullptr;
    for (const auto& s : segments)
        if (s.p_type == PT_DYNAMIC) dynamic = &s;
    if (!dynamic) return std::vector<std::string>{};  // static: needs nothing

    std::vector<ElfW(Dyn)> entries(dynamic->p_filesz / sizeof(ElfW(Dyn)));
    if (!entries.empty() &&
        !ReadAt(in, dynamic->p_offset, entries.data(), entries.size() * sizeof(ElfW(Dyn))))
        return std::nullopt;
    std::uint64_t tableAddress = 0, tableSize = 0;
    std::vector<std::uint64_t> needed;
    for (const auto& e : entries) {
        if (e.d_tag == DT_NULL) break;
        if (e.d_tag == DT_STRTAB) tableAddress = e.d_un.d_ptr;
        if (e.d_tag == DT_STRSZ) tableSize = e.d_un.d_val;
        if (e.d_tag == DT_NEEDED) needed.push_back(e.d_un.d_val);
    }
    if (needed.empty()) return std::vector<std::string>{};
    if (tableSize == 0 || tableSize > kMaxStringTable) return std::nullopt;

    // The table is given as a load address; the segment holding it says where it lies.
    std::optional<std::uint64_t> tableOffset;
    for (const auto& s : segments) {
        if (s.p_type == PT_LOAD && tableAddress >= s.p_vaddr &&
            tableAddress - s.p_vaddr + tableSize <= s.p_filesz)
            tableOffset = tableAddress - s.p_vaddr + s.p_offset;
    }
    if (!tableOffset) return std::nullopt;
    std::string table(tableSize, '\0');
    if (!ReadAt(in, *tableOffset, table.data(), table.size())) return std::nullopt;

    std::vector<std::string> names;
    for (const std::uint64_t at : needed) {
        if (at >= table.size()) return std::nullopt;
        names.emplace_back(table.c_str() + at);
    }
    return names;
}

}  // namespace velnor::oracle
