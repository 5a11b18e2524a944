#include "app/listing.h"
#include "app/platform.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

using namespace sonaric;

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Sonaric"));
    QCoreApplication::setOrganizationName(QStringLiteral("Sonaric"));
    const QStringList arguments = QCoreApplication::arguments();
    QTextStream err(stderr);

    const PlatformChoice choice = parsePlatformChoice(arguments, QProcessEnvironment::systemEnvironment());
    if (!choice.error.isEmpty()) {
        err << "sonaric: " << choice.error << Qt::endl;
        return 2;
    }
    Platform platform = makePlatform(choice);
    if (!platform.error.isEmpty()) {
        err << "sonaric: " << platform.error << Qt::endl;
        return 2;
    }
    err << "sonaric: " << platform.description << Qt::endl;

    if (wantsListing(arguments)) {
        QTextStream out(stdout);
        for (const QString& line : listingLines(*platform.audio, *platform.workspace))
            out << line << '\n';
        out.flush();
        return 0;
    }

    err << "sonaric: the mixer window is not part of this build yet; run \"sonaric --list\" to see what it would show"
        << Qt::endl;
    return 0;
}
