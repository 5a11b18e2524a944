#include "app/listing.h"

#include "audio/ca.h"
#include "audio/process_discovery.h"

namespace sonaric
{

bool wantsListing(const QStringList& arguments)
{
    return arguments.contains(QStringLiteral("--list"));
}

QStringList listingLines(AudioHardware& hw, const Workspace& workspace)
{
    QStringList lines;
    for (const AudioApp& app : ProcessDiscovery::apps(hw, workspace)) {
        if (!app.isPlaying)
            continue;
        QStringList objects;
        for (AudioObjectID object : app.processObjects)
            objects << QString::number(object);
        lines << QStringLiteral("%1\t%2\tpid=%3\tobjects=[%4]")
                     .arg(app.name, app.id)
                     .arg(app.pid)
                     .arg(objects.join(u", "));
    }
    lines << QStringLiteral("raw HAL process objects: %1").arg(ProcessDiscovery::rawProcesses(hw).size());

    const AudioObjectID defaultDevice = CA::defaultOutputDevice(hw);
    for (const OutputDevice& device : CA::outputDevices(hw)) {
        QString line = QStringLiteral("output: %1\t%2\tsymbol=%3").arg(device.name, device.id, device.symbol);
        if (device.objectID == defaultDevice)
            line += QStringLiteral("\t(default)");
        lines << line;
    }
    return lines;
}

} // namespace sonaric
