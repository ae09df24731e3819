// bench-libs: vnd_xml vnd_docgen
// nfe_newnfe_load: a new NF-e document (NewNFe) with a 10 KB signed NF-e loaded into it, as the local
// export checks every assembled document, against pugixml alone parsing the same bytes.
#include "server/docgen/docgen.h"
#include "xml/nfe_v310.h"
#include "xml/xmlencoding.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QElapsedTimer>
#include <cstdio>
#include <pugixml.hpp>

namespace
{

QString Sample()
{
    const QString shared =
        qEnvironmentVariable("VND_SHARED_DIR", QStringLiteral(VND_SOURCE_DIR "/../shared"));
    return QDir(shared).filePath(QStringLiteral("samples/nfe310/spednfe_2017signed_NFe55.xml"));
}

// The public signed NF-e, or on a fresh clone a generated signed NFC-e of about the same size.
QString Document(QString &corpus)
{
    if (QFile::exists(Sample())) {
        corpus = QStringLiteral("amostra pública %1").arg(QFileInfo(Sample()).fileName());
        return vnd::ReadXmlFile(Sample()).text;
    }
    vnd::docgen::Generator gen(2026);
    vnd::docgen::SaleOptions o;
    o.kind = vnd::docgen::DocKind::Nfce;
    o.minItems = o.maxItems = 12;
    const vnd::docgen::Sale s = gen.MakeSale(o);
    corpus = QStringLiteral("NFC-e do gerador (amostras públicas ausentes)");
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>") + QString::fromUtf8(s.nfe);
}

// Documents per second of the fastest of several one-second rounds.
template <class F> double PerSecond(F &&once)
{
    double best = 0;
    for (int round = 0; round < 5; ++round) {
        QElapsedTimer t;
        t.start();
        long n = 0;
        while (t.nsecsElapsed() < 400'000'000) {
            for (int i = 0; i < 50; ++i)
                once();
            n += 50;
        }
        best = std::max(best, n / (t.nsecsElapsed() / 1e9));
    }
    return best;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QString corpus;
    const QString text = Document(corpus);
    const QByteArray bytes = text.toUtf8();
    long sink = 0;

    const double ours = PerSecond([&] {
        IXMLTNFe nfe = NewNFe();
        nfe->OwnerDocument()->LoadFromXML(text);
        sink += nfe->OwnerDocument()->DocumentElement() != nullptr;
    });
    const double base = PerSecond([&] {
        pugi::xml_document doc;
        sink += bool(doc.load_buffer(bytes.constData(), size_t(bytes.size())));
    });
    std::printf("nfe_newnfe_load: %.0f docs/s (baseline: %.0f docs/s, ratio: %.2f) [corpus: %s, %lld bytes]\n", ours,
                base, ours / base, qPrintable(corpus), qlonglong(bytes.size()));
    return sink == 0;
}
