// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/LinuxNotices.h"

#include <QDBusConnection>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>
#include <QUrl>
#include <QVariantMap>
#include <utility>

namespace platform {

namespace {
const QString kService = QStringLiteral("org.freedesktop.Notifications");
} // namespace

LinuxNotices::LinuxNotices(const QString& icon, int timeoutMs)
    : icon_(QFileInfo(icon).isAbsolute() ? QUrl::fromLocalFile(icon).toString() : icon), timeoutMs_(timeoutMs)
{
}

void LinuxNotices::send(const QString& title, const QString& text)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        if (onFailed)
            onFailed(text, QStringLiteral("no session bus"));
        return;
    }
    if (markup_ == Markup::Read || markup_ == Markup::Plain) {
        notify(title, text);
        return;
    }
    waiting_.append({title, text});
    if (markup_ == Markup::Asking)
        return;
    markup_ = Markup::Asking;
    const QDBusMessage ask = QDBusMessage::createMethodCall(kService, QStringLiteral("/org/freedesktop/Notifications"),
                                                            kService, QStringLiteral("GetCapabilities"));
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(ask, timeoutMs_), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* done) {
        done->deleteLater();
        const QDBusPendingReply<QStringList> reply = *done;
        // Without an answer the notices still go out, and their own calls say why they fail.
        if (reply.isError())
            markup_ = Markup::Unknown;
        else
            markup_ = reply.value().contains(QStringLiteral("body-markup")) ? Markup::Read : Markup::Plain;
        const auto waiting = std::exchange(waiting_, {});
        for (const auto& [title, text] : waiting)
            notify(title, text);
    });
}

void LinuxNotices::notify(const QString& title, const QString& text)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString body = markup_ == Markup::Read ? text.toHtmlEscaped() : text;
    QDBusMessage call = QDBusMessage::createMethodCall(kService, QStringLiteral("/org/freedesktop/Notifications"),
                                                       kService, QStringLiteral("Notify"));
    // The desktop entry lets the server group the notices and apply the user's choices for them.
    const QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral("example.mirvak.mirvak")},
                            {QStringLiteral("urgency"), QVariant::fromValue(uchar(1))}};
    call << title << 0u << icon_ << title << body << QStringList() << hints << -1;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, timeoutMs_), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, text](QDBusPendingCallWatcher* done) {
        done->deleteLater();
        const QDBusPendingReply<uint> reply = *done;
        if (reply.isError() && onFailed)
            onFailed(text, reply.error().name() + QStringLiteral(": ") + reply.error().message());
    });
}

} // namespace platform
