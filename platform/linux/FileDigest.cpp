// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/FileDigest.h"

#include <cerrno>
#include <memory>
#include <openssl/evp.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

qint64 nanoseconds(const struct timespec& t) { return qint64(t.tv_sec) * 1000000000 + t.tv_nsec; }

bool isVersion(int fd, const FileVersion& version)
{
    struct stat info;
    return ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && fileVersion(info) == version;
}

} // namespace

FileVersion fileVersion(const struct stat& info)
{
    return {quint64(info.st_dev), quint64(info.st_ino), info.st_size, nanoseconds(info.st_mtim),
            nanoseconds(info.st_ctim)};
}

std::optional<QByteArray> fileDigest(int fd, const FileVersion& version, const std::atomic_bool* cancel)
{
    if (fd < 0)
        return std::nullopt;
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    bool good = isVersion(fd, version) && context && EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) == 1;
    std::vector<char> buffer(good ? 1 << 20 : 0);
    off_t at = 0;
    while (good) {
        if (cancel && cancel->load(std::memory_order_relaxed))
            return std::nullopt;
        const ssize_t n = ::pread(fd, buffer.data(), buffer.size(), at);
        if (n == 0)
            break;
        if (n < 0 && errno == EINTR)
            continue;
        good = n > 0 && EVP_DigestUpdate(context.get(), buffer.data(), std::size_t(n)) == 1;
        at += n;
    }
    QByteArray digest(32, Qt::Uninitialized);
    unsigned int length = 0;
    if (!good || !isVersion(fd, version)
        || EVP_DigestFinal_ex(context.get(), reinterpret_cast<unsigned char*>(digest.data()), &length) != 1 || length != 32)
        return std::nullopt;
    return digest;
}

} // namespace platform
