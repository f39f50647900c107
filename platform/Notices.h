// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QString>
#include <functional>

namespace platform {

// The desktop's notification server: notices go there when no notification
// area shows the icon.
class Notices {
public:
    virtual ~Notices() = default;
    // Hands a notice over without waiting for the server's answer.
    virtual void send(const QString& title, const QString& text) = 0;
    // Hears each notice no server took, and why.
    std::function<void(const QString& text, const QString& why)> onFailed;
};

} // namespace platform
