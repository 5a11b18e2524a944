#pragma once

#include "ui/keyed_list_model.h"

#include <QPointer>
#include <QtQmlIntegration/qqmlintegration.h>

namespace sonaric
{

class MixerModel;

struct OutputChoiceRow {
    enum class Kind { systemDefault, device, missing };
    Kind kind = Kind::device;
    QString deviceUID; ///< "" for the system default
    QString symbol;
    QString title;
    QString subtitle; ///< "" when there is none
    bool selected = false;
    bool selectable = true; ///< false: shown, but choosing it does nothing
    QString key() const;
    bool operator==(const OutputChoiceRow&) const = default;
};

/// The choices of one application's output picker: "System default" (with the current default device's
/// name), every output device, and, while the application's route names a device that is not listed, that
/// device as a row that is selected and cannot be chosen. Also what the picker's button shows of the route.
class OutputDeviceListModel : public QAbstractListModel, private KeyedRows<OutputDeviceListModel, OutputChoiceRow>
{
    Q_OBJECT
    Q_MOC_INCLUDE("model/mixer_model.h")
    QML_ELEMENT
    Q_PROPERTY(sonaric::MixerModel* mixer READ mixer WRITE setMixer NOTIFY mixerChanged)
    Q_PROPERTY(QString appID READ appID WRITE setAppID NOTIFY appIDChanged)
    Q_PROPERTY(int count READ count NOTIFY countChanged)
    /// Whether the application has a route of its own, and the routed device's name.
    Q_PROPERTY(bool routed READ routed NOTIFY routeChanged)
    Q_PROPERTY(QString routeName READ routeName NOTIFY routeChanged)

public:
    enum Role {
        KindRole = Qt::UserRole + 1, ///< "default", "device" or "missing"
        DeviceUIDRole,
        SymbolRole,
        TitleRole,
        SubtitleRole,
        SelectedRole,
        SelectableRole,
    };
    Q_ENUM(Role)

    explicit OutputDeviceListModel(QObject* parent = nullptr);

    MixerModel* mixer() const { return m_mixer; }
    void setMixer(MixerModel* mixer);
    QString appID() const { return m_appID; }
    void setAppID(const QString& appID);
    int count() const { return rowCount(); }
    bool routed() const { return m_routed; }
    QString routeName() const { return m_routeName; }

    /// Routes the application to the choice in `row`; false (and nothing changes) for a row that cannot be
    /// chosen or is gone.
    Q_INVOKABLE bool choose(int row);

    int rowCount(const QModelIndex& parent = {}) const override { return keyedRowCount(parent); }
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

signals:
    void mixerChanged();
    void appIDChanged();
    void countChanged();
    void routeChanged();

private:
    friend class KeyedRows<OutputDeviceListModel, OutputChoiceRow>;
    QList<int> changedRoles(const OutputChoiceRow& before, const OutputChoiceRow& after) const;
    void rowCountChanged() { emit countChanged(); }
    void sync();

    QPointer<MixerModel> m_mixer;
    QList<QMetaObject::Connection> m_connections;
    QString m_appID;
    bool m_routed = false;
    QString m_routeName;
};

} // namespace sonaric
