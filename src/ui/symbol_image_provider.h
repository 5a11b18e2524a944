#pragma once

#include <QColor>
#include <QQuickImageProvider>
#include <QUrl>

namespace sonaric
{

/// Draws the system symbols from the desktop's icon theme, in one colour: "image://symbol/<symbol>/<AARRGGBB>"
/// (the names `SystemSymbols` knows). A symbol no icon answers for is drawn as nothing, at the asked size.
class SymbolImageProvider : public QQuickImageProvider
{
public:
    SymbolImageProvider();

    static QString providerId() { return QStringLiteral("symbol"); }
    static QUrl source(const QString& symbol, const QColor& color);
    /// The symbol at `size`, every visible pixel in `color` (an invalid colour keeps the icon's own).
    static QImage render(const QString& symbol, const QColor& color, const QSize& size);

    QImage requestImage(const QString& id, QSize* size, const QSize& requestedSize) override;
};

} // namespace sonaric
