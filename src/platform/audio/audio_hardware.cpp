#include "platform/audio/audio_hardware.h"

namespace sonaric
{

CATapDescription CATapDescription::stereoMixdownOfProcesses(std::vector<AudioObjectID> processes)
{
    CATapDescription description;
    description.processes = std::move(processes);
    description.isMixdown = true;
    description.isMono = false;
    description.isExclusive = false;
    return description;
}

} // namespace sonaric
