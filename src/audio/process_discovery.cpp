#include "audio/process_discovery.h"

#include "audio/ca.h"

#include <QCollator>
#include <QLocale>

#include <algorithm>
#include <unordered_map>

namespace sonaric::ProcessDiscovery
{

const std::set<QString>& hidden()
{
    static const std::set<QString> identifiers {
        QStringLiteral("com.apple.CoreSpeech"),
        QStringLiteral("com.apple.springboard"),
        QStringLiteral("com.apple.controlcenter"),
        QStringLiteral("com.apple.loginwindow"),
        QStringLiteral("com.apple.audio.coreaudiod"),
    };
    return identifiers;
}

std::vector<RawProcess> rawProcesses(AudioHardware& hw, OSStatus* listStatus)
{
    std::vector<RawProcess> processes;
    std::vector<AudioObjectID> objects;
    const OSStatus status
        = CA::readArray(hw, kAudioObjectSystemObject, kAudioHardwarePropertyProcessObjectList, &objects);
    if (listStatus)
        *listStatus = status;
    for (AudioObjectID object : objects) {
        RawProcess p;
        p.object = object;
        p.pid = pid_t(CA::uint32(hw, object, kAudioProcessPropertyPID).value_or(std::uint32_t(-1)));
        p.bundleID = CA::string(hw, object, kAudioProcessPropertyBundleID).value_or(QString());
        p.name = CA::string(hw, object, kAudioObjectPropertyName).value_or(QString());
        p.isRunningOutput = CA::uint32(hw, object, kAudioProcessPropertyIsRunningOutput).value_or(0) != 0;
        processes.push_back(std::move(p));
    }
    return processes;
}

namespace
{

using IdentifierIndex = std::unordered_map<QString, const RunningApplication*>;

// The regular application with the longest bundle identifier that is the process's own identifier or a
// dot-separated prefix of it (a helper "com.example.browser.helper" belongs to "com.example.browser").
// Walking the prefixes from the longest down finds it without comparing against every application.
const RunningApplication* ownerByIdentifier(const IdentifierIndex& byIdentifier, const QString& bundleID)
{
    for (qsizetype end = bundleID.size(); end > 0; end = bundleID.lastIndexOf(u'.', end - 1)) {
        auto it = byIdentifier.find(bundleID.left(end));
        if (it != byIdentifier.end())
            return it->second;
    }
    return nullptr;
}

} // namespace

std::vector<AudioApp> apps(AudioHardware& hw, const Workspace& workspace, OSStatus* listStatus)
{
    const pid_t self = workspace.processIdentifier();
    const ResponsibleProcessFunction responsible = workspace.responsibleProcessFunction();

    std::vector<RunningApplication> regular;
    for (auto& app : workspace.runningApplications())
        if (app.activationPolicy == ActivationPolicy::regular)
            regular.push_back(std::move(app));
    std::unordered_map<pid_t, const RunningApplication*> byPid;
    for (const auto& app : regular)
        byPid.try_emplace(app.processIdentifier, &app);
    IdentifierIndex byIdentifier;
    for (const auto& app : regular)
        if (!app.bundleIdentifier.isNull())
            byIdentifier.try_emplace(app.bundleIdentifier, &app);
    auto regularFor = [&](pid_t pid) -> const RunningApplication* {
        auto it = byPid.find(pid);
        return it == byPid.end() ? nullptr : it->second;
    };

    std::vector<AudioApp> grouped;
    std::unordered_map<QString, std::size_t> index;
    for (const RawProcess& p : rawProcesses(hw, listStatus)) {
        if (p.pid == self || p.pid <= 0)
            continue;
        if (!p.bundleID.isNull() && hidden().contains(p.bundleID))
            continue;

        pid_t responsiblePid = p.pid;
        if (responsible) {
            const pid_t r = responsible(p.pid);
            if (r > 0)
                responsiblePid = r;
        }

        std::optional<RunningApplication> owner;
        if (auto* app = regularFor(p.pid))
            owner = *app;
        else if (auto* app = regularFor(responsiblePid))
            owner = *app;
        else if (auto* app = p.bundleID.isNull() ? nullptr : ownerByIdentifier(byIdentifier, p.bundleID))
            owner = *app;
        else
            owner = workspace.runningApplication(responsiblePid);

        QString key;
        if (owner && !owner->bundleIdentifier.isNull())
            key = owner->bundleIdentifier;
        else if (!p.bundleID.isNull() && responsiblePid == p.pid)
            key = p.bundleID;
        else
            key = QStringLiteral("pid:%1").arg(responsiblePid);

        if (auto it = index.find(key); it != index.end()) {
            AudioApp& app = grouped[it->second];
            app.processObjects.push_back(p.object);
            app.isPlaying = app.isPlaying || p.isRunningOutput;
            continue;
        }

        QString name;
        if (owner && !owner->localizedName.isNull()) {
            name = owner->localizedName;
        } else if (auto own = workspace.runningApplication(p.pid); own && !own->localizedName.isNull()) {
            name = own->localizedName;
        } else if (!p.name.isNull()) {
            name = p.name;
        } else if (!p.bundleID.isNull()) {
            name = p.bundleID;
        } else {
            name = QStringLiteral("pid %1").arg(p.pid);
        }
        index.emplace(key, grouped.size());
        grouped.push_back({ key, name, owner ? owner->processIdentifier : p.pid, { p.object }, p.isRunningOutput });
    }

    // The C and POSIX locales have no collation: Qt then compares code points, which puts "Åsa" after "zebra".
    // English adds nothing to the root collation, so it stands for the root there.
    QLocale locale;
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English);
    QCollator collator(locale);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(grouped.begin(), grouped.end(),
        [&](const AudioApp& a, const AudioApp& b) { return collator.compare(a.name, b.name) < 0; });
    return grouped;
}

} // namespace sonaric::ProcessDiscovery
