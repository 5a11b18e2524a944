#include "ui/symbol_image_provider.h"

#include "ui/system_symbols.h"

#include <QIcon>
#include <QPainter>

namespace sonaric
{

namespace
{
constexpr int defaultSize = 16;
} // namespace

SymbolImageProvider::SymbolImageProvider()
    : QQuickImageProvider(QQuickImageProvider::Image)
{
}

QUrl SymbolImageProvider::source(const QString& symbol, const QColor& color)
{
    const QString tint = color.isValid() ? color.name(QColor::HexArgb).mid(1) : QStringLiteral("none");
    return QUrl(QStringLiteral("image://%1/%2/%3").arg(providerId(), symbol, tint));
}

QImage SymbolImageProvider::render(const QString& symbol, const QColor& color, const QSize& size)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QIcon icon;
    for (const QString& name : SystemSymbols::iconNames(symbol)) {
        icon = QIcon::fromTheme(name);
        if (!icon.isNull())
            break;
    }
    if (icon.isNull())
        return image;
    QPainter painter(&image);
    icon.paint(&painter, image.rect());
    if (color.isValid()) {
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(image.rect(), color);
    }
    return image;
}

QImage SymbolImageProvider::requestImage(const QString& id, QSize* size, const QSize& requestedSize)
{
    const QString symbol = id.section(QLatin1Char('/'), 0, 0);
    const QString tint = id.section(QLatin1Char('/'), 1, 1);
    const QColor color = tint == QLatin1String("none") ? QColor() : QColor(QLatin1Char('#') + tint);
    QSize want(requestedSize.width() > 0 ? requestedSize.width() : defaultSize,
        requestedSize.height() > 0 ? requestedSize.height() : defaultSize);
    const QImage image = render(symbol, color, want);
    if (size)
        *size = image.size();
    return image;
}

} // namespace sonaric
