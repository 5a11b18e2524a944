#pragma once

#include "native/native_volume_source.h"

#include <QString>

#include <mutex>

namespace sonaric
{

class Scripting;

/// The one place where AppleScript source is compiled and run, for the app connectors and Safari alike.
namespace NativeAppleScript
{

/// The process-wide lock held for every compile-and-run: at most one AppleScript of this program runs at any
/// moment, whichever controller asks. Created on first use and never destroyed.
std::mutex& lock();

/// Runs `source` for `source`'s application and returns the reply text. Throws `NativeVolumeError`: "Could not
/// create the native volume script." when the text cannot be made into a script, the source's `scriptFailure`
/// for a reported error, its `failure("invalid")` when the result has no text.
QString execute(Scripting& scripting, const QString& script, NativeVolumeSource source);

} // namespace NativeAppleScript

} // namespace sonaric
