#include "platform/scripting/sim/simulated_scripting.h"

#include "platform/scripting/sim/scripting_json.h"

#include <thread>

namespace sonaric
{

std::unique_ptr<SimulatedScripting> SimulatedScripting::fromJson(const QByteArray& json, QString* error)
{
    auto fakes = ScriptingJson::parse(json, error);
    if (!fakes)
        return nullptr;
    auto scripting = std::make_unique<SimulatedScripting>();
    for (FakeMediaApp& app : fakes->apps)
        scripting->addApp(std::move(app));
    for (FakeBrowser& browser : fakes->browsers)
        scripting->addBrowser(std::move(browser));
    return scripting;
}

FakeMediaApp& SimulatedScripting::addApp(FakeMediaApp app)
{
    std::lock_guard lock(m_mutex);
    return m_apps.add(std::move(app));
}

FakeBrowser& SimulatedScripting::addBrowser(FakeBrowser browser)
{
    std::lock_guard lock(m_mutex);
    return m_browsers.emplace_back(std::move(browser));
}

FakeMediaApp* SimulatedScripting::app(const QString& bundleID)
{
    std::lock_guard lock(m_mutex);
    return m_apps.find(bundleID);
}

FakeBrowser* SimulatedScripting::browser(pid_t pid)
{
    std::lock_guard lock(m_mutex);
    for (auto& browser : m_browsers) {
        if (browser.pid == pid)
            return &browser;
    }
    return nullptr;
}

FakeBrowser* SimulatedScripting::browser(const QString& bundleID)
{
    std::lock_guard lock(m_mutex);
    for (auto& browser : m_browsers) {
        if (browser.bundleID == bundleID)
            return &browser;
    }
    return nullptr;
}

void SimulatedScripting::failNextScriptCreations(int count)
{
    std::lock_guard lock(m_mutex);
    m_failCreations = count;
}

void SimulatedScripting::setScriptDuration(std::chrono::milliseconds duration)
{
    std::lock_guard lock(m_mutex);
    m_scriptDuration = duration;
}

QStringList SimulatedScripting::executedScripts() const
{
    std::lock_guard lock(m_mutex);
    return m_scripts;
}

std::vector<AppleEventDescriptor> SimulatedScripting::sentEvents() const
{
    std::lock_guard lock(m_mutex);
    return m_events;
}

std::vector<double> SimulatedScripting::sentTimeouts() const
{
    std::lock_guard lock(m_mutex);
    return m_timeouts;
}

void SimulatedScripting::clearLog()
{
    std::lock_guard lock(m_mutex);
    m_scripts.clear();
    m_events.clear();
    m_timeouts.clear();
}

AppleScriptExecution SimulatedScripting::executeAppleScript(const QString& source, const QString& targetBundleID)
{
    const int running = ++m_running;
    for (int seen = m_maxConcurrent.load(); running > seen && !m_maxConcurrent.compare_exchange_weak(seen, running);) {
    }
    std::chrono::milliseconds duration;
    {
        std::lock_guard lock(m_mutex);
        duration = m_scriptDuration;
    }
    if (duration.count() > 0)
        std::this_thread::sleep_for(duration);

    AppleScriptExecution execution;
    {
        std::lock_guard lock(m_mutex);
        m_scripts << source;
        if (m_failCreations > 0) {
            --m_failCreations;
            execution.created = false;
        } else if (source.trimmed().isEmpty()) {
            execution.created = false;
        } else if (targetBundleID == kSafariBundleID) {
            execution = m_safari.run(source);
        } else {
            execution = m_apps.run(source);
        }
    }
    --m_running;
    return execution;
}

AppleEventSendResult SimulatedScripting::sendAppleEvent(const AppleEventDescriptor& event, double timeoutSeconds)
{
    std::lock_guard lock(m_mutex);
    m_events.push_back(event);
    m_timeouts.push_back(timeoutSeconds);
    return m_chromium.send(event);
}

} // namespace sonaric
