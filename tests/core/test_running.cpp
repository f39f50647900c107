// SPDX-License-Identifier: GPL-3.0-or-later
// What runs, as the system shows it to the guard: the file a process runs.
#include "Fakes.h"

#include <QCryptographicHash>
#include <atomic>
#include <thread>

namespace {

QByteArray sha256(const QByteArray& bytes) { return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256); }

// What a thread has read so far, from its /proc io file.
qint64 bytesRead(const QString& io)
{
    QFile file(io);
    const QByteArray text = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    return text.mid(text.indexOf("rchar: ") + 7).split('\n').value(0).toLongLong();
}

} // namespace

// A program renamed over the file a process runs changes neither the facts nor the hash of what runs; the file's
// version that the path shows, asked for through the process, is not what runs and gives no hash at all.
TEST(RunningFile, HashedThroughTheProcessAndOnlyInTheVersionAskedFor)
{
    QTemporaryDir tmp;
    const QString at = tmp.filePath("A");
    QFile sleep("/usr/bin/sleep");
    ASSERT_TRUE(sleep.open(QIODevice::ReadOnly) && QFile::copy(sleep.fileName(), at));
    const QByteArray running = sleep.readAll();
    const QByteArray other = running + "A";
    Spawned child({QFile::encodeName(at), "60"});
    ASSERT_TRUE(waitUntil(3000, [&] { return child.exe() == at; }));
    QFile back(at);   // the allowed program, back over it
    ASSERT_TRUE(QFile::remove(at) && back.open(QIODevice::WriteOnly) && back.write(other) == other.size());
    back.close();

    platform::LinuxFiles files;
    const auto runs = files.lookRunning(child.pid, at, true);
    const auto shown = files.look(at, true);
    ASSERT_TRUE(runs && shown);
    EXPECT_EQ(std::pair(runs->size, shown->size), std::pair(qint64(running.size()), qint64(other.size())));
    EXPECT_EQ(files.sha256(child.pid, at, *runs), sha256(running));
    EXPECT_EQ(files.sha256(child.pid, at, *shown), std::nullopt);
    EXPECT_EQ(files.sha256(0, at, *shown), sha256(other));   // a file no process runs, by its path
    // Ended, its id names nothing: no facts, no hash, even though the file is still at its path.
    const pid_t gone = std::exchange(child.pid, -1);
    ::kill(gone, SIGKILL);
    ::waitpid(gone, nullptr, 0);
    EXPECT_FALSE(files.lookRunning(gone, at, true) || files.sha256(gone, at, *shown));
}

// A file that changes while it is hashed has no digest for the version asked for, though it was that version
// when the read began.
TEST(RunningFile, ChangedWhileHashedGivesNoDigest)
{
    QTemporaryDir tmp;
    const QString at = tmp.filePath("big");
    QFile big(at);
    ASSERT_TRUE(big.open(QIODevice::WriteOnly) && big.resize(qint64(1) << 30));   // sparse: a thousand quick reads
    platform::LinuxFiles files;
    const auto version = files.look(at, false);
    ASSERT_TRUE(version);
    std::atomic<pid_t> reader = 0;
    std::optional<QByteArray> digest;
    std::thread hashing([&] {
        reader = ::gettid();
        digest = files.sha256(0, at, *version);
    });
    // Changed once the hashing thread has read its first part.
    const auto started = [&] { return reader && bytesRead(QString("/proc/self/task/%1/io").arg(reader.load())) > 1 << 20; };
    EXPECT_TRUE(waitUntil(30000, started));
    EXPECT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(at).constData(), nullptr, 0), 0);
    hashing.join();
    EXPECT_EQ(digest, std::nullopt);
}
