#include "platform/scripting/linux/mpris_volume.h"

#include "platform/scripting/linux/app_volume_request.h"
#include "platform/workspace/linux_application_ids.h"

#include <QDBusMessage>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QStringList>
#include <QThread>

#include <cmath>

namespace sonaric
{

namespace
{

const QString kBusNamePrefix = QStringLiteral("org.mpris.MediaPlayer2.");
const QString kObjectPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kRootInterface = QStringLiteral("org.mpris.MediaPlayer2");
const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kVolume = QStringLiteral("Volume");

AppleScriptExecution reply(const QString& text)
{
    AppleScriptExecution execution;
    execution.result = AppleEventDescriptor::string(text);
    return execution;
}

AppleScriptExecution failure(int number, const QString& message, const QStringList& steps)
{
    AppleScriptExecution execution;
    execution.errorInfo = QVariantMap { { NSAppleScriptErrorMessage, message }, { NSAppleScriptErrorNumber, number },
        { NSLocalizedRecoverySuggestionErrorKey, steps } };
    return execution;
}

/// What a D-Bus failure means for the script: the player went away, took too long, or does not offer this.
enum class Trouble { gone, slow, refused };

Trouble troubleOf(const QDBusMessage& message)
{
    const QString name = message.errorName();
    if (name == QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown")
        || name == QStringLiteral("org.freedesktop.DBus.Error.NameHasNoOwner")
        || name == QStringLiteral("org.freedesktop.DBus.Error.Disconnected"))
        return Trouble::gone;
    if (name == QStringLiteral("org.freedesktop.DBus.Error.NoReply")
        || name == QStringLiteral("org.freedesktop.DBus.Error.Timeout"))
        return Trouble::slow;
    return Trouble::refused;
}

int percentOf(double volume)
{
    // Players may go above their 100 % (mpv up to 130 %); the native slider ends at 100 %.
    return int(std::lround(std::clamp(volume, 0.0, 1.0) * 100.0));
}

} // namespace

MprisVolume::MprisVolume(QDBusConnection bus, Options options)
    : m_bus(std::move(bus))
    , m_options(options)
{
}

MprisVolume::MprisVolume(QDBusConnection bus)
    : MprisVolume(std::move(bus), Options {})
{
}

std::optional<QString> MprisVolume::player(const LinuxApplication& application)
{
    QDBusMessage list = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
        QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ListNames"));
    const QDBusMessage names = m_bus.call(list, QDBus::Block, m_options.callTimeoutMs);
    if (names.type() != QDBusMessage::ReplyMessage || names.arguments().isEmpty())
        return std::nullopt;
    QStringList players;
    for (const QString& name : names.arguments().constFirst().toStringList()) {
        if (name.startsWith(kBusNamePrefix))
            players << name;
    }
    players.sort();
    for (const QString& mprisName : application.mprisNames) {
        const QString exact = kBusNamePrefix + mprisName;
        if (players.contains(exact))
            return exact;
        for (const QString& name : players) {
            if (name.startsWith(exact + u'.'))
                return name;
        }
    }
    const QStringList desktopIDs = application.allDesktopIDs();
    if (desktopIDs.isEmpty())
        return std::nullopt;
    for (const QString& name : players) {
        QDBusMessage get = QDBusMessage::createMethodCall(name, kObjectPath, kProperties, QStringLiteral("Get"));
        get << kRootInterface << QStringLiteral("DesktopEntry");
        const QDBusMessage entry = m_bus.call(get, QDBus::Block, m_options.callTimeoutMs);
        if (entry.type() == QDBusMessage::ReplyMessage && !entry.arguments().isEmpty()) {
            const QString id = entry.arguments().constFirst().value<QDBusVariant>().variant().toString();
            if (desktopIDs.contains(id))
                return name;
        }
    }
    return std::nullopt;
}

AppleScriptExecution MprisVolume::run(const AppVolumeRequest& request, const LinuxApplication* application)
{
    // Music and TV have no Linux build: the table does not know them, and they are never open here.
    if (!application)
        return reply(QStringLiteral("not-running"));
    const QString name = application->name;
    if (request.muted || request.queriesMute)
        return failure(errAENoSuchObject, name + QStringLiteral(" has no mute that other programs can set."), {});
    if (!m_bus.isConnected())
        return failure(procNotFound,
            QStringLiteral("Sonaric can't reach the session bus, where %1 offers its volume.").arg(name),
            { QStringLiteral("Log out and log in again, so that the desktop starts its session bus.") });
    const auto bus = player(*application);
    if (!bus)
        return reply(QStringLiteral("not-running"));

    const QStringList notSettable {
        QStringLiteral("Use %1's own volume control, or disconnect %1 in Settings > Connectors so that Sonaric's "
                       "slider controls its sound again.")
            .arg(name),
    };
    const auto trouble = [&](const QDBusMessage& message) {
        switch (troubleOf(message)) {
        case Trouble::gone:
            return reply(QStringLiteral("not-running"));
        case Trouble::slow:
            return failure(errAETimeout, timedOutMessage(name), timedOutSteps(name));
        case Trouble::refused:
            break;
        }
        return failure(
            errAEWriteDenied, name + QStringLiteral(" does not let other programs set its volume."), notSettable);
    };
    const auto readVolume = [&](QDBusMessage* failed) -> std::optional<double> {
        QDBusMessage get = QDBusMessage::createMethodCall(*bus, kObjectPath, kProperties, QStringLiteral("Get"));
        get << kPlayerInterface << kVolume;
        const QDBusMessage answer = m_bus.call(get, QDBus::Block, m_options.callTimeoutMs);
        if (answer.type() != QDBusMessage::ReplyMessage || answer.arguments().isEmpty()) {
            *failed = answer;
            return std::nullopt;
        }
        bool isNumber = false;
        const double volume = answer.arguments().constFirst().value<QDBusVariant>().variant().toDouble(&isNumber);
        if (!isNumber || !std::isfinite(volume)) {
            *failed = answer.createErrorReply(QDBusError::InvalidSignature, QString());
            return std::nullopt;
        }
        return volume;
    };

    QDBusMessage failed;
    if (request.volume) {
        QDBusMessage set = QDBusMessage::createMethodCall(*bus, kObjectPath, kProperties, QStringLiteral("Set"));
        set << kPlayerInterface << kVolume << QVariant::fromValue(QDBusVariant(*request.volume / 100.0));
        const QDBusMessage answer = m_bus.call(set, QDBus::Block, m_options.callTimeoutMs);
        if (answer.type() != QDBusMessage::ReplyMessage)
            return trouble(answer);
        // A player may apply the change a moment later, or accept it and never apply it.
        const QDeadlineTimer deadline(m_options.settle);
        for (;;) {
            const auto volume = readVolume(&failed);
            if (!volume)
                return trouble(failed);
            if (percentOf(*volume) == *request.volume)
                return reply(QString::number(*request.volume));
            if (deadline.hasExpired())
                return failure(errAEWriteDenied, name + QStringLiteral(" does not let other programs set its volume."),
                    notSettable);
            QThread::msleep(static_cast<unsigned long>(m_options.poll.count()));
        }
    }
    const auto volume = readVolume(&failed);
    if (!volume)
        return trouble(failed);
    return reply(QString::number(percentOf(*volume)));
}

QString MprisVolume::timedOutMessage(const QString& player)
{
    return player + QStringLiteral(" did not answer in time.");
}

QStringList MprisVolume::timedOutSteps(const QString& player)
{
    return { QStringLiteral("Restart %1.").arg(player) };
}

} // namespace sonaric
