#pragma once

#include "platform/bundle/bundle_services.h"

namespace sonaric
{

/// Bundles, images and signatures on Linux.
///
/// A bundle is an application folder with its info file (`BundleInfo`). An image is a read-only squashfs
/// file; attaching it unpacks it with `unsquashfs` into the mount folder, detaching removes that folder. A
/// folder's signature is an Ed25519 signature over its manifest (`BundleManifest`), kept in
/// `_CodeSignature/signature` as base64; the requirement names the bundle identifier and the publisher's
/// public key, and the check fails on any changed, added or removed entry, another identifier or another key.
class LinuxBundleServices final : public BundleServices
{
public:
    /// `mainBundlePath` is the running program's folder; empty means the folder holding this executable.
    explicit LinuxBundleServices(QString mainBundlePath = {});

    BundleInfo mainBundle() const override;
    std::optional<BundleInfo> bundle(const QString& path) const override;
    ToolStatus attach(const QString& image, const QString& mountPoint) override;
    bool detach(const QString& mountPoint) override;
    bool checkValidity(const QString& path, const QString& requirement, QString* reason = nullptr) const override;

    /// The tool that unpacks images.
    static constexpr char unsquashfs[] = "/usr/bin/unsquashfs";

private:
    QString m_mainBundlePath;
};

} // namespace sonaric
