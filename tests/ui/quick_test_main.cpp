// The views' Qt Quick tests (quick/tst_*.qml): each engine gets the views' module, its image providers and the
// bench as the singleton "Bench" of the module "Sonaric.Test".

#include "ui/settings_bench.h"
#include "ui/ui.h"
#include "ui/ui_bench.h"

#include <QQmlEngine>
#include <QtQml/qqmlextensionplugin.h>
#include <QtQuickTest>

Q_IMPORT_QML_PLUGIN(Sonaric_UiPlugin)

using namespace sonaric;

class Setup : public QObject
{
    Q_OBJECT

public slots:
    void applicationAvailable()
    {
        prepareUiStyle();
        m_bench = std::make_unique<test::UiBench>();
        qmlRegisterSingletonInstance("Sonaric.Test", 1, 0, "Bench", m_bench.get());
        m_settings = std::make_unique<test::SettingsBench>(*m_bench);
        qmlRegisterSingletonInstance("Sonaric.Test", 1, 0, "SettingsBench", m_settings.get());
        qmlRegisterType<test::ManualClock>("Sonaric.Test", 1, 0, "ManualClock");
    }
    void qmlEngineAvailable(QQmlEngine* engine) { registerUi(*engine, m_bench->workspace()); }
    void cleanupTestCase()
    {
        m_settings.reset();
        m_bench.reset();
    }

private:
    std::unique_ptr<test::UiBench> m_bench;
    std::unique_ptr<test::SettingsBench> m_settings;
};

QUICK_TEST_MAIN_WITH_SETUP(ui_quick, Setup)

#include "quick_test_main.moc"
