#pragma once

#include <QString>

namespace sonaric
{

/// A failed update, as the user reads it. Thrown inside the installation and turned into the failed phase's
/// text; failures of the system (files, processes) arrive as their own description.
struct UpdateError {
    QString message;

    static constexpr char downloadFailed[] = "The download failed. Check your connection and try again.";
    static constexpr char downloadRefused[] = "The download failed. Try again later.";
    static constexpr char damaged[] = "The download was damaged. Try again.";
    static constexpr char cannotOpen[] = "Couldn't open the downloaded update. Try again.";
    static constexpr char noSonaric[] = "The download doesn't contain Sonaric. Try again later.";
    static constexpr char wrongVersion[] = "The download isn't the expected version of Sonaric.";
    static constexpr char notSigned[] = "The download isn't signed by Sonaric's developer, so it wasn't installed.";
    static constexpr char relaunchFailed[] = "Sonaric was updated. Quit and reopen it to finish.";
    static constexpr char cannotReplace[]
        = "Sonaric can't update itself from this folder. The new version is downloading in your browser: unpack it "
          "with unsquashfs into a folder you can write to, such as ~/.local/opt.";
};

} // namespace sonaric
