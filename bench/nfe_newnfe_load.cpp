// bench-libs: vnd_xml
// nfe_newnfe_load: a new NF-e document (NewNFe) with a 10 KB signed NF-e loaded into it, as the local
// export checks every assembled document, against pugixml alone parsing the same bytes.
#include "xml/nfe_v310.h"
#include "xml/xmlencoding.h"

#include <QCoreApplication>
#include <QDir>
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
    const QString text = vnd::ReadXmlFile(Sample()).text;
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
    std::printf("nfe_newnfe_load: %.0f docs/s (baseline: %.0f docs/s, ratio: %.2f)\n", ours, base,
                ours / base);
    return sink == 0;
}
