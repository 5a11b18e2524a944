#include "ui/connector_icons.h"

#include "native/native_volume_source.h"
#include "ui/app_icon_provider.h"

namespace sonaric
{

namespace
{
std::optional<NativeVolumeSource> sourceOf(int connector)
{
    const auto& all = NativeVolumeSource::allCases();
    if (connector < 0 || connector >= int(all.size()))
        return std::nullopt;
    return all[size_t(connector)];
}
} // namespace

QUrl ConnectorIcons::source(int connector) const
{
    const auto source = sourceOf(connector);
    return source ? AppIconProvider::sourceForBundle(source->bundleID()) : QUrl();
}

QString ConnectorIcons::title(int connector) const
{
    const auto source = sourceOf(connector);
    return source ? source->title() : QString();
}

} // namespace sonaric
