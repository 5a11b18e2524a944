#pragma once

#include <QJsonObject>
#include <QString>

#include <optional>

namespace sonaric
{

/// An application folder (`Sonaric.app/`) and the keys of its info file.
///
/// The info file, `Info.json` at the top of the folder, is a JSON object with the keys "CFBundleIdentifier",
/// "CFBundleVersion" (the build number, a decimal string), "CFBundleShortVersionString" (the version shown to
/// the user) and "CFBundleExecutable" (the program's file name inside the folder). Values are kept as they
/// were read, so callers decide what a value of the wrong type means.
struct BundleInfo {
    QString path; ///< the folder, absolute
    QJsonObject info; ///< the info file's keys; empty when the folder has none

    static constexpr char infoFileName[] = "Info.json";

    /// "CFBundleIdentifier" when it is a string; null otherwise.
    QString identifier() const { return string("CFBundleIdentifier"); }
    /// "CFBundleShortVersionString" when it is a string; null otherwise.
    QString shortVersion() const { return string("CFBundleShortVersionString"); }
    /// "CFBundleExecutable" when it is a string; null otherwise.
    QString executable() const { return string("CFBundleExecutable"); }
    QString string(const char* key) const;

    /// The folder at `path` as a bundle; none when it holds no info file that reads as a JSON object.
    static std::optional<BundleInfo> read(const QString& path);
    /// What this build says about itself, for a program that was not started from an application folder.
    static BundleInfo builtIn(const QString& path);

    bool operator==(const BundleInfo&) const = default;
};

/// A build number as info files and update feeds write it: a decimal integer with an optional leading "+" or
/// "-", nothing else; none when the text is anything else or does not fit.
std::optional<qint64> parseBuildNumber(const QString& text);

} // namespace sonaric
