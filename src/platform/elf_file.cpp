#include "platform/elf_file.h"

#include <link.h>  // ElfW: the ELF types of this program's own class
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace platform {
namespace {

bool readAt(int fd, void* into, std::size_t size, off_t offset) {
    return ::pread(fd, into, size, offset) == static_cast<ssize_t>(size);
}

// [offset, offset + size) lies within a file of `fileSize` bytes.
bool within(std::uint64_t offset, std::uint64_t size, std::uint64_t fileSize) {
    return offset <= fileSize && size <= fileSize - offset;
}

bool ownKind(const ElfW(Ehdr) & h) {
    const unsigned char cls = sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32;
    const unsigned char data =
        __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? ELFDATA2LSB : ELFDATA2MSB;
    return std::memcmp(h.e_ident, ELFMAG, SELFMAG) == 0 && h.e_ident[EI_CLASS] == cls &&
           h.e_ident[EI_DATA] == data && h.e_type == ET_DYN &&
           h.e_phentsize == sizeof(ElfW(Phdr)) && h.e_phnum > 0;
}

}  // namespace

bool isCompleteSharedObject(int fd) {
    struct stat st {};
    ElfW(Ehdr) header{};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !readAt(fd, &header, sizeof header, 0) ||
        !ownKind(header))
        return false;
    const auto size = static_cast<std::uint64_t>(st.st_size);
    if (!within(header.e_phoff, std::uint64_t{header.e_phnum} * header.e_phentsize, size) ||
        !within(header.e_shoff, std::uint64_t{header.e_shnum} * header.e_shentsize, size))
        return false;
    std::vector<ElfW(Phdr)> segments(header.e_phnum);
    if (!readAt(fd, segments.data(), segments.size() * sizeof(ElfW(Phdr)),
                static_cast<off_t>(header.e_phoff)))
        return false;
    for (const ElfW(Phdr) & s : segments)
        if (!within(s.p_offset, s.p_filesz, size)) return false;
    return true;
}

}  // namespace platform
