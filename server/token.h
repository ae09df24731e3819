#pragma once
// The bearer token the hosts present: kept in a file readable by its owner only.

#include <QString>

namespace vnd::server {

// The token of the file; when the file does not exist it is created (mode 0600, parents included) with a
// new random token. Exception naming the file when it cannot be read or created, or holds no token.
QString LoadOrCreateToken(const QString &path);

} // namespace vnd::server
