#pragma once
// Session values of the signed-in user and the server address, as the host supplies them.

#include <QString>

namespace Quorvel {
extern QString WebURL;   // application server host
extern int WebPort;      // application server port
extern QString WebToken; // bearer token of the server
extern bool WebTls;       // whether the server is reached over TLS
extern QString WebCaFile; // certificate authorities to check the server against (empty: the system's)
extern QString Operador; // operator (user) code
extern QString FiliProc; // the user's branch
extern bool ModuFili;    // true when the user works on that one branch alone
} // namespace Quorvel
