#include "platform/tray/linux/status_notifier_types.h"

#include <QDBusMetaType>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QtEndian>

namespace sonaric
{

SniIconPixmapList sniPixmaps(const QIcon& icon)
{
    SniIconPixmapList out;
    if (icon.isNull())
        return out;
    for (const int size : kSniIconSizes) {
        // A device pixel ratio of 1: the host scales for its screen, and asks for the size it wants by picking.
        QImage rendered = icon.pixmap(QSize(size, size), 1.0).toImage();
        if (rendered.isNull())
            continue;
        if (rendered.size() != QSize(size, size))
            rendered = rendered.scaled(QSize(size, size), Qt::KeepAspectRatio, Qt::SmoothTransformation);
        QImage square(size, size, QImage::Format_ARGB32);
        square.fill(Qt::transparent);
        {
            QPainter painter(&square);
            painter.drawImage((size - rendered.width()) / 2, (size - rendered.height()) / 2, rendered);
        }
        SniIconPixmap pixmap { size, size, QByteArray(size * size * 4, Qt::Uninitialized) };
        auto* target = reinterpret_cast<uchar*>(pixmap.bytes.data());
        for (int y = 0; y < size; ++y) {
            const auto* line = reinterpret_cast<const quint32*>(square.constScanLine(y));
            for (int x = 0; x < size; ++x, target += 4)
                qToBigEndian<quint32>(line[x], target);
        }
        out << pixmap;
    }
    return out;
}

void registerStatusNotifierTypes()
{
    qDBusRegisterMetaType<SniIconPixmap>();
    qDBusRegisterMetaType<SniIconPixmapList>();
    qDBusRegisterMetaType<SniToolTip>();
}

QDBusArgument& operator<<(QDBusArgument& argument, const SniIconPixmap& pixmap)
{
    argument.beginStructure();
    argument << pixmap.width << pixmap.height << pixmap.bytes;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, SniIconPixmap& pixmap)
{
    argument.beginStructure();
    argument >> pixmap.width >> pixmap.height >> pixmap.bytes;
    argument.endStructure();
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const SniToolTip& toolTip)
{
    argument.beginStructure();
    argument << toolTip.iconName << toolTip.iconPixmap << toolTip.title << toolTip.description;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, SniToolTip& toolTip)
{
    argument.beginStructure();
    argument >> toolTip.iconName >> toolTip.iconPixmap >> toolTip.title >> toolTip.description;
    argument.endStructure();
    return argument;
}

} // namespace sonaric
