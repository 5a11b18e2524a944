// The update feed is a document from the network. Whatever it holds, the updater offers at most an update that is
// strictly newer than the running build, downloaded over https from the feed's own host, with a well-formed
// digest and a size it is willing to download.

#include "fuzz/fuzz_support.h"
#include "update/updater.h"

#include <QRegularExpression>

#include <limits>

using namespace sonaric;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const QUrl feed(QStringLiteral("https://updates.example.org/sonaric/feed.json"));
    static const QRegularExpression digest(QStringLiteral("^[0-9A-Fa-f]{64}$"));
    const QByteArray document = fuzz::bytes(data, size);
    for (const qint64 build : { qint64(0), qint64(41), std::numeric_limits<qint64>::max() }) {
        const std::optional<UpdateInfo> update = Updater::newer(document, build, feed);
        if (!update)
            continue;
        fuzz::expect(update->build > build, "an offered build is strictly newer than the running one");
        fuzz::expect(update->url.scheme() == QLatin1String("https"), "an update is downloaded over https");
        fuzz::expect(update->url.host() == feed.host(), "an update comes from the feed's own host");
        fuzz::expect(digest.match(update->sha256).hasMatch(), "the digest is 64 hexadecimal digits");
        fuzz::expect(update->size >= 1 && update->size <= Updater::largestImage, "the size is one we download");
        fuzz::expect(UpdateInfo::decode(document) == update, "what is offered is what the feed says");
    }
    return 0;
}
