// SPDX-License-Identifier: GPL-3.0-or-later
#include "guard/frmMain.h"

#include "design/ImageButton.h"
#include "design/mdDesign.h"
#include "process/mdProcess.h"
#include "store/mdCollection.h"
#include "store/mdSettings.h"
#include "store/mdFailures.h"

#include <QElapsedTimer>
#include <QEvent>
#include <QLocale>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTextCursor>
#include <deque>
#include <utility>

using mdFailures::guarded;

namespace {

// Sets `hidden` when the window hides while it is watched: the alert closed
// (and perhaps opened again for another program) during the search.
class HideWatch : public QObject {
public:
    HideWatch(QWidget* window, bool& hidden) : window_(window), hidden_(hidden) { window_->installEventFilter(this); }
    ~HideWatch() override { window_->removeEventFilter(this); }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Hide)
            hidden_ = true;
        return false;
    }

private:
    QWidget* window_;
    bool& hidden_;
};

// True when the running search's alert has hidden, or no search runs.
bool over(const bool* ended)
{
    return !ended || *ended;
}

// This platform's system folders: kernel and device views, never entered.
bool systemFolder(const QString& folder)
{
    return folder == QLatin1String("/proc/") || folder == QLatin1String("/sys/") || folder == QLatin1String("/dev/")
        || folder == QLatin1String("/run/");
}

// True when `folder` (lower case, ending with "/") begins one of the roots in
// the list: a root itself or a folder on the way to one, searched on its own.
// Only a place at the start of a root counts; "/bin/" inside "/usr/bin/" is
// a different folder and is searched.
bool onRootList(const QString& folder, const QString& rootList)
{
    for (qsizetype at = rootList.indexOf(folder); at >= 0; at = rootList.indexOf(folder, at + 1))
        if (at == 0 || rootList.at(at - 1) == QLatin1Char('/'))
            return true;
    return false;
}

} // namespace

void frmMain::btnFindPath_MouseUp()
{
    mdDesign::loadImage(app, btnFindPath);
    // The search serves window events, so this button can be released again
    // while it runs; a second walk inside the first would only repeat it.
    // A search whose alert has hidden is over: the alert shown again (by a
    // later tick, perhaps for another program) searches anew, and the old
    // search, still below on the stack, ends as soon as it resumes.
    if (!over(searchEnded))
        return;
    bool ended = false;
    const HideWatch watch(this, ended);
    bool* const outer = std::exchange(searchEnded, &ended);
    const auto done = qScopeGuard([this, outer] { searchEnded = outer; });
    // A tick may change the candidate's fields once the alert is closed.
    const QString name = guard.appName;
    guarded(app, "frmMain", "btnFindPath_MouseUp", [&] {
        txtPath->setPlainText(QStringLiteral("searching..."));
        findNotes.clear();
        const QString found = trgSearch(name);
        // Nothing is shown or kept for an alert that is no longer the one the
        // search was for.
        if (ended)
            return;
        if (found.isEmpty()) {
            txtPath->setPlainText(findNotes.isEmpty() ? QStringLiteral("can't find the path") : findNotes);
            return;
        }
        const QDateTime date = app.sys.files.modified(found);
        const qint64 size = app.sys.files.size(found);
        QString text = QStringLiteral("path: ") + found + QStringLiteral("; date: ")
            + QLocale::c().toString(date, QStringLiteral("yyyy.MM.dd H:mm")) + QStringLiteral("; size: ") + guard.fSize(size);
        if (!findNotes.isEmpty())
            text += QStringLiteral("; ") + findNotes;
        txtPath->setPlainText(text);
        guard.appRecord = guard.strProcess(name, found);
        guard.appPath = found;
        btnDelete->show();
        btnFindPath->hide();
    });
}

QString frmMain::trgSearch(const QString& name)
{
    QString found;
    guarded(app, "frmMain", "trgSearch", [&] {
        const QString s = mdProcess::TakePath(app, guard.appPid, guard.appModule);
        if (!s.isEmpty() && s.endsWith(name, Qt::CaseSensitive)) {
            found = s;
            return;
        }
        const QStringList roots{guard.dirSystem, guard.dirWindows, app.sys.env.variable(QStringLiteral("ProgramFiles")),
                                app.sys.env.variable(QStringLiteral("TMP")),
                                app.sys.env.variable(QStringLiteral("SystemDrive"))};
        const QString rootList = roots.join(QLatin1Char('/')).toLower();
        for (const QString& root : roots) {
            if (over(searchEnded))
                return;
            // An unset root is the root folder "/"; one that already ends with
            // the separator gets no second one.
            const QString top = root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/');
            found = DirSearch(top, name, rootList);
            if (!found.isEmpty())
                return;
        }
    });
    return found;
}

QString frmMain::DirSearch(const QString& root, const QString& name, const QString& rootList)
{
    QString found;
    guarded(app, "frmMain", "DirSearch", [&] {
        // Each change of the text lays out its whole line again, so a dot a
        // time grows quadratic with the dots; the dots drawn are shown together,
        // at most ten times a second and when the search of this root ends.
        int dotsOwed = 0;
        QElapsedTimer sinceShown;
        const auto showDots = [&] {
            if (dotsOwed > 0 && !over(searchEnded)) {
                QTextCursor end(txtPath->document());
                end.movePosition(QTextCursor::End);
                end.insertText(QString(dotsOwed, QLatin1Char('.')));
                dotsOwed = 0;
            }
            sinceShown.start();
        };
        const auto shownAtEnd = qScopeGuard(showDots);
        std::deque<QString> queue{root};
        while (!queue.empty()) {
            if (QRandomGenerator::global()->bounded(15) == 0)
                ++dotsOwed;   // about once in 15 folders
            if (dotsOwed > 0 && (!sinceShown.isValid() || sinceShown.elapsed() >= 100))
                showDots();
            app.sys.desktop.processEvents();
            if (over(searchEnded))
                return;
            const QString d = std::move(queue.front());
            queue.pop_front();
            // One listing serves both the look for the name and the subfolders;
            // a folder that cannot be read lists as empty and is passed over.
            const std::vector<platform::Files::Entry> entries = app.sys.files.list(d);
            for (const auto& e : entries) {
                // File names are case-sensitive here; only a regular file
                // (hidden ones too) is a copy, never a folder, device, socket or pipe.
                if (!e.regular || e.name != name)
                    continue;
                const QString copy = d + e.name;
                const QString record = guard.strProcess(name, copy);
                QString note;
                if (mdCollection::clnSearch(app, app.allowTmp, record) > 0)
                    note = QStringLiteral("find in allow: ") + copy;
                else if (mdCollection::clnSearch(app, app.denyTmp, record) > 0)
                    note = QStringLiteral("find in deny: ") + copy;
                else {
                    found = copy;
                    return;
                }
                findNotes += findNotes.isEmpty() ? note : QStringLiteral("; ") + note;
                break;
            }
            for (const auto& e : entries) {
                if (!e.folder)   // links to folders are not followed
                    continue;
                QString sub = d + e.name + QLatin1Char('/');
                if (!systemFolder(sub) && !onRootList(sub.toLower(), rootList))
                    queue.push_back(std::move(sub));
            }
        }
    });
    return found;
}
