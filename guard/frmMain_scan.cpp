#include "guard/frmMain.h"

#include "process/mdProcess.h"
#include "store/mdCollection.h"
#include "store/mdSettings.h"

#include <QLocale>
#include <exception>
#include <limits>

using namespace mdSettings;

namespace {

constexpr int kMaxTicks = std::numeric_limits<int>::max();

// Found in a working list; a process without a known path matches any record
// of the same file name.
bool listed(frmMain& m, const Collection& list)
{
    const QString suffix = m.appPath.isEmpty() ? QStringLiteral("|") : QString();
    return mdCollection::clnSearch(m.app, list, m.appRecord, suffix) > 0;
}

bool safeMode(frmMain& m) { return isOn(m.app, QStringLiteral("safe_level")); }

// While the candidate's path (or, under safe_level 1, its arguments) cannot be
// read yet, it is waited for up to path_search milliseconds, one tick at a time.
bool keepWaiting(frmMain& m)
{
    if ((m.appLaunch || !safeMode(m)) && !m.appPath.isEmpty())
        return false;
    const double wait = numSetting(m.app, QStringLiteral("path_search"));
    const int interval = m.time.interval();
    if (interval <= 0)
        fail(QStringLiteral("Division by zero"));
    if (!(wait / interval > m.waitTicks))
        return false;
    if (m.waitTicks == kMaxTicks)
        fail(QStringLiteral("Overflow"));
    ++m.waitTicks;
    return true;
}

// An unknown process found by the walk becomes the candidate.
void takeCandidate(frmMain& m, qint64 moduleId)
{
    m.appModule = moduleId;
    m.appArgs.clear();
    m.appLaunch.reset();
    if (safeMode(m))
        m.takeArgs();
    if (keepWaiting(m))
        return;
    m.ShowMsg();
}

// One more look at the candidate that is waited for.
void settlePending(frmMain& m)
{
    if (m.appPath.isEmpty())
        m.appPath = mdProcess::TakePath(m.app, m.appPid, m.appModule);
    if (safeMode(m) && !m.appLaunch)
        m.takeArgs();
    if (keepWaiting(m))
        return;
    m.waitTicks = 0;
    if (m.isSelf(m.appName, m.appPath))
        return;
    m.appRecord = m.strProcess(m.appName, m.appPath);
    if (listed(m, m.app.allowTmp))
        return;
    if (listed(m, m.app.denyTmp)) {
        mdProcess::KillProcess(m.app, m.appPid);
        return;
    }
    m.ShowMsg();
}

} // namespace

void frmMain::time_Timer()
{
    guarded(app, "frmMain", "time_Timer", [&] {
        const double interval = numSetting(app, QStringLiteral("check_interval"));
        const double period = numSetting(app, QStringLiteral("tmp_interval"));
        // The period counts ticks, so time with the timer off does not count.
        if (interval * tmpTicks >= period * 60) {
            app.allowTmp = mdCollection::clnEq(app, app.allowList);
            app.denyTmp = mdCollection::clnEq(app, app.denyList);
            tmpTicks = 0;
        }
        TakeProcesses();
        if (period > 0) {
            if (tmpTicks == kMaxTicks)
                fail(QStringLiteral("Overflow"));
            ++tmpTicks;
        }
    });
}

void frmMain::TakeProcesses()
{
    guarded(app, "frmMain", "TakeProcesses", [&] {
        if (waitTicks > 0) {
            settlePending(*this);
            return;
        }
        bool found = false;
        bool cut = false;
        qint64 moduleId = 0;
        std::exception_ptr failure;
        app.sys.processes.walk([&](const platform::ProcessEntry& entry) {
            try {
                const auto nul = entry.exeName.indexOf(QChar(0));
                appName = nul < 0 ? entry.exeName : entry.exeName.left(nul);
                appParent = QString::number(entry.parentPid);
                if (appName.isEmpty() || appName == QLatin1String("System")
                    || appName == QLatin1String("[System Process]"))
                    return true;
                appPid = entry.pid;
                if (appPid == 0) {
                    cut = true;
                    return false;
                }
                appPath = mdProcess::TakePath(app, appPid, entry.moduleId);
                if (isSelf(appName, appPath))
                    return true;
                appRecord = strProcess(appName, appPath);
                if (!listed(*this, app.allowTmp)) {
                    if (!listed(*this, app.denyTmp)) {
                        found = true;
                        moduleId = entry.moduleId;
                        return false;
                    }
                    mdProcess::KillProcess(app, appPid);
                }
                if (numSetting(app, QStringLiteral("clean_value")) > 0 && app.seenPending)
                    app.seenRecords += appRecord + QLatin1Char(':');
                return true;
            } catch (...) {
                // Leave the walk first, so the snapshot is closed; fail after.
                failure = std::current_exception();
                return false;
            }
        });
        if (failure)
            std::rethrow_exception(failure);
        if (found)
            takeCandidate(*this, moduleId);
        else if (!cut)
            app.seenPending = false;
    });
}

QString frmMain::strProcess(const QString& name, const QString& path)
{
    QString record = name;
    guarded(app, "frmMain", "strProcess", [&] {
        if (path.isEmpty() || !fileExists(app, path))
            return;
        const double level = numSetting(app, QStringLiteral("list_level"));
        if (level > 2)
            record += QLatin1Char('|')
                      + QLocale::c().toString(app.sys.files.modified(path).toLocalTime(),
                                              QStringLiteral("yyyy.MM.dd H:mm"));
        if (level > 1)
            record += QLatin1Char('|') + fSize(app.sys.files.size(path));
        if (level > 0)
            record += QLatin1Char('|') + path;
    });
    return record;
}

QString frmMain::fSize(qint64 bytes)
{
    QString text;
    guarded(app, "frmMain", "fSize", [&] {
        if (bytes < 1024) {
            text = QString::number(bytes) + QLatin1Char('b');
            return;
        }
        // Hundredths of the unit in whole numbers, rounded half to even, so a
        // tie is a tie exactly and any 64-bit size fits.
        const qint64 unit = bytes < 1048576 ? 1024 : 1048576;
        const qint64 rest = bytes % unit;
        qint64 hundredths = bytes / unit * 100 + rest * 100 / unit;
        const qint64 left = rest * 100 % unit * 2;
        if (left > unit || (left == unit && hundredths % 2 != 0))
            ++hundredths;
        // "." always: a list record must not change with the locale.
        text = QString::number(hundredths / 100);
        if (const qint64 cents = hundredths % 100) {
            QString fraction = QStringLiteral("%1").arg(cents, 2, 10, QLatin1Char('0'));
            if (fraction.endsWith(QLatin1Char('0')))
                fraction.chop(1);
            text += QLatin1Char('.') + fraction;
        }
        text += unit == 1024 ? QLatin1Char('K') : QLatin1Char('M');
    });
    return text;
}

bool frmMain::isSelf(const QString& name, const QString& path)
{
    return name == app.sys.program.exeName() && (path.isEmpty() || path == app.sys.program.exePath());
}
