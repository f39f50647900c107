// SPDX-License-Identifier: GPL-3.0-or-later
#include "gate/Wire.h"

#include "platform/SysText.h"

#include <QtEndian>
#include <cmath>
#include <cstring>

namespace gatewire {

namespace {

class Writer {
public:
    explicit Writer(Type type) { u8(static_cast<quint8>(type)); }
    void u8(quint8 v) { bytes.append(char(v)); }
    void u32(quint32 v) { raw(qToLittleEndian(v)); }
    void u64(quint64 v) { raw(qToLittleEndian(v)); }
    void f64(double v)
    {
        quint64 bits;
        std::memcpy(&bits, &v, sizeof bits);
        u64(bits);
    }
    void text(const QString& s)
    {
        const QByteArray sys = platform::toSys(s);
        u32(quint32(sys.size()));
        bytes += sys;
    }
    QByteArray bytes;

private:
    template <typename T>
    void raw(T v) { bytes.append(reinterpret_cast<const char*>(&v), sizeof v); }
};

class Reader {
public:
    explicit Reader(const QByteArray& bytes) : bytes_(bytes) {}
    bool ok() const { return ok_; }
    bool atEnd() const { return at_ == bytes_.size(); }
    qsizetype left() const { return bytes_.size() - at_; }
    quint8 u8()
    {
        if (!take(1))
            return 0;
        return quint8(bytes_[at_ - 1]);
    }
    quint32 u32() { return take(4) ? qFromLittleEndian<quint32>(bytes_.constData() + at_ - 4) : 0; }
    quint64 u64() { return take(8) ? qFromLittleEndian<quint64>(bytes_.constData() + at_ - 8) : 0; }
    double f64()
    {
        const quint64 bits = u64();
        double v;
        std::memcpy(&v, &bits, sizeof v);
        return v;
    }
    QString text()
    {
        const quint32 n = u32();
        if (!ok_ || n > quint32(left())) {
            ok_ = false;
            return {};
        }
        at_ += n;
        return platform::fromSys(QByteArrayView(bytes_.constData() + at_ - n, n));
    }
    bool flag()
    {
        const quint8 v = u8();
        if (v > 1)
            ok_ = false;
        return v == 1;
    }
    template <typename E>
    E choice(quint8 first, quint8 last)
    {
        const quint8 v = u8();
        if (v < first || v > last)
            ok_ = false;
        return static_cast<E>(v);
    }
    void fail() { ok_ = false; }

private:
    bool take(qsizetype n)
    {
        if (!ok_ || left() < n) {
            ok_ = false;
            return false;
        }
        at_ += n;
        return true;
    }
    const QByteArray& bytes_;
    qsizetype at_ = 0;
    bool ok_ = true;
};

template <typename M>
std::optional<M> finish(const Reader& in, M message)
{
    if (!in.ok() || !in.atEnd())
        return std::nullopt;
    return message;
}

constexpr quint32 kMaxHold = 24 * 3600;

} // namespace

QByteArray encode(const GuardMessage& message)
{
    return std::visit(
        [](const auto& m) {
            using M = std::decay_t<decltype(m)>;
            if constexpr (std::is_same_v<M, Hello>) {
                Writer out(Type::Hello);
                out.u32(m.version);
                return out.bytes;
            } else if constexpr (std::is_same_v<M, Settings>) {
                Writer out(Type::Settings);
                out.f64(m.listLevel);
                out.u8(m.safeLevel ? 1 : 0);
                out.u8(quint8(m.alertDefault));
                out.u32(m.gateHold);
                out.text(m.timeZone);
                return out.bytes;
            } else if constexpr (std::is_same_v<M, ListBegin>) {
                Writer out(Type::ListBegin);
                out.u8(quint8(m.list));
                return out.bytes;
            } else if constexpr (std::is_same_v<M, ListChange>) {
                Writer out(m.add ? Type::ListAdd : Type::ListRemove);
                out.u8(quint8(m.list));
                out.u32(quint32(m.records.size()));
                for (const QString& record : m.records)
                    out.text(record);
                return out.bytes;
            } else if constexpr (std::is_same_v<M, ListEnd>) {
                Writer out(Type::ListEnd);
                out.u8(quint8(m.list));
                return out.bytes;
            } else if constexpr (std::is_same_v<M, Seen>) {
                Writer out(Type::Seen);
                out.u64(m.id);
                return out.bytes;
            } else if constexpr (std::is_same_v<M, Sync>) {
                Writer out(Type::Sync);
                out.u64(m.token);
                return out.bytes;
            } else {
                Writer out(Type::Answer);
                out.u64(m.id);
                out.u8(m.allow ? 1 : 0);
                return out.bytes;
            }
        },
        message);
}

QByteArray encode(const GateMessage& message)
{
    return std::visit(
        [](const auto& m) {
            using M = std::decay_t<decltype(m)>;
            if constexpr (std::is_same_v<M, Welcome>) {
                Writer out(Type::Welcome);
                out.u32(m.version);
                return out.bytes;
            } else if constexpr (std::is_same_v<M, Exec>) {
                Writer out(Type::Exec);
                out.u64(m.id);
                out.u8(quint8(m.verdict));
                out.u8(m.allowed ? 1 : 0);
                out.u64(quint64(m.pid));
                out.text(m.name);
                out.text(m.path);
                out.text(m.record);
                return out.bytes;
            } else if constexpr (std::is_same_v<M, Synced>) {
                Writer out(Type::Synced);
                out.u64(m.token);
                return out.bytes;
            } else {
                Writer out(Type::Done);
                out.u64(m.id);
                out.u8(m.allowed ? 1 : 0);
                out.u8(quint8(m.reason));
                return out.bytes;
            }
        },
        message);
}

std::optional<GuardMessage> decodeGuard(const QByteArray& bytes)
{
    if (bytes.isEmpty() || bytes.size() > kMaxMessage)
        return std::nullopt;
    Reader in(bytes);
    const auto type = static_cast<Type>(in.u8());
    switch (type) {
    case Type::Hello: {
        Hello m;
        m.version = in.u32();
        return finish<GuardMessage>(in, m);
    }
    case Type::Settings: {
        Settings m;
        m.listLevel = in.f64();
        m.safeLevel = in.flag();
        m.alertDefault = in.choice<AlertDefault>(0, 2);
        m.gateHold = in.u32();
        m.timeZone = in.text();
        if (!std::isfinite(m.listLevel) || m.gateHold > kMaxHold)
            in.fail();
        return finish<GuardMessage>(in, m);
    }
    case Type::ListBegin: {
        ListBegin m;
        m.list = in.choice<List>(0, 1);
        return finish<GuardMessage>(in, m);
    }
    case Type::ListAdd:
    case Type::ListRemove: {
        ListChange m;
        m.add = type == Type::ListAdd;
        m.list = in.choice<List>(0, 1);
        const quint32 n = in.u32();
        // Each record takes at least its length: a count beyond that is a lie.
        if (n > quint32(in.left() / 4))
            in.fail();
        for (quint32 i = 0; in.ok() && i < n; ++i)
            m.records.append(in.text());
        return finish<GuardMessage>(in, m);
    }
    case Type::ListEnd: {
        ListEnd m;
        m.list = in.choice<List>(0, 1);
        return finish<GuardMessage>(in, m);
    }
    case Type::Seen: {
        Seen m;
        m.id = in.u64();
        return finish<GuardMessage>(in, m);
    }
    case Type::Answer: {
        Answer m;
        m.id = in.u64();
        m.allow = in.flag();
        return finish<GuardMessage>(in, m);
    }
    case Type::Sync: {
        Sync m;
        m.token = in.u64();
        return finish<GuardMessage>(in, m);
    }
    default:
        return std::nullopt;
    }
}

std::optional<GateMessage> decodeGate(const QByteArray& bytes)
{
    if (bytes.isEmpty() || bytes.size() > kMaxMessage)
        return std::nullopt;
    Reader in(bytes);
    switch (static_cast<Type>(in.u8())) {
    case Type::Welcome: {
        Welcome m;
        m.version = in.u32();
        return finish<GateMessage>(in, m);
    }
    case Type::Exec: {
        Exec m;
        m.id = in.u64();
        m.verdict = in.choice<Verdict>(1, 3);
        m.allowed = in.flag();
        m.pid = qint64(in.u64());
        m.name = in.text();
        m.path = in.text();
        m.record = in.text();
        return finish<GateMessage>(in, m);
    }
    case Type::Done: {
        Done m;
        m.id = in.u64();
        m.allowed = in.flag();
        m.reason = in.choice<Reason>(1, 3);
        return finish<GateMessage>(in, m);
    }
    case Type::Synced: {
        Synced m;
        m.token = in.u64();
        return finish<GateMessage>(in, m);
    }
    default:
        return std::nullopt;
    }
}

QList<QByteArray> encodeChanges(List list, bool add, const QStringList& records)
{
    QList<QByteArray> messages;
    ListChange chunk{list, add, {}};
    qsizetype size = 6;
    for (const QString& record : records) {
        const qsizetype length = 4 + platform::toSys(record).size();
        if (6 + length > kMaxMessage)
            continue;
        if (size + length > kMaxMessage) {
            messages.append(encode(chunk));
            chunk.records.clear();
            size = 6;
        }
        chunk.records.append(record);
        size += length;
    }
    if (!chunk.records.isEmpty())
        messages.append(encode(chunk));
    return messages;
}

} // namespace gatewire
