#include "native/native_apple_script.h"

#include "native/native_volume_error.h"
#include "platform/scripting/scripting.h"

#include <QDebug>

namespace sonaric
{

std::mutex& NativeAppleScript::lock()
{
    // Deliberately leaked: a controller may still be running a script while static objects are destroyed.
    static std::mutex* const processLock = new std::mutex;
    return *processLock;
}

QString NativeAppleScript::execute(Scripting& scripting, const QString& script, NativeVolumeSource source)
{
    std::lock_guard guard(lock());
    const AppleScriptExecution execution = scripting.executeAppleScript(script, source.bundleID());
    if (!execution.created)
        throw NativeVolumeError(QStringLiteral("Could not create the native volume script."));
    if (execution.errorInfo) {
        const QVariantMap& info = *execution.errorInfo;
        const QVariant message = info.value(NSAppleScriptErrorMessage);
        const QVariant number = info.value(NSAppleScriptErrorNumber);
        QString detail;
        if (message.typeId() == QMetaType::QString) {
            detail = message.toString();
        } else {
            QDebug(&detail).nospace() << info;
        }
        bool isNumber = false;
        int code = 0;
        switch (number.typeId()) {
        case QMetaType::Int:
        case QMetaType::LongLong:
        case QMetaType::UInt:
        case QMetaType::ULongLong:
        case QMetaType::Double:
            code = number.toInt(&isNumber);
            break;
        default:
            break;
        }
        std::optional<QStringList> steps;
        if (const QVariant suggestion = info.value(NSLocalizedRecoverySuggestionErrorKey);
            suggestion.typeId() == QMetaType::QStringList)
            steps = suggestion.toStringList();
        throw NativeVolumeError::scriptFailure(source, isNumber ? code : 0, detail, steps);
    }
    const auto text = execution.result ? execution.result->stringValue() : std::nullopt;
    if (!text)
        throw NativeVolumeError::failure(source, QStringLiteral("invalid"));
    return *text;
}

} // namespace sonaric
