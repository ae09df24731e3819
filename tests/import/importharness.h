#pragma once
// What the import tests share: one seeded server for the whole binary, an import over a temporary
// folder with the main screen's message table, and looks at the folders, logs and stored sales.

#include "import/importacaoxml.h"
#include "server/docgen/docgen.h"
#include "tests/support/server_fixture.h"

#include <QHash>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

namespace importtest {

// The server of the binary, seeded with the generator's master data (seed 1, no sales).
vndtest::ServerFixture &Server();
// A generator with the server's master data; each call continues one sequence, so sales never repeat.
vnd::docgen::Generator &Gen();
// The main screen's message table of the import.
const TMessages &Mensagens();
// "Foram importadas N notas de M arquivos/lotes de XML."
QString XmlProc(int notes, int files);

// One import over its own folder, with module texts of its own.
class Batch
{
public:
    Batch();
    QString Dir() const { return m_dir.path() + QLatin1Char('/'); }
    void Write(const QString &name, const QByteArray &bytes) const;
    // Runs importaXml with the fallback (branch 4 + register 3 + company 2, or empty).
    void Run(const QString &fallback = {});

    vnd::ImportGlobals globals;
    std::unique_ptr<vnd::TImportacaoXml> import;
    QHash<QString, int> calls; // remote calls made, by method

    // Where a file ended: "Xml Processados/0001/x.xml", "Xml Erro/x.xml", "" (import folder) or "?".
    QString Where(const QString &name) const;
    // The lines of the file's log in the error folder (branch "" for the folder itself).
    QStringList LogLines(const QString &branch, const QString &name) const;

private:
    QTemporaryDir m_dir;
};

// The question asked when the batch's log has rows.
extern const QString kConfLog;
// The first branch of the master data, in São Paulo: it issues NFC-e and SAT coupons.
const vnd::docgen::Branch &Sp();
// An authorised NFC-e of that branch in the layout given.
vnd::docgen::Sale NfceSale(const QString &layout);
// n authorised SAT coupons of one SAT register of that branch.
QList<vnd::docgen::Sale> SatSales(int n);

// The line that follows "Xml_proc" when files of the batch failed: "\nN arquivo(s) com erro em <folder>".
class Batch;
QString ComErros(const Batch &batch, int files);
// The line that follows when sales sent were already stored.
QString JaGravadas(int notes);

// Stored sales by key: "situation|branch|register" ("" when the key is not stored).
QString Stored(const QString &key);
int StoredCount(const QStringList &keys);

} // namespace importtest
