// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "platform/Desktop.h"
#include "platform/Tray.h"


namespace platform {

class LinuxDesktop : public Desktop {
public:
    QRect screenGeometry() override;
    QRect availableGeometry() override;
    QRect trayGeometry() override;
    bool trayPlacing() override;
    qint64 clockMs() override;
    void processEvents() override;
    void startMove(QWidget* window) override;
    bool askYesNo(const QString& title, const QString& text) override;
    void message(const QString& title, const QString& text) override;
    QString pickFile(const QString& title, const QString& folder) override;
    void quit() override;

    // The icon whose rectangle trayGeometry() gives; none until the tray is made.
    Tray* tray = nullptr;
};

} // namespace platform
