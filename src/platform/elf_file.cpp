#include "platform/elf_file.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>  // ElfW: the ELF types of this program's own class
#include <sys/auxv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <optional>
#include <set>
#include <string_view>
#include <vector>

#include "platform/files.h"

// Written by hand: no Debian library answers "would the loader map a whole
// file for this", and the headers it needs are a few fixed structures.
namespace platform {
namespace {

bool readAt(int fd, void* into, std::size_t size, std::uint64_t offset) {
    return ::pread(fd, into, size, static_cast<off_t>(offset)) == static_cast<ssize_t>(size);
}

// [offset, offset + size) lies within a file of `fileSize` bytes.
bool within(std::uint64_t offset, std::uint64_t size, std::uint64_t fileSize) {
    return offset <= fileSize && size <= fileSize - offset;
}

// A shared object's header and program headers, as the loader reads them.
struct Image {
    ElfW(Ehdr) header{};
    std::vector<ElfW(Phdr)> segments;
    std::uint64_t size = 0;
};

// Null for anything the loader would refuse outright (not ELF, too short).
std::optional<Image> readImage(int fd) {
    Image image;
    struct stat st {};
    const ElfW(Ehdr)& h = image.header;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !readAt(fd, &image.header, sizeof h, 0) ||
        std::memcmp(h.e_ident, ELFMAG, SELFMAG) != 0 || h.e_phentsize != sizeof(ElfW(Phdr)))
        return std::nullopt;
    image.size = static_cast<std::uint64_t>(st.st_size);
    image.segments.resize(h.e_phnum);
    if (!within(h.e_phoff, std::uint64_t{h.e_phnum} * sizeof(ElfW(Phdr)), image.size) ||
        !readAt(fd, image.segments.data(), h.e_phnum * sizeof(ElfW(Phdr)), h.e_phoff))
        return std::nullopt;
    return image;
}

// Of this program's class and byte order (the loader passes over others).
bool ownKind(const ElfW(Ehdr) & h) {
    const unsigned char data =
        __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? ELFDATA2LSB : ELFDATA2MSB;
    return h.e_ident[EI_CLASS] == (sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32) &&
           h.e_ident[EI_DATA] == data && h.e_type == ET_DYN;
}

bool complete(const Image& image) {
    const ElfW(Ehdr)& h = image.header;
    if (!within(h.e_shoff, std::uint64_t{h.e_shnum} * h.e_shentsize, image.size)) return false;
    for (const ElfW(Phdr) & s : image.segments)
        if (!within(s.p_offset, s.p_filesz, image.size)) return false;
    return true;
}

// What a whole shared object needs, and where it asks for it to be looked.
struct Needs {
    std::vector<std::string> needed, runPath, rPath;
};

std::optional<std::uint64_t> fileOffset(const Image& image, std::uint64_t address) {
    for (const ElfW(Phdr) & s : image.segments)
        if (s.p_type == PT_LOAD && address >= s.p_vaddr && address - s.p_vaddr < s.p_filesz)
            return address - s.p_vaddr + s.p_offset;
    return std::nullopt;
}

// "a:$ORIGIN/b" -> {"a", "<folder>/b"}; other tokens ($LIB, ...) are left out.
// Used for LD_LIBRARY_PATH too, which the loader also splits at ';'.
std::vector<std::string> searchList(std::string_view list, const std::string& folder) {
    std::vector<std::string> dirs;
    for (std::size_t start = 0; start <= list.size();) {
        const auto end = std::min(list.find_first_of(":;", start), list.size());
        std::string dir(list.substr(start, end - start));
        for (const char* origin : {"${ORIGIN}", "$ORIGIN"})
            if (dir.starts_with(origin)) dir = folder + dir.substr(std::strlen(origin));
        if (dir.empty()) dir = ".";  // as the loader reads it: the working folder
        if (dir.find('$') == std::string::npos) dirs.push_back(dir);
        start = end + 1;
    }
    return dirs;
}

// The NUL-terminated string at `offset`, which must end before `end`. Read
// alone: a string table can be large, and only a few names are wanted.
std::optional<std::string> readString(int fd, std::uint64_t offset, std::uint64_t end) {
    char buf[PATH_MAX];
    if (offset >= end) return std::nullopt;
    const auto n = ::pread(fd, buf, std::min<std::uint64_t>(sizeof buf, end - offset),
                           static_cast<off_t>(offset));
    const char* nul =
        n > 0 ? static_cast<const char*>(std::memchr(buf, 0, static_cast<std::size_t>(n)))
              : nullptr;
    if (!nul) return std::nullopt;
    return std::string(buf, static_cast<std::size_t>(nul - buf));
}

std::optional<Needs> readNeeds(int fd, const Image& image, const std::string& folder) {
    std::vector<ElfW(Dyn)> entries;
    for (const ElfW(Phdr) & s : image.segments)
        if (s.p_type == PT_DYNAMIC) {
            entries.resize(s.p_filesz / sizeof(ElfW(Dyn)));
            if (!readAt(fd, entries.data(), entries.size() * sizeof(ElfW(Dyn)), s.p_offset))
                return std::nullopt;
        }
    std::uint64_t strtab = 0, strsz = 0;
    for (const ElfW(Dyn) & d : entries) {
        if (d.d_tag == DT_STRTAB) strtab = d.d_un.d_ptr;
        if (d.d_tag == DT_STRSZ) strsz = d.d_un.d_val;
    }
    if (entries.empty()) return Needs{};
    const auto at = fileOffset(image, strtab);
    if (!at || !within(*at, strsz, image.size)) return std::nullopt;
    Needs needs;
    for (const ElfW(Dyn) & d : entries) {
        if (d.d_tag != DT_NEEDED && d.d_tag != DT_RUNPATH && d.d_tag != DT_RPATH) continue;
        if (d.d_un.d_val >= strsz) return std::nullopt;
        const auto s = readString(fd, *at + d.d_un.d_val, *at + strsz);
        if (!s) return std::nullopt;
        if (d.d_tag == DT_NEEDED) needs.needed.push_back(*s);
        if (d.d_tag == DT_RUNPATH) needs.runPath = searchList(*s, folder);
        if (d.d_tag == DT_RPATH) needs.rPath = searchList(*s, folder);
    }
    if (!needs.runPath.empty()) needs.rPath.clear();  // a run path makes the loader ignore it
    return needs;
}

std::string folderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

// The loader's search for the libraries a shared object needs.
class LibrarySearch {
  public:
    explicit LibrarySearch(ElfW(Half) machine) : machine_(machine) {
        dl_iterate_phdr(
            [](dl_phdr_info* info, std::size_t, void* names) {
                const std::string path = info->dlpi_name ? info->dlpi_name : "";
                static_cast<std::set<std::string>*>(names)->insert(
                    path.substr(path.find_last_of('/') + 1));
                return 0;
            },
            &seen_);
        const char* libraryPath = ::getauxval(AT_SECURE) ? nullptr : std::getenv("LD_LIBRARY_PATH");
        if (libraryPath && *libraryPath) libraryPath_ = searchList(libraryPath, ".");
        systemFolders();
    }

    bool loadable(int fd, const Image& image, const std::string& folder) {
        const auto needs = readNeeds(fd, image, folder);
        if (!needs) return false;
        std::deque<Needs> pending{*needs};
        for (; !pending.empty(); pending.pop_front())
            for (const std::string& name : pending.front().needed)
                if (seen_.insert(name).second && !find(name, pending.front(), pending))
                    return false;
        return true;
    }

  private:
    enum class Found { Good, PassedOver, Broken };

    // The system's own folders: the loader's list for this program, less
    // LD_LIBRARY_PATH (this program has no run path of its own).
    void systemFolders() {
        void* self = ::dlopen(nullptr, RTLD_LAZY);
        Dl_serinfo size{};
        if (!self) return;
        if (::dlinfo(self, RTLD_DI_SERINFOSIZE, &size) != 0) return void(::dlclose(self));
        std::vector<char> buffer(size.dls_size);
        auto* info = reinterpret_cast<Dl_serinfo*>(buffer.data());
        *info = size;
        const std::set<std::string> user(libraryPath_.begin(), libraryPath_.end());
        if (::dlinfo(self, RTLD_DI_SERINFO, info) == 0)
            for (unsigned i = 0; i < info->dls_cnt; ++i)
                if (!user.count(info->dls_serpath[i].dls_name))
                    system_.push_back(info->dls_serpath[i].dls_name);
        ::dlclose(self);
    }

    // False only for a library that would be opened and is not sound.
    bool find(const std::string& name, const Needs& from, std::deque<Needs>& pending) {
        if (name.find('/') != std::string::npos) return examine(name, pending) != Found::Broken;
        const std::vector<std::string>* lists[] = {&from.rPath, &libraryPath_, &from.runPath,
                                                   &system_};
        for (const auto* list : lists) {
            for (const std::string& dir : *list) {
                const Found found = examine(joinPath(dir, name), pending);
                if (found != Found::PassedOver) return found == Found::Good;
            }
        }
        return true;  // nowhere: the load fails, harmlessly
    }

    Found examine(const std::string& path, std::deque<Needs>& pending) {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) return Found::PassedOver;
        if (!S_ISREG(st.st_mode)) return Found::Broken;
        const FileHandle file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        const auto image = file.valid() ? readImage(file.fd()) : std::nullopt;
        if (!image) return Found::Broken;
        if (!ownKind(image->header) || image->header.e_machine != machine_)
            return Found::PassedOver;
        const auto needs =
            complete(*image) ? readNeeds(file.fd(), *image, folderOf(path)) : std::nullopt;
        if (!needs) return Found::Broken;
        pending.push_back(*needs);
        return Found::Good;
    }

    ElfW(Half) machine_;
    std::set<std::string> seen_;  // loaded, or looked for already
    std::vector<std::string> libraryPath_, system_;
};

}  // namespace

bool isCompleteSharedObject(int fd) {
    const auto image = readImage(fd);
    return image && ownKind(image->header) && complete(*image);
}

bool librariesLoadable(int fd, const std::string& folder) {
    const auto image = readImage(fd);
    return image && ownKind(image->header) && complete(*image) &&
           LibrarySearch(image->header.e_machine).loadable(fd, *image, folder);
}

}  // namespace platform
