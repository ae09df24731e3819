#include "tests/import/importharness.h"

#include "tests/support/testutil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlQuery>
#include <gtest/gtest.h>

namespace importtest
{

vndtest::ServerFixture &Server()
{
    return vndtest::SharedServer();
}

vnd::docgen::Generator &Gen()
{
    // The seeded master data comes from seed 1; sales start far from the seed's own clock.
    static vnd::docgen::Generator *gen = [] {
        auto *g = new vnd::docgen::Generator(1);
        g->SetClock(QDateTime(QDate(2017, 3, 1), QTime(8, 0)));
        return g;
    }();
    return *gen;
}

const TMessages &Mensagens()
{
    static const TMessages msg(
        {QStringLiteral("Xml_proc|Foram importadas %s notas de %s arquivos/lotes de XML."),
         QStringLiteral("Xml_n_Enc|Não foi encontrado nenhum XML."),
         QStringLiteral("CONF_LOG|Atenção! Existem problemas nos arquivos XML. Deseja "
                        "consultar o log de erros?"),
         QStringLiteral("Erro|Erro"), QStringLiteral("Alerta|Alerta")});
    return msg;
}

QString XmlProc(int notes, int files)
{
    return QStringLiteral("Foram importadas %1 notas de %2 arquivos/lotes de XML.").arg(notes).arg(files);
}

const QString kConfLog =
    QStringLiteral("Atenção! Existem problemas nos arquivos XML. Deseja consultar o log de erros?");

const vnd::docgen::Branch &Sp() { return Gen().Branches().first(); }

vnd::docgen::Sale NfceSale(const QString &layout)
{
    vnd::docgen::SaleOptions o;
    o.kind = vnd::docgen::DocKind::Nfce;
    o.status = vnd::docgen::NfceStatus::Authorized;
    o.branchCode = Sp().code;
    o.layoutVersion = layout;
    return Gen().MakeSale(o);
}

QList<vnd::docgen::Sale> SatSales(int n)
{
    const vnd::docgen::CashRegister *sat = nullptr;
    for (const vnd::docgen::CashRegister &r : Gen().CashRegisters())
        if (r.branchCode == Sp().code && !r.satSerial.isEmpty()) {
            sat = &r;
            break;
        }
    if (!sat)
        throw std::runtime_error("no SAT register");
    vnd::docgen::SaleOptions o;
    o.kind = vnd::docgen::DocKind::Sat;
    o.status = vnd::docgen::NfceStatus::Authorized;
    o.branchCode = Sp().code;
    o.registerCode = sat->code;
    return Gen().MakeSales(n, o);
}

QString ComErros(const Batch &batch, int files)
{
    return QStringLiteral("\n%1 arquivo(s) com erro em %2Xml Erro/").arg(files).arg(batch.Dir());
}

QString JaGravadas(int notes)
{
    return QStringLiteral("\n%1 nota(s) já estava(m) gravada(s) no banco de dados e não foi(ram) gravada(s) de novo.")
        .arg(notes);
}

Batch::Batch()
{
    import = std::make_unique<vnd::TImportacaoXml>(Server().Connection(), Mensagens(), globals);
    import->onRemoteCall = [this](const QString &method) { ++calls[method];
};
} // namespace importtest

void Batch::Write(const QString &name, const QByteArray &bytes) const
{
    vndtest::WriteFile(Dir() + name, bytes);
}

void Batch::Run(const QString &fallback)
{
    calls.clear();
    import->stDirXml = Dir();
    import->stDirXmlErro = Dir() + QStringLiteral("Xml Erro/");
    import->stDirXmlProc = Dir() + QStringLiteral("Xml Processados/");
    import->stFilialCaixaPadrao = fallback;
    import->importaXml();
}

QString Batch::Where(const QString &name) const
{
    QStringList found;
    if (QFileInfo::exists(Dir() + name))
        found << QString();
    for (const char *folder : {"Xml Processados", "Xml Erro"}) {
        const QString base = Dir() + QString::fromLatin1(folder);
        if (QFileInfo::exists(base + QLatin1Char('/') + name))
            found << QString::fromLatin1(folder) + QLatin1Char('/') + name;
        for (const QString &branch : QDir(base).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            if (QFileInfo::exists(base + QLatin1Char('/') + branch + QLatin1Char('/') + name))
                found << QString::fromLatin1(folder) + QLatin1Char('/') + branch + QLatin1Char('/') + name;
        }
    }
    return found.size() == 1 ? found.first() : QStringLiteral("?") + found.join(QLatin1Char(','));
}

QStringList Batch::LogLines(const QString &branch, const QString &name) const
{
    QFile file(Dir() + QStringLiteral("Xml Erro/") +
               (branch.isEmpty() ? QString() : branch + QLatin1Char('/')) + name +
               QStringLiteral("-log.txt"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QString Stored(const QString &key)
{
    QSqlQuery q(Server().Database());
    q.prepare(QStringLiteral("SELECT IDSITUVENDA, CDFILIAL, CDCAIXA FROM VENDA WHERE NRACESSONFCE = ?"));
    q.addBindValue(key);
    if (!q.exec() || !q.next())
        return {};
    return q.value(0).toString() + QLatin1Char('|') + q.value(1).toString() + QLatin1Char('|') +
           q.value(2).toString();
}

int StoredCount(const QStringList &keys)
{
    int n = 0;
    for (const QString &key : keys)
        n += Stored(key).isEmpty() ? 0 : 1;
    return n;
}

} // namespace importtest
