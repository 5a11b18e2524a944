#pragma once

namespace sonaric
{

/// Sonaric's own bundle identifier: it prefixes the UIDs of the devices it creates and names its settings.
inline constexpr char kSonaricBundleIdentifier[] = "org.sonaric.Sonaric";

} // namespace sonaric
