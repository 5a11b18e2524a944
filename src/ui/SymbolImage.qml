import QtQuick
import Sonaric.Ui

// A system symbol (by the names `SystemSymbols` knows) from the desktop's icon theme, drawn in one colour.
Image {
    id: root

    property string symbol
    property color color: Theme.primary
    property real size: Theme.symbolSize

    width: size
    height: size
    sourceSize.width: Math.ceil(size)
    sourceSize.height: Math.ceil(size)
    fillMode: Image.PreserveAspectFit
    source: symbol.length > 0 ? SystemSymbols.source(symbol, color) : ""
}
