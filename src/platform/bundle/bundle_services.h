#pragma once

// The bundle, disk image and code signature service: what the self-updater asks of the system about
// application folders, update images and their signatures.

#include "platform/bundle/bundle_info.h"
#include "platform/bundle/tool_status.h"

#include <QString>

#include <optional>

namespace sonaric
{

/// Reads bundles, attaches and detaches images, checks signatures. Every operation may be called from any
/// thread (the updater verifies off the main thread).
class BundleServices
{
public:
    virtual ~BundleServices() = default;

    /// The running program's bundle. A program that was not started from an application folder reports the
    /// folder holding its executable with what the build wrote about itself.
    virtual BundleInfo mainBundle() const = 0;
    /// Opens the folder at `path` as a bundle; none when it is not one.
    virtual std::optional<BundleInfo> bundle(const QString& path) const = 0;
    /// Attaches the image at `image` read-only at `mountPoint`, an existing empty folder. The status is that of
    /// the tool that did it.
    virtual ToolStatus attach(const QString& image, const QString& mountPoint) = 0;
    /// Detaches what `attach` put at `mountPoint`; false when that failed.
    virtual bool detach(const QString& mountPoint) = 0;
    /// Whether the bundle at `path` carries a valid signature that satisfies `requirement` (the text
    /// `identifier "<bundle identifier>" and publisher key "<Ed25519 public key, 64 hex digits>"`). On
    /// failure `reason` says why, for logs and tests; the user is never shown it.
    virtual bool checkValidity(const QString& path, const QString& requirement, QString* reason = nullptr) const = 0;
};

} // namespace sonaric
