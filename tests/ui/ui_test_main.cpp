// A GoogleTest main with a GUI application object: icons and images need one.

#include <QGuiApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    // Nothing here needs a screen; the test list is also read where there is none.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
