import QtQuick
import Sonaric.Ui

// A connector's application icon, `size` pixels square; the generic application icon when the application is
// not installed.
Item {
    id: root

    /// The connector, a `NativeVolumeSource` case.
    required property int source
    property real size: 22

    implicitWidth: size
    implicitHeight: size
    Accessible.role: Accessible.Graphic
    Accessible.name: ConnectorIcons.title(source)

    Image {
        anchors.fill: parent
        source: ConnectorIcons.source(root.source)
        sourceSize.width: Math.ceil(root.size)
        sourceSize.height: Math.ceil(root.size)
        fillMode: Image.PreserveAspectFit
    }
}
