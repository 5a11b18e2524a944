#include "native/app_volume.h"

#include "native/controller_queue.h"
#include "native/native_apple_script.h"

#include <QStringList>

#include <charconv>
#include <cmath>
#include <limits>

namespace sonaric
{

using native_detail::checkCancellation;
using native_detail::runOperation;

namespace
{

QString trimSpacesAndTabs(const QString& text)
{
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && (text.at(start) == u' ' || text.at(start) == u'\t'))
        ++start;
    while (end > start && (text.at(end - 1) == u' ' || text.at(end - 1) == u'\t'))
        --end;
    return text.mid(start, end - start);
}

/// The standard decimal conversion: the whole text must be the number, without surrounding whitespace.
std::optional<float> toFloat(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    if (bytes.isEmpty())
        return std::nullopt;
    const char* begin = bytes.constData();
    const char* end = begin + bytes.size();
    if (*begin == '+')
        ++begin; // accepted by the standard conversion, unlike from_chars
    float value = 0;
    const auto [stop, error] = std::from_chars(begin, end, value);
    if (stop != end || begin == end)
        return std::nullopt;
    if (error == std::errc::result_out_of_range)
        return std::numeric_limits<float>::infinity();
    if (error != std::errc())
        return std::nullopt;
    return value;
}

int percent(float fraction)
{
    return int(std::round(fraction * 100.0f));
}

} // namespace

AppVolume::AppVolume(NativeVolumeSource source, Scripting& scripting)
    : m_source(source)
    , m_scripting(scripting)
    , m_queue(("AppVolume." + source.bundleID()).toStdString())
{
}

QString AppVolume::appleScript(NativeVolumeSource source, std::optional<int> volume, std::optional<bool> muted)
{
    QStringList commands;
    if (volume)
        commands << QStringLiteral("set «property pVol» to ") + QString::number(*volume);
    const bool hasMute = source == NativeVolumeSource::appleMusic || source == NativeVolumeSource::appleTV;
    if (hasMute && muted)
        commands << QStringLiteral("set «property pMut» to ")
                + (*muted ? QStringLiteral("true") : QStringLiteral("false"));
    const QString query = hasMute
        ? QStringLiteral("((get «property pVol») as text) & \",\" & ((get «property pMut») as text)")
        : QStringLiteral("(get «property pVol») as text");
    const QStringList lines {
        QStringLiteral("set targetID to \"") + source.bundleID() + QStringLiteral("\""),
        QStringLiteral("if application id targetID is not running then return \"not-running\""),
        QStringLiteral("tell application id targetID"),
        QStringLiteral("    with timeout of 10 seconds"),
        QStringLiteral("        ") + commands.join(QStringLiteral("\n        ")),
        QStringLiteral("        return ") + query,
        QStringLiteral("    end timeout"),
        QStringLiteral("end tell"),
    };
    return lines.join(u'\n');
}

std::optional<AppVolume::Reply> AppVolume::parse(const QString& reply)
{
    QStringList pieces = reply.split(u',', Qt::SkipEmptyParts);
    if (pieces.size() != 1 && pieces.size() != 2)
        return std::nullopt;
    for (QString& piece : pieces)
        piece = trimSpacesAndTabs(piece);
    const auto volume = toFloat(pieces.first());
    if (!volume || !std::isfinite(*volume) || *volume < 0 || *volume > 100)
        return std::nullopt;
    std::optional<bool> muted;
    if (pieces.size() == 2) {
        if (pieces[1] == QStringLiteral("true"))
            muted.emplace(true);
        else if (pieces[1] == QStringLiteral("false"))
            muted.emplace(false);
        else
            return std::nullopt;
    }
    std::optional<Reply> parsed;
    parsed.emplace(*volume / 100, muted);
    return parsed;
}

AppVolume::Reply AppVolume::execute(std::optional<int> volume, std::optional<bool> muted)
{
    const QString reply = NativeAppleScript::execute(m_scripting, appleScript(m_source, volume, muted), m_source);
    if (reply == QStringLiteral("not-running"))
        throw NativeVolumeError::failure(m_source, QStringLiteral("not-running"));
    const auto parsed = parse(reply);
    if (!parsed)
        throw NativeVolumeError::failure(m_source, QStringLiteral("invalid"));
    return *parsed;
}

NativeVolumeConnection AppVolume::connection(const Reply& reply)
{
    const auto& [volume, muted] = reply;
    NativeVolumeState state;
    if (muted) {
        state = { volume, *muted };
    } else if (volume != 0 || !m_mutedVolume) {
        m_mutedVolume.reset();
        state = { volume, false };
    } else {
        state = { *m_mutedVolume, true };
    }
    return { state, {} };
}

void AppVolume::connect(CancellationToken cancellation, Completion done)
{
    runOperation(m_queue, std::move(done), [this, cancellation] {
        checkCancellation(cancellation);
        m_mutedVolume.reset();
        return connection(execute(std::nullopt, std::nullopt));
    });
}

void AppVolume::read(const NativeVolumeConnection&, CancellationToken cancellation, Completion done)
{
    runOperation(m_queue, std::move(done), [this, cancellation] { return readNow(cancellation); });
}

void AppVolume::set(
    const NativeVolumeChanges& desired, const NativeVolumeConnection&, CancellationToken cancellation, Completion done)
{
    runOperation(m_queue, std::move(done), [this, desired, cancellation] { return setNow(desired, cancellation); });
}

void AppVolume::finishPendingOperations(std::function<void()> done)
{
    if (done)
        done();
}

NativeVolumeConnection AppVolume::readNow(const CancellationToken& cancellation)
{
    checkCancellation(cancellation);
    return connection(execute(std::nullopt, std::nullopt));
}

NativeVolumeConnection AppVolume::setNow(const NativeVolumeChanges& desired, const CancellationToken& cancellation)
{
    checkCancellation(cancellation);
    const auto entry = desired.constFind(QString(""));
    if (entry == desired.cend())
        return readNow(cancellation);
    const NativeVolumeState wanted = *entry;
    if (!std::isfinite(wanted.volume) || wanted.volume < 0 || wanted.volume > 1)
        throw NativeVolumeError(m_source.title() + QStringLiteral(" volume must be between 0% and 100%."));
    const int volume = percent(wanted.volume);
    if (m_source != NativeVolumeSource::spotify)
        return connection(execute(volume, wanted.muted));

    const float readBack = execute(wanted.muted ? 0 : volume, std::nullopt).first;
    if (readBack == 0 && wanted.muted) {
        m_mutedVolume = wanted.volume;
        return { NativeVolumeState { wanted.volume, true }, {} };
    }
    m_mutedVolume.reset();
    return { NativeVolumeState { readBack, false }, {} };
}

} // namespace sonaric
