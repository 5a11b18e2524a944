#include "platform/audio/audio_hardware.h"

namespace sonaric
{

QString fourCCString(std::uint32_t code)
{
    QString text;
    for (int shift = 24; shift >= 0; shift -= 8)
        text += QChar(char((code >> shift) & 0xff));
    return text;
}

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
