// SPDX-License-Identifier: GPL-3.0-or-later
#include "gate/Gate.h"

#include "gate/ExecRecord.h"

#include <algorithm>
#include <limits>

using namespace gatewire;

namespace {
// Digests kept; past this the cache starts over, which costs one read each.
constexpr qsizetype kMaxDigests = 8192;
// How far up the parents a process is looked for.
constexpr int kMaxDepth = 64;
} // namespace

Gate::Gate(Services services, qint64 ownPid, std::function<qint64()> clockMs)
    : sys_(services)
    , ownPid_(ownPid)
    , clock_(std::move(clockMs))
{
    // One large file hashed must not keep a small one waiting behind it.
    pool_.setMaxThreadCount(2);
    run = [this](std::function<void()> task) { pool_.start(std::move(task)); };
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &Gate::expire);
}

Gate::~Gate()
{
    pool_.waitForDone();
}

int Gate::hashing() const
{
    int n = 0;
    for (const auto& waiting : hashing_)
        n += int(waiting.size());
    return n;
}

bool Gate::byDefault(const Settings& settings)
{
    return settings.alertDefault == AlertDefault::AllowNow;
}

Gate::Guard* Gate::guardOf(qint64 uid)
{
    Guard* best = nullptr;
    for (Guard& guard : guards_)
        if (guard.uid == uid && guard.hello && guard.set && (!best || guard.order > best->order))
            best = &guard;
    return best;
}

bool Gate::inFamily(qint64 pid, qint64 ancestor)
{
    for (int depth = 0; pid > 0 && depth < kMaxDepth; ++depth) {
        if (pid == ancestor)
            return true;
        const auto info = sys_.processes.info(pid);
        if (!info || info->parent == pid)
            return false;
        pid = info->parent;
    }
    return false;
}

bool Gate::ownChild(qint64 pid)
{
    // Asked only of an exec that would not start at once: most never are.
    const auto info = sys_.processes.info(pid);
    return info && info->parent == ownPid_;
}

bool Gate::policed(qint64 uid) const
{
    return denied_.count() > 0 && uid >= kFirstUser && uid <= kLastUser;
}

void Gate::setPolicy(Collection allowed, Collection denied, bool userMayDeny)
{
    allowed_ = std::move(allowed);
    userMayDeny_ = userMayDeny;
    denied_ = std::move(denied);
    deniedHashed_ = std::any_of(denied_.begin(), denied_.end(),
                                [](const QString& record) { return record.contains(QLatin1String("|sha256:")); });
}

QString Gate::deniedRecord(const Exec& exec, const QTimeZone& zone, const QString& hex) const
{
    // Written at any level: the exec's record at each level is looked for.
    for (int level = 0; level <= (hex.isEmpty() ? 3 : 4); ++level) {
        const QString record = execRecord(level, exec.name, exec.facts, zone, hex);
        if (denied_.search(record, QString()) > 0)
            return record;
    }
    return {};
}

void Gate::exec(const platform::ExecEvent& event)
{
    // With no guard connected and no records of the administrator nothing is looked at.
    if (stopping_ || (guards_.isEmpty() && denied_.count() == 0) || event.pid <= 0 || event.pid == ownPid_) {
        sys_.events.answer(event, true);
        return;
    }
    const auto uid = sys_.processes.user(event.pid);
    Guard* guard = uid && *uid != 0 ? guardOf(*uid) : nullptr;
    if (!uid || (!guard && !policed(*uid))) {
        sys_.events.answer(event, true);
        return;
    }
    // A script runs as its interpreter and a loader as the program it loads:
    // the file that the process then is opens on its own and is decided then.
    const auto facts = sys_.files.facts(event.fd);
    if (!facts || kindOf(event.fd, facts->version()) != platform::ExecFiles::Kind::Program) {
        sys_.events.answer(event, true);
        return;
    }
    Exec exec{event, *uid, *facts, execName(facts->path), QString()};
    if (!((guard && guard->settings.listLevel > 3) || (deniedHashed_ && policed(*uid))) || !facts->regular) {
        decide(std::move(exec), QString());
        return;
    }
    const platform::FileVersion version = facts->version();
    if (const auto it = digests_.constFind(version); it != digests_.cend()) {
        decide(std::move(exec), *it);
        return;
    }
    auto& waiting = hashing_[version];
    waiting.append(std::move(exec));
    if (waiting.size() > 1)
        return;
    const int fd = sys_.files.duplicate(event.fd);
    if (fd < 0) {
        hashed(version, std::nullopt);
        return;
    }
    run([this, fd, version, facts = *facts] {
        const auto digest = sys_.files.sha256(fd, facts);
        QMetaObject::invokeMethod(this, [this, version, digest] { hashed(version, digest); }, Qt::QueuedConnection);
    });
}

platform::ExecFiles::Kind Gate::kindOf(int fd, const platform::FileVersion& version)
{
    // A version's header does not change: reading it once saves the reads of every later exec.
    if (const auto it = kinds_.constFind(version); it != kinds_.cend())
        return *it;
    if (kinds_.size() >= kMaxDigests)
        kinds_.clear();
    return kinds_.insert(version, sys_.files.kind(fd)).value();
}

void Gate::hashed(const platform::FileVersion& version, const std::optional<QByteArray>& digest)
{
    const QString hex = digest ? QString::fromLatin1(digest->toHex()) : QString();
    // A file that could not be read is read again at its next exec.
    if (digest) {
        if (digests_.size() >= kMaxDigests)
            digests_.clear();
        digests_.insert(version, hex);
    }
    const QList<Exec> waiting = hashing_.take(version);
    for (const Exec& exec : waiting)
        decide(exec, hex);
}

void Gate::decide(Exec exec, const QString& hex)
{
    Guard* guard = stopping_ ? nullptr : guardOf(exec.uid);
    const QString refusedBy = stopping_ || !policed(exec.uid) ? QString()
                                                              : deniedRecord(exec, guard ? guard->zone : systemZone_, hex);
    if (!guard) {
        sys_.events.answer(exec.event, refusedBy.isEmpty() || ownChild(exec.event.pid));
        return;
    }
    const Settings& settings = guard->settings;
    exec.record = execRecord(settings.listLevel, exec.name, exec.facts, guard->zone, hex);
    // Found as the scan finds a process whose path it read, in the tick's
    // order; the deny records were matched above, at their own levels.
    const Policy::From from = Policy::decider(allowed_, Collection(), userMayDeny_, exec.record, QString(),
                                              guard->lists[int(List::Allow)], guard->lists[int(List::Deny)])
                                  .from;
    if (refusedBy.isEmpty() && (from == Policy::From::UserAllow || from == Policy::From::SystemAllow)) {
        sys_.events.answer(exec.event, true);
        return;
    }
    const int peer = guard->peer;
    const bool denied = !refusedBy.isEmpty() || from == Policy::From::UserDeny;
    // The guard's own children start whatever they are: it launched them.
    if (inFamily(exec.event.pid, guard->pid) || ownChild(exec.event.pid)) {
        sys_.events.answer(exec.event, true);
        return;
    }
    gatewire::Exec note{++nextId_, Verdict::Unknown, true, exec.event.pid, exec.name, exec.facts.path, exec.record};
    if (denied) {
        sys_.events.answer(exec.event, false);
        note.verdict = Verdict::Denied;
        note.allowed = false;
        // The administrator's record, so that the guard names the rule.
        if (!refusedBy.isEmpty())
            note.record = refusedBy;
        tell(peer, note, true);
        return;
    }
    if (!settings.safeLevel || !guard->responsive || held() >= kMaxHeld) {
        note.allowed = !settings.safeLevel || !guard->responsive || byDefault(settings);
        sys_.events.answer(exec.event, note.allowed);
        tell(peer, note, true);
        return;
    }
    note.verdict = Verdict::Held;
    note.allowed = false;
    const qint64 now = clock_();
    held_.emplace(note.id, Held{std::move(exec), peer, false, now + kSeenMs, now + qint64(settings.gateHold) * 1000,
                                byDefault(settings)});
    tell(peer, note, false);
    arm();
}

void Gate::tell(int peer, const GateMessage& message, bool droppable)
{
    if (peer >= 0)
        sys_.peers.send(peer, encode(message), droppable);
}

void Gate::expire()
{
    const qint64 now = clock_();
    for (auto it = held_.begin(); it != held_.end();) {
        Held& held = it->second;
        std::optional<Done> done;
        // Unseen: the guard is stopped or stuck, so the lists it handed over
        // decide, and they know nothing of this program.
        if (!held.seen && now >= held.seenBy) {
            done = Done{it->first, true, Reason::Unanswered};
            if (const auto guard = guards_.find(held.peer); guard != guards_.end())
                guard->responsive = false;
        } else if (now >= held.holdUntil) {
            done = Done{it->first, held.byDefault, Reason::Timeout};
        }
        if (!done) {
            ++it;
            continue;
        }
        sys_.events.answer(held.exec.event, done->allowed);
        tell(held.peer, *done, false);
        it = held_.erase(it);
    }
    arm();
}

void Gate::arm()
{
    qint64 next = std::numeric_limits<qint64>::max();
    for (const auto& [id, held] : held_)
        next = std::min(next, held.seen ? held.holdUntil : std::min(held.seenBy, held.holdUntil));
    if (held_.empty()) {
        timer_.stop();
        return;
    }
    timer_.start(int(std::clamp<qint64>(next - clock_(), 0, 24 * 3600 * 1000)));
}

void Gate::stop()
{
    stopping_ = true;
    for (const auto& [id, held] : held_) {
        sys_.events.answer(held.exec.event, true);
        tell(held.peer, Done{id, true, Reason::Stopping}, false);
    }
    held_.clear();
    // The hashes still being read decide nothing any more.
    for (const auto& waiting : std::as_const(hashing_))
        for (const Exec& exec : waiting)
            sys_.events.answer(exec.event, true);
    hashing_.clear();
    timer_.stop();
}

void Gate::connected(int peer, qint64 uid, qint64 pid)
{
    Guard guard;
    guard.peer = peer;
    guard.uid = uid;
    guard.pid = pid;
    guard.order = ++nextOrder_;
    guards_.insert(peer, std::move(guard));
}

void Gate::drop(int peer)
{
    sys_.peers.close(peer);
    disconnected(peer);
}

void Gate::disconnected(int peer)
{
    if (!guards_.remove(peer))
        return;
    // Nobody is left to ask: the lists, which know nothing of them, decide.
    for (auto it = held_.begin(); it != held_.end();) {
        if (it->second.peer != peer) {
            ++it;
            continue;
        }
        sys_.events.answer(it->second.exec.event, true);
        it = held_.erase(it);
    }
    arm();
}

void Gate::received(int peer, const QByteArray& bytes)
{
    const auto found = guards_.find(peer);
    if (found == guards_.end())
        return;
    Guard& guard = *found;
    const auto message = decodeGuard(bytes);
    bool good = message.has_value();
    if (good && !guard.hello)
        good = std::holds_alternative<Hello>(*message) && std::get<Hello>(*message).version == kVersion;
    if (!good) {
        drop(peer);
        return;
    }
    guard.responsive = true;
    std::visit(
        [&](const auto& m) {
            using M = std::decay_t<decltype(m)>;
            if constexpr (std::is_same_v<M, Hello>) {
                if (guard.hello) {
                    good = false;
                    return;
                }
                guard.hello = true;
                tell(peer, Welcome{}, false);
            } else if constexpr (std::is_same_v<M, Settings>) {
                guard.settings = m;
                const QTimeZone zone(m.timeZone.toLatin1());
                guard.zone = m.timeZone.isEmpty() || !zone.isValid() ? QTimeZone::systemTimeZone() : zone;
                guard.set = true;
            } else if constexpr (std::is_same_v<M, ListBegin>) {
                auto& staged = guard.staged[int(m.list)];
                good = !staged;
                staged.emplace();
            } else if constexpr (std::is_same_v<M, ListChange>) {
                auto& staged = guard.staged[int(m.list)];
                Collection& list = staged ? *staged : guard.lists[int(m.list)];
                for (const QString& record : m.records) {
                    if (m.add) {
                        if (list.count() >= kMaxRecords) {
                            good = false;
                            return;
                        }
                        list.add(record);
                        continue;
                    }
                    const auto it = std::find(list.begin(), list.end(), record);
                    if (it != list.end())
                        list.remove(int(it - list.begin()) + 1);
                }
            } else if constexpr (std::is_same_v<M, ListEnd>) {
                auto& staged = guard.staged[int(m.list)];
                good = staged.has_value();
                if (good)
                    guard.lists[int(m.list)] = std::move(*staged);
                staged.reset();
            } else if constexpr (std::is_same_v<M, Seen>) {
                if (const auto it = held_.find(m.id); it != held_.end() && it->second.peer == peer)
                    it->second.seen = true;
                arm();
            } else if constexpr (std::is_same_v<M, Sync>) {
                tell(peer, Synced{m.token}, false);
            } else {
                const auto it = held_.find(m.id);
                if (it == held_.end() || it->second.peer != peer)
                    return;
                sys_.events.answer(it->second.exec.event, m.allow);
                held_.erase(it);
                arm();
            }
        },
        *message);
    if (!good)
        drop(peer);
}
