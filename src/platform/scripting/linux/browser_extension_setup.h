#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <sys/types.h>

namespace sonaric
{

struct LinuxApplication;

/// What connecting a Chromium-family browser needs on disk, and the fix-it steps when it is not enough: Sonaric's
/// extension unpacked into a folder the user can load it from, and the native-messaging host manifest in the
/// browser profile's NativeMessagingHosts folder, naming the host program and allowing only Sonaric's extension.
namespace BrowserExtensionSetup
{

/// The extension's fixed id (from the public key in its manifest).
QString extensionID();
/// "chrome-extension://<id>/": the one caller the host manifest allows.
QString extensionOrigin();

/// Where the extension is unpacked for the user to load: $XDG_DATA_HOME/sonaric/browser-extension.
QString defaultExtensionFolder();
/// Writes the extension built into the program into `folder`, file by file, rewriting only what differs (a
/// browser that has it loaded keeps running its copy until it reloads it). False with `error` on failure.
bool writeExtension(const QString& folder, QString* error);

/// The host program: beside this program, in ../libexec/sonaric, or where the build put it. Empty when none.
QString findHost();
/// The host manifest for a host program at `hostPath`.
QByteArray hostManifest(const QString& hostPath);
/// Writes the host manifest into `profile`/NativeMessagingHosts unless it is there already. False with `error`.
bool installHostManifest(const QString& profile, const QString& hostPath, QString* error);

/// The user-data folder of a running browser: its --user-data-dir, else the default folder of the flavour the
/// desktop id names (or the application's first) below $XDG_CONFIG_HOME.
QString profileFolder(pid_t browser, const LinuxApplication& application, const QString& desktopID);

enum class Sandbox { none, flatpak, snap };
/// Whether a running browser is confined by Flatpak or Snap, where it cannot start a host program of ours.
Sandbox sandboxOf(pid_t browser, const LinuxApplication& application, const QString& desktopID);

/// The message and steps of the errors a browser connector can meet on Linux.
QString notAnsweringMessage(const LinuxApplication& application);
/// The headline when the extension took too long over one request.
QString timedOutMessage(const LinuxApplication& application);
QStringList addExtensionSteps(const LinuxApplication& application, const QString& extensionFolder);
QString sandboxMessage(const LinuxApplication& application, Sandbox sandbox);
QStringList sandboxSteps(const LinuxApplication& application, Sandbox sandbox);
QString outdatedMessage(const LinuxApplication& application);
QStringList reloadExtensionSteps(const LinuxApplication& application);
QString noAccessMessage(const LinuxApplication& application);
QStringList siteAccessSteps(const LinuxApplication& application);

} // namespace BrowserExtensionSetup

} // namespace sonaric
