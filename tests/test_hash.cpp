#include "Fakes.h"
#include "guard/frmMain.h"
#include "store/mdSettings.h"

#include <QProcess>
#include <fcntl.h>
#include <sys/stat.h>

namespace {
struct Hashing {
    TestBed t;
    frmMain m{t.app};
    int computed = 0;
    std::vector<std::function<void()>> tasks;   // hashes started and not yet run

    // `deferred`: the tool is denied by its record, forgotten by the cache, and
    // hashes start but run only when the test runs them.
    explicit Hashing(bool deferred = false, const QString& wait = "0")
    {
        t.settings({{"list_level", "4"}, {"path_search", wait}});
        t.write("bin/tool", QByteArray(5000, 'a'));
        EXPECT_EQ(m.Form_Load(), frmMain::Start::Running);
        t.app.hashes.hash = [this, real = t.app.hashes.hash](qint64 pid, const QString& path, const auto& version) {
            ++computed;
            return real(pid, path, version);
        };
        t.app.hashes.run = [](std::function<void()> task) { task(); };
        if (!deferred)
            return;
        t.app.denyList.add(record());
        t.app.hashes.sweep();
        t.app.hashes.sweep();
        computed = 0;
        t.app.hashes.run = [this](std::function<void()> task) { tasks.push_back(std::move(task)); };
    }
    QString tool() const { return t.path("bin/tool"); }
    QString record() { return m.strProcess("tool", tool()); }
};
} // namespace

// Level 4 adds the content's SHA-256 to level 3, which cannot tell apart two files of the same size and
// date; each version is hashed once, and a version no walk sees any more is let go.
TEST(Hash, OneSha256PerVersionAndARewriteInPlaceNoLongerMatches)
{
    Hashing h;
    QProcess sum;
    sum.start("sha256sum", {h.tool()});
    ASSERT_TRUE(sum.waitForFinished());
    const QString first = h.record();
    EXPECT_EQ(h.record(), first);
    mdSettings::setSetting(h.t.app, "list_level", "3");
    const QString dated = h.record();
    EXPECT_EQ(first, dated + "|sha256:" + QString(sum.readAllStandardOutput()).left(64));
    // Rewritten in place with other bytes of the same size, its date set back.
    struct stat before;
    ASSERT_EQ(::stat(h.tool().toUtf8().constData(), &before), 0);
    QFile f(h.tool());
    ASSERT_TRUE(f.open(QIODevice::ReadWrite) && f.write(QByteArray(5000, 'b')) == 5000);
    f.close();
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, h.tool().toUtf8().constData(), times, 0), 0);
    EXPECT_EQ(h.record(), dated);
    mdSettings::setSetting(h.t.app, "list_level", "4");
    EXPECT_NE(h.record(), first);
    EXPECT_EQ(h.computed, 2);
    h.t.app.hashes.sweep();
    h.record();
    h.t.app.hashes.sweep();
    EXPECT_EQ(h.t.app.hashes.size(), 1);
}

// A denied process ends at the tick after its hash is known, or at once when its alert is already up.
TEST(Hash, PendingHashNeitherBlocksTheTickNorSparesADeniedProgram)
{
    for (const QString wait : {"0", "3000"}) {
        Hashing h(true, wait);
        h.t.processes.add(20, "tool", h.tool());
        h.m.time_Timer();
        EXPECT_EQ(std::tuple(h.tasks.size(), h.computed, h.t.processes.table[0].alive), std::tuple(1u, 0, true));
        EXPECT_EQ(h.m.isVisible(), wait == "0");
        h.tasks.front()();
        if (wait != "0")
            h.m.time_Timer();
        EXPECT_EQ(std::pair(h.t.processes.table[0].alive, h.m.isVisible()), std::pair(false, false)) << wait.toStdString();
    }
}
