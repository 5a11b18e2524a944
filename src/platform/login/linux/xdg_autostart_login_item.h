#pragma once

#include "platform/login/login_item_service.h"

namespace sonaric
{

/// The login item as a freedesktop autostart entry, `$XDG_CONFIG_HOME/autostart/<application id>.desktop`,
/// which starts this program's executable.
///
/// How the entry on disk maps to a status:
/// - no entry: not registered;
/// - an entry the desktop has switched off (`Hidden=true`, or `X-GNOME-Autostart-enabled=false`, which the
///   desktops' startup settings write when the user unticks it): not registered, so the switch shows off and
///   switching it on writes the entry anew;
/// - an entry whose executable no longer exists or cannot run (the program was moved or removed): not found;
/// - otherwise: enabled. Autostart needs no approval, so this backend never reports requires approval.
/// Entries are written atomically (a half-written entry is never seen); a failure to write or remove one comes
/// back as text for the user.
class XdgAutostartLoginItem final : public LoginItemService
{
public:
    /// `executable` empty: the running program (its AppImage when it runs from one). `configHome` empty: the
    /// user's configuration folder (`$XDG_CONFIG_HOME`, else `~/.config`).
    explicit XdgAutostartLoginItem(
        const QString& applicationId, const QString& executable = {}, const QString& configHome = {});

    Status status() const override;
    QString registerMainApp() override;
    QString unregisterMainApp() override;

    /// The entry's path, whether or not it exists.
    QString entryPath() const { return m_path; }
    /// The autostart folder.
    QString folder() const;
    QString executable() const { return m_executable; }

    /// `Exec`'s program quoted as the desktop entry format wants it; and the first program of an `Exec` line.
    static QString quotedProgram(const QString& program);
    static QString programOf(const QString& execLine);

private:
    QString m_path;
    QString m_executable;
};

} // namespace sonaric
