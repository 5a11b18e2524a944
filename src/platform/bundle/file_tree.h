#pragma once

// Copying, removing and exchanging whole folders, as the updater and the image services need them.

#include <QString>

namespace sonaric::FileTree
{

/// Copies the folder `from` to `to`, which must not exist: folders, regular files and symbolic links (as
/// links, never followed), each with its permission bits. Anything else in the tree (a device, a socket, a
/// pipe), or `from` not being a real folder, fails the copy. On failure `error` says why and whatever was
/// copied is removed again.
bool copy(const QString& from, const QString& to, QString* error = nullptr);

/// Removes `path` and everything below it, making folders writable on the way so that read-only folders
/// from an image go too. Missing is success.
bool remove(const QString& path);

/// Swaps the two paths in one step (`renameat2` with `RENAME_EXCHANGE`): at every moment each path holds
/// one complete tree. Both must exist on the same file system.
bool exchange(const QString& first, const QString& second, QString* error = nullptr);

} // namespace sonaric::FileTree
