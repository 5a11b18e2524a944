// The baseline of the tray benchmark: the least a Qt Quick tray program can be. A tray icon whose click shows a
// frameless window with a title, a slider and a button, and hides it again. It logs its first frame after each
// opening the way Sonaric does ("sonaric.timing").

#include <QApplication>
#include <QElapsedTimer>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QSystemTrayIcon>
#include <QTextStream>

int main(int argc, char* argv[])
{
    // The style Sonaric's views are drawn in.
    QQuickStyle::setStyle(QStringLiteral("Fusion"));
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QQmlEngine engine;
    QQmlComponent component(&engine);
    component.setData("import QtQuick\nimport QtQuick.Controls\n"
                      "Column { width: 320; padding: 14; spacing: 10\n"
                      "  Label { text: \"Minimal\" }\n"
                      "  Slider { width: 280; from: 0; to: 2; value: 1 }\n"
                      "  Button { text: \"Mute\" } }\n",
        QUrl(QStringLiteral("qrc:/minimal.qml")));
    auto* root = qobject_cast<QQuickItem*>(component.create());
    if (!root) {
        QTextStream(stderr) << component.errorString() << Qt::endl;
        return 1;
    }
    QQuickWindow window;
    window.setFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    window.setTitle(QStringLiteral("Sonaric"));
    root->setParentItem(window.contentItem());
    window.resize(320, int(root->implicitHeight()));

    QElapsedTimer opening;
    int openings = 0;
    QObject::connect(&window, &QQuickWindow::frameSwapped, [&] {
        if (!opening.isValid())
            return;
        QTextStream(stderr) << "sonaric.timing: popover opening " << openings << ": first frame after "
                            << QString::number(double(opening.nsecsElapsed()) / 1e6, 'f', 2) << " ms" << Qt::endl;
        opening.invalidate();
    });

    // The same icon theme Sonaric falls back to, so the icon exists on a bare desktop.
    QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));
    if (QIcon::themeName().isEmpty())
        QIcon::setThemeName(QStringLiteral("Adwaita"));
    QSystemTrayIcon tray(QIcon::fromTheme(QStringLiteral("audio-volume-high-symbolic")));
    QObject::connect(&tray, &QSystemTrayIcon::activated, [&](QSystemTrayIcon::ActivationReason reason) {
        if (reason != QSystemTrayIcon::Trigger)
            return;
        if (window.isVisible()) {
            window.hide();
            return;
        }
        ++openings;
        opening.start();
        window.setPosition(QCursor::pos() + QPoint(-160, 16));
        window.show();
        window.requestActivate();
    });
    tray.show();
    return application.exec();
}
