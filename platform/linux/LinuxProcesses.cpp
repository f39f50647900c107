#include "platform/linux/LinuxProcesses.h"
#include "platform/ArgQuote.h"

#include <QByteArray>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

namespace {

// The kernel's own threads carry this flag in field 9 of stat.
constexpr unsigned long kKernelThread = 0x00200000UL;
constexpr char kDeleted[] = " (deleted)";

// The fields of /proc/PID/stat that the scan needs.
struct Stat {
    char state = 0;
    qint64 parent = 0;
    unsigned long flags = 0;
    quint64 start = 0;
    const char* comm = nullptr;
    int commLength = 0;
};

// Closes a descriptor on every path.
struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    ~Fd()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
};

// "PID/leaf" relative to /proc, or "/proc/PID/leaf" when `absolute`.
void procName(char* out, std::size_t size, qint64 pid, const char* leaf, bool absolute)
{
    std::snprintf(out, size, absolute ? "/proc/%lld/%s" : "%lld/%s", static_cast<long long>(pid), leaf);
}

// Reads a small /proc file into `buf` (NUL-ended) with one read: the kernel
// hands such files out whole, and a second read for the end costs a system
// call per process. The length, or -1.
ssize_t readSmall(int dirFd, const char* name, char* buf, std::size_t size)
{
    Fd file(::openat(dirFd, name, O_RDONLY | O_CLOEXEC));
    if (file.fd < 0)
        return -1;
    ssize_t n;
    do
        n = ::read(file.fd, buf, size - 1);
    while (n < 0 && errno == EINTR);
    if (n < 0)
        return -1;
    buf[n] = '\0';
    return n;
}

// Parses stat text: the name may hold blanks and parentheses, so the fields
// are counted from the last ')'.
bool parseStat(const char* buf, ssize_t length, Stat& out)
{
    if (length <= 0)
        return false;
    const char* open = static_cast<const char*>(std::memchr(buf, '(', length));
    const char* close = static_cast<const char*>(::memrchr(buf, ')', length));
    if (!open || !close || close < open)
        return false;
    out.comm = open + 1;
    out.commLength = static_cast<int>(close - open - 1);
    const char* p = close + 1;
    const char* end = buf + length;
    for (int field = 3; field <= 22; ++field) {
        while (p < end && *p == ' ')
            ++p;
        if (p >= end)
            return false;
        const char* token = p;
        while (p < end && *p != ' ' && *p != '\n')
            ++p;
        switch (field) {
        case 3: out.state = *token; break;
        case 4: out.parent = std::strtoll(token, nullptr, 10); break;
        case 9: out.flags = std::strtoul(token, nullptr, 10); break;
        case 22: out.start = std::strtoull(token, nullptr, 10); break;
        default: break;
        }
    }
    return true;
}

bool readStat(int dirFd, qint64 pid, Stat& out, char* buf, std::size_t size)
{
    char name[64];
    procName(name, sizeof name, pid, "stat", dirFd == AT_FDCWD);
    return parseStat(buf, readSmall(dirFd, name, buf, size), out);
}

// The exe link's target without the kernel's " (deleted)"; its length, or -1.
ssize_t readExe(int dirFd, qint64 pid, char* buf, std::size_t size)
{
    char name[64];
    procName(name, sizeof name, pid, "exe", dirFd == AT_FDCWD);
    ssize_t n = ::readlinkat(dirFd, name, buf, size - 1);
    if (n <= 0)
        return -1;
    constexpr ssize_t tail = sizeof kDeleted - 1;
    if (n > tail && std::memcmp(buf + n - tail, kDeleted, tail) == 0)
        n -= tail;
    buf[n] = '\0';
    return n;
}

// Name as the scan gives it: the exe's last component, else the stat name.
QString exeName(const char* exe, ssize_t exeLength, const Stat& stat)
{
    if (exeLength > 0) {
        const char* slash = static_cast<const char*>(::memrchr(exe, '/', exeLength));
        const char* start = slash ? slash + 1 : exe;
        return QString::fromUtf8(start, exe + exeLength - start);
    }
    return QString::fromUtf8(stat.comm, stat.commLength);
}

bool validPid(qint64 pid)
{
    return pid > 0 && pid <= INT_MAX;
}

// Stat lines stay far below this even with a 64-byte name.
constexpr std::size_t kStatSize = 1024;

} // namespace

void LinuxProcesses::StartTimes::clear()
{
    items_.clear();   // keeps its capacity: no allocation at the next walk
}

void LinuxProcesses::StartTimes::put(qint64 pid, quint64 start)
{
    if (items_.empty() || items_.back().first < pid) {
        items_.emplace_back(pid, start);
        return;
    }
    const auto at = std::lower_bound(items_.begin(), items_.end(), std::make_pair(pid, quint64(0)));
    if (at != items_.end() && at->first == pid)
        at->second = start;
    else
        items_.insert(at, {pid, start});
}

std::optional<quint64> LinuxProcesses::StartTimes::find(qint64 pid) const
{
    const auto at = std::lower_bound(items_.begin(), items_.end(), std::make_pair(pid, quint64(0)));
    if (at != items_.end() && at->first == pid)
        return at->second;
    return std::nullopt;
}

void LinuxProcesses::walk(const std::function<bool(const ProcessEntry&)>& visit)
{
    started_.clear();
    Fd proc(::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (proc.fd < 0)
        return;
    alignas(dirent64) char entries[16384];
    char stat[kStatSize];
    char exe[PATH_MAX + 1];
    ProcessEntry entry;
    for (;;) {
        const ssize_t bytes = ::getdents64(proc.fd, entries, sizeof entries);
        if (bytes <= 0)
            break;
        for (ssize_t at = 0; at < bytes;) {
            const auto* d = reinterpret_cast<const dirent64*>(entries + at);
            at += d->d_reclen;
            const char* n = d->d_name;
            if (*n < '1' || *n > '9')
                continue;
            qint64 pid = 0;
            for (; *n >= '0' && *n <= '9'; ++n)
                pid = pid * 10 + (*n - '0');
            if (*n != '\0')
                continue;
            Stat s;
            if (!readStat(proc.fd, pid, s, stat, sizeof stat) || (s.flags & kKernelThread) || s.state == 'Z')
                continue;
            started_.put(pid, s.start);
            const ssize_t exeLength = readExe(proc.fd, pid, exe, sizeof exe);
            entry.pid = pid;
            entry.parentPid = s.parent;
            entry.exeName = exeName(exe, exeLength, s);
            entry.moduleId = 0;
            visiting_ = pid;
            visitingPath_ = exeLength > 0 ? QString::fromUtf8(exe, exeLength) : QString();
            const bool more = visit(entry);
            visiting_ = 0;
            if (!more)
                return;
        }
    }
}

QString LinuxProcesses::path(qint64 pid, qint64)
{
    if (!validPid(pid))
        return QString();
    if (pid == visiting_)
        return visitingPath_;
    char exe[PATH_MAX + 1];
    const ssize_t n = readExe(AT_FDCWD, pid, exe, sizeof exe);
    if (n <= 0)
        return QString();
    if (!started_.find(pid)) {
        if (const auto start = startTime(pid))
            started_.put(pid, *start);
    }
    return QString::fromUtf8(exe, n);
}

QString LinuxProcesses::commandArgs(qint64 pid)
{
    if (!validPid(pid))
        return kArgsSentinel;
    char name[64];
    procName(name, sizeof name, pid, "cmdline", true);
    Fd file(::open(name, O_RDONLY | O_CLOEXEC));
    if (file.fd < 0)
        return kArgsSentinel;
    QByteArray data;
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(file.fd, chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return kArgsSentinel;
        }
        if (n == 0)
            break;
        data.append(chunk, n);
    }
    // Nothing at all, not even the program's name: the process has no memory
    // left to read (it is ending), so its arguments are not known.
    if (data.isEmpty())
        return kArgsSentinel;
    if (data.endsWith('\0'))
        data.chop(1);
    const QList<QByteArray> parts = data.split('\0');
    QStringList args;
    for (qsizetype i = 1; i < parts.size(); ++i)
        args << QString::fromUtf8(parts[i]);
    return joinArgs(args);
}

QString LinuxProcesses::name(qint64 pid)
{
    if (!validPid(pid))
        return QString();
    char stat[kStatSize];
    Stat s;
    if (!readStat(AT_FDCWD, pid, s, stat, sizeof stat))
        return QString();
    char exe[PATH_MAX + 1];
    return exeName(exe, readExe(AT_FDCWD, pid, exe, sizeof exe), s);
}

std::optional<quint64> LinuxProcesses::startTime(qint64 pid)
{
    if (!validPid(pid))
        return std::nullopt;
    char stat[kStatSize];
    Stat s;
    if (!readStat(AT_FDCWD, pid, s, stat, sizeof stat))
        return std::nullopt;
    return s.start;
}

int LinuxProcesses::kill(qint64 pid)
{
    if (!validPid(pid))
        return 0;
    // The process examined is the one whose start time was noted; an id seen
    // for the first time is taken as it is now.
    const auto noted = started_.find(pid);
    const auto now = startTime(pid);
    if (!now)
        return 0;
    return killExact(pid, noted ? *noted : *now);
}

int LinuxProcesses::killExact(qint64 pid, quint64 start)
{
    if (!validPid(pid) || startTime(pid) != start)
        return 0;
    Fd handle(static_cast<int>(::syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0)));
    if (handle.fd < 0) {
        if (errno != ENOSYS)
            return 0;
        // No pidfds in this kernel: a narrow race remains between the check
        // and the signal.
        if (startTime(pid) != start)
            return 0;
        return ::kill(static_cast<pid_t>(pid), SIGKILL) == 0 ? 1 : 0;
    }
    // The descriptor now pins this id to one process: check it is still the
    // one examined before signalling through it.
    if (startTime(pid) != start)
        return 0;
    return ::syscall(SYS_pidfd_send_signal, handle.fd, SIGKILL, nullptr, 0) == 0 ? 1 : 0;
}

namespace {

// The whole of /proc/PID/leaf, or none when it cannot be read.
std::optional<QByteArray> readProcFile(qint64 pid, const char* leaf)
{
    char name[64];
    procName(name, sizeof name, pid, leaf, true);
    Fd file(::open(name, O_RDONLY | O_CLOEXEC));
    if (file.fd < 0)
        return std::nullopt;
    QByteArray data;
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(file.fd, chunk, sizeof chunk);
        if (n == 0)
            return data;
        if (n > 0)
            data.append(chunk, n);
        else if (errno != EINTR)
            return std::nullopt;
    }
}

// NUL-ended strings; a last one that lost its NUL counts as well.
QByteArrayList nulStrings(QByteArray data)
{
    if (data.isEmpty())
        return {};
    if (data.endsWith('\0'))
        data.chop(1);
    return data.split('\0');
}

} // namespace

std::optional<Launch> LinuxProcesses::launch(qint64 pid)
{
    if (!validPid(pid))
        return std::nullopt;
    const auto cmdline = readProcFile(pid, "cmdline");
    // An empty command line: the process is ending and its memory is gone.
    if (!cmdline || cmdline->isEmpty())
        return std::nullopt;
    Launch launch;
    launch.argv = nulStrings(*cmdline);
    char name[64];
    procName(name, sizeof name, pid, "cwd", true);
    char folder[PATH_MAX + 1];
    const ssize_t n = ::readlink(name, folder, sizeof folder - 1);
    if (n > 0)
        launch.folder = QByteArray(folder, n);
    if (const auto env = readProcFile(pid, "environ"))
        launch.env = nulStrings(*env);
    return launch;
}

} // namespace platform
