// sonaric-test-sni-host: a StatusNotifierWatcher and a panel in one small program, for tests that need a real tray
// on a private session bus.
//
// It owns org.kde.StatusNotifierWatcher on the session bus it finds in DBUS_SESSION_BUS_ADDRESS (start one with
// tests/platform/tray/with_session_bus.sh) and answers RegisterStatusNotifierItem, RegisterStatusNotifierHost, the
// RegisteredStatusNotifierItems, IsStatusNotifierHostRegistered (true) and ProtocolVersion properties, and sends
// StatusNotifierItemRegistered / StatusNotifierItemUnregistered. Like a panel it reads each registered item's
// properties, follows its New* signals and its menu's LayoutUpdated, and calls its methods when told.
//
// Standard output: one JSON object per line, each with an "event":
//   {"event":"ready"}                                       the watcher name is ours
//   {"event":"registered", <item>}                          an item registered (a host's first read)
//   {"event":"changed","signal":"NewToolTip", <item>}       an item announced a change (read again)
//   {"event":"item", <item>}                                the answer to "dump", one per item
//   {"event":"unregistered","service":S}                    an item left the bus
//   {"event":"called","method":M,"ok":true|false,"error":E} a method call made for a command returned
//   {"event":"menu","revision":N,"layout":<node>}           the answer to "menu"
//   {"event":"layout-updated","revision":N,"parent":P}      the item's menu announced a new layout
//   {"event":"error","message":E}                           a command could not be carried out
// where <item> is "service", "path", "Id", "Category", "Status", "Title", "IconName", "IconThemePath",
// "ToolTipTitle", "ToolTipDescription", "ItemIsMenu", "WindowId", "Menu" and "pixmaps": [{"width", "height",
// "bytes", "center"}] ("center": the middle pixel's four bytes in hex, as sent: AARRGGBB); and <node> is {"id",
// "properties", "children": [<node>...]}, the "shortcut" property as a list of lists of strings.
//
// Standard input: one command per line, sent to the item that registered last.
//   activate X Y | context X Y | secondary X Y   Activate, ContextMenu, SecondaryActivate at (X, Y)
//   scroll DELTA ORIENTATION                     Scroll
//   dump                                         reads every item again
//   menu                                         AboutToShow(0), then GetLayout(0, -1, []) of the item's Menu
//   menu-click LABEL                             opens the menu as a panel does (AboutToShow, Event "opened"),
//                                                clicks the item whose label (mnemonics removed) is LABEL, and
//                                                closes it (Event "closed")
//   quit                                         leaves the bus (the watcher name goes with it) and exits
//
// Typical use from a test: start it with QProcess on the test's private bus, wait for {"event":"ready"}, create
// the item, wait for {"event":"registered"}, write commands and wait for the lines they cause.

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QDBusSignature>
#include <QDBusVariant>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>
#include <QStringList>
#include <QTextStream>

#include <cstdio>
#include <functional>
#include <unistd.h>

namespace
{

const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kItemInterface = QStringLiteral("org.kde.StatusNotifierItem");
const QString kMenuInterface = QStringLiteral("com.canonical.dbusmenu");

void print(QJsonObject object)
{
    const QByteArray line = QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fflush(stdout);
}

void printError(const QString& message)
{
    print({ { QStringLiteral("event"), QStringLiteral("error") }, { QStringLiteral("message"), message } });
}

QVariant decodeVariant(const QVariant& value);

/// Reads whatever a D-Bus value holds without knowing its type, as a panel written in another language would:
/// structures and arrays become lists, dictionaries maps, byte arrays QByteArray.
QVariant decode(const QDBusArgument& argument)
{
    switch (argument.currentType()) {
    case QDBusArgument::BasicType:
        return decodeVariant(argument.asVariant());
    case QDBusArgument::VariantType: {
        QDBusVariant inner;
        argument >> inner;
        return decodeVariant(inner.variant());
    }
    case QDBusArgument::ArrayType: {
        if (argument.currentSignature() == QLatin1String("ay")) {
            QByteArray bytes;
            argument >> bytes;
            return bytes;
        }
        QVariantList list;
        argument.beginArray();
        while (!argument.atEnd())
            list << decode(argument);
        argument.endArray();
        return list;
    }
    case QDBusArgument::StructureType: {
        QVariantList fields;
        argument.beginStructure();
        while (!argument.atEnd())
            fields << decode(argument);
        argument.endStructure();
        return fields;
    }
    case QDBusArgument::MapType: {
        QVariantMap map;
        argument.beginMap();
        while (!argument.atEnd()) {
            argument.beginMapEntry();
            const QString key = decode(argument).toString();
            map.insert(key, decode(argument));
            argument.endMapEntry();
        }
        argument.endMap();
        return map;
    }
    case QDBusArgument::MapEntryType:
    case QDBusArgument::UnknownType:
        break;
    }
    return {};
}

QVariant decodeVariant(const QVariant& value)
{
    if (value.metaType() == QMetaType::fromType<QDBusArgument>())
        return decode(value.value<QDBusArgument>());
    if (value.metaType() == QMetaType::fromType<QDBusVariant>())
        return decodeVariant(value.value<QDBusVariant>().variant());
    if (value.metaType() == QMetaType::fromType<QDBusObjectPath>())
        return value.value<QDBusObjectPath>().path();
    if (value.metaType() == QMetaType::fromType<QDBusSignature>())
        return value.value<QDBusSignature>().signature();
    return value;
}

QJsonArray pixmapsJson(const QVariant& decoded)
{
    QJsonArray out;
    for (const QVariant& entry : decoded.toList()) {
        const QVariantList fields = entry.toList();
        if (fields.size() != 3)
            continue;
        const int width = fields[0].toInt();
        const int height = fields[1].toInt();
        const QByteArray bytes = fields[2].toByteArray();
        const qsizetype centre = (qsizetype(height / 2) * width + width / 2) * 4;
        out.append(QJsonObject { { QStringLiteral("width"), width }, { QStringLiteral("height"), height },
            { QStringLiteral("bytes"), bytes.size() },
            { QStringLiteral("center"),
                centre + 4 <= bytes.size() ? QString::fromLatin1(bytes.mid(centre, 4).toHex()) : QString() } });
    }
    return out;
}

QJsonObject itemJson(const QString& service, const QString& path, const QVariantMap& properties)
{
    QJsonObject item { { QStringLiteral("service"), service }, { QStringLiteral("path"), path } };
    for (const char* name : { "Id", "Category", "Status", "Title", "IconName", "IconThemePath", "Menu" })
        item.insert(QLatin1String(name), properties.value(QLatin1String(name)).toString());
    item.insert(QStringLiteral("ItemIsMenu"), properties.value(QStringLiteral("ItemIsMenu")).toBool());
    item.insert(QStringLiteral("WindowId"), properties.value(QStringLiteral("WindowId")).toInt());
    const QVariantList toolTip = properties.value(QStringLiteral("ToolTip")).toList();
    item.insert(QStringLiteral("ToolTipTitle"), toolTip.size() == 4 ? toolTip[2].toString() : QString());
    item.insert(QStringLiteral("ToolTipDescription"), toolTip.size() == 4 ? toolTip[3].toString() : QString());
    item.insert(QStringLiteral("pixmaps"), pixmapsJson(properties.value(QStringLiteral("IconPixmap"))));
    return item;
}

QJsonValue jsonOf(const QVariant& value)
{
    if (value.metaType() == QMetaType::fromType<QVariantList>()) {
        QJsonArray array;
        for (const QVariant& element : value.toList())
            array.append(jsonOf(element));
        return array;
    }
    if (value.metaType() == QMetaType::fromType<QStringList>())
        return QJsonArray::fromStringList(value.toStringList());
    if (value.metaType() == QMetaType::fromType<QVariantMap>()) {
        QJsonObject object;
        const QVariantMap map = value.toMap();
        for (auto it = map.begin(); it != map.end(); ++it)
            object.insert(it.key(), jsonOf(it.value()));
        return object;
    }
    if (value.metaType() == QMetaType::fromType<QByteArray>())
        return QString::fromLatin1(value.toByteArray().toHex());
    return QJsonValue::fromVariant(value);
}

/// A menu node "(ia{sv}av)" as decoded: [id, {properties}, [children...]].
QJsonObject nodeJson(const QVariant& decoded)
{
    const QVariantList fields = decoded.toList();
    QJsonObject node;
    if (fields.size() != 3)
        return node;
    node.insert(QStringLiteral("id"), fields[0].toInt());
    node.insert(QStringLiteral("properties"), jsonOf(fields[1]));
    QJsonArray children;
    for (const QVariant& child : fields[2].toList())
        children.append(nodeJson(child));
    node.insert(QStringLiteral("children"), children);
    return node;
}

QString withoutMnemonics(const QString& label)
{
    QString out;
    for (qsizetype i = 0; i < label.size(); ++i) {
        if (label[i] == QLatin1Char('_') && i + 1 < label.size())
            ++i;
        out += label[i];
    }
    return out;
}

int findByLabel(const QJsonObject& node, const QString& label)
{
    const QJsonObject properties = node.value(QStringLiteral("properties")).toObject();
    if (withoutMnemonics(properties.value(QStringLiteral("label")).toString()) == label)
        return node.value(QStringLiteral("id")).toInt();
    for (const QJsonValue& child : node.value(QStringLiteral("children")).toArray()) {
        const int found = findByLabel(child.toObject(), label);
        if (found >= 0)
            return found;
    }
    return -1;
}

struct RegisteredItem {
    QString key; // what RegisteredStatusNotifierItems lists: service + path
    QString service;
    QString path;
    QString menuPath;
};

/// Relays the D-Bus signals of one item to the host with the item it came from.
class ItemSignals : public QObject
{
    Q_OBJECT

public:
    ItemSignals(QString key, std::function<void(const QString&, const QDBusMessage&)> relay, QObject* parent)
        : QObject(parent)
        , m_key(std::move(key))
        , m_relay(std::move(relay))
    {
    }

public slots:
    void received(const QDBusMessage& message) { m_relay(m_key, message); }

private:
    QString m_key;
    std::function<void(const QString&, const QDBusMessage&)> m_relay;
};

class Watcher : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ registeredItems)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)

public:
    explicit Watcher(QDBusConnection bus)
        : m_bus(bus)
    {
        m_itemWatch.setConnection(bus);
        m_itemWatch.setWatchMode(QDBusServiceWatcher::WatchForUnregistration);
        connect(&m_itemWatch, &QDBusServiceWatcher::serviceUnregistered, this, &Watcher::serviceGone);
    }

    QStringList registeredItems() const
    {
        QStringList keys;
        for (const RegisteredItem& item : m_items)
            keys << item.key;
        return keys;
    }
    bool hostRegistered() const { return true; }
    int protocolVersion() const { return 0; }

    void command(const QString& line)
    {
        const QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (words.isEmpty())
            return;
        const QString verb = words[0];
        if (verb == QLatin1String("quit")) {
            print({ { QStringLiteral("event"), QStringLiteral("bye") } });
            QCoreApplication::quit();
            return;
        }
        if (verb == QLatin1String("dump")) {
            for (const RegisteredItem& item : m_items)
                readItem(item.key, QStringLiteral("item"), {});
            return;
        }
        if (m_items.isEmpty()) {
            printError(QStringLiteral("no item is registered"));
            return;
        }
        const RegisteredItem item = m_items.last();
        static const QHash<QString, QString> pointMethods
            = { { QStringLiteral("activate"), QStringLiteral("Activate") },
                  { QStringLiteral("context"), QStringLiteral("ContextMenu") },
                  { QStringLiteral("secondary"), QStringLiteral("SecondaryActivate") } };
        if (pointMethods.contains(verb) && words.size() == 3) {
            callItem(item, pointMethods.value(verb), { words[1].toInt(), words[2].toInt() });
        } else if (verb == QLatin1String("scroll") && words.size() == 3) {
            callItem(item, QStringLiteral("Scroll"), { words[1].toInt(), words[2] });
        } else if (verb == QLatin1String("menu")) {
            readMenu(item, [](const QJsonObject&) {});
        } else if (verb == QLatin1String("menu-click") && words.size() >= 2) {
            const QString label = line.section(QLatin1Char(' '), 1).trimmed();
            readMenu(item, [this, item, label](const QJsonObject& layout) { clickMenu(item, layout, label); });
        } else {
            printError(QStringLiteral("unknown command: ") + line);
        }
    }

public slots:
    Q_SCRIPTABLE void RegisterStatusNotifierItem(const QString& serviceOrPath)
    {
        // Items name either their bus name (the object is then /StatusNotifierItem) or their object path.
        RegisteredItem item;
        if (serviceOrPath.startsWith(QLatin1Char('/'))) {
            item.service = message().service();
            item.path = serviceOrPath;
        } else {
            item.service = serviceOrPath;
            item.path = QStringLiteral("/StatusNotifierItem");
        }
        item.key = item.service + item.path;
        for (const RegisteredItem& known : std::as_const(m_items)) {
            if (known.key == item.key)
                return;
        }
        m_items << item;
        m_itemWatch.addWatchedService(item.service);
        for (const char* name :
            { "NewTitle", "NewIcon", "NewAttentionIcon", "NewOverlayIcon", "NewToolTip", "NewStatus" }) {
            m_bus.connect(item.service, item.path, kItemInterface, QLatin1String(name), signalRelay(item.key),
                SLOT(received(QDBusMessage)));
        }
        emit StatusNotifierItemRegistered(item.key);
        // Read after this call has returned: the item may be waiting for the reply.
        QMetaObject::invokeMethod(
            this, [this, key = item.key] { readItem(key, QStringLiteral("registered"), {}); }, Qt::QueuedConnection);
    }

    Q_SCRIPTABLE void RegisterStatusNotifierHost(const QString& service) { Q_UNUSED(service) }

signals:
    Q_SCRIPTABLE void StatusNotifierItemRegistered(const QString& service);
    Q_SCRIPTABLE void StatusNotifierItemUnregistered(const QString& service);
    Q_SCRIPTABLE void StatusNotifierHostRegistered();
    Q_SCRIPTABLE void StatusNotifierHostUnregistered();

private:
    ItemSignals* signalRelay(const QString& key)
    {
        return new ItemSignals(
            key,
            [this](const QString& itemKey, const QDBusMessage& message) {
                if (message.interface() == kMenuInterface) {
                    const QList<QVariant> args = message.arguments();
                    print({ { QStringLiteral("event"), QStringLiteral("layout-updated") },
                        { QStringLiteral("revision"), args.value(0).toInt() },
                        { QStringLiteral("parent"), args.value(1).toInt() } });
                    return;
                }
                readItem(itemKey, QStringLiteral("changed"), message.member());
            },
            this);
    }

    RegisteredItem* find(const QString& key)
    {
        for (RegisteredItem& item : m_items) {
            if (item.key == key)
                return &item;
        }
        return nullptr;
    }

    void serviceGone(const QString& service)
    {
        for (qsizetype i = m_items.size() - 1; i >= 0; --i) {
            if (m_items[i].service != service)
                continue;
            const QString key = m_items[i].key;
            m_items.removeAt(i);
            emit StatusNotifierItemUnregistered(key);
            print({ { QStringLiteral("event"), QStringLiteral("unregistered") },
                { QStringLiteral("service"), service } });
        }
        m_itemWatch.removeWatchedService(service);
    }

    void readItem(const QString& key, const QString& event, const QString& signal)
    {
        const RegisteredItem* item = find(key);
        if (!item)
            return;
        QDBusMessage call = QDBusMessage::createMethodCall(
            item->service, item->path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("GetAll"));
        call << kItemInterface;
        whenAnswered(call, [this, key, event, signal](const QDBusMessage& reply) {
            RegisteredItem* item = find(key);
            if (!item)
                return;
            if (reply.type() == QDBusMessage::ErrorMessage) {
                printError(QStringLiteral("GetAll: ") + reply.errorMessage());
                return;
            }
            const QVariantMap properties = decodeVariant(reply.arguments().value(0)).toMap();
            const QString menuPath = properties.value(QStringLiteral("Menu")).toString();
            if (menuPath != item->menuPath) {
                item->menuPath = menuPath;
                if (!menuPath.isEmpty() && menuPath != QLatin1String("/NO_DBUSMENU")) {
                    m_bus.connect(item->service, menuPath, kMenuInterface, QStringLiteral("LayoutUpdated"),
                        signalRelay(key), SLOT(received(QDBusMessage)));
                }
            }
            QJsonObject line = itemJson(item->service, item->path, properties);
            line.insert(QStringLiteral("event"), event);
            if (!signal.isEmpty())
                line.insert(QStringLiteral("signal"), signal);
            print(line);
        });
    }

    void callItem(const RegisteredItem& item, const QString& method, const QVariantList& arguments)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(item.service, item.path, kItemInterface, method);
        call.setArguments(arguments);
        whenAnswered(call, [method](const QDBusMessage& reply) { printCalled(method, reply); });
    }

    static void printCalled(const QString& method, const QDBusMessage& reply)
    {
        QJsonObject line { { QStringLiteral("event"), QStringLiteral("called") }, { QStringLiteral("method"), method },
            { QStringLiteral("ok"), reply.type() != QDBusMessage::ErrorMessage } };
        if (reply.type() == QDBusMessage::ErrorMessage)
            line.insert(QStringLiteral("error"), reply.errorName() + QStringLiteral(": ") + reply.errorMessage());
        print(line);
    }

    QDBusMessage menuCall(const RegisteredItem& item, const QString& method, const QVariantList& arguments)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(item.service, item.menuPath, kMenuInterface, method);
        call.setArguments(arguments);
        return call;
    }

    /// As a panel opens the menu: AboutToShow on the root, then the whole layout.
    void readMenu(const RegisteredItem& item, std::function<void(const QJsonObject&)> then)
    {
        if (item.menuPath.isEmpty() || item.menuPath == QLatin1String("/NO_DBUSMENU")) {
            printError(QStringLiteral("the item has no menu (Menu is \"%1\")").arg(item.menuPath));
            return;
        }
        whenAnswered(
            menuCall(item, QStringLiteral("AboutToShow"), { 0 }), [this, item, then](const QDBusMessage& shown) {
                if (shown.type() == QDBusMessage::ErrorMessage) {
                    printError(QStringLiteral("AboutToShow: ") + shown.errorMessage());
                    return;
                }
                const QVariantList layoutArgs { 0, -1, QStringList() };
                whenAnswered(
                    menuCall(item, QStringLiteral("GetLayout"), layoutArgs), [then](const QDBusMessage& reply) {
                        if (reply.type() == QDBusMessage::ErrorMessage) {
                            printError(QStringLiteral("GetLayout: ") + reply.errorMessage());
                            return;
                        }
                        const QJsonObject layout = nodeJson(decodeVariant(reply.arguments().value(1)));
                        print({ { QStringLiteral("event"), QStringLiteral("menu") },
                            { QStringLiteral("revision"), reply.arguments().value(0).toInt() },
                            { QStringLiteral("layout"), layout } });
                        then(layout);
                    });
            });
    }

    void clickMenu(const RegisteredItem& item, const QJsonObject& layout, const QString& label)
    {
        const int id = findByLabel(layout, label);
        if (id < 0) {
            printError(QStringLiteral("the menu has no item labelled ") + label);
            return;
        }
        const auto event = [&](int target, const QString& name) {
            return menuCall(item, QStringLiteral("Event"),
                { target, name, QVariant::fromValue(QDBusVariant(0)), uint(QDateTime::currentSecsSinceEpoch()) });
        };
        m_bus.call(event(0, QStringLiteral("opened")), QDBus::NoBlock);
        whenAnswered(event(id, QStringLiteral("clicked")),
            [](const QDBusMessage& reply) { printCalled(QStringLiteral("Event"), reply); });
        m_bus.call(event(0, QStringLiteral("closed")), QDBus::NoBlock);
    }

    void whenAnswered(const QDBusMessage& call, std::function<void(const QDBusMessage&)> then)
    {
        auto* pending = new QDBusPendingCallWatcher(m_bus.asyncCall(call, 5000), this);
        connect(pending, &QDBusPendingCallWatcher::finished, this, [then](QDBusPendingCallWatcher* finished) {
            finished->deleteLater();
            then(finished->reply());
        });
    }

    QDBusConnection m_bus;
    QDBusServiceWatcher m_itemWatch;
    QList<RegisteredItem> m_items;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        printError(QStringLiteral("no session bus: ") + bus.lastError().message());
        return 1;
    }
    Watcher watcher(bus);
    if (!bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher,
            QDBusConnection::ExportScriptableSlots | QDBusConnection::ExportScriptableSignals
                | QDBusConnection::ExportAllProperties)) {
        printError(QStringLiteral("could not publish the watcher object"));
        return 1;
    }
    if (!bus.registerService(kWatcherService)) {
        printError(QStringLiteral("could not own %1: %2").arg(kWatcherService, bus.lastError().message()));
        return 1;
    }
    emit watcher.StatusNotifierHostRegistered();

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray pending;
    QObject::connect(&input, &QSocketNotifier::activated, &watcher, [&] {
        char buffer[4096];
        const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (count <= 0) {
            // The test went away: leave as "quit" would.
            input.setEnabled(false);
            QCoreApplication::quit();
            return;
        }
        pending.append(buffer, count);
        qsizetype newline;
        while ((newline = pending.indexOf('\n')) >= 0) {
            const QString line = QString::fromUtf8(pending.left(newline)).trimmed();
            pending.remove(0, newline + 1);
            watcher.command(line);
        }
    });
    print({ { QStringLiteral("event"), QStringLiteral("ready") } });
    return application.exec();
}

#include "sni_host.moc"
