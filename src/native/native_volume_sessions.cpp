#include "native/native_volume_sessions.h"

#include "native/app_volume.h"
#include "native/browser_media_volume.h"

namespace sonaric
{

std::unique_ptr<NativeVolumeControlling> makeNativeVolumeController(
    NativeVolumeSource source, Scripting& scripting, const Workspace& workspace)
{
    if (source.isBrowser())
        return std::make_unique<BrowserMediaVolume>(source, scripting, workspace);
    return std::make_unique<AppVolume>(source, scripting);
}

std::vector<std::unique_ptr<NativeVolumeSession>> makeNativeVolumeSessions(
    const NativeVolumeControllerFactory& controllers, DelayClock* clock)
{
    std::vector<std::unique_ptr<NativeVolumeSession>> sessions;
    for (const NativeVolumeSource& source : NativeVolumeSource::allCases())
        sessions.push_back(std::make_unique<NativeVolumeSession>(source, controllers(source), clock));
    return sessions;
}

} // namespace sonaric
