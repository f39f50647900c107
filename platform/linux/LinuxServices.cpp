// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/LinuxServices.h"

#include "platform/SysText.h"
#include "platform/linux/FileDigest.h"
#include "widgets/KeyGate.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QProcess>
#include <QRandomGenerator>
#include <QScreen>
#include <QStandardPaths>
#include <QUrl>
#include <QWidget>
#include <QWindow>

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <memory>
#include <ctime>
#include <filesystem>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <stdexcept>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
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
    const FileVersion version = fileVersion(info);
    Files::Facts facts{info.st_size, {}, {}, version.device, version.inode, version.modifiedNs, version.changedNs};
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
    return statFacts(toSys(path).constData(), dated);
}

std::optional<Files::Facts> LinuxFiles::lookRunning(qint64 pid, const QString& path, bool dated)
{
    // The process's own link reaches the file it runs, even one deleted or
    // renamed over since: what the path shows now may be another file.
    if (pid <= 0 || !lookable(path))
        return look(path, dated);
    char link[64];
    if (proc_ < 0) {
        std::snprintf(link, sizeof link, "/proc/%lld/exe", static_cast<long long>(pid));
        return statFacts(link, dated);
    }
    std::snprintf(link, sizeof link, "%lld/exe", static_cast<long long>(pid));
    return statFacts(link, dated, proc_);
}

std::optional<QByteArray> LinuxFiles::sha256(qint64 pid, const QString& path, const Facts& version,
                                             const std::atomic_bool* cancel)
{
    // Only what runs is hashed: when the process's link cannot be read, the
    // file at its path proves nothing about it.
    if (pid <= 0)
        return hashOpen(::open(toSys(path).constData(), O_RDONLY | O_CLOEXEC), version, cancel);
    char link[64];
    std::snprintf(link, sizeof link, "/proc/%lld/exe", static_cast<long long>(pid));
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

QString LinuxEnvironment::variable(const QString& windowsName)
{
    if (qEnvironmentVariableIsSet(windowsName.toLocal8Bit().constData()))
        return qEnvironmentVariable(windowsName.toLocal8Bit().constData());
    if (windowsName == QLatin1String("ProgramFiles"))
        return QStringLiteral("/opt");
    if (windowsName == QLatin1String("TMP")) {
        const QString tmpdir = qEnvironmentVariable("TMPDIR");
        return tmpdir.isEmpty() ? QStringLiteral("/tmp") : tmpdir;
    }
    if (windowsName == QLatin1String("USERPROFILE"))
        return QDir::homePath();
    if (windowsName == QLatin1String("OS"))
        return QStringLiteral("Linux");
    return QString();   // SYSTEMDRIVE, SystemDrive: the root folder has no drive name
}

QString LinuxEnvironment::startupFolder()
{
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || !QDir::isAbsolutePath(config))
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/autostart");
}

bool LinuxShell::canOpen(const QString& target)
{
    // QProcess passes arguments in the local 8-bit encoding; the kernel refuses
    // one of MAX_ARG_STRLEN (32 pages) or more, its closing NUL included.
    return target.toLocal8Bit().size() < 32 * ::sysconf(_SC_PAGESIZE);
}

namespace {
// True when the desktop entry's program is installed: the first word of its
// TryExec or Exec line, looked up as the desktop would; for one that runs in
// a terminal, a terminal too (xdg-open takes $TERMINAL or x-terminal-emulator).
bool installed(const QString& entry)
{
    QFile file(entry);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QString program;
    bool terminal = false;
    for (const QByteArray& raw : file.readAll().split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.startsWith("TryExec=") || (program.isEmpty() && line.startsWith("Exec=")))
            program = QString::fromUtf8(line.mid(line.indexOf('=') + 1)).section(QLatin1Char(' '), 0, 0).remove(QLatin1Char('"'));
        terminal = terminal || line == "Terminal=true";
    }
    const QString term = qEnvironmentVariable("TERMINAL").section(QLatin1Char(' '), 0, 0);
    const auto found = [](const QString& name) { return !name.isEmpty() && !QStandardPaths::findExecutable(name).isEmpty(); };
    return found(program) && (!terminal || found(term.isEmpty() ? QStringLiteral("x-terminal-emulator") : term));
}

// True when xdg-mime names an installed default application for the file's
// type or for a type it is a kind of (an .ini file is plain text too).
bool hasHandler(const QString& path)
{
    const QMimeType type = QMimeDatabase().mimeTypeForFile(path);
    for (const QString& name : QStringList{type.name()} + type.allAncestors()) {
        QProcess query;
        query.start(QStringLiteral("xdg-mime"), {QStringLiteral("query"), QStringLiteral("default"), name});
        if (!query.waitForFinished(2000)) {
            query.kill();
            query.waitForFinished();
            return false;
        }
        const QString entry = QString::fromLocal8Bit(query.readAllStandardOutput()).trimmed();
        const QString file = entry.isEmpty() ? QString() : QStandardPaths::locate(QStandardPaths::ApplicationsLocation, entry);
        if (!file.isEmpty())
            return installed(file);
    }
    return false;
}
} // namespace

bool LinuxShell::open(const QString& target)
{
    // xdg-open of a file with no application for it ends quietly, and its
    // status comes only once an editor it started has ended: ask first.
    if (target.startsWith(QLatin1Char('/')) && !hasHandler(target))
        return false;
    // Through xdg-open with an argument list: no shell sees the text.
    return QProcess::startDetached(QStringLiteral("xdg-open"), {target});
}

namespace {
// A NULL-ended array of pointers into `strings`, which must outlive it.
std::vector<char*> pointers(const QByteArrayList& strings)
{
    std::vector<char*> out;
    out.reserve(strings.size() + 1);
    for (const QByteArray& s : strings)
        out.push_back(const_cast<char*>(s.constData()));
    out.push_back(nullptr);
    return out;
}
} // namespace

void LinuxShell::restart(const QString& program, const Launch& launch)
{
    // QProcess takes arguments as text and cannot set argv[0]: fork and exec
    // give back the very bytes. Everything is built before the fork, so the
    // children only make calls that are safe after a fork.
    if (launch.argv.isEmpty())
        return;
    const QByteArray path = toSys(program);
    std::vector<char*> argv = pointers(launch.argv);
    std::vector<char*> envp = launch.env ? pointers(*launch.env) : std::vector<char*>();
    char** env = launch.env ? envp.data() : environ;
    const char* folder = launch.folder.isEmpty() ? nullptr : launch.folder.constData();
    const pid_t child = ::fork();
    if (child < 0)
        return;
    if (child == 0) {
        // The grandchild loses its parent at once and belongs to no one here.
        if (::fork() == 0) {
            ::setsid();
            sigset_t none;
            ::sigemptyset(&none);
            ::sigprocmask(SIG_SETMASK, &none, nullptr);
            struct sigaction standard = {};
            standard.sa_handler = SIG_DFL;
            for (int sig = 1; sig < NSIG; ++sig)
                ::sigaction(sig, &standard, nullptr);   // an ignored signal stays ignored over exec
            if (folder && ::chdir(folder) != 0)
                folder = nullptr;   // a folder that is gone: this process's own, as without one
            ::execve(path.constData(), argv.data(), env);
            ::_exit(127);
        }
        ::_exit(0);
    }
    while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
}

QRect LinuxDesktop::screenGeometry()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry() : QRect();
}

QRect LinuxDesktop::availableGeometry()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

QRect LinuxDesktop::trayGeometry()
{
    return tray ? tray->geometry() : QRect();
}

bool LinuxDesktop::trayPlacing()
{
    return tray && tray->placing();
}

qint64 LinuxDesktop::clockMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void LinuxDesktop::processEvents()
{
    QCoreApplication::processEvents();
}

void LinuxDesktop::startMove(QWidget* window)
{
    if (window && window->windowHandle())
        window->windowHandle()->startSystemMove();
}

bool LinuxDesktop::askYesNo(const QString& title, const QString& text)
{
    // Both questions end something (the guard, records): a stray Enter must not answer Yes,
    // nor keys typed for another window answer at all.
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::No);
    const QList<QWidget*> buttons{box.button(QMessageBox::Yes), box.button(QMessageBox::No)};
    new KeyGate(&box, [this] { return clockMs(); }, buttons);
    return box.exec() == QMessageBox::Yes;
}

void LinuxDesktop::message(const QString& title, const QString& text)
{
    QMessageBox::information(nullptr, title, text);
}

QString LinuxDesktop::pickFile(const QString& title, const QString& folder)
{
    const QString file = QFileDialog::getOpenFileName(nullptr, title, folder);
    return file.isEmpty() ? file : QFileInfo(file).canonicalFilePath();
}

void LinuxDesktop::quit()
{
    std::_Exit(0);
}

LinuxProgram::LinuxProgram()
{
    // Portable: the executable's folder holds settings.ini and may be written.
    const QString own = QCoreApplication::applicationDirPath();
    if (QFileInfo(own + QStringLiteral("/settings.ini")).isFile() && QFileInfo(own).isWritable()) {
        folders_ = {own, own, own};
        return;
    }
    // Installed: bin/ beside share/mirvak/, the user's files in the XDG folders.
    folders_.resources = QDir::cleanPath(own + QStringLiteral("/../share/mirvak"));
    folders_.config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/mirvak");
    folders_.data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/mirvak");
    const QString settings = folders_.config + QStringLiteral("/settings.ini");
    const QString shipped = folders_.resources + QStringLiteral("/settings.ini");
    if (!QFileInfo::exists(settings) && QFileInfo::exists(shipped) && QDir().mkpath(folders_.config)
        && QFile::copy(shipped, settings))
        QFile::setPermissions(settings, QFile::permissions(settings) | QFileDevice::WriteOwner);   // the user edits it
    if (QFileInfo::exists(settings))
        QDir().mkpath(folders_.data);   // the lists are saved by replacing files there
}

QString LinuxProgram::exeName()
{
    return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

unsigned LinuxProgram::userId()
{
    return ::geteuid();
}

QString LinuxProgram::exePath()
{
    // The kernel's own name of this executable, as the walk reads it for
    // every process, so that the scan knows this process by its path.
    if (exePath_.isEmpty()) {
        char target[PATH_MAX + 1];
        ssize_t n = ::readlink("/proc/self/exe", target, sizeof target - 1);
        constexpr char deleted[] = " (deleted)";
        constexpr ssize_t tail = sizeof deleted - 1;
        if (n > tail && std::memcmp(target + n - tail, deleted, tail) == 0)
            n -= tail;
        exePath_ = n > 0 ? fromSys(QByteArrayView(target, n)) : QCoreApplication::applicationFilePath();
    }
    return exePath_;
}

QString LinuxProgram::description()
{
    return QStringLiteral("Protection against spyware, trojans and viruses. "
                          "A manager of the running programs with an allow list and a deny list.");
}

QString LinuxProgram::lockPath(bool quiet)
{
    QString dir;
    if (quiet && qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        // The folder Qt falls back to, with a warning, for the guard's lock;
        // a look at that lock (--allow-running) finds it without the warning.
        const passwd* user = ::getpwuid(::geteuid());
        dir = QDir::tempPath() + QStringLiteral("/runtime-") + (user ? fromSys(user->pw_name) : QString());
    } else {
        dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    }
    if (dir.isEmpty())
        dir = QDir::tempPath();
    return dir + QStringLiteral("/mirvak-") + exeName() + QStringLiteral(".lock");
}

bool LinuxProgram::otherCopyRuns()
{
    // Reads the lock's owner; a QLockFile that was never locked leaves the file alone.
    qint64 owner = 0;
    QString host;
    QString name;
    if (!QLockFile(lockPath(true)).getLockInfo(&owner, &host, &name) || owner == QCoreApplication::applicationPid())
        return false;
    // As QLockFile judges a lock stale: its id is free, or runs another program now.
    if (::kill(static_cast<pid_t>(owner), 0) != 0 && errno == ESRCH)
        return false;
    const QString exe = QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(owner));
    return exe.isEmpty() || QFileInfo(exe).fileName() == name;
}

bool LinuxProgram::takeInstanceLock()
{
    lock_ = std::make_unique<QLockFile>(lockPath());
    lock_->setStaleLockTime(0);   // a lock left by a crashed copy is taken over
    if (lock_->tryLock(0))
        return true;
    // A lock left by a copy that had this very process id (a crash, then a
    // fresh session handing out the same id) names this process as its owner.
    qint64 owner = 0;
    QString host;
    QString name;
    if (lock_->error() == QLockFile::LockFailedError && lock_->getLockInfo(&owner, &host, &name)
        && owner == QCoreApplication::applicationPid() && lock_->removeStaleLockFile())
        return lock_->tryLock(0);
    return false;
}

} // namespace platform
