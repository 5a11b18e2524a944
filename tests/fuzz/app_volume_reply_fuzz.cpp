// The reply of Spotify, Music or TV to the volume script is whatever the application returns as text.
// Decoding it gives a level in 0 … 1 (and a mute where there is one) or nothing.

#include "fuzz/fuzz_support.h"
#include "native/app_volume.h"

#include <cmath>

using namespace sonaric;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto reply = AppVolume::parse(QString::fromUtf8(fuzz::bytes(data, size)));
    if (!reply)
        return 0;
    fuzz::expect(std::isfinite(reply->first) && reply->first >= 0 && reply->first <= 1, "a level lies in 0 … 1");
    return 0;
}
