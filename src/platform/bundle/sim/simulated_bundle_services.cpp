#include "platform/bundle/sim/simulated_bundle_services.h"

#include "platform/bundle/file_digest.h"
#include "platform/bundle/file_tree.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

namespace sonaric
{

namespace
{

constexpr char kSignatureFile[] = "_CodeSignature/simulated-requirement";

bool write(const QString& path, const QByteArray& content)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

} // namespace

SimulatedBundleServices::SimulatedBundleServices(BundleInfo mainBundle)
    : m_main(std::move(mainBundle))
{
}

BundleInfo SimulatedBundleServices::mainBundle() const
{
    return m_main;
}

std::optional<BundleInfo> SimulatedBundleServices::bundle(const QString& path) const
{
    return BundleInfo::read(path);
}

ToolStatus SimulatedBundleServices::attach(const QString& image, const QString& mountPoint)
{
    int exitStatus = 1;
    if (injectedFailure(Call::attach, &exitStatus))
        return { {}, exitStatus };
    const QByteArray digest = Sha256::ofFile(image).value_or(QByteArray());
    std::optional<App> app;
    {
        std::lock_guard lock(m_mutex);
        const auto found = m_images.find(digest);
        if (found == m_images.end())
            return { {}, 1 };
        app = found->second;
        m_attached[mountPoint] = image;
    }
    if (!app)
        return {};
    const QString root = mountPoint + QStringLiteral("/Sonaric.app");
    bool ok = write(root + u'/' + QLatin1String(BundleInfo::infoFileName), QJsonDocument(app->info).toJson());
    for (const auto& [name, content] : app->files)
        ok = ok && write(root + u'/' + name, content);
    if (!app->signedFor.isEmpty())
        ok = ok && write(root + u'/' + QLatin1String(kSignatureFile), app->signedFor.toUtf8());
    return { {}, ok ? 0 : 1 };
}

bool SimulatedBundleServices::detach(const QString& mountPoint)
{
    if (injectedFailure(Call::detach))
        return false;
    {
        std::lock_guard lock(m_mutex);
        m_attached.erase(mountPoint);
    }
    return FileTree::remove(mountPoint);
}

bool SimulatedBundleServices::checkValidity(const QString& path, const QString& requirement, QString* reason) const
{
    if (injectedFailure(Call::checkValidity)) {
        if (reason)
            *reason = QStringLiteral("injected failure");
        return false;
    }
    QFile file(QDir(path).filePath(QLatin1String(kSignatureFile)));
    const bool valid = file.open(QIODevice::ReadOnly) && QString::fromUtf8(file.readAll()) == requirement;
    if (!valid && reason)
        *reason = QStringLiteral("not signed for this requirement");
    return valid;
}

void SimulatedBundleServices::addImage(const QByteArray& sha256, std::optional<App> app)
{
    std::lock_guard lock(m_mutex);
    m_images[sha256] = std::move(app);
}

void SimulatedBundleServices::failNext(Call call, int count, int exitStatus)
{
    std::lock_guard lock(m_mutex);
    m_failures[call] = { count, exitStatus };
}

int SimulatedBundleServices::calls(Call call) const
{
    std::lock_guard lock(m_mutex);
    const auto found = m_calls.find(call);
    return found == m_calls.end() ? 0 : found->second;
}

std::vector<QString> SimulatedBundleServices::attached() const
{
    std::lock_guard lock(m_mutex);
    std::vector<QString> mountPoints;
    for (const auto& entry : m_attached)
        mountPoints.push_back(entry.first);
    return mountPoints;
}

bool SimulatedBundleServices::injectedFailure(Call call, int* exitStatus) const
{
    std::lock_guard lock(m_mutex);
    ++m_calls[call];
    Failure& failure = m_failures[call];
    if (failure.count <= 0)
        return false;
    --failure.count;
    if (exitStatus)
        *exitStatus = failure.exitStatus;
    return true;
}

} // namespace sonaric
