// The settings file is the user's to edit, and a crash or a full disk can leave it half written. The first
// input byte picks how the rest reaches the four keys: as the text of the file itself (every value, "@Variant"
// ones included, goes through QSettings' own decoding), or as values of any type set under the keys. Restoring
// gives the defaults or what the keys hold, within the boost limit, and writes nothing back.

#include "fuzz/fuzz_support.h"
#include "model/mixer_settings.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QFile>
#include <QSettings>
#include <QVariantList>

#include <cmath>

using namespace sonaric;

namespace
{

const std::vector<float> kMaxVolumeOptions { 2.0f, 2.5f };
const char* const kKeys[] = { "maxVolume", "volumes", "muted", "routes" };

QVariant anyValue(FuzzedDataProvider& in, int depth)
{
    switch (in.ConsumeIntegralInRange(0, depth < 3 ? 10 : 8)) {
    case 0:
        return QVariant();
    case 1:
        return in.ConsumeBool();
    case 2:
        return in.ConsumeIntegral<int>();
    case 3:
        return in.ConsumeIntegral<qlonglong>();
    case 4:
        return in.ConsumeFloatingPoint<double>();
    case 5:
        return in.ConsumeFloatingPoint<float>();
    case 6:
        return QString::fromStdString(in.ConsumeRandomLengthString(64));
    case 7: {
        const std::string text = in.ConsumeRandomLengthString(256);
        return QByteArray(text.data(), qsizetype(text.size()));
    }
    case 8: {
        QStringList list;
        for (int n = in.ConsumeIntegralInRange(0, 4); n > 0; --n)
            list << QString::fromStdString(in.ConsumeRandomLengthString(16));
        return list;
    }
    case 9: {
        QVariantList list;
        for (int n = in.ConsumeIntegralInRange(0, 4); n > 0; --n)
            list << anyValue(in, depth + 1);
        return list;
    }
    default: {
        QVariantMap map;
        for (int n = in.ConsumeIntegralInRange(0, 4); n > 0; --n)
            map.insert(QString::fromStdString(in.ConsumeRandomLengthString(16)), anyValue(in, depth + 1));
        return map;
    }
    }
}

void checkRestored(const MixerSettings::Restored& restored)
{
    fuzz::expect(restored.maxVolume == 2.0f || restored.maxVolume == 2.5f, "the boost limit is one on offer");
    for (auto it = restored.volumes.begin(); it != restored.volumes.end(); ++it) {
        if (!std::isfinite(*it) || *it > restored.maxVolume)
            std::fprintf(stderr, "fuzz: level %g for \"%s\"\n", double(*it), qPrintable(it.key()));
        fuzz::expect(std::isfinite(*it) && *it <= restored.maxVolume, "a level is a number within the limit");
    }
}

} // namespace

// Qt decodes an "@Variant" value by reserving what its counts claim before it finds the data short (hundreds of
// megabytes to gigabytes, never touched). Here, as on a machine that cannot give them, an allocation over 64 MB
// returns null and Qt gives up on the value; what a run really uses is still held to the fuzzer's memory limit.
// ASAN_OPTIONS, read after these, may add to them.
extern "C" const char* __asan_default_options()
{
    return "max_allocation_size_mb=64:allocator_may_return_null=1";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QTemporaryDir& dir = fuzz::scratch();
    static int run = 0;
    if (size == 0)
        return 0;
    // A fresh file each time: QSettings keeps what it read of a path for as long as the file looks unchanged.
    const QString path = dir.filePath(QStringLiteral("Sonaric-%1.conf").arg(++run));
    if (data[0] % 2 == 0) {
        {
            QFile file(path);
            if (!file.open(QIODevice::WriteOnly))
                return 0;
            file.write(fuzz::bytes(data + 1, size - 1));
        }
        const QByteArray before = [&] {
            QFile file(path);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        }();
        {
            const QSettings settings(path, QSettings::IniFormat);
            checkRestored(MixerSettings::restore(settings, kMaxVolumeOptions));
        }
        QFile file(path);
        fuzz::expect(file.open(QIODevice::ReadOnly) && file.readAll() == before, "restoring writes nothing back");
        file.remove();
        return 0;
    }
    FuzzedDataProvider in(data + 1, size - 1);
    {
        QSettings settings(path, QSettings::IniFormat);
        for (const char* key : kKeys)
            if (in.ConsumeBool())
                settings.setValue(QLatin1String(key), anyValue(in, 0));
        checkRestored(MixerSettings::restore(settings, kMaxVolumeOptions));
        settings.clear();
    }
    QFile::remove(path);
    return 0;
}
