// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/LinuxExecFiles.h"

#include "platform/SysText.h"
#include "platform/linux/FileDigest.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

bool readAt(int fd, void* buffer, std::size_t size, off_t at)
{
    auto* out = static_cast<char*>(buffer);
    while (size > 0) {
        const ssize_t n = ::pread(fd, out, size, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        out += n;
        size -= std::size_t(n);
        at += n;
    }
    return true;
}

} // namespace

std::optional<ExecFiles::Facts> LinuxExecFiles::facts(int fd)
{
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char target[4096];
    const ssize_t n = ::readlink(link, target, sizeof target);
    struct stat info;
    if (n <= 0 || n == ssize_t(sizeof target) || ::fstat(fd, &info) != 0)
        return std::nullopt;
    return Facts{fileVersion(info), fromSys(QByteArrayView(target, n)), S_ISREG(info.st_mode), info.st_mtim.tv_sec};
}

ExecFiles::Kind LinuxExecFiles::kind(int fd)
{
    Elf64_Ehdr header;
    std::memset(&header, 0, sizeof header);
    // One read: a script's first line may be shorter than an ELF header.
    ssize_t n;
    do
        n = ::pread(fd, &header, sizeof header, 0);
    while (n < 0 && errno == EINTR);
    if (n < 2)
        return Kind::Program;
    if (std::memcmp(&header, "#!", 2) == 0)
        return Kind::Script;
    // A loader (ld.so) is a shared object without an interpreter of its
    // own; a program, even a static one, is not, or names its interpreter.
    if (n != ssize_t(sizeof header) || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0
        || header.e_ident[EI_CLASS] != ELFCLASS64 || header.e_type != ET_DYN || header.e_phentsize != sizeof(Elf64_Phdr)
        || header.e_phnum == 0 || header.e_phnum > 256)
        return Kind::Program;
    std::vector<Elf64_Phdr> segments(header.e_phnum);
    if (!readAt(fd, segments.data(), segments.size() * sizeof(Elf64_Phdr), off_t(header.e_phoff)))
        return Kind::Program;
    for (const Elf64_Phdr& segment : segments)
        if (segment.p_type == PT_INTERP)
            return Kind::Program;
    // A static PIE has no interpreter either, but its dynamic section says PIE.
    for (const Elf64_Phdr& segment : segments) {
        if (segment.p_type != PT_DYNAMIC || segment.p_filesz > 65536)
            continue;
        std::vector<Elf64_Dyn> entries(segment.p_filesz / sizeof(Elf64_Dyn));
        if (!readAt(fd, entries.data(), entries.size() * sizeof(Elf64_Dyn), off_t(segment.p_offset)))
            return Kind::Program;
        for (const Elf64_Dyn& entry : entries)
            if (entry.d_tag == DT_FLAGS_1 && (entry.d_un.d_val & DF_1_PIE))
                return Kind::Program;
    }
    return Kind::Loader;
}

int LinuxExecFiles::duplicate(int fd)
{
    return ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
}

std::optional<QByteArray> LinuxExecFiles::sha256(int fd, const Facts& version)
{
    auto digest = fileDigest(fd, version.version());
    ::close(fd);
    return digest;
}

} // namespace platform
