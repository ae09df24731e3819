#pragma once
// Where server-side generation may write: only inside the export root the server was started with.

#include <QString>

namespace vnd::server {

// The absolute, symlink-free folder a client's folder text names inside root (which must exist). A
// relative text is taken under root; "\" counts as a separator. Exception naming the folder when it
// is empty, leaves root (through "..", an absolute path elsewhere or a symbolic link) or names a file.
QString ResolveExportFolder(const QString &root, const QString &folder);

} // namespace vnd::server
