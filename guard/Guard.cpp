// SPDX-License-Identifier: GPL-3.0-or-later
#include "guard/Guard.h"

#include "guard/Events.h"
#include "guard/GateLink.h"
#include "guard/Running.h"
#include "process/mdProcess.h"
#include "store/mdCollection.h"
#include "store/mdLists.h"
#include "store/Record.h"
#include "store/RecordText.h"
#include "store/mdSettings.h"
#include "store/mdFailures.h"

#include <QSet>
#include <algorithm>
#include <exception>
#include <limits>
#include <map>
#include <optional>
#include <tuple>

using namespace mdSettings;
using namespace mdLists;
using namespace mdFailures;

namespace {
// Walks the processes with `visit`. What `visit` throws leaves the walk
// first, so the snapshot is closed, and is thrown after it.
template <typename Visit>
void walkProcesses(App& app, Visit&& visit)
{
    std::exception_ptr failure;
    app.sys.processes.walk([&](const platform::ProcessEntry& entry) {
        try {
            return visit(entry);
        } catch (...) {
            failure = std::current_exception();
            return false;
        }
    });
    if (failure)
        std::rethrow_exception(failure);
}

constexpr int kMaxTicks = std::numeric_limits<int>::max();
constexpr qsizetype kKnownFiles = 8192;

// What the walk shows of one process.
struct Look {
    QString name;
    qint64 pid = 0;
    QString path;
    platform::PathState state = platform::PathState::Read;
    QString record;
    bool pending = false;    // its hash is being computed
    bool unhashed = false;   // its file cannot be read to hash
    QString rule;            // what denied it
};

// Found in a working list. Another user's process, whose path we may not
// read, matches any record of the same file name; a process whose path is
// missing for any other reason has only a name it chose itself, which
// proves nothing, so it is found in no list and the user is asked.
bool listed(App& app, const Collection& list, const QString& record, const QString& path, platform::PathState state)
{
    if (path.isEmpty() && state != platform::PathState::Refused)
        return false;
    const QString suffix = path.isEmpty() ? QStringLiteral("|") : QString();
    return mdCollection::clnSearch(app, list, record, suffix) > 0;
}


// What the administrator's rules and the user's lists say of a record, as
// listed() finds it.
Policy::Decision decided(App& app, const Collection& allow, const Collection& deny, const QString& record,
                         const QString& path, platform::PathState state)
{
    if (path.isEmpty() && state != platform::PathState::Refused)
        return {};
    return app.policy.decide(record, path.isEmpty() ? QStringLiteral("|") : QString(), allow, deny);
}

Policy::Decision decided(Guard& m)
{
    // Without its hash the record is that of level 3, which another file of the same facts shares.
    if (m.appUnhashed)
        return {};
    return decided(m.app, m.app.allowTmp, m.app.denyTmp, m.appRecord, m.appPath, m.appPathState);
}

bool safeMode(Guard& m) { return isOn(m.app, QStringLiteral("safe_level")); }

QString sizeText(App& app, qint64 bytes);

bool isOwnProcess(App& app, const QString& name, const QString& path, platform::PathState state)
{
    // Known by the path the system gives this very process, whatever the
    // file is called; without a path, by the exact file name only when the
    // system keeps the path from us, as for another user's copy.
    const QString self = app.sys.program.exePath();
    if (!path.isEmpty())
        return path == self;
    return state == platform::PathState::Refused && name == QStringView(self).mid(self.lastIndexOf(QLatin1Char('/')) + 1);
}

// The record of strProcess with list_level converted once for all the
// processes of a tick: `level` holds it after its first use. At level 4 the
// hash of the executable of process `pid` ends it; `hash` tells whether it
// is being computed (Pending) or cannot be (Failed).
QString processRecord(App& app, qint64 pid, const QString& name, const QString& path, std::optional<double>& level,
                      HashCache::State& hash)
{
    QString record = name;
    hash = HashCache::State::Ready;
    guarded(app, "frmMain", "strProcess", [&] {
        if (path.isEmpty())
            return;
        std::optional<platform::Files::Facts> file;
        // The file first, as fileExists() would: without it the setting is
        // not read at all.
        if (!level) {
            file = app.sys.files.look(path, false);
            if (!file)
                return;
            level = numSetting(app, QStringLiteral("list_level"));
        }
        // At level 4 the record tells what runs, which the path may show no
        // longer: a file renamed over it says nothing of the process. One
        // stat() gives the facts; the date is put in words only for a
        // version not seen before.
        const bool running = *level > 3 && pid > 0;
        const auto look = [&](bool dated) {
            return running ? app.sys.files.lookRunning(pid, path, dated) : app.sys.files.look(path, dated);
        };
        if (running || !file)
            file = look(false);
        if (!file) {
            if (running)
                hash = HashCache::State::Failed;
            return;
        }
        auto known = app.knownFiles.find(path);
        if (known == app.knownFiles.end() || known->version != file->version() || known->level != *level) {
            Record facts;
            if (*level > 2) {
                file = look(true);
                if (!file) {
                    if (running)
                        hash = HashCache::State::Failed;
                    return;
                }
                facts.date = recordText::date(file->date, file->time);
            }
            if (*level > 1)
                facts.size = sizeText(app, file->size);
            if (*level > 0)
                facts.path = path;
            if (app.knownFiles.size() >= kKnownFiles)
                app.knownFiles.clear();   // paths made up by the thousand: no walk would ever let go of them
            known = app.knownFiles.insert(path, {file->version(), *level, facts.factsText(), true, {}, {}});
        }
        known->seen = true;
        if (!known->record.isEmpty() && known->name == name) {
            record = known->record;
            return;
        }
        QString hex;
        if (*level > 3) {
            HashCache::Result found = app.hashes.find(pid, path, *file);
            hash = found.state;
            if (hash != HashCache::State::Ready) {
                record = Record::join(name, known->text, {});
                return;
            }
            hex = std::move(found.hex);
        }
        record = Record::join(name, known->text, hex);
        // Kept whole: a tick over unchanged programs builds no record text.
        known->name = name;
        known->record = record;
    });
    return record;
}

// Pending: unknown until its hash is ready, so found in no list yet.
enum class Verdict { Skip, Cut, Allowed, Denied, Unknown, Pending };

// Reads one process of the walk into `look` and finds it in the lists.
Verdict examine(App& app, const platform::ProcessEntry& entry, std::optional<double>& level, Look& look,
                const Collection& allow, const Collection& deny)
{
    const auto nul = entry.exeName.indexOf(QChar(0));
    look.name = nul < 0 ? entry.exeName : entry.exeName.left(nul);
    if (look.name.isEmpty() || look.name == QLatin1String("System") || look.name == QLatin1String("[System Process]"))
        return Verdict::Skip;
    look.pid = entry.pid;
    if (look.pid == 0)
        return Verdict::Cut;
    look.path = mdProcess::TakePath(app, look.pid, entry.moduleId);
    look.state = look.path.isEmpty() ? entry.pathState : platform::PathState::Read;
    if (isOwnProcess(app, look.name, look.path, look.state))
        return Verdict::Skip;
    HashCache::State hash;
    look.record = processRecord(app, look.pid, look.name, look.path, level, hash);
    look.pending = hash == HashCache::State::Pending;
    look.unhashed = hash == HashCache::State::Failed;
    // What runs could not be read: no record tells who it is.
    const bool identified = !look.pending && !look.unhashed;
    const Policy::Decision decision = identified ? decided(app, allow, deny, look.record, look.path, look.state)
                                                 : Policy::Decision{};
    if (decision.verdict == Policy::Verdict::Allow)
        return Verdict::Allowed;
    // What this program or its libraries started for it (Qt's session bus helper) is its own.
    if (mdProcess::OwnDescendant(app, look.pid))
        return Verdict::Skip;
    if (look.pending)
        return Verdict::Pending;
    if (look.unhashed)
        return Verdict::Unknown;
    if (decision.verdict == Policy::Verdict::Deny) {
        look.rule = decision.rule;
        return Verdict::Denied;
    }
    return Verdict::Unknown;
}

// In monitor mode: notes a program that would have been ended or asked
// about, once per version, in seen.csv and the journal.
void noteSeen(App& app, events::Kind kind, qint64 pid, const QString& name, const QString& path,
              const QString& record, const QString& rule)
{
    if (app.seenList.search(record, QString()) > 0)
        return;
    app.seenList.add(record);
    putList(app, app.seenList, QStringLiteral("seen.csv"), false);
    events::send(app, {kind, name, path, record, pid, -1, -1, rule, {}});
}

// The hash a level-4 record ends with, or empty text.
QString sha256Of(const QString& record)
{
    const qsizetype at = record.lastIndexOf(QLatin1String("|sha256:"));
    return at < 0 ? QString() : record.mid(at + 8);
}

// What the administrator says about a blocked program.
KillNotices::Block blockWords(const App& app)
{
    return {app.policy.fixed(QStringLiteral("block_message")).value_or(QString()),
            app.policy.fixed(QStringLiteral("block_url")).value_or(QString())};
}

// Ends a program of the deny list, and notes it for the user's notice.
void endDenied(Guard& m, qint64 pid, const QString& name, const QString& path, const QString& record,
               const QString& rule)
{
    if (events::monitoring(m.app)) {
        noteSeen(m.app, events::Kind::WouldEnd, pid, name, path, record, rule);
        return;
    }
    // Read while it runs: the event tells whose it was.
    const qint64 parent = m.app.sys.processes.parent(pid);
    const qint64 uid = m.app.sys.processes.ownerId(pid);
    const bool ended = mdProcess::KillProcess(m.app, pid) > 0;
    if (ended)
        m.killNotices.ended(name, path, m.app.sys.desktop.clockMs(), sha256Of(record));
    events::send(m.app, {ended ? events::Kind::Ended : events::Kind::EndFailed, name, path, record, pid, parent, uid,
                         rule, {}});
}

void endDenied(Guard& m, const Policy::Decision& decision)
{
    endDenied(m, m.appPid, m.appName, m.appPath, m.appRecord, decision.rule);
}

// Unknown, and not decided by the user already (only its record waits for the hash).
bool awaits(const Guard& m, Verdict verdict, const Look& look)
{
    if (verdict == Verdict::Pending)
        return std::ranges::none_of(m.heldKeeps, [&](const Guard::HeldKeep& held) { return held.pid == look.pid; });
    return verdict == Verdict::Unknown;
}

// A program of the queue still waits while it runs unknown as the same file.
bool stillQueued(const Guard::Queued& queued, Verdict verdict, const Look& look)
{
    if (verdict != Verdict::Unknown && verdict != Verdict::Pending)
        return false;
    // Its hash may have come since, which the record now ends with.
    return look.record == queued.record || look.record.startsWith(queued.record + QStringLiteral("|sha256:"));
}

// Another unknown program met while the alert asks waits its turn, once a
// record: a second process of the same program is decided with the first.
void enqueue(Guard& m, const Look& look)
{
    const auto same = [&](const Guard::Queued& queued) { return queued.pid == look.pid || queued.record == look.record; };
    if (look.pid == m.appPid || look.record == m.appRecord || std::ranges::any_of(m.queued, same))
        return;
    m.queued.push_back({look.pid, look.record});
    emit m.queueChanged(int(m.queued.size()));
}

// The candidate as the walk shows it, pinned while the walk goes on.
void takeLook(Guard& m, const Look& look)
{
    m.appName = look.name;
    m.appPid = look.pid;
    m.appPath = look.path;
    m.appPathState = look.state;
    m.appRecord = look.record;
    m.appHashPending = look.pending;
    m.appUnhashed = look.unhashed;
    m.appParent = QString::number(m.app.sys.processes.parent(m.appPid));
    m.app.sys.processes.hold(m.appPid);
}

// While the alert asks or a candidate waits, the deny list still holds: its
// programs are ended at each tick, and nothing else happens, so the
// candidate stays as it is. The queue loses what ended or is known now, and
// while the alert asks it takes the new unknown programs.
void sweep(Guard& m)
{
    std::optional<double> level;
    Look look;
    bool cut = false;
    QSet<qint64> waits;
    walkProcesses(m.app, [&](const platform::ProcessEntry& entry) {
        const Verdict verdict = examine(m.app, entry, level, look, m.app.allowTmp, m.app.denyTmp);
        if (verdict == Verdict::Denied)
            endDenied(m, look.pid, look.name, look.path, look.record, look.rule);
        cut = verdict == Verdict::Cut;
        const auto queued = std::ranges::find(m.queued, entry.pid, &Guard::Queued::pid);
        if (queued != m.queued.end()) {
            if (stillQueued(*queued, verdict, look))
                waits.insert(entry.pid);
        } else if (m.alertUp && awaits(m, verdict, look)) {
            enqueue(m, look);
            waits.insert(entry.pid);
        }
        return !cut;
    });
    // Only a walk that saw every process tells which ended.
    if (!cut && std::erase_if(m.queued, [&](const Guard::Queued& queued) { return !waits.contains(queued.pid); }) > 0)
        emit m.queueChanged(int(m.queued.size()));
}

// While the candidate's path (or, under safe_level 1, its arguments) cannot be
// read yet, it is waited for up to path_search milliseconds, one tick at a time.
bool keepWaiting(Guard& m)
{
    if ((m.appLaunch || !safeMode(m)) && !m.appPath.isEmpty() && !m.appHashPending)
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
void takeCandidate(Guard& m, qint64 moduleId)
{
    m.appModule = moduleId;
    m.appArgs.clear();
    m.appLaunch.reset();
    if (safeMode(m))
        m.takeArgs();
    if (keepWaiting(m)) {
        // The sweeps while it waits must not lose it.
        m.app.sys.processes.hold(m.appPid);
        return;
    }
    m.ShowMsg();
}

// One more look at the candidate that is waited for.
void settlePending(Guard& m)
{
    // Since the walk it runs another program: name and path come from that one.
    if (mdProcess::Replaced(m.app, m.appPid)) {
        m.appPath = mdProcess::TakePath(m.app, m.appPid, m.appModule);
        m.appName = m.appPath.isEmpty() ? mdProcess::TakeName(m.app, m.appPid)
                                        : m.appPath.mid(m.appPath.lastIndexOf(QLatin1Char('/')) + 1);
        m.appLaunch.reset();
        m.appArgs.clear();
        m.appHashPending = true;   // its record is built anew below
    }
    if (m.appPath.isEmpty())
        m.appPath = mdProcess::TakePath(m.app, m.appPid, m.appModule);
    if (safeMode(m) && !m.appLaunch)
        m.takeArgs();
    // A pending hash may be ready now; the record tells, and keepWaiting asks.
    const bool rebuilt = m.appHashPending;
    if (rebuilt)
        m.appRecord = m.strProcess(m.appName, m.appPath);
    if (keepWaiting(m))
        return;
    m.waitTicks = 0;
    if (!m.appPath.isEmpty())
        m.appPathState = platform::PathState::Read;
    if (m.isSelf(m.appName, m.appPath, m.appPathState))
        return;
    if (!rebuilt)
        m.appRecord = m.strProcess(m.appName, m.appPath);
    if (m.appHashPending) {
        m.ShowMsg();
        return;
    }
    const Policy::Decision decision = decided(m);
    if (decision.verdict == Policy::Verdict::Allow)
        return;
    if (decision.verdict == Policy::Verdict::Deny) {
        endDenied(m, decision);
        return;
    }
    m.ShowMsg();
}

} // namespace

void Guard::time_Timer()
{
    guarded(app, "frmMain", "time_Timer", [&] {
        // What another program wrote to the lists counts from this tick on.
        reloadChanged(app);
        reloadPolicy(app);
        // A hash may be ready before its signal arrives: the held decision goes first.
        keepHeld();
    });
    // While a question is open only the deny list acts: no alert may cover it.
    if (alertUp || asking)
        guarded(app, "frmMain", "time_Timer", [&] { sweep(*this); });
    else
        guarded(app, "frmMain", "time_Timer", [&] {
            const double interval = numSetting(app, QStringLiteral("check_interval"));
            const double period = numSetting(app, QStringLiteral("tmp_interval"));
            // The period counts these ticks, so time with the timer off or the alert up does not count.
            if (interval * tmpTicks >= period * 60) {
                app.allowTmp = mdCollection::clnEq(app, app.allowList);
                app.denyTmp = mdCollection::clnEq(app, app.denyList);
                tmpTicks = 0;
            }
            // A candidate that waits keeps the process the walk examined.
            if (waitTicks == 0)
                app.sys.processes.hold(0);
            TakeProcesses();
            // The sweeps while the alert asks must not lose the process it asks about.
            if (alertUp)
                app.sys.processes.hold(appPid);
            if (period > 0) {
                if (tmpTicks == kMaxTicks)
                    fail(QStringLiteral("Overflow"));
                ++tmpTicks;
            }
        });
    // After the working lists are built: the gate decides by them.
    if (gateLink) {
        gateLink->refresh();
        // A held exec that came while the alert was busy.
        gateHeld();
    }
    tellKills();
}

void Guard::tellKills()
{
    guarded(app, "frmMain", "tellKills", [&] {
        if (!killNotices.waiting())
            return;
        if (!isOn(app, QStringLiteral("kill_notice"), true)) {
            killNotices.clear();
            return;
        }
        const QString text = killNotices.due(app.sys.desktop.clockMs(), blockWords(app));
        if (!text.isEmpty())
            app.tell(text);
    });
}

void Guard::TakeProcesses()
{
    guarded(app, "frmMain", "TakeProcesses", [&] {
        if (waitTicks > 0) {
            // While the candidate waits the deny list still holds.
            sweep(*this);
            settlePending(*this);
            return;
        }
        // A walk anew meets every unknown program anew.
        if (!queued.empty()) {
            queued.clear();
            emit queueChanged(0);
        }
        bool found = false;
        bool cut = false;
        qint64 moduleId = 0;
        // Nothing changes a setting during a tick: each is converted once.
        std::optional<double> level;
        std::optional<bool> counting;
        Look look;
        walkProcesses(app, [&](const platform::ProcessEntry& entry) {
            const Verdict verdict = examine(app, entry, level, look, app.allowTmp, app.denyTmp);
            if (verdict == Verdict::Cut)
                cut = true;
            if (verdict == Verdict::Skip || verdict == Verdict::Cut)
                return !cut;
            // Decided by the user already: only its record waits for the hash.
            if (verdict == Verdict::Pending && !awaits(*this, verdict, look))
                return true;
            // Monitor mode asks nothing: the program is noted once its record is known.
            if ((verdict == Verdict::Unknown || verdict == Verdict::Pending) && events::monitoring(app)) {
                if (verdict == Verdict::Unknown && !look.unhashed)
                    noteSeen(app, events::Kind::WouldAsk, look.pid, look.name, look.path, look.record, {});
                return true;
            }
            // Past the candidate the walk goes on: later hashes start now,
            // known denied programs end now and unknown ones wait their turn.
            if (verdict == Verdict::Unknown || verdict == Verdict::Pending) {
                if (found) {
                    enqueue(*this, look);
                    return true;
                }
                takeLook(*this, look);
                found = true;
                moduleId = entry.moduleId;
                return true;
            }
            if (verdict == Verdict::Denied)
                endDenied(*this, look.pid, look.name, look.path, look.record, look.rule);
            if (!counting)
                counting = numSetting(app, QStringLiteral("clean_value")) > 0;
            if (*counting && app.seenPending)
                app.seenRecords.insert(look.record);
            return true;
        });
        // Only a walk that saw every process tells which hashes are no longer needed.
        if (!cut) {
            app.hashes.sweep();
            app.knownFiles.removeIf([](const auto& known) { return !known.value().seen; });
            for (App::KnownFile& known : app.knownFiles)
                known.seen = false;
        }
        if (found)
            takeCandidate(*this, moduleId);
        else if (!cut)
            app.seenPending = false;
    });
}

void Guard::showNext()
{
    guarded(app, "frmMain", "showNext", [&] {
        if (queued.empty())
            return;
        const std::vector<Queued> met = std::exchange(queued, {});
        bool found = false;
        qint64 moduleId = 0;
        std::optional<double> level;
        Look look;
        // A walk of its own pins the one shown, as a tick's would.
        walkProcesses(app, [&](const platform::ProcessEntry& entry) {
            const auto was = std::ranges::find(met, entry.pid, &Queued::pid);
            if (was == met.end())
                return true;
            const Verdict verdict = examine(app, entry, level, look, app.allowTmp, app.denyTmp);
            if (verdict == Verdict::Denied)
                endDenied(*this, look.pid, look.name, look.path, look.record, look.rule);
            if (!stillQueued(*was, verdict, look))
                return true;
            if (found) {
                queued.push_back({look.pid, look.record});
                return true;
            }
            takeLook(*this, look);
            found = true;
            moduleId = entry.moduleId;
            return true;
        });
        emit queueChanged(int(queued.size()));
        if (found)
            takeCandidate(*this, moduleId);
    });
}

QString Guard::hashedRecord(qint64 pid, const QString& name, const QString& path, HashCache::State& hash)
{
    std::optional<double> level;
    return processRecord(app, pid, name, path, level, hash);
}

QString Guard::strProcess(const QString& name, const QString& path)
{
    std::optional<double> level;
    HashCache::State hash;
    QString record = processRecord(app, appPid, name, path, level, hash);
    appHashPending = hash == HashCache::State::Pending;
    appUnhashed = hash == HashCache::State::Failed;
    return record;
}

QString Guard::fSize(qint64 bytes)
{
    return sizeText(app, bytes);
}

namespace {
QString sizeText(App& app, qint64 bytes)
{
    QString text;
    guarded(app, "frmMain", "fSize", [&] { text = recordText::size(bytes); });
    return text;
}
} // namespace

void Guard::hashReady()
{
    guarded(app, "frmMain", "hashReady", [&] {
        keepHeld();
        // Only a candidate shown before its hash was known needs this: one
        // that waits is settled at the next tick.
        if (!appHashPending || !alertUp || appPath.isEmpty())
            return;
        appRecord = strProcess(appName, appPath);
        if (appHashPending)
            return;
        const Policy::Decision decision = decided(*this);
        if (decision.verdict == Policy::Verdict::Allow) {
            if (appStopped)
                decide(Decision::AllowNow);   // starts it again as the alert found it
            else
                HideMsg();
        } else if (decision.verdict == Policy::Verdict::Deny) {
            endDenied(*this, decision);
            HideMsg();
        }
    });
}

QString Guard::blockNote() const
{
    return KillNotices::blockText(blockWords(app), appName, appPath, sha256Of(appRecord));
}

QString Guard::hashDetails() const
{
    const QString hex = Record::parse(appRecord).sha256;
    return hex.isEmpty() ? QString() : QStringLiteral("sha256: ") + hex;
}

bool Guard::isSelf(const QString& name, const QString& path, platform::PathState state)
{
    return isOwnProcess(app, name, path, state);
}

namespace {
// Takes a program that runs now into `running`, unless a list knows it or it is there already.
void takeRunning(Running& running, const QString& name, const QString& path, const QString& record)
{
    if (!storable(record) || running.taken.contains(record))
        return;
    running.taken.insert(record);
    running.programs.push_back({name, path, record});
}

void sortRunning(Running& running)
{
    std::ranges::sort(running.programs, [](const Running::Program& a, const Running::Program& b) {
        return a.record < b.record;
    });
}
} // namespace

Running runningPrograms(App& app)
{
    Running running;
    guarded(app, "frmMain", "runningPrograms", [&] {
        std::optional<double> level;
        walkProcesses(app, [&](const platform::ProcessEntry& entry) {
            Look look;
            const Verdict verdict = examine(app, entry, level, look, app.allowList, app.denyList);
            if (look.unhashed)
                ++running.unhashed;
            else if (verdict == Verdict::Pending && !running.taken.contains(look.record)) {
                // Another process of the same file waits as this one does.
                running.taken.insert(look.record);
                running.waiting.push_back({look.name, look.path, look.record, look.pid});
            }
            else if (verdict == Verdict::Unknown && (!look.path.isEmpty() || look.state == platform::PathState::Refused))
                takeRunning(running, look.name, look.path, look.record);
            return verdict != Verdict::Cut;
        });
    });
    sortRunning(running);
    return running;
}

bool settleRunning(App& app, Running& running)
{
    bool changed = false;
    guarded(app, "frmMain", "settleRunning", [&] {
        std::optional<double> level;
        std::erase_if(running.waiting, [&](const Running::Waiting& waiting) {
            HashCache::State hash;
            const QString record = processRecord(app, waiting.pid, waiting.name, waiting.path, level, hash);
            if (hash == HashCache::State::Pending)
                return false;
            changed = true;
            // Another program under the id now, or one that ended: what was seen cannot be hashed.
            if (hash == HashCache::State::Failed || !record.startsWith(waiting.unhashed + QStringLiteral("|sha256:")))
                ++running.unhashed;
            else if (!listed(app, app.allowList, record, waiting.path, platform::PathState::Read)
                     && !listed(app, app.denyList, record, waiting.path, platform::PathState::Read))
                takeRunning(running, waiting.name, waiting.path, record);
            return true;
        });
    });
    if (changed)
        sortRunning(running);
    return changed;
}
