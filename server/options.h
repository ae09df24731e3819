#pragma once
// The command line of vnd-server: serving (the default) or seeding demo data.

#include <QDate>
#include <QString>
#include <QStringList>

namespace vnd::server {

struct ServerOptions
{
    bool seed = false; // "seed": fill the database with demo data and exit
    bool help = false;
    QString db;        // database URL
    QString host = QStringLiteral("127.0.0.1");
    int port = 8044;
    QString tokenFile;
    QString exportRoot;
    int threads = 16;  // database threads
    int maxBodyMb = 256; // largest request body, in MB
    QString tlsCert;   // PEM certificate chain; with tlsKey the server speaks TLS only
    QString tlsKey;
    // Seed only.
    int sales = 1000;
    QDate from, to;
    QString importDir;
    quint64 randomSeed = 1;
};

// Reads the arguments (without the program name). Unset paths default to the data folder:
// $VND_DATA_DIR, else ~/.local/share/vnd04400 (database vnd04400.db, token file "token", export root
// "xml"). Exception naming the argument that is unknown or malformed.
ServerOptions ParseOptions(const QStringList &args);

// The usage text.
QString Usage();

} // namespace vnd::server
