#pragma once

#include "platform/bundle/bundle_services.h"

#include <QByteArray>
#include <QJsonObject>

#include <map>
#include <mutex>

namespace sonaric
{

/// Bundles, images and signatures kept in memory, with failures injected on demand.
///
/// An image is known by its content (its SHA-256) and described in memory; attaching it writes the
/// application folder it describes into the mount folder (the updater copies real files out of it). A simulated
/// signature is the file `_CodeSignature/simulated-requirement` holding the requirement text it satisfies: the check
/// passes only when that text is exactly the requirement asked for.
class SimulatedBundleServices final : public BundleServices
{
public:
    /// The application folder an image holds.
    struct App {
        QJsonObject info;
        std::map<QString, QByteArray> files; ///< relative path → content
        QString signedFor; ///< the requirement its signature satisfies; empty: unsigned
    };
    enum class Call { attach, detach, checkValidity };

    explicit SimulatedBundleServices(BundleInfo mainBundle);

    BundleInfo mainBundle() const override;
    std::optional<BundleInfo> bundle(const QString& path) const override;
    ToolStatus attach(const QString& image, const QString& mountPoint) override;
    bool detach(const QString& mountPoint) override;
    bool checkValidity(const QString& path, const QString& requirement, QString* reason = nullptr) const override;

    /// An image whose file has the SHA-256 `sha256` (lower-case hexadecimal), holding `app` under
    /// "Sonaric.app", or nothing when `app` is empty. Attaching any other file fails like a file that is no
    /// image (exit status 1).
    void addImage(const QByteArray& sha256, std::optional<App> app);
    /// The next `count` calls of `call` fail: an attach exits with `exitStatus`, a detach or a check fails.
    void failNext(Call call, int count = 1, int exitStatus = 1);
    /// How often `call` was made.
    int calls(Call call) const;
    /// Mount points attached and not yet detached.
    std::vector<QString> attached() const;

private:
    bool injectedFailure(Call call, int* exitStatus = nullptr) const;

    BundleInfo m_main;
    mutable std::mutex m_mutex;
    std::map<QByteArray, std::optional<App>> m_images;
    std::map<QString, QString> m_attached; // mount point → image
    struct Failure {
        int count = 0;
        int exitStatus = 1;
    };
    mutable std::map<Call, Failure> m_failures;
    mutable std::map<Call, int> m_calls;
};

} // namespace sonaric
