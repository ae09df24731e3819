// bench-libs: vnd_export_core Boost::json
// json_packet: the answer to a getNotas page (500 sales with 6 KB documents, as the server writes it)
// read by the client into the sale list — our reader finding the packet in the body and loading the
// record set from it — against Boost.JSON reading the same body into its tree and converting the tree's
// rows into values of the same types. Boost.JSON's side does less (no record set), so a ratio above 1
// means that our reader is faster even when the maintained library is given that advantage.
#include "export/core/salelist.h"
#include "host/recordset.h"
#include "host/rpc.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QVariant>
#include <algorithm>
#include <boost/json.hpp>
#include <cstdio>
#include <vector>

namespace {

constexpr int kRows = 500;
constexpr int kRounds = 30;

QByteArray Document(int n)
{
    QByteArray doc = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><nfeProc versao=\"4.00\" "
                     "xmlns=\"http://www.portalfiscal.inf.br/nfe\"><NFe><infNFe Id=\"NFe" +
                     QByteArray::number(n) + "\" versao=\"4.00\">";
    for (int i = 1; doc.size() < 6 * 1024 - 40; ++i)
        doc += "<det nItem=\"" + QByteArray::number(i) + "\"><prod><cProd>" + QByteArray::number(1000 + i) +
               "</cProd><xProd>Pão de queijo – recheio \"especial\"</xProd><qCom>1.0000</qCom><vUnCom>4.50</vUnCom>"
               "</prod></det>";
    return doc + "</infNFe></NFe></nfeProc>";
}

// The body of a getNotas answer, built by the record set's own packet writer.
QByteArray Body()
{
    TClientDataSet cds;
    vnd::DefineCdsNotas(cds);
    cds.DisableControls();
    const QDateTime when(QDate(2026, 11, 5), QTime(10, 30, 0));
    for (int i = 0; i < kRows; ++i) {
        cds.Append();
        cds.Fields(0).SetAsString(QStringLiteral("N"));
        cds.Fields(1).SetAsString(QStringLiteral("0001"));
        cds.Fields(2).SetAsString(QStringLiteral("001"));
        cds.Fields(4).SetAsString(QString::number(i));
        cds.Fields(5).SetAsBytes(Document(i));
        cds.Fields(6).SetAsDateTime(when.addSecs(i));
        cds.Fields(7).SetAsString(QStringLiteral("35261112345678000190650010000000011000000%1").arg(i % 1000, 3, 10, QLatin1Char('0')));
        cds.Fields(10).SetAsString(QString::number(i));
        cds.Fields(11).SetAsString(QStringLiteral("O"));
        cds.Fields(13).SetAsDateTime(when.addSecs(i + 2));
        cds.Post();
    }
    return QByteArray("{\"jsonrpc\":\"2.0\",\"id\":7,\"result\":") + cds.Data().json + "}";
}

// Boost.JSON's side: the tree, then each row's values as the record set would hold them.
size_t ReadWithBoost(const QByteArray &body, std::vector<std::vector<QVariant>> &rows)
{
    // Its fastest allocation: one arena for the whole tree, freed at once.
    boost::json::monotonic_resource arena;
    boost::json::value doc = boost::json::parse(boost::json::string_view(body.constData(), size_t(body.size())), &arena);
    const boost::json::object &packet = doc.as_object().at("result").as_object();
    std::vector<std::string> types;
    for (const boost::json::value &f : packet.at("fields").as_array())
        types.emplace_back(f.as_object().at("type").as_string().c_str());
    rows.clear();
    size_t bytes = 0;
    for (const boost::json::value &r : packet.at("rows").as_array()) {
        std::vector<QVariant> values;
        const boost::json::array &cols = r.as_array();
        values.reserve(cols.size());
        for (size_t c = 0; c < cols.size(); ++c) {
            const boost::json::value &v = cols[c];
            if (v.is_null()) {
                values.emplace_back();
            } else if (v.is_string()) {
                const boost::json::string &s = v.get_string();
                QByteArray text(s.data(), qsizetype(s.size()));
                bytes += size_t(text.size());
                if (types[c] == "datetime")
                    values.emplace_back(QDateTime::fromString(QString::fromLatin1(text), Qt::ISODate));
                else
                    values.emplace_back(std::move(text));
            } else if (v.is_int64()) {
                values.emplace_back(qlonglong(v.get_int64()));
            } else if (v.is_double()) {
                values.emplace_back(v.get_double());
            } else if (v.is_bool()) {
                values.emplace_back(v.get_bool());
            }
        }
        rows.push_back(std::move(values));
    }
    return bytes;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QByteArray body = Body();
    std::vector<double> ours, boost, oursParse, boostParse;
    QElapsedTimer t;
    for (int i = 0; i < kRounds; ++i) {
        {
            t.start();
            const vnd::rpc::Response resp = vnd::rpc::DecodeResponse(body);
            const TDataPacket packet = vnd::rpc::ToPacket(resp.result);
            oursParse.push_back(t.nsecsElapsed() / 1e9);
            TClientDataSet page;
            vnd::DefineCdsNotas(page);
            page.SetData(packet);
            ours.push_back(t.nsecsElapsed() / 1e9);
            if (page.RowCount() != kRows) {
                std::fprintf(stderr, "json_packet: our reader read %d rows\n", page.RowCount());
                return 1;
            }
        }
        {
            t.start();
            {
                boost::json::monotonic_resource arena;
                boost::json::value doc =
                    boost::json::parse(boost::json::string_view(body.constData(), size_t(body.size())), &arena);
            }
            boostParse.push_back(t.nsecsElapsed() / 1e9);
            t.start();
            std::vector<std::vector<QVariant>> rows;
            ReadWithBoost(body, rows);
            boost.push_back(t.nsecsElapsed() / 1e9);
            if (rows.size() != size_t(kRows)) {
                std::fprintf(stderr, "json_packet: Boost.JSON read %zu rows\n", rows.size());
                return 1;
            }
        }
    }
    const double mb = body.size() / (1024.0 * 1024.0);
    std::fprintf(stderr,
                 "json_packet: %.1f MB body; median page %.2f ms ours (%.2f ms finding the packet), %.2f ms "
                 "Boost.JSON (%.2f ms of it parsing into the tree)\n",
                 mb, Median(ours) * 1000, Median(oursParse) * 1000, Median(boost) * 1000, Median(boostParse) * 1000);
    std::printf("json_packet: %.0f MB/s (baseline: %.0f MB/s, ratio: %.2f)\n", mb / Median(ours), mb / Median(boost),
                Median(boost) / Median(ours));
    return 0;
}
