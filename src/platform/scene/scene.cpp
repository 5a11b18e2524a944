#include "platform/scene/scene.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <set>

namespace sonaric
{
namespace
{

struct SceneError {
    QString message;
};

// Reads one JSON object, knowing where it sits in the document so that a problem names its field.
class Fields
{
public:
    Fields(const QJsonValue& value, QString path)
        : m_path(std::move(path))
    {
        if (!value.isObject())
            fail(m_path.isEmpty() ? QStringLiteral("the document") : m_path, QStringLiteral("expected an object"));
        m_object = value.toObject();
    }

    void allowOnly(std::initializer_list<const char*> keys) const
    {
        std::set<QString> known;
        for (const char* key : keys)
            known.insert(QString::fromLatin1(key));
        for (auto it = m_object.begin(); it != m_object.end(); ++it) {
            if (!known.contains(it.key()))
                fail(at(it.key()), QStringLiteral("unknown field"));
        }
    }

    bool has(const char* key) const { return m_object.contains(QLatin1String(key)); }
    QJsonValue raw(const char* key) const { return m_object.value(QLatin1String(key)); }
    QString at(const QString& key) const
    {
        const QString shown = printable(key);
        return m_path.isEmpty() ? shown : m_path + u'.' + shown;
    }
    QString at(const char* key) const { return at(QString::fromLatin1(key)); }

    QString string(const char* key) const
    {
        const QJsonValue v = raw(key);
        if (!v.isString())
            fail(at(key), v.isUndefined() ? QStringLiteral("missing") : QStringLiteral("expected a string"));
        return v.toString();
    }
    std::optional<QString> optionalString(const char* key) const
    {
        const QJsonValue v = raw(key);
        if (v.isUndefined() || v.isNull())
            return std::nullopt;
        if (!v.isString())
            fail(at(key), QStringLiteral("expected a string or null"));
        return v.toString();
    }
    bool boolean(const char* key, bool fallback) const
    {
        const QJsonValue v = raw(key);
        if (v.isUndefined())
            return fallback;
        if (!v.isBool())
            fail(at(key), QStringLiteral("expected true or false"));
        return v.toBool();
    }
    double number(const char* key, double fallback, double min, double max) const
    {
        const QJsonValue v = raw(key);
        if (v.isUndefined())
            return fallback;
        if (!v.isDouble())
            fail(at(key), QStringLiteral("expected a number"));
        const double d = v.toDouble();
        if (d < min || d > max)
            fail(at(key), QStringLiteral("must lie between %1 and %2").arg(min).arg(max));
        return d;
    }
    std::int64_t integer(const char* key, std::int64_t min, std::int64_t max) const
    {
        const QJsonValue v = raw(key);
        if (v.isUndefined())
            fail(at(key), QStringLiteral("missing"));
        return integerValue(v, at(key), min, max);
    }
    std::optional<std::int64_t> optionalInteger(const char* key, std::int64_t min, std::int64_t max) const
    {
        const QJsonValue v = raw(key);
        if (v.isUndefined() || v.isNull())
            return std::nullopt;
        return integerValue(v, at(key), min, max);
    }
    QJsonArray array(const char* key) const
    {
        const QJsonValue v = raw(key);
        if (v.isUndefined())
            return {};
        if (!v.isArray())
            fail(at(key), QStringLiteral("expected an array"));
        return v.toArray();
    }

    static std::int64_t integerValue(const QJsonValue& v, const QString& where, std::int64_t min, std::int64_t max)
    {
        const double d = v.toDouble();
        if (!v.isDouble() || d != std::trunc(d))
            fail(where, QStringLiteral("expected a whole number"));
        // Compared as doubles before the conversion: a number beyond 64 bits has no integer to convert to.
        if (d < double(min) || d > double(max))
            fail(where, QStringLiteral("must lie between %1 and %2").arg(min).arg(max));
        return std::int64_t(d);
    }

    /// A field name as an error shows it: control characters as JSON escapes, so the error stays one line and
    /// a name cannot reach the terminal as a control sequence.
    static QString printable(const QString& key)
    {
        QString shown;
        for (const QChar c : key) {
            if (c.category() == QChar::Other_Control || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
                shown += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
            else
                shown += c;
        }
        return shown;
    }

    [[noreturn]] static void fail(const QString& where, const QString& problem)
    {
        throw SceneError { where + QStringLiteral(": ") + problem };
    }

private:
    QString m_path;
    QJsonObject m_object;
};

QString indexed(const char* list, qsizetype index)
{
    return QStringLiteral("%1[%2]").arg(QLatin1String(list)).arg(index);
}

std::uint32_t transportCode(const Fields& f)
{
    if (!f.has("transport"))
        return kAudioDeviceTransportTypeBuiltIn;
    const QString text = f.string("transport");
    if (text.isEmpty())
        return kAudioDeviceTransportTypeUnknown;
    const QByteArray latin = text.toLatin1();
    if (text.size() != 4 || QString::fromLatin1(latin) != text)
        Fields::fail(f.at("transport"), QStringLiteral("expected a four-character code such as \"usb \" or \"bltn\""));
    std::uint32_t code = 0;
    for (char c : latin)
        code = (code << 8) | std::uint8_t(c);
    return code;
}

std::vector<std::uint32_t> streams(const Fields& f, const char* key, std::vector<std::uint32_t> fallback)
{
    if (!f.has(key))
        return fallback;
    std::vector<std::uint32_t> channels;
    const QJsonArray list = f.array(key);
    for (qsizetype i = 0; i < list.size(); ++i)
        channels.push_back(
            std::uint32_t(Fields::integerValue(list[i], f.at(indexed(key, i).toLatin1().constData()), 1, 64)));
    return channels;
}

SceneSignal signal(const Fields& process)
{
    SceneSignal s;
    if (!process.has("signal"))
        return s;
    const Fields f(process.raw("signal"), process.at("signal"));
    f.allowOnly({ "type", "amplitude", "frequency" });
    const QString type = f.string("type");
    if (type == u"sine")
        s.kind = SceneSignal::Kind::sine;
    else if (type == u"silence")
        s.kind = SceneSignal::Kind::silence;
    else if (type == u"fullScale")
        s.kind = SceneSignal::Kind::fullScale;
    else if (type == u"noise")
        s.kind = SceneSignal::Kind::noise;
    else
        Fields::fail(f.at("type"), QStringLiteral("expected \"sine\", \"silence\", \"fullScale\" or \"noise\""));
    s.amplitude = float(f.number("amplitude", s.kind == SceneSignal::Kind::fullScale ? 1.0 : 0.5, 0.0, 1.0));
    s.frequency = f.number("frequency", 440.0, 1.0, 24000.0);
    return s;
}

ActivationPolicy policy(const Fields& f)
{
    if (!f.has("policy"))
        return ActivationPolicy::regular;
    const QString text = f.string("policy");
    if (text == u"regular")
        return ActivationPolicy::regular;
    if (text == u"accessory")
        return ActivationPolicy::accessory;
    if (text == u"prohibited")
        return ActivationPolicy::prohibited;
    Fields::fail(f.at("policy"), QStringLiteral("expected \"regular\", \"accessory\" or \"prohibited\""));
}

Scene readScene(const QJsonValue& root)
{
    const Fields top(root, QString());
    top.allowOnly({ "devices", "applications", "processes", "installed", "ownPid", "responsibleProcessFunction" });
    Scene scene;
    if (auto own = top.optionalInteger("ownPid", 1, INT32_MAX))
        scene.ownPid = pid_t(*own);
    scene.hasResponsibleProcessFunction = top.boolean("responsibleProcessFunction", true);

    std::set<QString> uids;
    std::set<AudioObjectID> objectIDs;
    auto claimObject = [&](const Fields& f) -> AudioObjectID {
        auto id = f.optionalInteger("objectID", 2, UINT32_MAX);
        if (!id)
            return 0;
        if (!objectIDs.insert(AudioObjectID(*id)).second)
            Fields::fail(f.at("objectID"), QStringLiteral("used twice"));
        return AudioObjectID(*id);
    };

    const QJsonArray devices = top.array("devices");
    bool haveDefault = false;
    for (qsizetype i = 0; i < devices.size(); ++i) {
        const Fields f(devices[i], indexed("devices", i));
        f.allowOnly({ "objectID", "uid", "name", "transport", "canBeDefault", "default", "sampleRate", "outputStreams",
            "inputStreams" });
        SceneDevice d;
        d.objectID = claimObject(f);
        d.uid = f.string("uid");
        if (d.uid.isEmpty())
            Fields::fail(f.at("uid"), QStringLiteral("must not be empty"));
        if (!uids.insert(d.uid).second)
            Fields::fail(f.at("uid"), QStringLiteral("used by an earlier device"));
        d.name = f.optionalString("name");
        d.transport = transportCode(f);
        d.canBeDefaultOutput = f.boolean("canBeDefault", true);
        d.isDefaultOutput = f.boolean("default", false);
        if (d.isDefaultOutput && haveDefault)
            Fields::fail(f.at("default"), QStringLiteral("only one device can be the default output"));
        haveDefault = haveDefault || d.isDefaultOutput;
        d.sampleRate = f.number("sampleRate", 48000.0, 1.0, 768000.0);
        d.outputStreams = streams(f, "outputStreams", { 2 });
        d.inputStreams = streams(f, "inputStreams", {});
        scene.devices.push_back(std::move(d));
    }

    const QJsonArray applications = top.array("applications");
    for (qsizetype i = 0; i < applications.size(); ++i) {
        const Fields f(applications[i], indexed("applications", i));
        f.allowOnly({ "pid", "bundleID", "name", "policy", "icon" });
        RunningApplication app;
        app.processIdentifier = pid_t(f.integer("pid", 1, INT32_MAX));
        app.bundleIdentifier = f.optionalString("bundleID").value_or(QString());
        app.localizedName = f.optionalString("name").value_or(QString());
        app.activationPolicy = policy(f);
        // Icons are looked up by bundle identifier, so an application without one cannot carry an icon.
        if (const auto icon = f.optionalString("icon")) {
            if (app.bundleIdentifier.isEmpty())
                Fields::fail(f.at("icon"), QStringLiteral("an application without a bundleID has no icon"));
            scene.applicationIcons[app.bundleIdentifier] = *icon;
        }
        scene.applications.push_back(std::move(app));
    }

    const QJsonArray processes = top.array("processes");
    for (qsizetype i = 0; i < processes.size(); ++i) {
        const Fields f(processes[i], indexed("processes", i));
        f.allowOnly({ "objectID", "pid", "bundleID", "name", "playing", "responsiblePid", "signal" });
        SceneProcess p;
        p.objectID = claimObject(f);
        p.pid = pid_t(f.integer("pid", -1, INT32_MAX));
        p.bundleID = f.optionalString("bundleID").value_or(QString());
        p.playing = f.boolean("playing", false);
        p.name = f.optionalString("name").value_or(QString());
        if (auto responsible = f.optionalInteger("responsiblePid", 1, INT32_MAX))
            p.responsiblePid = pid_t(*responsible);
        p.signal = signal(f);
        scene.processes.push_back(std::move(p));
    }

    const QJsonArray installed = top.array("installed");
    for (qsizetype i = 0; i < installed.size(); ++i) {
        if (!installed[i].isString())
            Fields::fail(indexed("installed", i), QStringLiteral("expected a bundle identifier string"));
        scene.installed.push_back(installed[i].toString());
    }
    return scene;
}

} // namespace

SceneLoadResult parseScene(const QByteArray& json, const QString& source)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        return { std::nullopt,
            QStringLiteral("%1: not valid JSON (%2 at byte %3)")
                .arg(source, parseError.errorString())
                .arg(parseError.offset) };
    }
    try {
        return { readScene(document.isObject() ? QJsonValue(document.object()) : QJsonValue(document.array())), {} };
    } catch (const SceneError& error) {
        return { std::nullopt, source + QStringLiteral(": ") + error.message };
    }
}

SceneLoadResult loadSceneFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return { std::nullopt, QStringLiteral("%1: cannot read the scene file (%2)").arg(path, file.errorString()) };
    return parseScene(file.readAll(), path);
}

Scene demoScene()
{
    QFile file(QStringLiteral(":/scenes/demo.json"));
    file.open(QIODevice::ReadOnly);
    SceneLoadResult result = parseScene(file.readAll(), QStringLiteral("demo scene"));
    Q_ASSERT_X(result.scene, "demoScene", qPrintable(result.error));
    return result.scene.value_or(Scene {});
}

} // namespace sonaric
