#include "platform/bundle/linux/bundle_manifest.h"

#include "platform/bundle/file_digest.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace sonaric::BundleManifest
{

namespace
{

struct Entry {
    QByteArray path; // relative, '/'-separated
    QByteArray line;
};

QString failure(const QByteArray& path, int error)
{
    return QStringLiteral("%1: %2").arg(QFile::decodeName(path), QString::fromLocal8Bit(std::strerror(error)));
}

bool collect(const QByteArray& root, const QByteArray& relative, std::vector<Entry>& entries, QString* error)
{
    const QByteArray folder = relative.isEmpty() ? root : root + '/' + relative;
    DIR* dir = ::opendir(folder.constData());
    if (!dir) {
        *error = failure(folder, errno);
        return false;
    }
    std::vector<QByteArray> names;
    while (dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(dir);

    for (const QByteArray& name : names) {
        if (relative.isEmpty() && name == signatureFolder)
            continue;
        // A line break in a name would let one entry pass for two.
        if (name.contains('\n') || name.contains('\r')) {
            *error = QStringLiteral("%1 has a line break in its name").arg(QFile::decodeName(folder + '/' + name));
            return false;
        }
        const QByteArray path = relative.isEmpty() ? name : relative + '/' + name;
        const QByteArray full = root + '/' + path;
        struct stat st;
        if (::lstat(full.constData(), &st) != 0) {
            *error = failure(full, errno);
            return false;
        }
        const QByteArray mode = QByteArray::number(st.st_mode & 07777, 8).rightJustified(4, '0');
        if (S_ISDIR(st.st_mode)) {
            entries.push_back({ path, "d " + mode + ' ' + path + '\n' });
            if (!collect(root, path, entries, error))
                return false;
        } else if (S_ISREG(st.st_mode)) {
            const std::optional<QByteArray> digest = Sha256::ofFile(QFile::decodeName(full));
            if (!digest) {
                *error = failure(full, errno ? errno : EIO);
                return false;
            }
            entries.push_back({ path, "f " + mode + ' ' + *digest + ' ' + path + '\n' });
        } else if (S_ISLNK(st.st_mode)) {
            QByteArray target(PATH_MAX, '\0');
            const ssize_t length = ::readlink(full.constData(), target.data(), size_t(target.size()));
            if (length < 0) {
                *error = failure(full, errno);
                return false;
            }
            Sha256 hash;
            hash.add(target.constData(), size_t(length));
            entries.push_back({ path, "l " + hash.hex().value_or(QByteArray()) + ' ' + path + '\n' });
        } else {
            *error = QStringLiteral("%1 is not a file, folder or link").arg(QFile::decodeName(full));
            return false;
        }
    }
    return true;
}

} // namespace

std::optional<QByteArray> of(const QString& folder, QString* error)
{
    QString ignored;
    std::vector<Entry> entries;
    if (!collect(QFile::encodeName(folder), QByteArray(), entries, error ? error : &ignored))
        return std::nullopt;
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.path < b.path; });
    QByteArray manifest("sonaric-bundle-manifest 1\n");
    for (const Entry& entry : entries)
        manifest += entry.line;
    return manifest;
}

} // namespace sonaric::BundleManifest
