#include "export/core/salelist.h"

#include "host/recordset.h"

namespace vnd {

void DefineCdsNotas(TClientDataSet &cds)
{
    struct F
    {
        const char *name;
        TFieldType type;
        int size;
        const char *label;
        bool readOnly;
    };
    static const F fields[] = {
        {"IDCHECK", TFieldType::FixedChar, 1, "", false},
        {"CDFILIAL", TFieldType::String, 4, "Filial", true},
        {"CDCAIXA", TFieldType::String, 3, "Caixa", true},
        {"CDLOJA", TFieldType::String, 10, "", true},
        {"NRSEQVENDA", TFieldType::String, 10, "Nr. Venda", true},
        {"DSARQXMLNFCE", TFieldType::Memo, 0, "", true},
        {"DTENTRVENDA", TFieldType::DateTime, 0, "Data Movimento", true},
        {"NRACESSONFCE", TFieldType::String, 50, "Chave de Acesso", true},
        {"CDSERIE", TFieldType::String, 10, "Série", true},
        {"IDTPEMISVEND", TFieldType::String, 1, "Origem", true},
        {"NRNOTAFISCALCE", TFieldType::String, 9, "Nr. Nota Fiscal", true},
        {"IDSITUVENDA", TFieldType::String, 1, "Situação Venda", true},
        {"NRPROTOCOLONFCE", TFieldType::String, 100, "", false},
        {"DTHRPROTOCONFCE", TFieldType::DateTime, 0, "", false},
        {"IDTPAMBNFCE", TFieldType::String, 5, "", false},
        {"IDSTATUSNFCE", TFieldType::String, 1, "", false},
        {"NRINSJURIEST", TFieldType::String, 20, "", false},
        {"DSRAZAOCANCNFCE", TFieldType::String, 250, "", false},
        {"DTHRPROTOCOCANC", TFieldType::DateTime, 0, "", false},
        {"NRPROTOCOLOCANC", TFieldType::String, 15, "", false},
        {"NRCERTDIGNFCE", TFieldType::String, 50, "", false},
        {"DSARQXMLCANCNFCE", TFieldType::Memo, 0, "", true},
        {"WSSITEUFQRCODENFC", TFieldType::String, 255, "", false},
        {"DSQRCODENFCE", TFieldType::String, 1024, "", false},
        {"CDVERSAOXMLNFCE", TFieldType::String, 10, "", false},
        {"IDORIGEMVENDA", TFieldType::String, 10, "", false},
        {"CDCLIENTE", TFieldType::String, 21, "Cliente", false},
        // Not shown: the status bar adds up the ticked sales' values.
        {"VRTOTVENDA", TFieldType::Float, 0, "Valor Total", true},
    };
    for (const F &f : fields) {
        TFieldDef def;
        def.name = QString::fromLatin1(f.name);
        def.type = f.type;
        def.size = f.size;
        def.label = QString::fromUtf8(f.label);
        def.readOnly = f.readOnly;
        cds.AddField(def);
    }
    cds.CreateDataSet();
}

} // namespace vnd
