#pragma once

#include "platform/bundle/bundle_info.h"
#include "update/update_feed.h"

#include <QString>

namespace sonaric
{

/// What `sonaric --version` prints: "Sonaric <version> (build <build>)", and a second line when the build
/// has no update feed and so never checks for updates.
QString versionText(const BundleInfo& bundle, const UpdateFeed& feed = UpdateFeed::fromBuild());

} // namespace sonaric
