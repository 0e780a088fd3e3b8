#pragma once

#include <QString>

// Files and directories only their owner may read: accounts, password keys and tasks are
// nobody else's business. Files left readable by others (by an earlier version, or under a
// lax umask) are tightened; no permission is ever added.
namespace PrivateFiles {

// Creates the directory and its missing parents; the directory itself is then owner-only.
bool makeDirectory(const QString &path);

// Creates an empty owner-only file when there is none; tightens the one that is there.
bool makeFile(const QString &path);

// Takes every permission of group and others away from an existing file or directory.
void tighten(const QString &path);

} // namespace PrivateFiles
