#include "platform/audio/linux/tap_journal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QRandomGenerator>
#include <QSaveFile>

#include <unistd.h>

namespace sonaric
{

namespace
{

QString processStartTime(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return {};
    const QByteArray text = stat.readAll();
    // The command name may hold spaces and parentheses: fields are counted after its closing one.
    const int close = text.lastIndexOf(')');
    if (close < 0)
        return {};
    const QList<QByteArray> fields = text.mid(close + 2).split(' ');
    // Field 22 (starttime) is the 20th after the command name.
    return fields.size() > 19 ? QString::fromLatin1(fields[19]) : QString();
}

QJsonArray restoreToJson(const std::vector<RestoreChange>& changes)
{
    QJsonArray restore;
    for (const auto& change : changes) {
        QJsonObject object { { "name", change.name }, { "existed", bool(change.original) } };
        if (change.original)
            object.insert("entry", change.original->toJson());
        restore.append(object);
    }
    return restore;
}

std::vector<RestoreChange> restoreFromJson(const QJsonArray& array)
{
    std::vector<RestoreChange> changes;
    for (const auto& value : array) {
        const auto r = value.toObject();
        RestoreChange change { r.value("name").toString(), std::nullopt };
        if (r.value("existed").toBool())
            change.original = RestoreEntry::fromJson(r.value("entry").toObject());
        changes.push_back(change);
    }
    return changes;
}

QJsonObject toJson(const JournalTap& tap)
{
    QJsonArray streams;
    for (const auto& s : tap.streams)
        streams.append(
            QJsonObject { { "index", qint64(s.index) }, { "pid", s.pid }, { "originalSink", s.originalSink } });
    const QJsonArray restore = restoreToJson(tap.restore);
    return { { "owner", tap.owner }, { "server", tap.server }, { "sink", tap.sink }, { "streams", streams },
        { "restore", restore } };
}

JournalTap fromJson(const QJsonObject& object)
{
    JournalTap tap;
    tap.owner = object.value("owner").toString();
    tap.server = object.value("server").toString();
    tap.sink = object.value("sink").toString();
    for (const auto& value : object.value("streams").toArray()) {
        const auto s = value.toObject();
        tap.streams.push_back({ std::uint32_t(s.value("index").toInteger()), pid_t(s.value("pid").toInt(-1)),
            s.value("originalSink").toString() });
    }
    tap.restore = restoreFromJson(object.value("restore").toArray());
    return tap;
}

QJsonObject levelsToJson(const JournalLevels& levels)
{
    QJsonArray streams;
    for (const auto& s : levels.streams) {
        QJsonArray volume;
        for (auto v : s.originalVolume)
            volume.append(qint64(v));
        streams.append(QJsonObject { { "index", qint64(s.index) }, { "pid", s.pid }, { "originalSink", s.originalSink },
            { "originalVolume", volume }, { "originalMute", s.originalMute } });
    }
    return { { "owner", levels.owner }, { "server", levels.server }, { "streams", streams },
        { "restore", restoreToJson(levels.restore) } };
}

JournalLevels levelsFromJson(const QJsonObject& object)
{
    JournalLevels levels;
    levels.owner = object.value("owner").toString();
    levels.server = object.value("server").toString();
    for (const auto& value : object.value("streams").toArray()) {
        const auto s = value.toObject();
        JournalHeldStream stream { std::uint32_t(s.value("index").toInteger()), pid_t(s.value("pid").toInt(-1)),
            s.value("originalSink").toString(), {}, s.value("originalMute").toBool() };
        // A volume out of pa_volume_t's range is not one the server gave us: the stream keeps what it has.
        for (const auto& v : s.value("originalVolume").toArray()) {
            const qint64 level = v.toInteger(-1);
            if (level < 0 || level > 0x7fffffff) {
                stream.originalVolume.clear();
                break;
            }
            stream.originalVolume.push_back(std::uint32_t(level));
        }
        levels.streams.push_back(stream);
    }
    levels.restore = restoreFromJson(object.value("restore").toArray());
    return levels;
}

} // namespace

TapJournal::TapJournal(QString path)
    : m_path(std::move(path))
{
}

QString TapJournal::defaultPath()
{
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return base + QStringLiteral("/sonaric/audio-taps.json");
}

QString TapJournal::newOwnerToken()
{
    const pid_t pid = getpid();
    return QStringLiteral("%1:%2:%3")
        .arg(pid)
        .arg(processStartTime(pid))
        .arg(QRandomGenerator::system()->generate64(), 16, 16, QLatin1Char('0'));
}

bool TapJournal::isOwnerAlive(const QString& owner)
{
    const QStringList parts = owner.split(QLatin1Char(':'));
    bool ok = false;
    const pid_t pid = parts.value(0).toInt(&ok);
    if (!ok || pid <= 0)
        return false;
    const QString start = processStartTime(pid);
    return !start.isEmpty() && start == parts.value(1);
}

TapJournal::Contents TapJournal::readAll() const
{
    Contents contents;
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return contents;
    const QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
    for (const auto& value : root.value("taps").toArray())
        contents.taps.push_back(fromJson(value.toObject()));
    for (const auto& value : root.value("levels").toArray())
        contents.levels.push_back(levelsFromJson(value.toObject()));
    return contents;
}

std::vector<JournalTap> TapJournal::read() const
{
    return readAll().taps;
}

std::vector<JournalLevels> TapJournal::readLevels() const
{
    return readAll().levels;
}

bool TapJournal::write(const std::function<void(Contents&)>& change)
{
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    QLockFile lock(m_path + QStringLiteral(".lock"));
    lock.setStaleLockTime(5000);
    if (!lock.tryLock(2000))
        return false;
    Contents contents = readAll();
    change(contents);
    QJsonArray taps;
    for (const auto& tap : contents.taps)
        taps.append(toJson(tap));
    QJsonObject root { { "taps", taps } };
    // Left out while empty, so that a journal without levels reads the same to a build that knows none.
    if (!contents.levels.empty()) {
        QJsonArray levels;
        for (const auto& entry : contents.levels)
            levels.append(levelsToJson(entry));
        root.insert("levels", levels);
    }
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(QJsonDocument(root).toJson());
    return file.commit();
}

bool TapJournal::update(const std::function<void(std::vector<JournalTap>&)>& change)
{
    return write([&](Contents& contents) { change(contents.taps); });
}

bool TapJournal::updateLevels(const std::function<void(std::vector<JournalLevels>&)>& change)
{
    return write([&](Contents& contents) { change(contents.levels); });
}

bool TapJournal::addStream(const QString& sink, const JournalStream& stream)
{
    return update([&](std::vector<JournalTap>& taps) {
        for (auto& tap : taps) {
            if (tap.sink != sink)
                continue;
            for (const auto& known : tap.streams)
                if (known.index == stream.index)
                    return;
            tap.streams.push_back(stream);
        }
    });
}

bool TapJournal::addRestore(const QString& sink, const std::vector<RestoreChange>& changes)
{
    if (changes.empty())
        return true;
    return update([&](std::vector<JournalTap>& taps) {
        for (auto& tap : taps) {
            if (tap.sink != sink)
                continue;
            for (const auto& change : changes) {
                const bool known = std::any_of(tap.restore.begin(), tap.restore.end(),
                    [&](const RestoreChange& r) { return r.name == change.name; });
                if (!known)
                    tap.restore.push_back(change);
            }
        }
    });
}

} // namespace sonaric
