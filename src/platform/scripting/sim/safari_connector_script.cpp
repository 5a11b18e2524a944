#include "platform/scripting/sim/safari_connector_script.h"

#include <QHash>

#include <algorithm>
#include <functional>
#include <vector>

namespace sonaric
{

namespace
{

struct Token {
    enum class Kind { word, string, symbol, placeholder };
    Kind kind;
    QString text; ///< strings: the value, escapes resolved
};
using Statement = std::vector<Token>;

/// Reads an AppleScript string literal starting at the opening quote `from`; returns the text and moves `from`
/// past the closing quote. AppleScript knows the escapes \\, \", \n, \t and \r.
std::optional<QString> readStringLiteral(const QString& text, qsizetype& from)
{
    if (from >= text.size() || text.at(from) != u'"')
        return std::nullopt;
    QString value;
    for (qsizetype i = from + 1; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'"') {
            from = i + 1;
            return value;
        }
        if (c != u'\\') {
            value += c;
            continue;
        }
        if (++i >= text.size())
            return std::nullopt;
        switch (text.at(i).unicode()) {
        case '\\':
            value += u'\\';
            break;
        case '"':
            value += u'"';
            break;
        case 'n':
            value += u'\n';
            break;
        case 't':
            value += u'\t';
            break;
        case 'r':
            value += u'\r';
            break;
        default:
            return std::nullopt;
        }
    }
    return std::nullopt;
}

bool isWordChar(QChar c)
{
    return c.isLetterOrNumber() || c == u'_';
}

/// Splits AppleScript source into statements of tokens: a line ends a statement unless "¬" continues it;
/// comments ("--" and "#" to the end of the line, nested "(* … *)") and spacing are dropped. In patterns,
/// "$name" stands for any one word or string.
std::optional<std::vector<Statement>> statementsOf(const QString& source, bool placeholders = false)
{
    std::vector<Statement> statements;
    Statement current;
    const auto endStatement = [&] {
        if (!current.empty())
            statements.push_back(std::move(current));
        current.clear();
    };
    const qsizetype size = source.size();
    for (qsizetype i = 0; i < size;) {
        const QChar c = source.at(i);
        const QChar next = i + 1 < size ? source.at(i + 1) : QChar();
        if (c == u'\n' || c == u'\r') {
            endStatement();
            ++i;
        } else if (c == u'¬') {
            for (++i; i < size && (source.at(i) == u' ' || source.at(i) == u'\t'); ++i) { }
            if (i < size && source.at(i) == u'\r')
                ++i;
            if (i < size && source.at(i) == u'\n')
                ++i;
        } else if (c == u' ' || c == u'\t') {
            ++i;
        } else if ((c == u'-' && next == u'-') || c == u'#') {
            while (i < size && source.at(i) != u'\n' && source.at(i) != u'\r')
                ++i;
        } else if (c == u'(' && next == u'*') {
            int depth = 0;
            do {
                if (i + 1 >= size)
                    return std::nullopt;
                if (source.at(i) == u'(' && source.at(i + 1) == u'*') {
                    ++depth;
                    i += 2;
                } else if (source.at(i) == u'*' && source.at(i + 1) == u')') {
                    --depth;
                    i += 2;
                } else {
                    ++i;
                }
            } while (depth > 0);
        } else if (c == u'"') {
            const auto text = readStringLiteral(source, i);
            if (!text)
                return std::nullopt;
            current.push_back({ Token::Kind::string, *text });
        } else if (isWordChar(c) || (c == u'$' && placeholders) || (c == u'\'' && next == u's')) {
            const qsizetype start = i++;
            while (i < size && isWordChar(source.at(i)))
                ++i;
            const auto kind = c == u'$' ? Token::Kind::placeholder : Token::Kind::word;
            current.push_back({ kind, source.mid(start, i - start) });
        } else if (QStringLiteral("{}(),&=+-*/:").contains(c)) {
            current.push_back({ Token::Kind::symbol, QString(c) });
            ++i;
        } else {
            return std::nullopt;
        }
    }
    endStatement();
    return statements;
}

using Bindings = QHash<QString, Token>;

bool sameToken(const Token& a, const Token& b)
{
    // AppleScript's words know no case; a string's text is its meaning.
    return a.kind == b.kind
        && a.text.compare(b.text, a.kind == Token::Kind::word ? Qt::CaseInsensitive : Qt::CaseSensitive) == 0;
}

/// Whether `statement` begins with `pattern`, binding its placeholders; `consumed` is how many tokens matched.
/// A placeholder already bound must meet the same word or string again.
bool matchesPrefix(const Statement& statement, const Statement& pattern, Bindings& bindings, std::size_t& consumed)
{
    if (statement.size() < pattern.size())
        return false;
    Bindings trial = bindings;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const Token& token = statement[i];
        if (pattern[i].kind != Token::Kind::placeholder) {
            if (!sameToken(token, pattern[i]))
                return false;
            continue;
        }
        if (token.kind != Token::Kind::word && token.kind != Token::Kind::string)
            return false;
        if (const auto bound = trial.constFind(pattern[i].text); bound != trial.cend()) {
            if (!sameToken(token, *bound))
                return false;
        } else {
            trial.insert(pattern[i].text, token);
        }
    }
    bindings = std::move(trial);
    consumed = pattern.size();
    return true;
}

bool matches(const Statement& statement, const Statement& pattern, Bindings& bindings)
{
    std::size_t consumed = 0;
    return statement.size() == pattern.size() && matchesPrefix(statement, pattern, bindings, consumed);
}

Statement pattern(const QString& text)
{
    return statementsOf(text, true).value().front();
}

bool isSymbol(const Statement& statement, std::size_t at, char16_t symbol)
{
    return at < statement.size() && statement[at].kind == Token::Kind::symbol && statement[at].text == QChar(symbol);
}

/// `{"a", "b"}` from `at` to the statement's end.
std::optional<QStringList> stringList(const Statement& statement, std::size_t at)
{
    if (!isSymbol(statement, at, u'{'))
        return std::nullopt;
    QStringList values;
    for (++at; !isSymbol(statement, at, u'}');) {
        if (at >= statement.size() || statement[at].kind != Token::Kind::string)
            return std::nullopt;
        values << statement[at++].text;
        if (isSymbol(statement, at, u','))
            ++at;
        else if (!isSymbol(statement, at, u'}'))
            return std::nullopt;
    }
    if (at + 1 != statement.size() || (!values.isEmpty() && isSymbol(statement, at - 1, u',')))
        return std::nullopt;
    return values;
}

/// `h is "site" or h ends with ".site"`, joined by `or`, from `at` to the statement's end.
std::optional<QStringList> siteClauses(const Statement& statement, std::size_t at, const Bindings& bindings)
{
    static const Statement clause = pattern(QStringLiteral("$h is $site or $h ends with $dotted"));
    static const Statement joint = pattern(QStringLiteral("or"));
    QStringList sites;
    while (true) {
        const Statement rest(statement.begin() + std::ptrdiff_t(at), statement.end());
        Bindings local = bindings;
        local.remove(QStringLiteral("$site"));
        local.remove(QStringLiteral("$dotted"));
        std::size_t consumed = 0;
        if (!matchesPrefix(rest, clause, local, consumed))
            return std::nullopt;
        const Token& site = local.value(QStringLiteral("$site"));
        const Token& dotted = local.value(QStringLiteral("$dotted"));
        if (site.kind != Token::Kind::string || dotted.kind != Token::Kind::string || dotted.text != u'.' + site.text)
            return std::nullopt;
        sites << site.text;
        at += consumed;
        if (at == statement.size())
            return sites;
        if (!sameToken(statement[at], joint.front()))
            return std::nullopt;
        ++at;
    }
}

using TextLists = QHash<QString, QStringList>; ///< lists of text set so far, by variable in lower case

/// One thing the connector script must do, in order: its statement's shape (the whole statement, or its start
/// when `take` reads the rest) and, for the parts the fake needs, what to take from it.
struct Step {
    Statement shape;
    bool prefix = false;
    std::function<bool(
        const Statement&, std::size_t consumed, const Bindings&, const TextLists&, SafariConnectorScript&)>
        take;
};

const std::vector<Step>& steps()
{
    const auto plain = [](const char* text) { return Step { pattern(QString::fromUtf8(text)), false, {} }; };
    static const std::vector<Step> steps {
        plain(R"(if application "Safari" is not running then return "not-running")"),
        plain(R"(tell application "Safari")"),
        plain("repeat with $window in windows"),
        plain("set $tabs to tabs of $window"),
        plain("set $active to index of current tab of $window"),
        plain("repeat with $tab in $tabs"),
        plain("set $url to URL of $tab"),
        Step { pattern(QStringLiteral(R"(if ($index is $active and ($url starts with "https://" or $url starts )"
                                      R"(with "http://")) or $url is in $urls or my isMediaSite($url) then)")),
            false,
            // The tab rule names the list of remembered URLs, which an earlier statement set.
            [](const Statement&, std::size_t, const Bindings& bindings, const TextLists& lists,
                SafariConnectorScript& script) {
                const QString list = bindings.value(QStringLiteral("$urls")).text.toLower();
                if (!lists.contains(list))
                    return false;
                script.mediaURLs = lists.value(list);
                return true;
            } },
        Step { pattern(QStringLiteral("set $reply to do JavaScript $script in $tab")), false,
            [](const Statement&, std::size_t, const Bindings& bindings, const TextLists&,
                SafariConnectorScript& script) {
                const Token literal = bindings.value(QStringLiteral("$script"));
                script.pageScript = literal.text;
                return literal.kind == Token::Kind::string;
            } },
        plain(R"(if $reply is not missing value and $reply is not "skip" then set end of $replies to $reply)"),
        plain("on error $message number $number"),
        plain("if $firstError is missing value then set $firstError to {$message, $number}"),
        plain("if $replies is {} and $firstError is not missing value then error (item 1 of $firstError) number "
              "(item 2 of $firstError)"),
        plain(R"(return "[" & $replyText & "]")"),
        plain("on isMediaSite($u)"),
        plain(R"(if $u does not start with "https://" then return false)"),
        plain(R"(set AppleScript's text item delimiters to "/")"),
        plain("set $h to text item 3 of $u"),
        Step { pattern(QStringLiteral("return")), true,
            [](const Statement& statement, std::size_t consumed, const Bindings& bindings, const TextLists&,
                SafariConnectorScript& script) {
                const auto sites = siteClauses(statement, consumed, bindings);
                if (sites)
                    script.mediaSites = *sites;
                return sites.has_value();
            } },
    };
    return steps;
}

/// The plumbing between the steps: starting values, blocks' ends, error trapping and the text delimiters.
const std::vector<Statement>& plumbing()
{
    static const std::vector<Statement> shapes = [] {
        std::vector<Statement> result;
        for (const char* text : { "set $v to missing value", "set $v to 0", R"(set $v to "")", "set $v to $v + 1",
                 "with timeout of $n seconds", "try", "on error", "end", "end $block",
                 R"(if $v is missing value then set $v to "")", "set AppleScript's text item delimiters to $text",
                 "set $v to AppleScript's text item delimiters", "set $v to $list as text" })
            result.push_back(pattern(QString::fromUtf8(text)));
        return result;
    }();
    return shapes;
}

} // namespace

std::optional<SafariConnectorScript> SafariConnectorScript::read(const QString& source)
{
    const auto statements = statementsOf(source);
    if (!statements)
        return std::nullopt;
    static const Statement assignment = pattern(QStringLiteral("set $v to"));
    SafariConnectorScript script;
    Bindings bindings;
    TextLists lists;
    const std::vector<Step>& order = steps();
    std::size_t next = 0;
    for (const Statement& statement : *statements) {
        if (next < order.size()) {
            const Step& step = order[next];
            Bindings trial = bindings;
            std::size_t consumed = 0;
            const bool shaped = step.prefix ? matchesPrefix(statement, step.shape, trial, consumed)
                                            : matches(statement, step.shape, trial);
            if (shaped && (!step.take || step.take(statement, consumed, trial, lists, script))) {
                bindings = std::move(trial);
                ++next;
                continue;
            }
        }
        Bindings local;
        std::size_t consumed = 0;
        if (matchesPrefix(statement, assignment, local, consumed)) {
            if (const auto list = stringList(statement, consumed)) {
                lists.insert(local.value(QStringLiteral("$v")).text.toLower(), *list);
                continue;
            }
        }
        const bool plumbed = std::any_of(plumbing().cbegin(), plumbing().cend(), [&](const Statement& shape) {
            Bindings fresh;
            return matches(statement, shape, fresh);
        });
        if (!plumbed)
            return std::nullopt;
    }
    if (next != order.size())
        return std::nullopt;
    return script;
}

} // namespace sonaric
