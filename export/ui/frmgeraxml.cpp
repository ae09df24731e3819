#include "export/ui/frmgeraxml.h"

#include "export/core/salelist.h"
#include "export/ui/checkcolumn.h"
#include "export/ui/frmfiltgerxml.h"
#include "host/errors.h"
#include "host/session.h"
#include "host/ui/controls.h"
#include "host/ui/datasource.h"
#include "host/ui/dbgrid.h"
#include "host/ui/handlers.h"
#include "import/ui/frmfiltroimpxml.h"
#include "import/ui/frmlogimparqxml.h"

#include <QHBoxLayout>
#include <algorithm>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QScopeGuard>
#include <QStatusBar>
#include <QStyle>

namespace {

// The list's column widths were laid out for an 8-point face with digits 6 pixels wide; they grow with
// the face in use so that a branch code or a date still fits its column.
int LarguraColuna(const QFontMetrics &fm, int pixels)
{
    return qRound(pixels * qMax(1.0, fm.horizontalAdvance(QLatin1Char('0')) / 6.0));
}

// The unit's screen and its created flag. The flag alone would not notice a screen closed and destroyed
// by the user, so the pointer follows the screen's life.
QPointer<TfrmGeraXml> g_frmGeraXml;
bool boIdCriado = false;

TButtonFlat *Botao(const char *name, const QString &caption, const QString &hint, const QString &theme,
                   QStyle::StandardPixmap fallback)
{
    auto *b = new TButtonFlat(nullptr, caption, hint);
    b->setObjectName(QString::fromLatin1(name));
    b->SetGlyph(theme, fallback);
    return b;
}

QLabel *Imagem(QWidget *parent, const char *name, const QPixmap &pixmap)
{
    auto *label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setPixmap(pixmap);
    label->setFixedSize(16, 16);
    label->hide();
    return label;
}


} // namespace

TfrmGeraXml::TfrmGeraXml(QWidget *parent) : TfrmPadraoGrid(parent)
{
    setObjectName(QStringLiteral("frmGeraXml"));
    setWindowTitle(QStringLiteral("Geração do Arquivo XML (NFC-e/Sat)"));
    SetScreenCode(QStringLiteral("VND04400"));
    for (const QString &line : vnd::LinhasMensagensGeraXml())
        msgPadrao.Add(line);

    netGeraXml.BeforeConnect = [this](TNetConnection &c) { netGeraXmlBeforeConnect(c); };
    vnd::DefineCdsNotas(cdsNotas);
    vnd::DefineCdsNotas(cdsNotasTemp);
    vnd::InstalaTextosNotas(cdsNotas, msgPadrao);
    vnd::InstalaTextosNotas(cdsNotasTemp, msgPadrao);
    vnd::DefineDadosFiltro(cdsDadosFiltro);
    m_importacao = std::make_unique<vnd::TImportacaoXml>(netGeraXml, msgPadrao);
    m_importacao->CriaRelConsVenAuto = [this] { ::CriaRelConsVenAuto(*m_importacao, this); };

    CriaControles();
    dtsPadrao->SetDataSet(&cdsNotas);
    // The tick column is narrower than the style's least section width.
    dbgPadrao->horizontalHeader()->setMinimumSectionSize(16);
    const auto largura = [fm = dbgPadrao->fontMetrics()](int pixels) { return LarguraColuna(fm, pixels); };
    dbgPadrao->SetColumns({{QStringLiteral("IDCHECK"), QStringLiteral("✔"), largura(24)},
                           {QStringLiteral("CDFILIAL"), {}, largura(33)},
                           {QStringLiteral("CDCAIXA"), {}, largura(33)},
                           {QStringLiteral("DTENTRVENDA"), QStringLiteral("Data Mov."), largura(73)},
                           {QStringLiteral("NRSEQVENDA"), {}, largura(72)},
                           {QStringLiteral("CDSERIE"), {}, largura(128)},
                           {QStringLiteral("NRNOTAFISCALCE"), {}, 0},
                           {QStringLiteral("NRACESSONFCE"), {}, 0},
                           {QStringLiteral("IDSITUVENDA"), {}, 0},
                           {QStringLiteral("IDTPEMISVEND"), {}, 0},
                           {QStringLiteral("CDCLIENTE"), {}, largura(84)}});
    dbgPadrao->setItemDelegateForColumn(0, new vnd::TColunaMarcaDelegate(imgCheck->pixmap(), imgUncheck->pixmap(), dbgPadrao));
    dbgPadrao->setGridStyle(Qt::SolidLine);
    dbgPadrao->setShowGrid(true);
    dbgPadrao->setTabKeyNavigation(true);
    // Opens wide enough for every column and the notice below the grid.
    const int colunas = dbgPadrao->horizontalHeader()->length() + dbgPadrao->verticalHeader()->sizeHint().width() +
                        2 * dbgPadrao->frameWidth() + style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 16;
    const int rodape = pnlRodape->sizeHint().width() + 16;
    resize(std::max({width(), colunas, rodape}), height());

    vnd::Connect(dbgPadrao, &QAbstractItemView::doubleClicked, this, [this] { dbgPadraoDblClick(); });
    connect(dbgPadrao, &TDBGrid::titleClick, this,
            [this](const QString &field) { vnd::RunHandler([&] { dbgPadraoTitleClick(field); }); });
    connect(&cdsNotas, &TClientDataSet::currentChanged, this, [this] { AtualizaNavegador(); });
    connect(&cdsNotas, &TClientDataSet::dataChanged, this, [this] { AtualizaNavegador(); });
}

TfrmGeraXml::~TfrmGeraXml() = default;

void TfrmGeraXml::CriaControles()
{
    // Alt letters beside those of the base buttons (I, Z, D, H) and of the menus (A, M, J, U, R).
    sbtFiltro = Botao("sbtFiltro", QStringLiteral("&Filtrar"), QStringLiteral("Filtrar"), QStringLiteral("view-filter"),
                      QStyle::SP_FileDialogContentsView);
    sbtGeraXml = Botao("sbtGeraXml", QStringLiteral("&Gerar Xml"), QStringLiteral("Gerar Xml"),
                       QStringLiteral("document-export"), QStyle::SP_DialogSaveButton);
    sbtParamGeraArqAuto = Botao("sbtParamGeraArqAuto", QStringLiteral("Parâme&tros"),
                                QStringLiteral("Parametrizar Geração Automática Arquivo XML (NFC-e/SAT)"),
                                QStringLiteral("configure"), QStyle::SP_FileDialogDetailedView);
    btnImporXml = Botao("btnImporXml", QStringLiteral("Im&portar"), QStringLiteral("Importar Lote de XMLs"),
                        QStringLiteral("document-import"), QStyle::SP_DialogOpenButton);
    for (TButtonFlat *b : {sbtFiltro, sbtGeraXml, sbtParamGeraArqAuto, btnImporXml})
        InsertButton(b);
    // This list neither inserts, edits nor deletes: those base buttons stay disabled and out of sight.
    for (TButtonFlat *b : {sbtIncluir, sbtAlterar, sbtExcluir})
        b->hide();
    for (QAction *entry : {mniIncluir, mniAlterar, mniExcluir})
        entry->setVisible(false);
    vnd::Connect(sbtFiltro, &QToolButton::clicked, this, [this] { sbtFiltroClick(); });
    vnd::Connect(sbtGeraXml, &QToolButton::clicked, this, [this] { sbtGeraXmlClick(); });
    vnd::Connect(sbtParamGeraArqAuto, &QToolButton::clicked, this, [this] { sbtParamGeraArqAutoClick(); });
    vnd::Connect(btnImporXml, &QToolButton::clicked, this, [this] { btnImporXmlClick(); });
    // The toolbar's functions in the "Registro" menu as well, with their keys.
    mniFiltro = AddMenuEntry(QStringLiteral("&Filtrar..."), QKeySequence(Qt::CTRL | Qt::Key_F),
                             [this] { sbtFiltroClick(); }, mniImprimir);
    mniGeraXml = AddMenuEntry(QStringLiteral("&Gerar Xml..."), QKeySequence(Qt::CTRL | Qt::Key_G),
                              [this] { sbtGeraXmlClick(); }, mniImprimir);
    mniParamGeraArqAuto = AddMenuEntry(QStringLiteral("Parâme&tros da Geração Automática..."),
                                       QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_P),
                                       [this] { sbtParamGeraArqAutoClick(); }, mniImprimir);
    mniImporXml = AddMenuEntry(QStringLiteral("Im&portar Lote de XMLs..."), QKeySequence(Qt::CTRL | Qt::Key_I),
                               [this] { btnImporXmlClick(); }, mniImprimir);
    mnuRegistro->insertSeparator(mniImprimir);

    lblNavegador = new QLabel(pnlRodape);
    lblNavegador->setObjectName(QStringLiteral("lblNavegador"));
    lblAvisoXml = new QLabel(QStringLiteral("* Os Xml que não aparecem nesta tela, só podem ser baixados pelo sistema Vantor"),
                             pnlRodape);
    lblAvisoXml->setObjectName(QStringLiteral("lblAvisoXml"));
    QFont negrito = lblAvisoXml->font();
    negrito.setBold(true);
    lblAvisoXml->setFont(negrito);
    lblQtdeNotas = new QLabel(vnd::TextoQtdeNotas(0), pnlRodape);
    lblQtdeNotas->setObjectName(QStringLiteral("lblQtdeNotas"));
    lblQtdeNotas->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lblMarcadas = new QLabel(vnd::TextoResumoMarcadas({}), this);
    lblMarcadas->setObjectName(QStringLiteral("lblMarcadas"));
    statusBar()->addPermanentWidget(lblMarcadas);
    imgCheck = Imagem(pnlRodape, "imgCheck", vnd::ImagemMarcada());
    imgUncheck = Imagem(pnlRodape, "imgUncheck", vnd::ImagemDesmarcada());

    auto *rodape = new QHBoxLayout(pnlRodape);
    rodape->setContentsMargins(4, 2, 4, 2);
    rodape->addWidget(lblNavegador);
    rodape->addSpacing(16);
    rodape->addWidget(lblAvisoXml);
    rodape->addStretch(1);
    rodape->addWidget(lblQtdeNotas);
}

void TfrmGeraXml::netGeraXmlBeforeConnect(TNetConnection &connection)
{
    connection.Host = Quorvel::WebURL;
    connection.Port = Quorvel::WebPort;
    connection.Token = Quorvel::WebToken;
}

void TfrmGeraXml::FormCreate()
{
    TfrmPadraoGrid::FormCreate();
    netGeraXml.Open();
    inQtdeMarcadas = 0;
}

void TfrmGeraXml::FormClose(TCloseAction &action)
{
    TfrmPadraoGrid::FormClose(action);
    // The screen goes with its connection; the next IniProc builds a new one.
    action = TCloseAction::caFree;
}

void TfrmGeraXml::dtsPadraoStateChange()
{
    TfrmPadraoGrid::dtsPadraoStateChange();
    SetEnabled(sbtIncluir, mniIncluir, false);
    SetEnabled(sbtAlterar, mniAlterar, false);
    SetEnabled(sbtExcluir, mniExcluir, false);
    const bool temLinhas = cdsNotas.Active() && !cdsNotas.IsEmpty();
    if (sbtGeraXml)
        sbtGeraXml->setEnabled(temLinhas);
    if (mniGeraXml)
        mniGeraXml->setEnabled(temLinhas);
    SetEnabled(sbtImprimir, mniImprimir, temLinhas);
    // Once a filter was confirmed the list can be fetched again, also when a lost server left it empty.
    SetEnabled(sbtVerificar, mniVerificar, temLinhas || (cdsDadosFiltro.Active() && !cdsDadosFiltro.IsEmpty()));
}

void TfrmGeraXml::dbgPadraoKeyDown(int &key, Qt::KeyboardModifiers shift)
{
    TfrmPadraoGrid::dbgPadraoKeyDown(key, shift);
    if (key != Qt::Key_Space)
        return;
    key = 0;
    vnd::AlternaMarca(cdsNotas, inQtdeMarcadas);
    AtualizaMarcadas();
}

void TfrmGeraXml::dbgPadraoDblClick()
{
    vnd::AlternaMarca(cdsNotas, inQtdeMarcadas);
    AtualizaMarcadas();
}

void TfrmGeraXml::AtualizaMarcadas() { lblMarcadas->setText(vnd::TextoResumoMarcadas(vnd::ResumoMarcadas(cdsNotas))); }

void TfrmGeraXml::dbgPadraoTitleClick(const QString &fieldName)
{
    if (fieldName != QLatin1String("IDCHECK"))
        return;
    dbgPadrao->setUpdatesEnabled(false);
    const auto redesenha = qScopeGuard([this] {
        dbgPadrao->setUpdatesEnabled(true);
        AtualizaMarcadas();
    });
    vnd::MarcaDesmarcaTodas(cdsNotas, inQtdeMarcadas);
}

void TfrmGeraXml::AtualizaNavegador()
{
    const bool temLinha = cdsNotas.Active() && !cdsNotas.IsEmpty() && cdsNotas.RecNo() >= 0;
    const TField nota = cdsNotas.FieldByName(QStringLiteral("NRNOTAFISCALCE"));
    lblNavegador->setText(nota.DisplayLabel() + QStringLiteral(": ") + (temLinha ? nota.AsString() : QString()));
}

TServerResult TfrmGeraXml::Chama(const QString &method, const QVariantList &params)
{
    if (OnChamadaRemota)
        OnChamadaRemota(method, params);
    return netGeraXml.Call(method, params);
}

void TfrmGeraXml::getNotas()
{
    vnd::TBuscaNotas busca(netGeraXml, cdsNotas, cdsNotasTemp, cdsNotasPenRej);
    busca.OnPagina = [this](int linhas) { lblQtdeNotas->setText(vnd::TextoQtdeNotas(linhas)); };
    busca.OnChamada = OnChamadaRemota;
    // Whatever ends the fetch, the count and the ticked sum say what the list now holds.
    const auto conta = qScopeGuard([this] {
        lblQtdeNotas->setText(vnd::TextoQtdeNotas(cdsNotas.Active() ? cdsNotas.RecordCount() : 0));
        AtualizaMarcadas();
        dtsPadraoStateChange();
    });
    busca.BuscaPaginas(cdsDadosFiltro, vnd::TextosGeraXml());
    if (busca.BuscaPendentes(cdsDadosFiltro, vnd::TextosGeraXml()) > 0)
        Platform().Info(msgPadrao.Msg(QStringLiteral("Nota_Pen_Rej")));
}

void TfrmGeraXml::sbtVerificarClick()
{
    TfrmPadraoGrid::sbtVerificarClick();
    getNotas();
}

void TfrmGeraXml::sbtFiltroClick() { CriaFiltGerXml(); }

void TfrmGeraXml::sbtParamGeraArqAutoClick()
{
    if (const auto &cria = vnd::TelasConfiguracao().CriaParamGeraArqAuto)
        cria();
    else
        vnd::FuncaoIndisponivel();
}

void TfrmGeraXml::sbtImprimirClick()
{
    TfrmPadraoGrid::sbtImprimirClick();
    if (const auto &cria = vnd::TelasConfiguracao().CriaRelGeraXml)
        cria();
    else
        vnd::FuncaoIndisponivel();
}

void TfrmGeraXml::btnImporXmlClick()
{
    criaFiltroImpXml(*m_importacao, this);
    // The list shows what the import stored; before any filter there is no list to refresh.
    if (!cdsDadosFiltro.IsEmpty())
        sbtVerificarClick();
}

namespace vnd {

TfrmGeraXml *frmGeraXml() { return g_frmGeraXml.data(); }

TTelasConfiguracao &TelasConfiguracao()
{
    static TTelasConfiguracao telas;
    return telas;
}

void FuncaoIndisponivel() { Platform().Info(QStringLiteral("Esta função não está disponível nesta versão do módulo.")); }

void LimpaUnidadeGeraXml()
{
    boIdCriado = false;
    TextosGeraXml().Clear();
}

} // namespace vnd

extern "C" void CriaGeraXml()
{
    {
        vnd::HourglassGuard ampulheta;
        if (!boIdCriado || !g_frmGeraXml) {
            auto tela = std::make_unique<TfrmGeraXml>();
            tela->Create();
            g_frmGeraXml = tela.release();
            boIdCriado = true;
        }
    }
    TfrmGeraXml *tela = g_frmGeraXml.data();
    tela->Show();
    vnd::RunHandler([tela] { tela->sbtFiltroClick(); });
}
