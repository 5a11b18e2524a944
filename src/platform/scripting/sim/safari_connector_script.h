#pragma once

// The Safari connector script as the fake Safari understands it: read by what each statement does, so a script
// that means the same survives other spacing, line breaks, continuations, comments, letter case and variable
// names, and anything that does something else is refused.

#include <QString>
#include <QStringList>

#include <optional>

namespace sonaric
{

struct SafariConnectorScript {
    QString pageScript; ///< the JavaScript it runs in each selected tab
    QStringList mediaURLs; ///< the remembered URLs whose tabs it also scans in the background
    QStringList mediaSites; ///< the domains whose https tabs it also scans in the background

    /// Absent when `source` is not the connector's script: a statement of another kind, a missing step or one
    /// out of order, or text AppleScript could not compile.
    static std::optional<SafariConnectorScript> read(const QString& source);
};

} // namespace sonaric
