#pragma once

#include "platform/audio/audio_hardware.h"
#include "platform/workspace/workspace.h"

#include <QStringList>

namespace sonaric
{

/// True when any argument, the program path included, is exactly "--list".
bool wantsListing(const QStringList& arguments);

/// The listing: the playing applications, the number of raw process objects and the output devices, one
/// line each.
QStringList listingLines(AudioHardware& hw, const Workspace& workspace);

} // namespace sonaric
