// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/LinuxShell.h"

#include "platform/SysText.h"

#include <QFile>
#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace platform {

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

} // namespace platform
