#include "platform/scripting/linux/chromium_request.h"

#include <QCryptographicHash>
#include <QRegularExpression>

namespace sonaric
{

namespace
{

using Specifier = std::optional<AppleEventDescriptor>;

bool hasCode(const Specifier& descriptor, DescType type, FourCharCode code)
{
    return descriptor && descriptor->descriptorType() == type && descriptor->typeCodeValue() == code;
}

bool isSpecifier(const Specifier& specifier, FourCharCode want, FourCharCode form)
{
    return specifier && specifier->descriptorType() == typeObjectSpecifier && specifier->parameters().size() == 4
        && hasCode(specifier->paramDescriptorForKeyword(keyAEDesiredClass), typeType, want)
        && hasCode(specifier->paramDescriptorForKeyword(keyAEKeyForm), typeEnumerated, form);
}

Specifier container(const Specifier& specifier)
{
    return specifier->paramDescriptorForKeyword(keyAEContainer);
}

bool isApplication(const Specifier& specifier)
{
    return specifier && specifier->descriptorType() == typeNull;
}

/// every element of `elementClass` of the application, or of every window.
bool isEvery(const Specifier& specifier, FourCharCode elementClass)
{
    return isSpecifier(specifier, elementClass, formAbsolutePosition)
        && hasCode(specifier->paramDescriptorForKeyword(keyAEKeyData), typeAbsoluteOrdinal, kAEAll);
}

bool isEveryWindow(const Specifier& specifier)
{
    return isEvery(specifier, fourCharCode("cwin")) && isApplication(container(specifier));
}

bool isProperty(const Specifier& specifier, FourCharCode property)
{
    return isSpecifier(specifier, cProperty, formPropertyID)
        && hasCode(specifier->paramDescriptorForKeyword(keyAEKeyData), typeType, property);
}

/// Element `index` of `elementClass`; the index, or absent.
std::optional<int> indexOf(const Specifier& specifier, FourCharCode elementClass)
{
    if (!isSpecifier(specifier, elementClass, formAbsolutePosition))
        return std::nullopt;
    const auto data = specifier->paramDescriptorForKeyword(keyAEKeyData);
    if (!data || data->descriptorType() != typeSInt32)
        return std::nullopt;
    return data->int32Value();
}

} // namespace

std::optional<ChromiumRequest> ChromiumRequest::read(const AppleEventDescriptor& event)
{
    if (event.descriptorType() != typeAppleEvent)
        return std::nullopt;
    const auto target = event.target();
    const auto process = target ? target->processIdentifierValue() : std::nullopt;
    if (!process || *process <= 0)
        return std::nullopt;
    const Specifier direct = event.paramDescriptorForKeyword(keyDirectObject);
    ChromiumRequest request;
    request.process = *process;

    if (event.eventClass() == kAECoreSuite && event.eventID() == kAEGetData && event.parameters().size() == 1) {
        if (isProperty(direct, fourCharCode("URL ")) && isEvery(container(direct), fourCharCode("CrTb"))
            && isEveryWindow(container(container(direct)))) {
            request.kind = Kind::tabURLs;
            return request;
        }
        if (isProperty(direct, fourCharCode("acTI")) && isEveryWindow(container(direct))) {
            request.kind = Kind::activeTabs;
            return request;
        }
        return std::nullopt;
    }

    if (event.eventClass() == fourCharCode("CrSu") && event.eventID() == fourCharCode("ExJa")
        && event.parameters().size() == 2) {
        const auto script = event.paramDescriptorForKeyword(fourCharCode("JvSc"));
        const auto tab = indexOf(direct, fourCharCode("CrTb"));
        const Specifier window = tab ? container(direct) : std::nullopt;
        const auto windowIndex = indexOf(window, fourCharCode("cwin"));
        if (!script || script->descriptorType() != typeUnicodeText || !windowIndex || !isApplication(container(window)))
            return std::nullopt;
        request.kind = Kind::executeJavaScript;
        request.window = *windowIndex;
        request.tab = *tab;
        request.script = *script->stringValue();
        return request;
    }
    return std::nullopt;
}

std::optional<PageScriptRequest> PageScriptRequest::read(const QString& script)
{
    static const QString start = QStringLiteral("(() => {\n    const pageWorld = ");
    static const QString wantStart = QStringLiteral(";\n    const want = {");
    static const QString bodyStart = QStringLiteral("};\n    const host = location.hostname;");
    if (!script.startsWith(start))
        return std::nullopt;
    PageScriptRequest request;
    qsizetype at = start.size();
    if (script.mid(at, 4) == QStringLiteral("true")) {
        request.pageWorld = true;
        at += 4;
    } else if (script.mid(at, 5) == QStringLiteral("false")) {
        at += 5;
    } else {
        return std::nullopt;
    }
    if (script.mid(at, wantStart.size()) != wantStart)
        return std::nullopt;
    at += wantStart.size();
    const qsizetype bodyAt = script.indexOf(bodyStart, at);
    if (bodyAt < 0)
        return std::nullopt;
    request.body = script.mid(bodyAt);
    if (!request.body.endsWith(QStringLiteral("})()")))
        return std::nullopt;

    // The entries, exactly as the connector writes them: 'key': {volume: N, muted: B}, joined by ", ".
    const QString entries = script.mid(at, bodyAt - at);
    static const QRegularExpression entry(
        QStringLiteral("'([a-z0-9]{4,40})': \\{volume: (-?(?:0|[1-9][0-9]{0,2})), muted: (true|false)\\}"));
    qsizetype position = 0;
    for (auto it = entry.globalMatch(entries); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        const QString separator = position == 0 ? QString() : QStringLiteral(", ");
        if (match.capturedStart() != position + separator.size()
            || entries.mid(position, separator.size()) != separator)
            return std::nullopt;
        const int volume = match.captured(2).toInt();
        if (volume < 0 || volume > 100 || request.want.contains(match.captured(1)))
            return std::nullopt;
        request.want.insert(match.captured(1),
            QJsonObject { { QStringLiteral("volume"), volume },
                { QStringLiteral("muted"), match.captured(3) == QStringLiteral("true") } });
        position = match.capturedEnd();
    }
    if (position != entries.size())
        return std::nullopt;
    return request;
}

QByteArray PageScriptRequest::digest(const QString& body)
{
    return QCryptographicHash::hash(body.toUtf8(), QCryptographicHash::Sha256).toHex();
}

} // namespace sonaric
