#include "platform/linux/LinuxServices.h"
#include "platform/SysText.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QProcess>
#include <QSaveFile>
#include <QScreen>
#include <QStandardPaths>
#include <QUrl>
#include <QWidget>
#include <QWindow>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {
[[noreturn]] void fail(const QString& what, const QString& path, const QString& why)
{
    throw std::runtime_error((what + QStringLiteral(" '") + path + QStringLiteral("': ") + why).toStdString());
}
} // namespace

QString joinLinesCrlf(const QStringList& lines)
{
    QString text;
    for (const QString& line : lines)
        text += line + QStringLiteral("\r\n");
    return text;
}

bool LinuxFiles::exists(const QString& path)
{
    // Asked for every process at every tick: one stat(), no QFileInfo.
    if (path.isEmpty() || path.endsWith(QLatin1Char('/')))
        return false;
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (path.at(slash + 1) == QLatin1Char('.'))
        return false;   // a hidden file
    struct stat info;
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 && S_ISREG(info.st_mode);
}

std::optional<Files::Facts> LinuxFiles::look(const QString& path, bool dated)
{
    // Asked for every process at every tick: one stat() and, for the date,
    // localtime_r(), which keeps the time zone it has loaded.
    if (path.isEmpty() || path.endsWith(QLatin1Char('/'))
        || path.at(path.lastIndexOf(QLatin1Char('/')) + 1) == QLatin1Char('.'))
        return std::nullopt;
    struct stat info;
    if (::stat(toSys(path).constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    struct tm local;
    if (!dated)
        return Facts{info.st_size, {}, {}};
    if (!::localtime_r(&info.st_mtime, &local))
        return std::nullopt;
    return Facts{info.st_size, QDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday),
                 QTime(local.tm_hour, local.tm_min, local.tm_sec)};
}

std::optional<QStringList> LinuxFiles::readLines(const QString& path)
{
    QFile file(path);
    if (!QFileInfo(path).isFile())
        return std::nullopt;
    if (!file.open(QIODevice::ReadOnly))
        fail(QStringLiteral("Can't open"), path, file.errorString());
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        fail(QStringLiteral("Can't read"), path, file.errorString());
    QStringList lines = QString::fromUtf8(data).split(QLatin1Char('\n'));
    if (lines.last().isEmpty())
        lines.removeLast();   // the end of the last line is no line of its own
    for (QString& line : lines)
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    return lines;
}

void LinuxFiles::writeText(const QString& path, const QString& text)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        fail(QStringLiteral("Can't create"), path, file.errorString());
    const QByteArray data = text.toUtf8();
    if (file.write(data) != data.size() || !file.commit())
        fail(QStringLiteral("Can't write"), path, file.errorString());
}

QDateTime LinuxFiles::modified(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        fail(QStringLiteral("File not found"), path, QStringLiteral("no such file"));
    return info.lastModified();
}

qint64 LinuxFiles::size(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        fail(QStringLiteral("File not found"), path, QStringLiteral("no such file"));
    return info.size();
}

void LinuxFiles::remove(const QString& path)
{
    QFile file(path);
    file.setPermissions(file.permissions() | QFileDevice::WriteOwner);
    if (!file.remove())
        fail(QStringLiteral("Can't delete"), path, file.errorString());
}

void LinuxFiles::makePath(const QString& folder)
{
    if (!QDir().mkpath(folder))
        fail(QStringLiteral("Can't create folder"), folder, QStringLiteral("permission denied or not a folder"));
}

std::vector<Files::Entry> LinuxFiles::list(const QString& folder)
{
    // readdir with d_type: a large tree is walked without a stat() per entry;
    // only links and file systems that give no type are asked further.
    std::vector<Entry> entries;
    const QByteArray where = QFile::encodeName(folder.isEmpty() ? QStringLiteral(".") : folder);
    DIR* dir = ::opendir(where.constData());
    if (!dir)
        return entries;
    const int fd = ::dirfd(dir);
    while (const dirent* e = ::readdir(dir)) {
        const char* name = e->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        Entry entry{QFile::decodeName(name), false, false};
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

void LinuxShell::open(const QString& target)
{
    // Through xdg-open with an argument list: no shell sees the text.
    QProcess::startDetached(QStringLiteral("xdg-open"), {target});
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
    return QMessageBox::question(nullptr, title, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes)
        == QMessageBox::Yes;
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

bool LinuxProgram::takeInstanceLock()
{
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QDir::tempPath();
    lock_ = std::make_unique<QLockFile>(dir + QStringLiteral("/mirvak-") + exeName() + QStringLiteral(".lock"));
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
