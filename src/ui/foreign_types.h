#pragma once

// The model's and the connectors' types as QML knows them. They live below the views and know nothing of QML,
// so the views' module registers them.

#include "audio/audio_app.h"
#include "audio/output_device.h"
#include "model/mixer_model.h"
#include "model/output_route.h"
#include "native/native_volume_session.h"
#include "platform/delay_clock.h"
#include "platform/login/launch_at_login.h"

#include <QAbstractListModel>
#include <QtQml/qqml.h>

namespace sonaric
{

// The list models' base classes, which QML itself declares nowhere.
struct AbstractItemModelForeign {
    Q_GADGET
    QML_FOREIGN(QAbstractItemModel)
    QML_ANONYMOUS
};

struct AbstractListModelForeign {
    Q_GADGET
    QML_FOREIGN(QAbstractListModel)
    QML_ANONYMOUS
};

struct MixerModelForeign {
    Q_GADGET
    QML_FOREIGN(sonaric::MixerModel)
    QML_NAMED_ELEMENT(MixerModel)
    QML_UNCREATABLE("The program creates the one mixer model.")
};

struct NativeVolumeSessionForeign {
    Q_GADGET
    QML_FOREIGN(sonaric::NativeVolumeSession)
    QML_NAMED_ELEMENT(NativeVolumeSession)
    QML_UNCREATABLE("The mixer model creates one session per connector.")
};

struct LaunchAtLoginForeign {
    Q_GADGET
    QML_FOREIGN(sonaric::LaunchAtLogin)
    QML_NAMED_ELEMENT(LaunchAtLogin)
    QML_UNCREATABLE("The application shell creates it.")
};

// Lives in the platform layer, where the model's and the connectors' delays run on it too.
struct DelayClockForeign {
    Q_GADGET
    QML_FOREIGN(sonaric::DelayClock)
    QML_NAMED_ELEMENT(DelayClock)
};

struct AudioAppForeign {
    Q_GADGET
    QML_FOREIGN(sonaric::AudioApp)
    QML_VALUE_TYPE(audioApp)
};

struct OutputDeviceForeign {
    Q_GADGET
    QML_FOREIGN(sonaric::OutputDevice)
    QML_VALUE_TYPE(outputDevice)
};

struct OutputRouteForeign {
    Q_GADGET
    QML_FOREIGN(sonaric::OutputRoute)
    QML_VALUE_TYPE(outputRoute)
};

} // namespace sonaric
