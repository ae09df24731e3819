#include "export/ui/frmfiltgerxml.h"

#include "export/ui/frmgeraxml.h"
#include "host/errors.h"
#include "host/platform.h"
#include "host/session.h"
#include "host/ui/controls.h"
#include "host/ui/datasource.h"
#include "host/ui/dateedit.h"
#include "host/ui/handlers.h"
#include "host/ui/hostwindow.h"
#include "host/ui/pesquisalista.h"

#include <QApplication>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QScopeGuard>

namespace {

QPointer<TfrmFiltGerXml> g_frmFiltGerXml;
bool boIdCriado = false;

const QString kT = QStringLiteral("T");


template <typename T> T *Nomeado(T *widget, const char *name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

// A list group: "Todas"/"Todos", "Lista" and the list button, the button disabled.
QGroupBox *GrupoLista(QWidget *parent, const char *name, const QString &titulo, const QString &todos,
                      QRadioButton *&rbtTodos, QRadioButton *&rbtLista, TBtnPesquisa *&btp, QLabel *&lblSel,
                      const char *nomes[4])
{
    auto *grupo = Nomeado(new QGroupBox(titulo, parent), name);
    rbtTodos = Nomeado(new QRadioButton(todos, grupo), nomes[0]);
    rbtLista = Nomeado(new QRadioButton(QStringLiteral("Lista"), grupo), nomes[1]);
    btp = Nomeado(new TBtnPesquisa(grupo), nomes[2]);
    btp->SetHint(QStringLiteral("Pesquisar"));
    rbtTodos->setChecked(true);
    btp->setEnabled(false);
    lblSel = Nomeado(new QLabel(grupo), nomes[3]);
    lblSel->setTextFormat(Qt::PlainText);
    auto *layout = new QHBoxLayout(grupo);
    layout->addWidget(rbtTodos);
    layout->addWidget(rbtLista);
    layout->addWidget(btp);
    layout->addWidget(lblSel, 1);
    return grupo;
}

// What a list group shows beside its button: the chosen codes, or their count when they do not fit.
QString ResumoSelecao(const QStringList &codigos)
{
    if (codigos.isEmpty())
        return {};
    if (codigos.size() <= 3)
        return codigos.join(QStringLiteral(", "));
    return QStringLiteral("%1 selecionados").arg(codigos.size());
}

TFieldDef Campo(const char *name, int size, const QString &label, bool visible = true)
{
    TFieldDef def;
    def.name = QString::fromLatin1(name);
    def.size = size;
    def.label = label;
    def.visible = visible;
    return def;
}

QStringList Linhas(std::initializer_list<const char *> linhas)
{
    QStringList texto;
    for (const char *l : linhas)
        texto << QString::fromUtf8(l);
    return texto;
}

QDateTime InicioDoDia(const QDate &data) { return QDateTime(data, QTime(0, 0)); }

} // namespace

namespace vnd {

void TSelecoesFiltGerXml::Clear() { *this = TSelecoesFiltGerXml(); }

TSelecoesFiltGerXml &SelecoesFiltGerXml()
{
    static TSelecoesFiltGerXml selecoes;
    return selecoes;
}

void LimpaUnidadeFiltGerXml()
{
    boIdCriado = false;
    SelecoesFiltGerXml().Clear();
}

} // namespace vnd

TfrmFiltGerXml::TfrmFiltGerXml(TfrmGeraXml &principal, QWidget *parent) : TfrmFiltroPadrao(parent), m_principal(principal)
{
    setObjectName(QStringLiteral("frmFiltGerXml"));
    setWindowTitle(QStringLiteral("Filtro Geração do Arquivo XML (NFC-e/Sat)"));
    SetScreenCode(QStringLiteral("Vnd04401"));
    for (const QString &line : vnd::LinhasMensagensFiltGerXml())
        msgPadrao.Add(line);
    CriaConsultas();
    CriaControles();
    connect(qApp, &QApplication::focusChanged, this, &TfrmFiltGerXml::FocoMudou);
    setMinimumWidth(540);
}

TfrmFiltGerXml::~TfrmFiltGerXml() = default;

void TfrmFiltGerXml::CriaConsultas()
{
    qryFilial.SQL = Linhas({"SELECT", "CDFILIAL, NMFILIAL", "FROM", "FILIAL", "ORDER BY", "CDFILIAL"});
    qryFilial.AddField(Campo("CDFILIAL", 4, QStringLiteral("Código")));
    qryFilial.AddField(Campo("NMFILIAL", 30, QStringLiteral("Nome")));

    qryCaixa.SQL = Linhas({"SELECT", "C.CDFILIAL, C.CDCAIXA, C.NMCAIXA, C.CDFILIAL||C.CDCAIXA AS CAIXA", "FROM", "CAIXA C",
                           "WHERE", "((INSTR(:P_CDFILIAL, C.CDFILIAL) <> 0) OR (:P_TCDFILIAL = 'T'))", "ORDER BY",
                           "C.CDFILIAL, C.CDCAIXA"});
    qryCaixa.SQL_ORACLE = qryCaixa.SQL;
    qryCaixa.SQL_MSSQL = Linhas({"SELECT", "C.CDFILIAL, C.CDCAIXA, C.NMCAIXA, C.CDFILIAL+C.CDCAIXA AS CAIXA", "FROM", "CAIXA C",
                                 "WHERE", "((CHARINDEX(C.CDFILIAL, :P_CDFILIAL) <> 0) OR (:P_TCDFILIAL = 'T'))",
                                 "ORDER BY", "C.CDFILIAL, C.CDCAIXA"});
    qryCaixa.SQL_IB = Linhas({"SELECT", "C.CDFILIAL, C.CDCAIXA, C.NMCAIXA, C.CDFILIAL||C.CDCAIXA AS CAIXA", "FROM",
                              "CAIXA C, PARAM (:P_CDFILIAL) P_CDFILIAL", "WHERE",
                              "((INSTR(P_CDFILIAL.PARAM, C.CDFILIAL) <> 0) OR (:P_TCDFILIAL = 'T'))", "ORDER BY",
                              "C.CDFILIAL, C.CDCAIXA"});
    qryCaixa.AddField(Campo("CAIXA", 7, {}, false));
    qryCaixa.AddField(Campo("CDFILIAL", 4, QStringLiteral("Filial")));
    qryCaixa.AddField(Campo("CDCAIXA", 3, QStringLiteral("Cód.Caixa")));
    qryCaixa.AddField(Campo("NMCAIXA", 50, QStringLiteral("Nome Caixa")));

    qryCliente.SQL = Linhas({"SELECT", "CDCLIENTE, NMRAZSOCCLIE", "FROM", "CLIENTE", "ORDER BY", "CDCLIENTE"});
    qryCliente.AddField(Campo("CDCLIENTE", 21, {}));
    qryCliente.AddField(Campo("NMRAZSOCCLIE", 100, {}));

    qryTipoRece.SQL = Linhas({"SELECT", "CDTIPORECE, NMTIPORECE", "FROM", "TIPORECE", "ORDER BY", "CDTIPORECE"});
    qryTipoRece.AddField(Campo("CDTIPORECE", 3, {}));
    qryTipoRece.AddField(Campo("NMTIPORECE", 100, {}));

    dtsFilial = new TDataSource(this, &qryFilial);
    dtsCaixa = new TDataSource(this, &qryCaixa);
    dtsCliente = new TDataSource(this, &qryCliente);
    dtsTipoRece = new TDataSource(this, &qryTipoRece);
}

void TfrmFiltGerXml::CriaControles()
{
    const char *nomesFil[4] = {"rbtTodFil", "rbtListFil", "btpListFil", "lblSelFil"};
    const char *nomesCaix[4] = {"rbtTodCaix", "rbtListCaix", "btpListCaix", "lblSelCaix"};
    const char *nomesCli[4] = {"rbtTodCli", "rbtListCli", "btpListCli", "lblSelCli"};
    const char *nomesTpRec[4] = {"rbtTodTpRec", "rbtListTpRec", "btpListTpRec", "lblSelTpRec"};
    // The group titles carry the Alt shortcuts: a group's letter moves the focus to its first control.
    grbFilial = GrupoLista(pnlClient, "grbFilial", QStringLiteral("&Filial"), QStringLiteral("Todas"), rbtTodFil, rbtListFil,
                           btpListFil, lblSelFil, nomesFil);
    grbCaixa = GrupoLista(pnlClient, "grbCaixa", QStringLiteral("Cai&xa"), QStringLiteral("Todos"), rbtTodCaix, rbtListCaix,
                          btpListCaix, lblSelCaix, nomesCaix);
    grbCliente = GrupoLista(pnlClient, "grbCliente", QStringLiteral("C&liente"), QStringLiteral("Todos"), rbtTodCli,
                            rbtListCli, btpListCli, lblSelCli, nomesCli);
    grbTipoRece = GrupoLista(pnlClient, "grbTipoRece", QStringLiteral("Tipo de &Recebimento"), QStringLiteral("Todos"),
                             rbtTodTpRec, rbtListTpRec, btpListTpRec, lblSelTpRec, nomesTpRec);

    grbSituacao = Nomeado(new QGroupBox(QStringLiteral("&Situação na SEFAZ"), pnlClient), "grbSituacao");
    chbVendConc = Nomeado(new QCheckBox(QStringLiteral("Venda Autorizada"), grbSituacao), "chbVendConc");
    chbVendCanc = Nomeado(new QCheckBox(QStringLiteral("Venda Cancelada"), grbSituacao), "chbVendCanc");
    chbVendConc->setChecked(true);
    chbVendCanc->setChecked(true);
    auto *situacao = new QVBoxLayout(grbSituacao);
    situacao->addWidget(chbVendConc);
    situacao->addWidget(chbVendCanc);

    grbPeriodo = Nomeado(new QGroupBox(QStringLiteral("Periodo"), pnlClient), "grbPeriodo");
    DepPeriodDe = Nomeado(new TDateEditPlus(grbPeriodo), "DepPeriodDe");
    depPeriodAte = Nomeado(new TDateEditPlus(grbPeriodo), "depPeriodAte");
    auto *lblDe = new QLabel(QStringLiteral("&De"), grbPeriodo);
    lblDe->setBuddy(DepPeriodDe);
    auto *lblAte = new QLabel(QStringLiteral("A&té"), grbPeriodo);
    lblAte->setBuddy(depPeriodAte);
    auto *periodo = new QGridLayout(grbPeriodo);
    periodo->addWidget(lblDe, 0, 0);
    periodo->addWidget(DepPeriodDe, 0, 1);
    periodo->addWidget(lblAte, 1, 0);
    periodo->addWidget(depPeriodAte, 1, 1);
    periodo->setColumnStretch(1, 1);

    grbNrNotaFiscal = Nomeado(new QGroupBox(QStringLiteral("&Número Nota Fiscal"), pnlClient), "grbNrNotaFiscal");
    medNrNotaFiscal = Nomeado(new QLineEdit(grbNrNotaFiscal), "medNrNotaFiscal");
    medNrNotaFiscal->setMaxLength(9);
    medNrNotaFiscal->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,9}")), medNrNotaFiscal));
    medNrNotaFiscal->setMaximumWidth(medNrNotaFiscal->fontMetrics().horizontalAdvance(QStringLiteral("0000000000")) + 16);
    auto *nota = new QHBoxLayout(grbNrNotaFiscal);
    nota->addWidget(medNrNotaFiscal);
    nota->addStretch(1);

    auto *grade = new QGridLayout(pnlClient);
    grade->setContentsMargins(0, 0, 0, 0);
    grade->addWidget(grbFilial, 0, 0);
    grade->addWidget(grbCaixa, 0, 1);
    grade->addWidget(grbCliente, 1, 0);
    grade->addWidget(grbTipoRece, 1, 1);
    grade->addWidget(grbSituacao, 2, 0);
    grade->addWidget(grbPeriodo, 2, 1);
    grade->addWidget(grbNrNotaFiscal, 3, 0, 1, 2);
    grade->setColumnStretch(0, 1);
    grade->setColumnStretch(1, 1);

    const auto clique = [this](QRadioButton *radio, void (TfrmFiltGerXml::*handler)()) {
        vnd::Connect(radio, &QRadioButton::clicked, this, [this, handler] { (this->*handler)(); });
    };
    for (QRadioButton *radio : {rbtTodFil, rbtListFil, rbtTodCaix, rbtListCaix, rbtTodCli, rbtListCli, rbtTodTpRec,
                                rbtListTpRec})
        connect(radio, &QRadioButton::toggled, this, [this] { AtualizaSelecoes(); });
    clique(rbtTodFil, &TfrmFiltGerXml::rbtFilialClick);
    clique(rbtListFil, &TfrmFiltGerXml::rbtFilialClick);
    clique(rbtTodCaix, &TfrmFiltGerXml::rbtTodCaixClick);
    clique(rbtListCaix, &TfrmFiltGerXml::rbtListCaixClick);
    clique(rbtTodCli, &TfrmFiltGerXml::rbtClienteClick);
    clique(rbtListCli, &TfrmFiltGerXml::rbtClienteClick);
    clique(rbtTodTpRec, &TfrmFiltGerXml::rbtTipoReceClick);
    clique(rbtListTpRec, &TfrmFiltGerXml::rbtTipoReceClick);
    // The list buttons open the multi-choice list themselves instead of the button's single choice.
    const auto lista = [this](TBtnPesquisa *btp, void (TfrmFiltGerXml::*handler)()) {
        btp->OnBeforePesq = [this, handler](QObject *, bool &proceed) {
            proceed = false;
            const auto mostra = qScopeGuard([this] { AtualizaSelecoes(); });
            (this->*handler)();
        };
    };
    lista(btpListFil, &TfrmFiltGerXml::btpListFilClick);
    lista(btpListCaix, &TfrmFiltGerXml::btpListCaixClick);
    lista(btpListCli, &TfrmFiltGerXml::btpListCliClick);
    lista(btpListTpRec, &TfrmFiltGerXml::btpListTpRecClick);
}

void TfrmFiltGerXml::Falha(QWidget *foco, const QString &texto)
{
    if (foco)
        foco->setFocus();
    MensErro(texto);
}

// ---- opening -------------------------------------------------------------------------------------

void TfrmFiltGerXml::RestauraFiltro(bool comNotaFiscal)
{
    TClientDataSet &filtro = m_principal.cdsDadosFiltro;
    if (!filtro.Active() || filtro.IsEmpty())
        return;
    filtro.First();
    // A one-branch user's branch stays fixed: the record never reopens the branch list to them.
    if (!Quorvel::ModuFili && filtro.FieldByName(QStringLiteral("FILIAL")).AsString() != kT) {
        rbtListFil->setChecked(true);
        btpListFil->setEnabled(true);
    }
    if (filtro.FieldByName(QStringLiteral("CAIXA")).AsString() != kT) {
        rbtListCaix->setChecked(true);
        btpListCaix->setEnabled(true);
    }
    if (comNotaFiscal) {
        const QString nota = filtro.FieldByName(QStringLiteral("NRNOTAFISCAL")).AsString();
        if (nota != kT)
            medNrNotaFiscal->setText(nota);
    }
    DepPeriodDe->SetDate(filtro.FieldByName(QStringLiteral("DATAINI")).AsDateTime().date());
    depPeriodAte->SetDate(filtro.FieldByName(QStringLiteral("DATAFIM")).AsDateTime().date());
}

void TfrmFiltGerXml::AplicaModuFili()
{
    if (!Quorvel::ModuFili)
        return;
    SetChildEnabled(grbFilial, false);
    rbtListFil->setChecked(true);
    btpListFil->setEnabled(false);
    vnd::SelecoesFiltGerXml().stFilial = QLatin1Char('_') + Quorvel::FiliProc + QLatin1Char('_');
}

void TfrmFiltGerXml::FormCreate()
{
    TfrmFiltroPadrao::FormCreate();
    RestauraFiltro(true);
}

void TfrmFiltGerXml::FormActivate()
{
    TfrmFiltroPadrao::FormActivate();
    AplicaModuFili();
    RestauraFiltro(false);
    AtualizaSelecoes();
}

void TfrmFiltGerXml::FormClose(TCloseAction &action)
{
    TfrmFiltroPadrao::FormClose(action);
    boIdCriado = false;
    action = TCloseAction::caFree;
}

// ---- radios and lists ----------------------------------------------------------------------------

void TfrmFiltGerXml::AtualizaSelecoes()
{
    const vnd::TSelecoesFiltGerXml &sel = vnd::SelecoesFiltGerXml();
    const auto mostra = [](QLabel *rotulo, QRadioButton *lista, const QStringList &codigos) {
        const QStringList vistos = lista->isChecked() ? codigos : QStringList();
        rotulo->setText(ResumoSelecao(vistos));
        rotulo->setToolTip(vistos.join(QStringLiteral(", ")));
    };
    mostra(lblSelFil, rbtListFil, vnd::ParseSelection(sel.stFilial));
    QStringList caixas;
    // A register is chosen by branch + register; shown as "0001/001".
    for (const QString &chave : vnd::ParseSelection(sel.stCaixa))
        caixas << (chave.size() == 7 ? chave.left(4) + QLatin1Char('/') + chave.mid(4) : chave);
    mostra(lblSelCaix, rbtListCaix, caixas);
    mostra(lblSelCli, rbtListCli, vnd::ParseSelection(sel.stCliente));
    mostra(lblSelTpRec, rbtListTpRec, vnd::ParseSelection(sel.stTipoRece));
}

void TfrmFiltGerXml::rbtFilialClick() { btpListFil->setEnabled(rbtListFil->isChecked()); }

void TfrmFiltGerXml::rbtTodCaixClick()
{
    rbtListCaix->setChecked(false);
    rbtTodCaix->setChecked(true);
    btpListCaix->setEnabled(false);
}

void TfrmFiltGerXml::rbtListCaixClick()
{
    try {
        Vd_Filial();
    } catch (...) {
        // Without branches there is no register list to choose from: the group stays at "Todos".
        rbtTodCaix->setChecked(true);
        btpListCaix->setEnabled(false);
        throw;
    }
    rbtTodCaix->setChecked(false);
    rbtListCaix->setChecked(true);
    btpListCaix->setEnabled(true);
}

void TfrmFiltGerXml::rbtClienteClick() { btpListCli->setEnabled(rbtListCli->isChecked()); }

void TfrmFiltGerXml::rbtTipoReceClick() { btpListTpRec->setEnabled(rbtListTpRec->isChecked()); }

void TfrmFiltGerXml::btpListFilClick()
{
    vnd::TSelecoesFiltGerXml &sel = vnd::SelecoesFiltGerXml();
    qryFilial.Close();
    qryFilial.Open();
    const QString antes = sel.stFilial;
    PesquisaLista(dtsFilial, QStringLiteral("CDFILIAL"), msgPadrao.Msg(QStringLiteral("FILIAL")), false, sel.stFilial);
    // Registers chosen for other branches would no longer belong to the filter.
    if (sel.stFilial != antes)
        sel.stCaixa.clear();
}

void TfrmFiltGerXml::btpListCaixClick()
{
    vnd::TSelecoesFiltGerXml &sel = vnd::SelecoesFiltGerXml();
    Vd_Filial();
    qryCaixa.Close();
    const bool todas = rbtTodFil->isChecked();
    qryCaixa.ParamByName(QStringLiteral("P_CDFILIAL")).SetAsString(todas ? QString() : sel.stFilial);
    qryCaixa.ParamByName(QStringLiteral("P_TCDFILIAL")).SetAsString(todas ? kT : QString());
    qryCaixa.Open();
    PesquisaLista(dtsCaixa, QStringLiteral("CAIXA"), msgPadrao.Msg(QStringLiteral("CAIXA")), false, sel.stCaixa);
}

void TfrmFiltGerXml::btpListCliClick()
{
    qryCliente.Close();
    qryCliente.Open();
    PesquisaLista(dtsCliente, QStringLiteral("CDCLIENTE"), msgPadrao.Msg(QStringLiteral("CLIENTE")), false,
                  vnd::SelecoesFiltGerXml().stCliente);
}

void TfrmFiltGerXml::btpListTpRecClick()
{
    qryTipoRece.Close();
    qryTipoRece.Open();
    PesquisaLista(dtsTipoRece, QStringLiteral("CDTIPORECE"), msgPadrao.Msg(QStringLiteral("TIPORECE")), false,
                  vnd::SelecoesFiltGerXml().stTipoRece);
}

// ---- checks --------------------------------------------------------------------------------------

void TfrmFiltGerXml::Vd_Filial()
{
    if (rbtListFil->isChecked() && vnd::SelecoesFiltGerXml().stFilial.isEmpty())
        Falha(rbtListFil, msgPadrao.Msg(QStringLiteral("Filial_deve")));
}

void TfrmFiltGerXml::Vd_Caixa()
{
    if (rbtListCaix->isChecked() && vnd::SelecoesFiltGerXml().stCaixa.isEmpty())
        Falha(rbtListCaix, msgPadrao.Msg(QStringLiteral("Caixa_deve")));
}

void TfrmFiltGerXml::Vd_Cliente()
{
    if (rbtListCli->isChecked() && vnd::SelecoesFiltGerXml().stCliente.isEmpty())
        Falha(rbtListCli, msgPadrao.Msg(QStringLiteral("Cliente_deve")));
}

void TfrmFiltGerXml::Vd_TipoRece()
{
    if (rbtListTpRec->isChecked() && vnd::SelecoesFiltGerXml().stTipoRece.isEmpty())
        Falha(rbtListTpRec, msgPadrao.Msg(QStringLiteral("Tipo_Rece_deve")));
}

void TfrmFiltGerXml::Vd_Datas()
{
    if (DepPeriodDe->IsEmpty())
        Falha(DepPeriodDe, msgPadrao.Msg(QStringLiteral("Data_de_deve")));
    if (depPeriodAte->IsEmpty())
        Falha(depPeriodAte, msgPadrao.Msg(QStringLiteral("Data_ate_deve")));
    const QString invalida = QLatin1Char(' ') + msgPadrao.Msg(QStringLiteral("N_DT_VAL"));
    if (!DepPeriodDe->IsDateValid())
        Falha(DepPeriodDe, DepPeriodDe->Text() + invalida);
    if (!depPeriodAte->IsDateValid())
        Falha(depPeriodAte, depPeriodAte->Text() + invalida);
    if (DepPeriodDe->GetDate() > depPeriodAte->GetDate())
        Falha(DepPeriodDe, msgPadrao.Msg(QStringLiteral("DT_MENOR")));
}

void TfrmFiltGerXml::grbPeriodoExit()
{
    m_verificandoPeriodo = true;
    const auto fim = qScopeGuard([this] { m_verificandoPeriodo = false; });
    Vd_Datas();
}

void TfrmFiltGerXml::FocoMudou(QWidget *antes, QWidget *agora)
{
    // The period is checked when the focus moves from it to another control of this dialog; a message
    // box taking the focus is not a move within the dialog.
    if (m_verificandoPeriodo || !antes || !agora || !isVisible() || agora->window() != this)
        return;
    if (grbPeriodo->isAncestorOf(antes) && !grbPeriodo->isAncestorOf(agora))
        vnd::RunHandler([this] { grbPeriodoExit(); });
}

// ---- confirmation --------------------------------------------------------------------------------

void TfrmFiltGerXml::sbtConfirmaClick()
{
    TfrmFiltroPadrao::sbtConfirmaClick();
    Vd_Filial();
    Vd_Caixa();
    Vd_Datas();
    Vd_Cliente();
    Vd_TipoRece();

    const vnd::TSelecoesFiltGerXml &sel = vnd::SelecoesFiltGerXml();
    const QString filial = rbtTodFil->isChecked() ? kT : sel.stFilial;
    const QString caixa = rbtTodCaix->isChecked() ? kT : sel.stCaixa;
    const QString cliente = rbtTodCli->isChecked() ? kT : sel.stCliente;
    const QString tipoRece = rbtTodTpRec->isChecked() ? kT : sel.stTipoRece;
    QString situacao;
    if (chbVendConc->isChecked())
        situacao += QLatin1Char('A');
    if (chbVendCanc->isChecked())
        situacao += QStringLiteral("_C");
    if (situacao.isEmpty())
        Falha(chbVendConc, msgPadrao.Msg(QStringLiteral("SITU_INF")));
    const QString nota = medNrNotaFiscal->text().isEmpty() ? kT : medNrNotaFiscal->text();

    {
        vnd::BusyGuard ocupado;
        TClientDataSet &filtro = m_principal.cdsDadosFiltro;
        if (filtro.Active())
            filtro.EmptyDataSet();
        else
            filtro.CreateDataSet();
        filtro.Append();
        filtro.FieldByName(QStringLiteral("FILIAL")).SetAsString(filial);
        filtro.FieldByName(QStringLiteral("CAIXA")).SetAsString(caixa);
        filtro.FieldByName(QStringLiteral("CLIENTE")).SetAsString(cliente);
        filtro.FieldByName(QStringLiteral("TIPORECE")).SetAsString(tipoRece);
        filtro.FieldByName(QStringLiteral("DATAINI")).SetAsDateTime(InicioDoDia(DepPeriodDe->GetDate()));
        filtro.FieldByName(QStringLiteral("DATAFIM")).SetAsDateTime(InicioDoDia(depPeriodAte->GetDate()));
        filtro.FieldByName(QStringLiteral("SITUACAONF")).SetAsString(situacao);
        filtro.FieldByName(QStringLiteral("NRNOTAFISCAL")).SetAsString(nota);
        filtro.Post();
        m_principal.getNotas();
    }
    accept();
}

extern "C" void CriaFiltGerXml()
{
    TfrmGeraXml *principal = vnd::frmGeraXml();
    if (!principal)
        throw Exception(QStringLiteral("A tela Geração do Arquivo XML (NFC-e/Sat) não está aberta."));
    {
        vnd::HourglassGuard ampulheta;
        if (!boIdCriado || !g_frmFiltGerXml) {
            auto tela = std::make_unique<TfrmFiltGerXml>(*principal, vnd::DialogParent());
            tela->Create();
            g_frmFiltGerXml = tela.release();
            boIdCriado = true;
        }
    }
    g_frmFiltGerXml->ShowModal();
}
