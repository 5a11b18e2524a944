#pragma once

#include "native/native_volume_records.h"
#include "ui/keyed_list_model.h"

#include <QPointer>
#include <QtQmlIntegration/qqmlintegration.h>

namespace sonaric
{

class NativeVolumeSession;

struct TabListRow {
    NativeVolumeTab tab;
    NativeVolumeState shown; ///< the pending change for the tab when there is one, else the tab's own state
    QString key() const { return tab.id; }
};

/// The tabs of a browser connector's connection, keyed by tab key, in the order the connection gives them;
/// each shows the change asked for while it is pending, in preference to the state last read from the page.
class TabListModel : public QAbstractListModel, private KeyedRows<TabListModel, TabListRow>
{
    Q_OBJECT
    Q_MOC_INCLUDE("native/native_volume_session.h")
    QML_ELEMENT
    Q_PROPERTY(sonaric::NativeVolumeSession* session READ session WRITE setSession NOTIFY sessionChanged)
    Q_PROPERTY(int count READ count NOTIFY countChanged)

public:
    enum Role {
        TabIdRole = Qt::UserRole + 1,
        TitleRole, ///< the title shown: "Untitled tab" for a page without one
        PlayingRole,
        VolumeRole, ///< 0 … 1
        MutedRole,
        LevelTextRole,
        ToolTipRole,
    };
    Q_ENUM(Role)

    explicit TabListModel(QObject* parent = nullptr);

    NativeVolumeSession* session() const { return m_session; }
    void setSession(NativeVolumeSession* session);
    int count() const { return rowCount(); }

    int rowCount(const QModelIndex& parent = {}) const override { return keyedRowCount(parent); }
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

signals:
    void sessionChanged();
    void countChanged();

private:
    friend class KeyedRows<TabListModel, TabListRow>;
    QList<int> changedRoles(const TabListRow& before, const TabListRow& after) const;
    void rowCountChanged() { emit countChanged(); }
    void sync();

    QPointer<NativeVolumeSession> m_session;
    QList<QMetaObject::Connection> m_connections;
};

} // namespace sonaric
