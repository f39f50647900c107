// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/LinuxDesktop.h"

#include "platform/linux/KeyGate.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <cerrno>
#include <chrono>
#include <cstdlib>

namespace platform {

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

QRect LinuxDesktop::trayGeometry()
{
    return tray ? tray->geometry() : QRect();
}

bool LinuxDesktop::trayPlacing()
{
    return tray && tray->placing();
}

qint64 LinuxDesktop::clockMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
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
    // Both questions end something (the guard, records): a stray Enter must not answer Yes,
    // nor keys typed for another window answer at all.
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::No);
    const QList<QWidget*> buttons{box.button(QMessageBox::Yes), box.button(QMessageBox::No)};
    new KeyGate(&box, [this] { return clockMs(); }, buttons);
    return box.exec() == QMessageBox::Yes;
}

void LinuxDesktop::message(const QString& title, const QString& text)
{
    QMessageBox::information(nullptr, title, text);
}

QString LinuxDesktop::pickFile(const QString& title, const QString& folder)
{
    const QString file = QFileDialog::getOpenFileName(nullptr, title, folder);
    return file.isEmpty() ? file : QFileInfo(file).canonicalFilePath();
}

void LinuxDesktop::quit()
{
    std::_Exit(0);
}

} // namespace platform
