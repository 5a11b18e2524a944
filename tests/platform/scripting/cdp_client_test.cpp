// The DevTools-protocol client, without a browser: finding the endpoint and staying on loopback.

#include "platform/scripting/linux/cdp_client.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace sonaric;

namespace
{

void write(const QString& path, const QByteArray& content)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
}

TEST(CdpClient, BrowserEndpointFromTheProfile)
{
    QTemporaryDir profile;
    EXPECT_EQ(CdpClient::browserEndpoint(profile.path()), std::nullopt);
    write(profile.filePath("DevToolsActivePort"), "43785\n");
    EXPECT_EQ(CdpClient::browserEndpoint(profile.path()), std::nullopt); // not complete yet
    write(profile.filePath("DevToolsActivePort"), "43785\n/devtools/browser/92b6b0a3-d461\n");
    EXPECT_EQ(CdpClient::browserEndpoint(profile.path()), QUrl("ws://127.0.0.1:43785/devtools/browser/92b6b0a3-d461"));
    write(profile.filePath("DevToolsActivePort"), "99999\n/devtools/browser/x\n");
    EXPECT_EQ(CdpClient::browserEndpoint(profile.path()), std::nullopt);
}

TEST(CdpClient, RefusesEndpointsOffLoopback)
{
    int argc = 0;
    QCoreApplication app(argc, nullptr);
    CdpClient client;
    EXPECT_FALSE(client.open(QUrl("ws://192.0.2.1:9222/devtools/browser/x"), 100));
    EXPECT_FALSE(client.open(QUrl("ws://example.com:9222/devtools/browser/x"), 100));
    EXPECT_FALSE(client.isOpen());
    const auto reply = client.call("Browser.getVersion");
    EXPECT_FALSE(reply.ok());
    // Nothing listens on this loopback port: the attempt ends without a connection.
    EXPECT_FALSE(client.open(QUrl("ws://127.0.0.1:1/devtools/browser/x"), 2000));
}

} // namespace
