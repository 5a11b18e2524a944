#pragma once

// What a QML engine needs before it loads the mixer's views.

class QQmlEngine;

namespace sonaric
{

class Workspace;

/// Chooses the Qt Quick Controls style the views are drawn in ("Fusion", which follows the desktop palette).
/// Call once, before the first QML engine exists.
void prepareUiStyle();

/// Registers the image providers the views use on `engine` ("image://symbol/…" for the system symbols and
/// "image://appicon/…" for application icons, looked up through `workspace`, which must outlive the engine),
/// sets the icon theme fallback and adds the module's import path. Call before loading a view.
void registerUi(QQmlEngine& engine, const Workspace& workspace);

} // namespace sonaric
