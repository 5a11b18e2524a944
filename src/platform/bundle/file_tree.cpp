#include "platform/bundle/file_tree.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace sonaric::FileTree
{

namespace
{

QByteArray native(const QString& path)
{
    return QFile::encodeName(path);
}

QString describe(const char* what, const QByteArray& path, int error)
{
    return QStringLiteral("%1 %2: %3")
        .arg(QLatin1String(what), QFile::decodeName(path), QString::fromLocal8Bit(std::strerror(error)));
}

bool copyFile(const QByteArray& from, const QByteArray& to, mode_t mode, QString* error)
{
    const int in = ::open(from.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (in < 0) {
        *error = describe("Couldn't read", from, errno);
        return false;
    }
    const int out = ::open(to.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (out < 0) {
        *error = describe("Couldn't create", to, errno);
        ::close(in);
        return false;
    }
    bool ok = true;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = ::read(in, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            *error = describe("Couldn't read", from, errno);
            ok = false;
            break;
        }
        if (got == 0)
            break;
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = ::write(out, buffer + done, size_t(got - done));
            if (put < 0 && errno == EINTR)
                continue;
            if (put < 0) {
                *error = describe("Couldn't write", to, errno);
                ok = false;
                break;
            }
            done += put;
        }
        if (!ok)
            break;
    }
    // The mode is set last: a read-only file still has to be written first.
    if (ok && ::fchmod(out, mode & 07777) != 0) {
        *error = describe("Couldn't set the permissions of", to, errno);
        ok = false;
    }
    if (::close(out) != 0 && ok) {
        *error = describe("Couldn't write", to, errno);
        ok = false;
    }
    ::close(in);
    return ok;
}

bool copyTree(const QByteArray& from, const QByteArray& to, QString* error)
{
    struct stat st;
    if (::lstat(from.constData(), &st) != 0) {
        *error = describe("Couldn't read", from, errno);
        return false;
    }
    if (S_ISREG(st.st_mode))
        return copyFile(from, to, st.st_mode, error);
    if (S_ISLNK(st.st_mode)) {
        QByteArray target(st.st_size > 0 ? st.st_size + 1 : PATH_MAX, '\0');
        const ssize_t length = ::readlink(from.constData(), target.data(), size_t(target.size()));
        if (length < 0 || length >= target.size()) {
            *error = describe("Couldn't read", from, length < 0 ? errno : ENAMETOOLONG);
            return false;
        }
        target.truncate(length);
        if (::symlink(target.constData(), to.constData()) != 0) {
            *error = describe("Couldn't create", to, errno);
            return false;
        }
        return true;
    }
    if (!S_ISDIR(st.st_mode)) {
        *error = QStringLiteral("%1 is not a file, folder or link").arg(QFile::decodeName(from));
        return false;
    }
    if (::mkdir(to.constData(), S_IRWXU) != 0) {
        *error = describe("Couldn't create", to, errno);
        return false;
    }
    DIR* dir = ::opendir(from.constData());
    if (!dir) {
        *error = describe("Couldn't read", from, errno);
        return false;
    }
    bool ok = true;
    while (dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        if (!copyTree(from + '/' + name, to + '/' + name, error)) {
            ok = false;
            break;
        }
    }
    ::closedir(dir);
    // A read-only folder is made read-only only once it is filled.
    if (ok && ::chmod(to.constData(), st.st_mode & 07777) != 0) {
        *error = describe("Couldn't set the permissions of", to, errno);
        ok = false;
    }
    return ok;
}

void makeWritable(const QByteArray& path)
{
    struct stat st;
    if (::lstat(path.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return;
    if ((st.st_mode & S_IRWXU) != S_IRWXU)
        ::chmod(path.constData(), (st.st_mode & 07777) | S_IRWXU);
    DIR* dir = ::opendir(path.constData());
    if (!dir)
        return;
    while (dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            makeWritable(path + '/' + name);
    }
    ::closedir(dir);
}

} // namespace

bool copy(const QString& from, const QString& to, QString* error)
{
    QString ignored;
    QString& why = error ? *error : ignored;
    struct stat st;
    if (::lstat(native(from).constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        why = QStringLiteral("%1 is not a folder").arg(from);
        return false;
    }
    // Only what this copy created is removed when it fails.
    if (::lstat(native(to).constData(), &st) == 0) {
        why = QStringLiteral("%1 already exists").arg(to);
        return false;
    }
    if (copyTree(native(from), native(to), &why))
        return true;
    remove(to);
    return false;
}

bool remove(const QString& path)
{
    const QByteArray name = native(path);
    makeWritable(name);
    std::error_code error;
    std::filesystem::remove_all(std::filesystem::path(name.toStdString()), error);
    return !error;
}

bool exchange(const QString& first, const QString& second, QString* error)
{
    if (::renameat2(AT_FDCWD, native(first).constData(), AT_FDCWD, native(second).constData(), RENAME_EXCHANGE) == 0)
        return true;
    if (error)
        *error = QStringLiteral("Couldn't replace %1: %2").arg(first, QString::fromLocal8Bit(std::strerror(errno)));
    return false;
}

} // namespace sonaric::FileTree
