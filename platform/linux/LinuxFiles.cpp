// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/LinuxFiles.h"

#include "platform/SysText.h"
#include "platform/linux/FileDigest.h"
#include "platform/linux/ProcName.h"

#include <QRandomGenerator>

#include <cerrno>
#include <climits>
#include <chrono>
#include <cstring>
#include <cstdio>
#include <memory>
#include <filesystem>
#include <dirent.h>
#include <fcntl.h>
#include <stdexcept>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {
[[noreturn]] void fail(const QString& what, const QString& path, const QString& why)
{
    // In the system's bytes, so the path reaches the log as it is named.
    throw std::runtime_error(toSys(QString(what + QStringLiteral(" '") + path + QStringLiteral("': ") + why))
                                 .toStdString());
}

[[noreturn]] void failErrno(const QString& what, const QString& path)
{
    fail(what, path, QString::fromLocal8Bit(std::strerror(errno)));
}

// ".", then six letters that mix both cases, as QSaveFile names its copies;
// the mix tells them from a suffix that people type ("backup").
QByteArray tempSuffix()
{
    static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    QByteArray suffix(7, '.');
    do {
        for (int i = 1; i < 7; ++i)
            suffix[i] = kLetters[QRandomGenerator::global()->bounded(52)];
    } while (!isTempCopyName(QString::fromLatin1(suffix), QString()));
    return suffix;
}

bool writeAll(int fd, const QByteArray& bytes)
{
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        left -= n;
    }
    return true;
}
} // namespace

bool LinuxFiles::exists(const QString& path)
{
    return look(path, false).has_value();
}

namespace {

// The digest of the descriptor's file, which it closes.
std::optional<QByteArray> hashOpen(int fd, const Files::Facts& version, const std::atomic_bool* cancel)
{
    auto digest = fileDigest(fd, version.version(), cancel);
    if (fd >= 0)
        ::close(fd);
    return digest;
}

// The facts of the regular file that `name` reaches from `dir`, following links.
std::optional<Files::Facts> statFacts(const char* name, bool dated, int dir = AT_FDCWD)
{
    struct stat info;
    if (::fstatat(dir, name, &info, 0) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    Files::Facts facts{fileVersion(info), {}, {}};
    if (!dated)
        return facts;
    struct tm local;
    if (!::localtime_r(&info.st_mtime, &local))
        return std::nullopt;
    facts.date = QDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
    facts.time = QTime(local.tm_hour, local.tm_min, local.tm_sec);
    return facts;
}

// A hidden file (its name begins with ".") is not looked at.
bool lookable(const QString& path)
{
    return !path.isEmpty() && !path.endsWith(QLatin1Char('/'))
        && path.at(path.lastIndexOf(QLatin1Char('/')) + 1) != QLatin1Char('.');
}

} // namespace

LinuxFiles::LinuxFiles() : proc_(::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}

LinuxFiles::~LinuxFiles()
{
    if (proc_ >= 0)
        ::close(proc_);
}

std::optional<Files::Facts> LinuxFiles::look(const QString& path, bool dated)
{
    // Asked for every process at every tick: one stat() and, for the date,
    // localtime_r(), which keeps the time zone it has loaded.
    if (!lookable(path))
        return std::nullopt;
    // A path of ASCII alone, nearly every one, is copied onto the stack: the
    // conversion of toSys() would cost more than the stat() itself.
    char ascii[PATH_MAX];
    const qsizetype length = path.size();
    if (length < qsizetype(sizeof ascii)) {
        const QChar* text = path.constData();
        qsizetype at = 0;
        for (; at < length && text[at].unicode() != 0 && text[at].unicode() < 0x80; ++at)
            ascii[at] = char(text[at].unicode());
        if (at == length) {
            ascii[at] = '\0';
            return statFacts(ascii, dated);
        }
    }
    return statFacts(toSys(path).constData(), dated);
}

std::optional<Files::Facts> LinuxFiles::lookRunning(qint64 pid, const QString& path, bool dated)
{
    // The process's own link reaches the file it runs, even one deleted or
    // renamed over since: what the path shows now may be another file.
    if (pid <= 0 || !lookable(path))
        return look(path, dated);
    char link[64];
    procName(link, sizeof link, pid, "exe", proc_ < 0);
    return statFacts(link, dated, proc_ < 0 ? AT_FDCWD : proc_);
}

std::optional<QByteArray> LinuxFiles::sha256(qint64 pid, const QString& path, const Facts& version,
                                             const std::atomic_bool* cancel)
{
    // Only what runs is hashed: when the process's link cannot be read, the
    // file at its path proves nothing about it.
    if (pid <= 0)
        return hashOpen(::open(toSys(path).constData(), O_RDONLY | O_CLOEXEC), version, cancel);
    char link[64];
    procName(link, sizeof link, pid, "exe", true);
    return hashOpen(::open(link, O_RDONLY | O_CLOEXEC), version, cancel);
}

std::optional<QByteArray> LinuxFiles::readBytes(const QString& path)
{
    const int fd = ::open(toSys(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return std::nullopt;
        failErrno(QStringLiteral("Can't open"), path);
    }
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    QByteArray bytes;
    bytes.reserve(info.st_size);
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            errno = error;
            failErrno(QStringLiteral("Can't read"), path);
        }
        if (n == 0)
            break;
        bytes.append(chunk, n);
    }
    ::close(fd);
    return bytes;
}

void LinuxFiles::writeBytes(const QString& path, const QByteArray& bytes, bool sync)
{
    // By hand rather than QSaveFile, whose QString name cannot carry bytes
    // that are not UTF-8; the steps are the same.
    const QByteArray target = toSys(path);
    struct stat old;
    const bool existed = ::stat(target.constData(), &old) == 0;
    if (existed && (S_ISDIR(old.st_mode) || ::access(target.constData(), W_OK) != 0))
        fail(QStringLiteral("Can't create"), path, QStringLiteral("Permission denied"));
    QByteArray temp;
    int fd = -1;
    for (int tries = 0; fd < 0 && tries < 100; ++tries) {
        temp = target + tempSuffix();
        fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, existed ? 0600 : 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0)
        failErrno(QStringLiteral("Can't create"), path);
    if (existed)
        ::fchmod(fd, old.st_mode & 07777);
    bool ok = writeAll(fd, bytes) && (!sync || ::fdatasync(fd) == 0);
    int error = errno;
    ok = ::close(fd) == 0 && ok;
    if (ok && ::rename(temp.constData(), target.constData()) == 0)
        return;
    error = ok ? errno : error;
    ::unlink(temp.constData());
    errno = error;
    failErrno(QStringLiteral("Can't write"), path);
}

QDateTime LinuxFiles::modified(const QString& path)
{
    struct stat info;
    if (::stat(toSys(path).constData(), &info) != 0)
        fail(QStringLiteral("File not found"), path, QStringLiteral("no such file"));
    return QDateTime::fromMSecsSinceEpoch(qint64(info.st_mtim.tv_sec) * 1000 + info.st_mtim.tv_nsec / 1000000);
}

qint64 LinuxFiles::size(const QString& path)
{
    struct stat info;
    if (::stat(toSys(path).constData(), &info) != 0)
        fail(QStringLiteral("File not found"), path, QStringLiteral("no such file"));
    return info.st_size;
}

void LinuxFiles::remove(const QString& path)
{
    const QByteArray name = toSys(path);
    struct stat info;
    if (::lstat(name.constData(), &info) == 0 && S_ISREG(info.st_mode))
        ::chmod(name.constData(), info.st_mode | S_IWUSR);
    if (::unlink(name.constData()) != 0)
        failErrno(QStringLiteral("Can't delete"), path);
}

void LinuxFiles::makePath(const QString& folder)
{
    std::error_code error;
    const std::filesystem::path where(toSys(folder).toStdString());
    std::filesystem::create_directories(where, error);
    if (!std::filesystem::is_directory(where, error))
        fail(QStringLiteral("Can't create folder"), folder, QStringLiteral("permission denied or not a folder"));
}

namespace {
// flock() on a file of its own: the kernel lets it go when the holder ends,
// however it ends, so a crash leaves no lock behind.
class FileLock : public Files::Lock {
public:
    explicit FileLock(int fd) : fd_(fd) {}
    ~FileLock() override
    {
        if (fd_ >= 0)
            ::close(fd_);   // closing lets the lock go
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    int fd_;
};
} // namespace

std::unique_ptr<Files::Lock> LinuxFiles::lock(const QString& path, int waitMs)
{
    const int fd = ::open(toSys(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        return std::make_unique<FileLock>(-1);
    auto held = std::make_unique<FileLock>(fd);
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR)
            failErrno(QStringLiteral("Can't lock"), path);
        if (std::chrono::steady_clock::now() >= until)
            fail(QStringLiteral("Can't lock"), path, QStringLiteral("another program holds it"));
        ::usleep(2000);
    }
    return held;
}

std::vector<Files::Entry> LinuxFiles::list(const QString& folder)
{
    // readdir with d_type: a large tree is walked without a stat() per entry;
    // only links and file systems that give no type are asked further.
    std::vector<Entry> entries;
    const QByteArray where = folder.isEmpty() ? QByteArray(".") : toSys(folder);
    DIR* dir = ::opendir(where.constData());
    if (!dir)
        return entries;
    const int fd = ::dirfd(dir);
    while (const dirent* e = ::readdir(dir)) {
        const char* name = e->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        Entry entry{fromSys(name), false, false};
        unsigned char type = e->d_type;
        struct stat st;
        if (type == DT_UNKNOWN && ::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0)
            type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : S_ISLNK(st.st_mode) ? DT_LNK : DT_FIFO;
        if (type == DT_DIR)
            entry.folder = true;
        else if (type == DT_REG)
            entry.regular = true;
        else if (type == DT_LNK)
            entry.regular = ::fstatat(fd, name, &st, 0) == 0 && S_ISREG(st.st_mode);
        entries.push_back(std::move(entry));
    }
    ::closedir(dir);
    return entries;
}

} // namespace platform
