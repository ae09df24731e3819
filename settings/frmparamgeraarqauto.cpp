#include "settings/frmparamgeraarqauto.h"

#include "host/errors.h"
#include "host/hostutil.h"
#include "host/netconnection.h"
#include "host/platform.h"
#include "host/rpc.h"
#include "host/ui/controls.h"
#include "host/ui/datasource.h"
#include "host/ui/dateedit.h"
#include "host/ui/handlers.h"
#include "settings/paramgeral.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include <memory>

namespace
{

QGroupBox *Grupo(QWidget *parent, const char *name, const QString &title)
{
    auto *g = new QGroupBox(title, parent);
    g->setObjectName(QString::fromLatin1(name));
    return g;
}

// A folder group: "Diretório:" and its edit.
QLineEdit *EditDiretorio(QGroupBox *grupo, const char *editName, const char *labelName, QLabel *&label)
{
    label = new QLabel(QStringLiteral("Diretório:"), grupo);
    label->setObjectName(QString::fromLatin1(labelName));
    auto *edit = new QLineEdit(grupo);
    edit->setObjectName(QString::fromLatin1(editName));
    edit->setMaxLength(vnd::kTamDiretorioParam);
    label->setBuddy(edit);
    auto *layout = new QHBoxLayout(grupo);
    layout->addWidget(label);
    layout->addWidget(edit, 1);
    return edit;
}

} // namespace

TfrmParamGeraArqAuto::TfrmParamGeraArqAuto(TNetConnection &netGeraXml, QWidget *parent)
    : TfrmRotiGeral(parent), m_net(netGeraXml)
{
    setObjectName(QStringLiteral("frmParamGeraArqAuto"));
    setWindowTitle(QStringLiteral("Parametrização Geração Automática Arquivo XML (NFC-e/SAT)"));
    SetScreenCode(QStringLiteral("VND04403"));
    for (const QString &line : vnd::MensagensParamGeraArqAuto())
        msgPadrao.Add(line);

    vnd::DefineCdsParamGeral(cdsParamGeral);
    dtsParamGeral = new TDataSource(this, &cdsParamGeral);

    grbDtIniGera = Grupo(pnlClient, "grbDtIniGera", QStringLiteral("Data Inicial Geração"));
    depDtIniGera = new TDateEditPlus(grbDtIniGera);
    depDtIniGera->setObjectName(QStringLiteral("depDtIniGera"));
    auto *data = new QHBoxLayout(grbDtIniGera);
    data->addWidget(depDtIniGera);
    data->addStretch(1);
    depDtIniGera->setMinimumWidth(190);

    grbDirDestArqXML = Grupo(pnlClient, "grbDirDestArqXML",
                             QStringLiteral("Diretório destino dos arquivos XML no servidor"));
    dbeDirDestArqXML =
        EditDiretorio(grbDirDestArqXML, "dbeDirDestArqXML", "lblDirDestArqXML", lblDirDestArqXML);
    grbDirDestArqPHP = Grupo(pnlClient, "grbDirDestArqPHP",
                             QStringLiteral("Diretório destino dos arquivos PHP no servidor"));
    dbeDirDestArqPHP =
        EditDiretorio(grbDirDestArqPHP, "dbeDirDestArqPHP", "lblDirDestArqPHP", lblDirDestArqPHP);
    grbDirInsPHP = Grupo(pnlClient, "grbDirInsPHP", QStringLiteral("Diretório de instalação do PHP.exe"));
    dbeDirInsPHP = EditDiretorio(grbDirInsPHP, "dbeDirInsPHP", "lblDirInsPHP", lblDirInsPHP);
    chbArqZip = new QCheckBox(QStringLiteral("Gerar arquivos compactados"), pnlClient);
    chbArqZip->setObjectName(QStringLiteral("chbArqZip"));
    // Alt letters on the groups (a group's letter takes the focus to its field) and the check box.
    grbDtIniGera->setTitle(vnd::Mnemonic(grbDtIniGera->title(), QLatin1Char('D')));
    grbDirDestArqXML->setTitle(QStringLiteral("Diretório destino dos arquivos &XML no servidor"));
    grbDirDestArqPHP->setTitle(QStringLiteral("Diretório destino dos arquivos &PHP no servidor"));
    grbDirInsPHP->setTitle(QStringLiteral("Diretório de &instalação do PHP.exe"));
    chbArqZip->setText(QStringLiteral("Gerar arquivos c&ompactados"));

    auto *layout = new QVBoxLayout(pnlClient);
    layout->setContentsMargins(0, 0, 0, 0);
    for (QWidget *w : {static_cast<QWidget *>(grbDtIniGera), static_cast<QWidget *>(grbDirDestArqXML),
                       static_cast<QWidget *>(grbDirDestArqPHP), static_cast<QWidget *>(grbDirInsPHP),
                       static_cast<QWidget *>(chbArqZip)})
        layout->addWidget(w);
    layout->addStretch(1);
    resize(560, 360);

    vnd::Connect(depDtIniGera, &TDateEditPlus::dateChanged, this, [this] { depDtIniGeraChange(); });
    vnd::Connect(dbeDirDestArqXML, &QLineEdit::textChanged, this, [this] { dbeDirDestArqXMLChange(); });
    vnd::Connect(dbeDirDestArqPHP, &QLineEdit::textChanged, this, [this] { dbeDirDestArqPHPChange(); });
    vnd::Connect(dbeDirInsPHP, &QLineEdit::textChanged, this, [this] { dbeDirInsPHPChange(); });
}

void TfrmParamGeraArqAuto::FormCreate()
{
    TfrmRotiGeral::FormCreate();
    {
        vnd::BusyGuard busy;
        const QVariant row = CheckResultServ(m_net.Call(QStringLiteral("getParamGeral")));
        cdsParamGeral.CreateDataSet();
        // Loaded as a pending row: a confirmation sends the whole row as the screen shows it, even when
        // no value differs from what was read, so the screen's values are what the server keeps.
        cdsParamGeral.AppendData(vnd::rpc::ToPacket(row, "parâmetros da geração automática"));
        cdsParamGeral.First();
    }
    if (cdsParamGeral.IsEmpty())
        return;
    depDtIniGera->SetDate(cdsParamGeral.FieldByName(QStringLiteral("DTINIGERAARQXML")).AsDateTime().date());
    dbeDirDestArqXML->setText(cdsParamGeral.FieldByName(QStringLiteral("DSDIRARQXML")).AsString());
    dbeDirDestArqPHP->setText(cdsParamGeral.FieldByName(QStringLiteral("DSDIRARQPHPGXML")).AsString());
    dbeDirInsPHP->setText(cdsParamGeral.FieldByName(QStringLiteral("DSDIRINSTALAPHP")).AsString());
    chbArqZip->setChecked(cdsParamGeral.FieldByName(QStringLiteral("IDENVARQCMP")).AsString() ==
                          QLatin1String("S"));
}

void TfrmParamGeraArqAuto::EditaRegistro()
{
    if (!cdsParamGeral.Active())
        cdsParamGeral.CreateDataSet();
    if (cdsParamGeral.State() != TDataSetState::Browse)
        return;
    // A server without the row yet gets it as a new one.
    if (cdsParamGeral.IsEmpty())
        cdsParamGeral.Append();
    else
        cdsParamGeral.Edit();
}

void TfrmParamGeraArqAuto::depDtIniGeraChange()
{
    EditaRegistro();
    TField field = cdsParamGeral.FieldByName(QStringLiteral("DTINIGERAARQXML"));
    const QDate date = depDtIniGera->GetDate();
    if (date.isValid())
        field.SetAsDateTime(date.startOfDay());
    else
        field.Clear();
}

void TfrmParamGeraArqAuto::CopiaTexto(QLineEdit *edit, const char *campo)
{
    EditaRegistro();
    cdsParamGeral.FieldByName(QString::fromLatin1(campo)).SetAsString(edit->text());
}

void TfrmParamGeraArqAuto::dbeDirDestArqXMLChange()
{
    CopiaTexto(dbeDirDestArqXML, "DSDIRARQXML");
}

void TfrmParamGeraArqAuto::dbeDirDestArqPHPChange()
{
    CopiaTexto(dbeDirDestArqPHP, "DSDIRARQPHPGXML");
}

void TfrmParamGeraArqAuto::dbeDirInsPHPChange()
{
    CopiaTexto(dbeDirInsPHP, "DSDIRINSTALAPHP");
}

void TfrmParamGeraArqAuto::Falha(QWidget *controle, const char *chave)
{
    controle->setFocus();
    MensErro(msgPadrao.Msg(QString::fromLatin1(chave)), true);
}

void TfrmParamGeraArqAuto::sbtConfirmaClick()
{
    TfrmRotiGeral::sbtConfirmaClick();
    EditaRegistro();
    auto campo = [this](const char *nome) { return cdsParamGeral.FieldByName(QString::fromLatin1(nome)); };
    if (campo("DTINIGERAARQXML").IsNull())
        Falha(depDtIniGera, "DTINI_INF");
    if (EmptyString(campo("DSDIRARQXML").AsString()))
        Falha(dbeDirDestArqXML, "DIRARQXML_INF");
    if (EmptyString(campo("DSDIRARQPHPGXML").AsString()))
        Falha(dbeDirDestArqPHP, "DIRARQPHP_INF");
    if (EmptyString(campo("DSDIRINSTALAPHP").AsString()))
        Falha(dbeDirInsPHP, "DIRINSPHP_INF");

    campo("IDENVARQCMP").SetAsString(chbArqZip->isChecked() ? QStringLiteral("S") : QStringLiteral("N"));
    const QString script = vnd::DirScriptComBarra(dbeDirDestArqPHP->text());
    // The field would cut the final "\" off a full-length text; the user shortens it instead.
    if (script.size() > vnd::kTamDiretorioParam)
        Falha(dbeDirDestArqPHP, "DIRARQPHP_TAM");
    campo("DSDIRARQPHPGXML").SetAsString(script);
    cdsParamGeral.Post();

    if (cdsParamGeral.ChangeCount() > 0) {
        vnd::BusyGuard busy;
        CheckResultServ(
            m_net.Call(QStringLiteral("setParamGeral"), {QVariant::fromValue(cdsParamGeral.Delta())}));
    }
    cdsParamGeral.MergeChangeLog();
    accept();
}

void CriaParamGeraArqAuto(TNetConnection &netGeraXml, QWidget *parent)
{
    std::unique_ptr<TfrmParamGeraArqAuto> tela;
    {
        vnd::HourglassGuard hourglass;
        tela = std::make_unique<TfrmParamGeraArqAuto>(netGeraXml, parent);
        tela->Create();
    }
    tela->ShowModal();
}
