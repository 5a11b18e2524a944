#include "platform/workspace/linux/linux_workspace.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <chrono>
#include <csignal>
#include <thread>

using namespace sonaric;

namespace
{

/// A throwaway "browser": a copy of the shell under its own name, started from a desktop entry of its own,
/// that starts a helper (itself again) which starts a plain child process.
class FakeBrowser : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const QString program = dir.filePath("fake-browser");
        ASSERT_TRUE(QFile::copy("/bin/bash", program));
        QFile::setPermissions(program, QFile::ExeOwner | QFile::ReadOwner);
        QDir().mkpath(dir.filePath("applications"));
        QFile entry(dir.filePath("applications/org.example.FakeBrowser.desktop"));
        ASSERT_TRUE(entry.open(QIODevice::WriteOnly));
        entry.write("[Desktop Entry]\nType=Application\nName=Fake Browser\nExec=fake-browser %U\n");
        entry.close();
        process.start(program, { "-c", program + " -c 'sleep 30; true' & sleep 30; true" });
        ASSERT_TRUE(process.waitForStarted());
        workspace = std::make_unique<LinuxWorkspace>(DesktopEntries::load({ dir.filePath("applications") }, {}));
        // Wait for the helper's own child, the deepest process of the tree.
        for (int i = 0; i < 100 && helperChild() <= 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }

    void TearDown() override
    {
        for (pid_t pid : descendants(pid_t(process.processId())))
            ::kill(pid, SIGKILL);
        process.kill();
        process.waitForFinished();
    }

    static std::vector<pid_t> children(pid_t parent)
    {
        std::vector<pid_t> result;
        QFile file(QStringLiteral("/proc/%1/task/%1/children").arg(parent));
        if (file.open(QIODevice::ReadOnly))
            for (const auto& word : file.readAll().split(' '))
                if (word.trimmed().toInt() > 0)
                    result.push_back(word.trimmed().toInt());
        return result;
    }

    static std::vector<pid_t> descendants(pid_t root)
    {
        std::vector<pid_t> all;
        for (pid_t child : children(root)) {
            all.push_back(child);
            for (pid_t deeper : descendants(child))
                all.push_back(deeper);
        }
        return all;
    }

    pid_t helper() const
    {
        for (pid_t child : children(pid_t(process.processId())))
            if (QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(child)).endsWith("fake-browser"))
                return child;
        return -1;
    }

    pid_t helperChild() const
    {
        const pid_t h = helper();
        const auto c = h > 0 ? children(h) : std::vector<pid_t> {};
        return c.empty() ? -1 : c.front();
    }

    QTemporaryDir dir;
    QProcess process;
    std::unique_ptr<LinuxWorkspace> workspace;
};

} // namespace

TEST_F(FakeBrowser, OnlyTheTopProcessOfAnEntryIsAnApplication)
{
    const pid_t browser = pid_t(process.processId());
    ASSERT_GT(helperChild(), 0);
    const auto apps = workspace->runningApplications();
    std::vector<RunningApplication> mine;
    for (const auto& app : apps)
        if (app.bundleIdentifier == "org.example.FakeBrowser")
            mine.push_back(app);
    ASSERT_EQ(mine.size(), 1u);
    EXPECT_EQ(mine[0],
        (RunningApplication { browser, "org.example.FakeBrowser", "Fake Browser", ActivationPolicy::regular }));

    // The helper still reads as the browser, but is no application of its own.
    const auto helperApp = workspace->runningApplication(helper());
    ASSERT_TRUE(helperApp);
    EXPECT_EQ(helperApp->activationPolicy, ActivationPolicy::prohibited);
    EXPECT_FALSE(workspace->runningApplication(helperChild()));
    EXPECT_EQ(workspace->urlForApplication("org.example.FakeBrowser"),
        dir.filePath("applications/org.example.FakeBrowser.desktop"));
    EXPECT_TRUE(workspace->urlForApplication("org.example.Missing").isNull());
}

TEST_F(FakeBrowser, HelpersAndTheirChildrenBelongToTheApplication)
{
    const pid_t browser = pid_t(process.processId());
    ASSERT_GT(helperChild(), 0);
    const auto responsible = workspace->responsibleProcessFunction();
    EXPECT_EQ(responsible(helper()), browser);
    EXPECT_EQ(responsible(helperChild()), browser);
    EXPECT_EQ(responsible(browser), browser);
    // A process outside any application is its own responsible process.
    EXPECT_EQ(responsible(getpid()), getpid());
    EXPECT_EQ(workspace->processIdentifier(), getpid());
}

TEST_F(FakeBrowser, AnEndedProcessNobodyCollectedIsNoApplication)
{
    // The browser's copy ends soon under a parent that never collects it (sleep, exec'd by the shell that
    // started it): a zombie, as a container's first process leaves them.
    const QString program = dir.filePath("fake-browser");
    QProcess parent;
    parent.start("/bin/bash", { "-c", program + " -c 'sleep 0.2; exit 0' & exec sleep 30" });
    ASSERT_TRUE(parent.waitForStarted());
    pid_t zombie = -1;
    for (int i = 0; i < 250 && zombie <= 0; ++i) {
        for (pid_t child : children(pid_t(parent.processId()))) {
            QFile stat(QStringLiteral("/proc/%1/stat").arg(child));
            if (stat.open(QIODevice::ReadOnly) && stat.readAll().contains(") Z "))
                zombie = child;
        }
        if (zombie <= 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_GT(zombie, 0) << "the copy did not end";

    std::vector<pid_t> listed;
    for (const auto& app : workspace->runningApplications())
        if (app.bundleIdentifier == "org.example.FakeBrowser")
            listed.push_back(app.processIdentifier);
    // The live browser is still there; the zombie is neither an application nor a helper of one.
    EXPECT_EQ(listed, std::vector<pid_t> { pid_t(process.processId()) });
    EXPECT_FALSE(workspace->runningApplication(zombie));
    parent.kill();
    parent.waitForFinished();
}
