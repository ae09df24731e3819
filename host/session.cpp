#include "host/session.h"

namespace Quorvel {
QString WebURL = QStringLiteral("127.0.0.1");
int WebPort = 8044;
QString WebToken;
bool WebTls = false;
QString WebCaFile;
QString Operador;
QString FiliProc;
bool ModuFili = false;
} // namespace Quorvel
