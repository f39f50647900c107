// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/LinuxProcesses.h"
#include "platform/SysText.h"
#include "platform/linux/ProcName.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QSocketNotifier>
#include <QStringList>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <utility>
#include <dirent.h>
#include <vector>
#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace platform {

namespace {

// Flags in field 9 of stat: the kernel's own threads, and a process that is
// ending (its memory and executable are already let go).
constexpr unsigned long kKernelThread = 0x00200000UL;
constexpr unsigned long kExiting = 0x00000004UL;
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

// The target of an exe link without the kernel's " (deleted)"; its length,
// or -1 with errno telling why it could not be read.
ssize_t readExe(int dirFd, const char* name, char* buf, std::size_t size)
{
    ssize_t n = ::readlinkat(dirFd, name, buf, size - 1);
    if (n <= 0)
        return -1;
    constexpr ssize_t tail = sizeof kDeleted - 1;
    if (n > tail && std::memcmp(buf + n - tail, kDeleted, tail) == 0)
        n -= tail;
    buf[n] = '\0';
    return n;
}

ssize_t readExe(int dirFd, qint64 pid, char* buf, std::size_t size)
{
    char name[64];
    procName(name, sizeof name, pid, "exe", dirFd == AT_FDCWD);
    return readExe(dirFd, name, buf, size);
}

QString lastComponent(const QString& path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

bool validPid(qint64 pid)
{
    return pid > 0 && pid <= INT_MAX;
}

// Stat lines stay far below this even with a 64-byte name.
constexpr std::size_t kStatSize = 1024;

// More distinct executables than any system runs at once.
constexpr std::size_t kNamedLinks = 4096;

} // namespace

LinuxProcesses::~LinuxProcesses()
{
    release();
    hold(0);
}

void LinuxProcesses::hold(qint64 pid)
{
    if (pid != 0 && held_.pid == pid)
        return;   // held already, as the walk examined it
    if (held_.fd >= 0)
        ::close(held_.fd);
    held_ = Pin();
    if (pid == 0)
        return;
    pin(pid);
    held_ = std::exchange(pin_, Pin());
}

void LinuxProcesses::release()
{
    if (pin_.fd >= 0)
        ::close(pin_.fd);
    pin_ = Pin();
}

void LinuxProcesses::walk(const std::function<bool(const ProcessEntry&)>& visit)
{
    release();
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
            // The link alone names nearly every process; stat is read only
            // where it cannot be read. A link that is missing (not refused)
            // belongs to a process without an executable: a kernel thread, a
            // zombie, or one that is ending.
            const ssize_t exeLength = readExe(proc.fd, pid, exe, sizeof exe);
            if (exeLength > 0) {
                const std::string_view text(exe, std::size_t(exeLength));
                auto known = named_.find(text);
                if (known == named_.end()) {
                    if (named_.size() >= kNamedLinks)
                        named_.clear();   // links made up by the thousand
                    QString path = fromSys(QByteArrayView(exe, exeLength));
                    QString name = lastComponent(path);
                    known = named_.emplace(std::string(text), Named{std::move(path), std::move(name)}).first;
                }
                visitingPath_ = known->second.path;
                entry.exeName = known->second.name;
                entry.pathState = PathState::Read;
            } else {
                const int error = errno;
                if (error == ENOENT)
                    continue;
                Stat s;
                if (!readStat(proc.fd, pid, s, stat, sizeof stat) || (s.flags & (kKernelThread | kExiting))
                    || s.state == 'Z')
                    continue;
                visitingPath_.clear();
                visitingStart_ = s.start;
                visitingComm_ = QByteArray(s.comm, s.commLength);
                entry.exeName = fromSys(QByteArrayView(s.comm, s.commLength));
                // Only another user's process may keep its path from us; any
                // other failure leaves nothing but a name the process chose.
                entry.pathState = error == EACCES || error == EPERM ? PathState::Refused : PathState::Unreadable;
            }
            entry.pid = pid;
            entry.moduleId = 0;
            visiting_ = pid;
            const bool more = visit(entry);
            visiting_ = 0;
            if (!more)
                return;
        }
    }
}

LinuxProcesses::Pin* LinuxProcesses::pinned(qint64 pid)
{
    if (pid == 0)
        return nullptr;
    if (held_.pid == pid)
        return &held_;
    return pin_.pid == pid ? &pin_ : nullptr;
}

LinuxProcesses::Pin& LinuxProcesses::pin(qint64 pid)
{
    if (held_.pid == pid && pid != 0)
        return held_;
    if (pin_.pid == pid)
        return pin_;
    release();
    pin_.pid = pid;
    if (!validPid(pid))
        return pin_;
    pin_.fd = static_cast<int>(::syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0));
    if (pin_.fd < 0 && errno != ENOSYS)
        return pin_;
    char stat[kStatSize];
    Stat s;
    if (!readStat(AT_FDCWD, pid, s, stat, sizeof stat))
        return pin_;
    pin_.start = s.start;
    pin_.parent = s.parent;
    pin_.comm = QByteArray(s.comm, s.commLength);
    pin_.gone = false;
    char exe[PATH_MAX + 1];
    const ssize_t n = readExe(AT_FDCWD, pid, exe, sizeof exe);
    if (n > 0)
        pin_.exe = fromSys(QByteArrayView(exe, n));
    // The walk read this process before the pidfd was opened: the pin holds
    // the examined process only when it shows what the walk saw.
    if (pid == visiting_) {
        pin_.walked = true;
        if (visitingPath_.isEmpty()) {
            pin_.gone = s.start != visitingStart_;
            pin_.comm = visitingComm_;
        } else {
            pin_.gone = pin_.exe != visitingPath_;
        }
    }
    running(pin_);
    return pin_;
}

namespace {
// Reaps one adopted child as it ends, through its pidfd, which becomes
// readable then. Without __WALL the wait takes only a child that reports
// its end with SIGCHLD, as an adopted one does: Qt starts its own children
// without that signal, so their ends stay Qt's.
class Reaper : public QSocketNotifier {
public:
    Reaper(int pidfd, QObject* parent) : QSocketNotifier(pidfd, QSocketNotifier::Read, parent)
    {
        connect(this, &QSocketNotifier::activated, this, &Reaper::reap);
    }
    ~Reaper() override { ::close(static_cast<int>(socket())); }

private:
    void reap()
    {
        constexpr auto kByPidfd = static_cast<idtype_t>(3);   // P_PIDFD, which glibc does not name
        siginfo_t info = {};
        const int done = ::waitid(kByPidfd, static_cast<id_t>(socket()), &info, WEXITED | WNOHANG);
        if (done == 0 && info.si_pid == 0)
            return;   // not ended yet
        setEnabled(false);
        deleteLater();
    }
};
} // namespace

void LinuxProcesses::adoptOrphans(bool on)
{
    ::prctl(PR_SET_CHILD_SUBREAPER, on ? 1 : 0);
    if (on)
        return;
    // This program starts its own children only later: its children now are
    // what it adopted, and each is reaped as it ends, not left a zombie.
    // The application holds the reapers: an adopted child may outlive this object.
    QObject* const application = QCoreApplication::instance();
    if (!application)
        return;
    const qint64 self = ::getpid();
    const QStringList ids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    char stat[kStatSize];
    for (const QString& id : ids) {
        bool number = false;
        const qint64 pid = id.toLongLong(&number);
        Stat s;
        if (!number || !validPid(pid) || !readStat(AT_FDCWD, pid, s, stat, sizeof stat) || s.parent != self)
            continue;
        const int fd = static_cast<int>(::syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0));
        if (fd >= 0)
            new Reaper(fd, application);
    }
}

bool LinuxProcesses::ownDescendant(qint64 pid)
{
    Pin& p = pin(pid);
    if (p.gone)
        return false;
    // A living process's parent lives too (an orphan passes to a reaper), so
    // the chain read now is the chain of the pinned process while it runs.
    const qint64 self = ::getpid();
    qint64 at = p.parent;
    char stat[kStatSize];
    for (int depth = 0; at > 1 && depth < 4096; ++depth) {
        if (at == self)
            return running(p);
        Stat s;
        if (!readStat(AT_FDCWD, at, s, stat, sizeof stat))
            return false;
        at = s.parent;
    }
    return false;
}

bool LinuxProcesses::replaced(qint64 pid)
{
    Pin* p = pinned(pid);
    if (!p || !running(*p))
        return false;
    char exe[PATH_MAX + 1];
    const ssize_t n = readExe(AT_FDCWD, pid, exe, sizeof exe);
    const QString now = n > 0 ? fromSys(QByteArrayView(exe, n)) : QString();
    char stat[kStatSize];
    Stat s;
    if (!readStat(AT_FDCWD, pid, s, stat, sizeof stat) || !running(*p))
        return false;
    const QByteArray comm(s.comm, s.commLength);
    // Without the executable it was pinned with, exec shows in the kernel's
    // name, which exec sets from the new file's name.
    const bool changed = p->exe.isEmpty() ? comm != p->comm : !now.isEmpty() && now != p->exe;
    if (!now.isEmpty())
        p->exe = now;
    p->comm = comm;
    return changed;
}

bool LinuxProcesses::running(Pin& p)
{
    if (p.gone)
        return false;
    if (p.fd >= 0) {
        // A pidfd turns readable once its process has ended.
        pollfd event{p.fd, POLLIN, 0};
        p.gone = ::poll(&event, 1, 0) != 0;
    } else {
        char stat[kStatSize];
        Stat s;
        p.gone = !readStat(AT_FDCWD, p.pid, s, stat, sizeof stat) || s.start != p.start;
    }
    return !p.gone;
}

bool LinuxProcesses::readPinned(qint64 pid, const char* leaf, const std::function<bool(const char* file)>& read)
{
    Pin& p = pin(pid);
    if (p.gone)
        return false;
    char file[64];
    procName(file, sizeof file, pid, leaf, true);
    return read(file) && running(p);
}

QString LinuxProcesses::path(qint64 pid, qint64)
{
    if (pid == visiting_)
        return visitingPath_;
    char exe[PATH_MAX + 1];
    ssize_t n = -1;
    if (!readPinned(pid, "exe", [&](const char* file) { return (n = readExe(AT_FDCWD, file, exe, sizeof exe)) > 0; }))
        return QString();
    return fromSys(QByteArrayView(exe, n));
}

QString LinuxProcesses::exePath(qint64 pid)
{
    if (!validPid(pid))
        return QString();
    char exe[PATH_MAX + 1];
    const ssize_t n = readExe(AT_FDCWD, pid, exe, sizeof exe);
    return n > 0 ? fromSys(QByteArrayView(exe, n)) : QString();
}

qint64 LinuxProcesses::ownerId(qint64 pid)
{
    // The owner of /proc/PID is the process's real user.
    struct stat info {};
    if (!readPinned(pid, "", [&](const char* file) { return ::stat(file, &info) == 0; }))
        return -1;
    return info.st_uid;
}

QString LinuxProcesses::owner(qint64 pid)
{
    const qint64 uid = ownerId(pid);
    if (uid < 0)
        return QString();
    passwd entry {};
    passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwuid_r(uid_t(uid), &entry, buffer.data(), buffer.size(), &found) == 0 && found)
        return fromSys(QByteArray(found->pw_name));
    return QString::number(uid);
}

QString LinuxProcesses::name(qint64 pid)
{
    if (!validPid(pid))
        return QString();
    const QString exe = exePath(pid);
    if (!exe.isEmpty())
        return lastComponent(exe);
    char stat[kStatSize];
    Stat s;
    if (!readStat(AT_FDCWD, pid, s, stat, sizeof stat))
        return QString();
    return fromSys(QByteArrayView(s.comm, s.commLength));
}

qint64 LinuxProcesses::parent(qint64 pid)
{
    const Pin& p = pin(pid);
    return p.gone ? 0 : p.parent;
}

int LinuxProcesses::kill(qint64 pid, KillFailure* why)
{
    const auto failed = [why](KillFailure reason) {
        if (why)
            *why = reason;
        return 0;
    };
    // Only what a walk examined: a pin made now would reach whoever holds the id.
    Pin* p = pinned(pid);
    if (!p || !p->walked || p->gone)
        return failed(KillFailure::Gone);
    // The pidfd reaches the pinned process or none: the signal fails once it
    // has ended, whatever has the id since. Without pidfds a narrow race
    // remains between the check and the signal.
    long sent = 0;
    if (p->fd >= 0)
        sent = ::syscall(SYS_pidfd_send_signal, p->fd, SIGKILL, nullptr, 0);
    else if (!running(*p))
        return failed(KillFailure::Gone);
    else
        sent = ::kill(static_cast<pid_t>(pid), SIGKILL);
    if (sent == 0)
        return 1;
    return failed(errno == EPERM ? KillFailure::Refused : KillFailure::Gone);
}

namespace {

// The whole of a /proc file, or none when it cannot be read.
std::optional<QByteArray> readProcFile(const char* name)
{
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
    // Every read goes through the pinned process, so a newcomer with the
    // same id never lends its command line, folder or environment.
    std::optional<QByteArray> cmdline;
    // An empty command line: the process is ending and its memory is gone.
    if (!readPinned(pid, "cmdline", [&](const char* file) { return (cmdline = readProcFile(file)) && !cmdline->isEmpty(); }))
        return std::nullopt;
    Launch launch;
    launch.argv = nulStrings(*cmdline);
    char folder[PATH_MAX + 1];
    ssize_t n = -1;
    if (readPinned(pid, "cwd", [&](const char* file) { return (n = ::readlink(file, folder, sizeof folder - 1)) > 0; }))
        launch.folder = QByteArray(folder, n);
    std::optional<QByteArray> env;
    if (readPinned(pid, "environ", [&](const char* file) { return bool(env = readProcFile(file)); }))
        launch.env = nulStrings(*env);
    return launch;
}

} // namespace platform
