#pragma once
// Windows-style drive paths ("E:\Notes\Tarnwickley.txt") turned into local paths.
//
// A path resolves under its drive's root one component at a time. A component
// that exists with exactly that name is taken as it is; otherwise an entry of the
// same name in another letter case is taken (the first in name order), as FAT and
// HFS+ would match it. From the first component that matches nothing, the rest
// is appended as written. So "\Notes\" and "\notes\" name one folder on any file
// system, and a file that does not yet exist gets the name the caller wrote.

#include <QString>
#include <QStringView>

namespace tw::sync {

class DriveTable;

// The local path of `relative` (components separated by '\' or '/', empty ones
// ignored) under the folder `root`. Returns an empty string when a component is
// ".." (a path never leaves its drive) or `root` is empty.
QString resolveUnderRoot(const QString& root, QStringView relative);

// The local path of a drive path: a letter, a colon, and either nothing or a
// path that starts with a separator. Returns an empty string when the text has
// another form or no drive of the table has that letter (letter case ignored).
QString localPath(const DriveTable& drives, const QString& drivePath);

} // namespace tw::sync
