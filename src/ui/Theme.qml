pragma Singleton
import QtQuick

// The desktop's look as the views use it: colours from the desktop palette and the text styles, all scaled
// from the application font in this one place.
QtObject {
    readonly property SystemPalette palette: SystemPalette {
        colorGroup: SystemPalette.Active
    }
    // The application's font: a FontMetrics starts with it.
    readonly property font base: applicationFont.font
    readonly property FontMetrics applicationFont: FontMetrics {}

    readonly property color accent: palette.highlight
    readonly property color onAccent: palette.highlightedText
    readonly property color primary: palette.windowText
    readonly property color secondary: Qt.rgba(primary.r, primary.g, primary.b, 0.6)
    readonly property color background: palette.window
    readonly property color separator: Qt.rgba(primary.r, primary.g, primary.b, 0.15)
    readonly property bool dark: palette.window.hslLightness < 0.5
    readonly property color red: dark ? "#ff7b72" : "#c01c28"

    readonly property font headline: Qt.font({
        family: base.family,
        pointSize: base.pointSize * 1.1,
        weight: Font.DemiBold
    })
    readonly property font subheadline: Qt.font({
        family: base.family,
        pointSize: base.pointSize * 0.95
    })
    readonly property font caption: Qt.font({
        family: base.family,
        pointSize: base.pointSize * 0.85
    })
    readonly property font captionMedium: Qt.font({
        family: base.family,
        pointSize: base.pointSize * 0.85,
        weight: Font.Medium
    })
    readonly property font captionSemibold: Qt.font({
        family: base.family,
        pointSize: base.pointSize * 0.85,
        weight: Font.DemiBold
    })
    readonly property font caption2Semibold: Qt.font({
        family: base.family,
        pointSize: base.pointSize * 0.78,
        weight: Font.DemiBold
    })

    // Symbol sizes in pixels: a row's buttons, the small glyphs inside text.
    readonly property real symbolSize: 16
    readonly property real smallSymbolSize: 11

    readonly property color green: dark ? "#30d158" : "#248a3d"
    readonly property color blue: dark ? "#0a84ff" : "#0a64d6"

    /// The application font at `size` on a scale where 13 is the application font's own size.
    function systemFont(size: real, weight: int): font {
        return Qt.font({
            family: base.family,
            pointSize: base.pointSize * size / 13,
            weight: weight
        });
    }

    function tint(color: color, opacity: real): color {
        return Qt.rgba(color.r, color.g, color.b, opacity);
    }
}
