// getParamGeral and setParamGeral: the one parameter row of the automatic generation.
#include "host/errors.h"
#include "server/rdm.h"

namespace vnd::server {

namespace {

void DefineParamFields(TClientDataSet &cds)
{
    cds.AddField(QStringLiteral("DTINIGERAARQXML"), TFieldType::DateTime);
    cds.AddField(QStringLiteral("DSDIRARQXML"), TFieldType::String, 100);
    cds.AddField(QStringLiteral("DSDIRARQPHPGXML"), TFieldType::String, 100);
    cds.AddField(QStringLiteral("DSDIRINSTALAPHP"), TFieldType::String, 100);
    cds.AddField(QStringLiteral("IDENVARQCMP"), TFieldType::String, 1);
}

MethodResult getParamGeral(const RdmGeraXml &rdm, const Args &args)
{
    args.ExpectCount(0);
    const ServerDb &db = rdm.Db();
    QSqlQuery q = db.Exec(QStringLiteral("SELECT %1, DSDIRARQXML, DSDIRARQPHPGXML, DSDIRINSTALAPHP, IDENVARQCMP "
                                         "FROM PARAMGERAL WHERE IDPARAMGERAL = 1")
                              .arg(db.DateTimeColumn(QStringLiteral("DTINIGERAARQXML"))),
                          {}, "ler os parâmetros");
    TClientDataSet cds;
    DefineParamFields(cds);
    cds.CreateDataSet();
    if (q.next()) {
        cds.Append();
        if (!q.value(0).isNull())
            cds.Fields(0).SetAsDateTime(ServerDb::ReadDateTime(q.value(0)));
        for (int i = 1; i < 5; ++i)
            if (!q.value(i).isNull())
                cds.Fields(i).SetValue(q.value(i));
        cds.Post();
        cds.MergeChangeLog();
    }
    return PacketResult(cds);
}

// The row is the only one there is: an inserted or modified row of the delta both become its values.
MethodResult setParamGeral(const RdmGeraXml &rdm, const Args &args)
{
    args.ExpectCount(1);
    const TDataPacket delta = args.Packet(0, "alterações dos parâmetros");
    const QStringList states = TClientDataSet::DeltaRowStates(delta);
    TClientDataSet cds;
    DefineParamFields(cds);
    cds.SetData(delta);
    if (states.size() != cds.RowCount())
        throw Exception(QStringLiteral("Pacote de alterações dos parâmetros inválido: %1 linhas e %2 situações.")
                            .arg(cds.RowCount())
                            .arg(states.size()));
    const ServerDb &db = rdm.Db();
    int applied = 0;
    db.Write([&] {
        int row = 0;
        for (cds.First(); !cds.Eof(); cds.Next(), ++row) {
            const QString state = states.at(row);
            if (state == QLatin1String("deleted"))
                throw Exception(QStringLiteral("Os parâmetros da geração automática não podem ser excluídos."));
            if (state != QLatin1String("modified") && state != QLatin1String("inserted"))
                throw Exception(QStringLiteral("Situação de linha desconhecida no pacote de parâmetros: \"%1\".").arg(state.left(20)));
            QString compress = cds.FieldByName(QStringLiteral("IDENVARQCMP")).AsString();
            if (compress.isEmpty())
                compress = QStringLiteral("N");
            if (compress != QLatin1String("S") && compress != QLatin1String("N"))
                throw Exception(QStringLiteral("Indicador de compactação inválido: \"%1\" (use \"S\" ou \"N\").").arg(compress));
            auto text = [&](const char *field) {
                const QString v = cds.FieldByName(QString::fromLatin1(field)).AsString();
                return v.isEmpty() ? QVariant(QMetaType(QMetaType::QString)) : QVariant(v);
            };
            db.Exec(QStringLiteral("UPDATE PARAMGERAL SET DTINIGERAARQXML = %1, DSDIRARQXML = ?, DSDIRARQPHPGXML = ?, "
                                   "DSDIRINSTALAPHP = ?, IDENVARQCMP = ? WHERE IDPARAMGERAL = 1")
                        .arg(db.DateTimeParam()),
                    {ServerDb::DateTimeValue(cds.FieldByName(QStringLiteral("DTINIGERAARQXML")).AsDateTime()),
                     text("DSDIRARQXML"), text("DSDIRARQPHPGXML"), text("DSDIRINSTALAPHP"), compress},
                    "gravar os parâmetros");
            ++applied;
        }
    });
    return MethodResult{true, applied};
}

} // namespace

void AddParamMethods(QHash<QString, RdmGeraXml::Method> &methods)
{
    methods.insert(QStringLiteral("getParamGeral"), getParamGeral);
    methods.insert(QStringLiteral("setParamGeral"), setParamGeral);
}

} // namespace vnd::server
