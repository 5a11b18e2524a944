// A GoogleTest main with a Qt application object, for tests of main-thread objects that use the event loop;
// built with SONARIC_TEST_WIDGETS it is a QApplication, for tests that make menus or windows.

#ifdef SONARIC_TEST_WIDGETS
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
#ifdef SONARIC_TEST_WIDGETS
    // Listing the tests (ctest's discovery) runs without the test environment; windows need a platform even then.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
    TestApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
