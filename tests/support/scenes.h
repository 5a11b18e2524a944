#pragma once

// Small builders for scenes written in test code.

#include "platform/scene/scene.h"

namespace sonaric::test
{

inline SceneDevice outputDevice(
    QString uid, std::optional<QString> name, std::uint32_t transport, bool isDefault = false)
{
    SceneDevice d;
    d.uid = std::move(uid);
    d.name = std::move(name);
    d.transport = transport;
    d.isDefaultOutput = isDefault;
    return d;
}

inline RunningApplication application(
    pid_t pid, QString bundleID, QString name, ActivationPolicy policy = ActivationPolicy::regular)
{
    return { pid, std::move(bundleID), std::move(name), policy };
}

inline SceneProcess process(pid_t pid, QString bundleID, bool playing, std::optional<pid_t> responsible = std::nullopt)
{
    SceneProcess p;
    p.pid = pid;
    p.bundleID = std::move(bundleID);
    p.playing = playing;
    p.responsiblePid = responsible;
    return p;
}

} // namespace sonaric::test
