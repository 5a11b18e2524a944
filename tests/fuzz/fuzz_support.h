#pragma once

// Shared by the libFuzzer targets: the input as Qt types, and a property check that fails the run like a crash.

#include <QByteArray>
#include <QDir>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace sonaric::fuzz
{

inline QByteArray bytes(const std::uint8_t* data, std::size_t size)
{
    return QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
}

/// A folder for the files a target writes, in memory when the machine offers it: writing and syncing files on
/// a disk would make a run a hundred times slower.
inline const QTemporaryDir& scratch()
{
    static const QTemporaryDir dir(
        (QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath())
        + QStringLiteral("/sonaric-fuzz-XXXXXX"));
    return dir;
}

/// A broken promise of the code under test is a finding, like a crash: libFuzzer keeps the input.
inline void expect(bool holds, const char* promise)
{
    if (holds)
        return;
    std::fprintf(stderr, "fuzz: broken promise: %s\n", promise);
    std::abort();
}

} // namespace sonaric::fuzz
