#include "platform/linux/LinuxServices.h"

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

#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <stdexcept>

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

void LinuxShell::startDetached(const QString& program, const QStringList& args)
{
    QProcess::startDetached(program, args);
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

QString LinuxProgram::folder()
{
    return QCoreApplication::applicationDirPath();
}

QString LinuxProgram::exeName()
{
    return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

QString LinuxProgram::exePath()
{
    return QCoreApplication::applicationFilePath();
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
