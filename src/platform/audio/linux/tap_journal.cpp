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

QJsonObject toJson(const JournalTap& tap)
{
    QJsonArray streams;
    for (const auto& s : tap.streams)
        streams.append(
            QJsonObject { { "index", qint64(s.index) }, { "pid", s.pid }, { "originalSink", s.originalSink } });
    QJsonArray restore;
    for (const auto& change : tap.restore) {
        QJsonObject object { { "name", change.name }, { "existed", bool(change.original) } };
        if (change.original)
            object.insert("entry", change.original->toJson());
        restore.append(object);
    }
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
    for (const auto& value : object.value("restore").toArray()) {
        const auto r = value.toObject();
        RestoreChange change { r.value("name").toString(), std::nullopt };
        if (r.value("existed").toBool())
            change.original = RestoreEntry::fromJson(r.value("entry").toObject());
        tap.restore.push_back(change);
    }
    return tap;
}

std::vector<JournalTap> parse(const QByteArray& text)
{
    std::vector<JournalTap> taps;
    const auto document = QJsonDocument::fromJson(text);
    for (const auto& value : document.object().value("taps").toArray())
        taps.push_back(fromJson(value.toObject()));
    return taps;
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

std::vector<JournalTap> TapJournal::read() const
{
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return parse(file.readAll());
}

bool TapJournal::update(const std::function<void(std::vector<JournalTap>&)>& change)
{
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    QLockFile lock(m_path + QStringLiteral(".lock"));
    lock.setStaleLockTime(5000);
    if (!lock.tryLock(2000))
        return false;
    auto taps = read();
    change(taps);
    QJsonArray array;
    for (const auto& tap : taps)
        array.append(toJson(tap));
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(QJsonDocument(QJsonObject { { "taps", array } }).toJson());
    return file.commit();
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
