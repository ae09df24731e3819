#include "import/ui/frmfiltroimpxml.h"

#include "host/hostutil.h"
#include "host/platform.h"
#include "host/ui/controls.h"
#include "host/ui/datasource.h"
#include "host/ui/handlers.h"

#include <QEvent>
#include <QFocusEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QStyle>
#include <QVBoxLayout>

namespace {

QLabel *MakeLabel(QWidget *parent, const char *name, const QString &text)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

QLineEdit *MakeEdit(QWidget *parent, const char *name, int maxLength, const QString &pattern)
{
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    if (maxLength > 0)
        edit->setMaxLength(maxLength);
    if (!pattern.isEmpty())
        edit->setValidator(new QRegularExpressionValidator(QRegularExpression(pattern), edit));
    return edit;
}

TBtnPesquisa *MakeLookup(QWidget *parent, const char *name, QLineEdit *edit, TDataSource *source,
                         const QString &title, const QString &emptyError)
{
    auto *button = new TBtnPesquisa(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->Edit = edit;
    button->DataSource = source;
    button->Title = title;
    button->EmptyError = emptyError;
    return button;
}

void DefineFields(TADOIBQuery &query, std::initializer_list<TFieldDef> fields)
{
    for (const TFieldDef &def : fields)
        query.AddField(def);
}

} // namespace

TfrmFiltroImpXml::TfrmFiltroImpXml(vnd::TImportacaoXml &importacao, QWidget *parent)
    : TfrmFiltroPadrao(parent), m_importacao(importacao)
{
    setObjectName(QStringLiteral("TfrmFiltroImpXml"));
    setWindowTitle(QStringLiteral("Filtro Importação Arquivo Xml (NFC-e / Sat)"));
    SetScreenCode(QStringLiteral("VND04404"));
    sbtAjuda->hide();
    msgPadrao.Add(QStringLiteral("DIR_INF|Diretório deve ser informado."));
    msgPadrao.Add(QStringLiteral("FILI_INF|Filial deve ser informada."));
    msgPadrao.Add(QStringLiteral("FILI_N_CAD|Filial não cadastrada."));
    msgPadrao.Add(QStringLiteral("CAIXA_INF|Caixa deve ser informado."));
    msgPadrao.Add(QStringLiteral("CAIXA_N_CAD|Caixa não cadastrado."));

    qryFilial.SQL = QStringList{QStringLiteral("SELECT CDFILIAL, NMFILIAL, CDEMPRESA"), QStringLiteral("  FROM FILIAL"),
                                QStringLiteral(" WHERE ((CDFILIAL = :P_CDFILIAL) OR (:P_TCDFILIAL = 'T'))"),
                                QStringLiteral("ORDER BY CDFILIAL")};
    DefineFields(qryFilial, {TFieldDef{QStringLiteral("CDFILIAL"), TFieldType::String, 4, QStringLiteral("Código")},
                             TFieldDef{QStringLiteral("NMFILIAL"), TFieldType::String, 30, QStringLiteral("Nome"),
                                       false, true, 50},
                             TFieldDef{QStringLiteral("CDEMPRESA"), TFieldType::String, 2, {}, false, false}});
    qryCaixa.SQL = QStringList{QStringLiteral("SELECT CDCAIXA, NMCAIXA"), QStringLiteral("  FROM CAIXA"),
                               QStringLiteral(" WHERE (CDFILIAL = :P_CDFILIAL)"),
                               QStringLiteral("   AND ((CDCAIXA = :P_CDCAIXA) OR (:P_TCDCAIXA = 'T'))"),
                               QStringLiteral("ORDER BY CDCAIXA")};
    DefineFields(qryCaixa, {TFieldDef{QStringLiteral("CDCAIXA"), TFieldType::String, 3, QStringLiteral("Código")},
                            TFieldDef{QStringLiteral("NMCAIXA"), TFieldType::String, 30, QStringLiteral("Nome")}});
    dtsFilial = new TDataSource(this, &qryFilial);
    dtsCaixa = new TDataSource(this, &qryCaixa);

    grbDirArqMagnetico = new QGroupBox(QStringLiteral("Diretório dos arquivos Xml para importação"), pnlClient);
    grbDirArqMagnetico->setObjectName(QStringLiteral("grbDirArqMagnetico"));
    lblDirArqMagnetico = MakeLabel(grbDirArqMagnetico, "lblDirArqMagnetico", QStringLiteral("Diretório"));
    edtDirArqXml = MakeEdit(grbDirArqMagnetico, "edtDirArqXml", 0, {});
    edtDirArqXml->installEventFilter(this);
    btnDirArqMagnetico = MakeLookup(grbDirArqMagnetico, "btnDirArqMagnetico", edtDirArqXml, nullptr, {}, {});
    btnDirArqMagnetico->SetHint(QStringLiteral("Abrir"));
    btnDirArqMagnetico->SetGlyph(QStringLiteral("document-open-folder"), QStyle::SP_DirOpenIcon);
    // The folder comes from the folder dialog, never from a list.
    btnDirArqMagnetico->OnBeforePesq = [this](QObject *, bool &proceed) {
        proceed = false;
        btnDirArqMagneticoClick();
    };

    lblFilial = MakeLabel(pnlClient, "lblFilial", QStringLiteral("Filial"));
    medFilial = MakeEdit(pnlClient, "medFilial", 4, QStringLiteral("[A-Za-z0-9]{0,4}"));
    btnFilial = MakeLookup(pnlClient, "btnFilial", medFilial, dtsFilial, QStringLiteral("Filial"),
                           QStringLiteral("Não há filial cadastrada."));
    btnFilial->OnBeforePesq = [this](QObject *sender, bool &proceed) { btnFilialBeforePesq(sender, proceed); };
    btnFilial->OnAfterPesq = [this](QObject *sender) { btnFilialAfterPesq(sender); };
    edtFilial = MakeEdit(pnlClient, "edtFilial", 0, {});
    edtFilial->setEnabled(false);

    lblCaixa = MakeLabel(pnlClient, "lblCaixa", QStringLiteral("Caixa"));
    medCaixa = MakeEdit(pnlClient, "medCaixa", 3, QStringLiteral("[0-9]{0,3}"));
    btnCaixa = MakeLookup(pnlClient, "btnCaixa", medCaixa, dtsCaixa, QStringLiteral("Caixa"),
                          QStringLiteral("Não há caixa cadastrado."));
    btnCaixa->OnBeforePesq = [this](QObject *sender, bool &proceed) { btnCaixaBeforePesq(sender, proceed); };
    btnCaixa->OnAfterPesq = [this](QObject *sender) { btnCaixaAfterPesq(sender); };
    edtCaixa = MakeEdit(pnlClient, "edtCaixa", 0, {});
    edtCaixa->setEnabled(false);

    // Alt letters on the labels take the focus to their fields.
    lblDirArqMagnetico->setText(QStringLiteral("&Diretório"));
    lblDirArqMagnetico->setBuddy(btnDirArqMagnetico);
    lblFilial->setText(QStringLiteral("&Filial"));
    lblFilial->setBuddy(medFilial);
    lblCaixa->setText(QStringLiteral("Cai&xa"));
    lblCaixa->setBuddy(medCaixa);

    lblObs = MakeLabel(pnlClient, "lblObs",
                       QStringLiteral("Estes dados serão utilizados na importação somente se a filial e o caixa da nota "
                                      "não\nforem encontrados no banco de dados."));

    auto *folder = new QGridLayout(grbDirArqMagnetico);
    folder->addWidget(lblDirArqMagnetico, 0, 0);
    folder->addWidget(edtDirArqXml, 1, 0);
    folder->addWidget(btnDirArqMagnetico, 1, 1);
    auto *grid = new QGridLayout;
    grid->addWidget(lblFilial, 0, 0);
    grid->addWidget(medFilial, 1, 0);
    grid->addWidget(btnFilial, 1, 1);
    grid->addWidget(edtFilial, 1, 2);
    grid->addWidget(lblCaixa, 2, 0);
    grid->addWidget(medCaixa, 3, 0);
    grid->addWidget(btnCaixa, 3, 1);
    grid->addWidget(edtCaixa, 3, 2);
    grid->setColumnStretch(2, 1);
    auto *layout = new QVBoxLayout(pnlClient);
    layout->addWidget(grbDirArqMagnetico);
    layout->addLayout(grid);
    layout->addWidget(lblObs);
    layout->addStretch(1);

    medFilial->installEventFilter(this);
    medCaixa->installEventFilter(this);
    // Codes are kept in upper case as they are stored.
    connect(medFilial, &QLineEdit::textEdited, this, [this](const QString &text) {
        if (text != text.toUpper()) {
            const int cursor = medFilial->cursorPosition();
            medFilial->setText(text.toUpper());
            medFilial->setCursorPosition(cursor);
        }
    });
    vnd::Connect(medFilial, &QLineEdit::textChanged, this, [this] { medFilialChange(); });
    vnd::Connect(medCaixa, &QLineEdit::textChanged, this, [this] { medCaixaChange(); });
}

TfrmFiltroImpXml::~TfrmFiltroImpXml() = default;

bool TfrmFiltroImpXml::eventFilter(QObject *watched, QEvent *event)
{
    // edtDirArqXmlKeyPress: the folder is only chosen through the dialog; typing and pasting do nothing.
    if (watched == edtDirArqXml && (event->type() == QEvent::KeyPress || event->type() == QEvent::InputMethod))
        return true;
    if (event->type() == QEvent::FocusOut && (watched == medFilial || watched == medCaixa)) {
        // A dialog taking the focus (the lookup list, a message) is not leaving the edit.
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
            if (watched == medFilial)
                vnd::RunHandler([this] { medFilialExit(); });
            else
                vnd::RunHandler([this] { medCaixaExit(); });
        }
    }
    return TfrmFiltroPadrao::eventFilter(watched, event);
}

void TfrmFiltroImpXml::btnDirArqMagneticoClick()
{
    QString folder = edtDirArqXml->text();
    if (!Platform().SelectFolder(QStringLiteral("Diretório dos arquivos Xml para importação"), folder))
        return;
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    edtDirArqXml->setText(folder);
}

void TfrmFiltroImpXml::medFilialChange()
{
    edtFilial->clear();
    medCaixa->clear();
}

void TfrmFiltroImpXml::medCaixaChange() { edtCaixa->clear(); }

void TfrmFiltroImpXml::medFilialExit() { Vd_Filial(false); }

void TfrmFiltroImpXml::medCaixaExit() { Vd_Caixa(false); }

void TfrmFiltroImpXml::btnFilialBeforePesq(QObject *, bool &)
{
    qryFilial.ParamByName(QStringLiteral("P_CDFILIAL")).SetAsString(QString());
    qryFilial.ParamByName(QStringLiteral("P_TCDFILIAL")).SetAsString(QStringLiteral("T"));
    qryFilial.Open();
}

void TfrmFiltroImpXml::btnFilialAfterPesq(QObject *)
{
    medFilial->setText(qryFilial.FieldByName(QStringLiteral("CDFILIAL")).AsString());
    edtFilial->setText(qryFilial.FieldByName(QStringLiteral("NMFILIAL")).AsString());
}

void TfrmFiltroImpXml::btnCaixaBeforePesq(QObject *, bool &)
{
    Vd_Filial(true);
    qryCaixa.ParamByName(QStringLiteral("P_CDFILIAL")).SetAsString(medFilial->text());
    qryCaixa.ParamByName(QStringLiteral("P_CDCAIXA")).SetAsString(QString());
    qryCaixa.ParamByName(QStringLiteral("P_TCDCAIXA")).SetAsString(QStringLiteral("T"));
    qryCaixa.Open();
}

void TfrmFiltroImpXml::btnCaixaAfterPesq(QObject *)
{
    medCaixa->setText(qryCaixa.FieldByName(QStringLiteral("CDCAIXA")).AsString());
    edtCaixa->setText(qryCaixa.FieldByName(QStringLiteral("NMCAIXA")).AsString());
}

void TfrmFiltroImpXml::Vd_Filial(bool required)
{
    try {
        if (medFilial->text().isEmpty()) {
            if (required)
                MensErro(msgPadrao.Msg(QStringLiteral("FILI_INF")));
            return;
        }
        const QString codigo = Ajusta(medFilial->text(), 4);
        // Written back only when it differs: a change would clear the cash register.
        if (codigo != medFilial->text())
            medFilial->setText(codigo);
        qryFilial.ParamByName(QStringLiteral("P_CDFILIAL")).SetAsString(codigo);
        qryFilial.ParamByName(QStringLiteral("P_TCDFILIAL")).SetAsString(QString());
        qryFilial.Open();
        if (qryFilial.IsEmpty())
            MensErro(msgPadrao.Msg(QStringLiteral("FILI_N_CAD")));
        edtFilial->setText(qryFilial.FieldByName(QStringLiteral("NMFILIAL")).AsString());
    } catch (...) {
        medFilial->setFocus();
        throw;
    }
}

void TfrmFiltroImpXml::Vd_Caixa(bool required)
{
    try {
        if (medCaixa->text().isEmpty()) {
            if (required)
                MensErro(msgPadrao.Msg(QStringLiteral("CAIXA_INF")));
            return;
        }
        const QString codigo = Ajusta(medCaixa->text(), 3);
        if (codigo != medCaixa->text())
            medCaixa->setText(codigo);
        qryCaixa.ParamByName(QStringLiteral("P_CDFILIAL")).SetAsString(medFilial->text());
        qryCaixa.ParamByName(QStringLiteral("P_CDCAIXA")).SetAsString(codigo);
        qryCaixa.ParamByName(QStringLiteral("P_TCDCAIXA")).SetAsString(QString());
        qryCaixa.Open();
        if (qryCaixa.IsEmpty())
            MensErro(msgPadrao.Msg(QStringLiteral("CAIXA_N_CAD")));
        edtCaixa->setText(qryCaixa.FieldByName(QStringLiteral("NMCAIXA")).AsString());
    } catch (...) {
        medCaixa->setFocus();
        throw;
    }
}

void TfrmFiltroImpXml::sbtConfirmaClick()
{
    TfrmFiltroPadrao::sbtConfirmaClick();
    if (medFilial->text().isEmpty() && medCaixa->text().isEmpty()) {
        m_importacao.stFilialCaixaPadrao.clear();
    } else {
        Vd_Filial(true);
        Vd_Caixa(true);
        m_importacao.stFilialCaixaPadrao =
            medFilial->text() + medCaixa->text() + qryFilial.FieldByName(QStringLiteral("CDEMPRESA")).AsString();
    }
    if (edtDirArqXml->text().isEmpty()) {
        edtDirArqXml->setFocus();
        MensErro(msgPadrao.Msg(QStringLiteral("DIR_INF")));
    }
    const QString folder = edtDirArqXml->text();
    m_importacao.stDirXml = folder;
    m_importacao.stDirXmlErro = folder + QStringLiteral("Xml Erro/");
    m_importacao.stDirXmlProc = folder + QStringLiteral("Xml Processados/");
    m_importacao.importaXml();
    accept();
}

void criaFiltroImpXml(vnd::TImportacaoXml &importacao, QWidget *parent)
{
    std::unique_ptr<TfrmFiltroImpXml> screen;
    {
        // The hourglass covers the creation; the user works in the open screen with the normal cursor.
        vnd::HourglassGuard hourglass;
        screen = std::make_unique<TfrmFiltroImpXml>(importacao, parent);
        screen->Create();
    }
    screen->ShowModal();
}
