#pragma once

#include <QString>
#include <QStringList>

namespace sonaric
{

/// How a command-line tool ended.
struct ToolStatus {
    QString launchError; ///< set when the tool could not be started; the exit status is then meaningless
    int exitStatus = 0; ///< -1 when it crashed

    bool launched() const { return launchError.isEmpty(); }
    bool succeeded() const { return launched() && exitStatus == 0; }
};

/// Runs `program` with `arguments`, its standard output and error sent to the null device, and waits for it.
/// Any thread may call it.
ToolStatus runTool(const QString& program, const QStringList& arguments);

} // namespace sonaric
