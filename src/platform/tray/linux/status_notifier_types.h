#pragma once

// The values a StatusNotifierItem puts on the bus: icon pixmaps "a(iiay)" and the tooltip "(sa(iiay)ss)", with their
// QtDBus marshalling, and the conversion of a QIcon into the pixmaps a host draws.

#include <QByteArray>
#include <QDBusArgument>
#include <QIcon>
#include <QList>
#include <QMetaType>
#include <QString>

namespace sonaric
{

/// One size of an icon: ARGB32 pixels, not premultiplied, each in network byte order (A, R, G, B).
struct SniIconPixmap {
    int width = 0;
    int height = 0;
    QByteArray bytes;
    bool operator==(const SniIconPixmap&) const = default;
};
using SniIconPixmapList = QList<SniIconPixmap>;

struct SniToolTip {
    QString iconName;
    SniIconPixmapList iconPixmap;
    QString title;
    QString description;
    bool operator==(const SniToolTip&) const = default;
};

/// The sizes every icon is rendered at: what panels ask for from 16 px bars to 2x-scaled 32 px ones.
inline constexpr int kSniIconSizes[] = { 16, 22, 24, 32, 48, 64 };

/// `icon` rendered at each of kSniIconSizes (square, centred, transparent around); empty for a null icon.
SniIconPixmapList sniPixmaps(const QIcon& icon);

/// Makes the types known to QtDBus; idempotent.
void registerStatusNotifierTypes();

QDBusArgument& operator<<(QDBusArgument& argument, const SniIconPixmap& pixmap);
const QDBusArgument& operator>>(const QDBusArgument& argument, SniIconPixmap& pixmap);
QDBusArgument& operator<<(QDBusArgument& argument, const SniToolTip& toolTip);
const QDBusArgument& operator>>(const QDBusArgument& argument, SniToolTip& toolTip);

} // namespace sonaric

Q_DECLARE_METATYPE(sonaric::SniIconPixmap)
Q_DECLARE_METATYPE(sonaric::SniIconPixmapList)
Q_DECLARE_METATYPE(sonaric::SniToolTip)
