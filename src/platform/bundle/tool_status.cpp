#include "platform/bundle/tool_status.h"

#include <QProcess>

namespace sonaric
{

ToolStatus runTool(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start();
    if (!process.waitForStarted(-1))
        return { process.errorString(), 0 };
    process.waitForFinished(-1);
    if (process.exitStatus() == QProcess::CrashExit)
        return { {}, -1 };
    return { {}, process.exitCode() };
}

} // namespace sonaric
