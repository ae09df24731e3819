#pragma once
// TfrmPastaServidor: the folder of the server-side generation, chosen among the folders of the
// application server's export root (listed by the server, by relative name) and, when needed, created
// there by the server. Nothing of this machine's disk is shown or touched.

#include "host/ui/frmdialogos.h"

class QLabel;
class QLineEdit;
class QTreeWidget;
class QTreeWidgetItem;
class TNetConnection;

class TfrmPastaServidor : public TfrmRotiGeral
{
    Q_OBJECT
public:
    TfrmPastaServidor(TNetConnection &net, QWidget *parent = nullptr);

    QTreeWidget *tvwPastas = nullptr;
    QLineEdit *edtNovaPasta = nullptr;
    TButtonFlat *sbtCriaPasta = nullptr;
    QLabel *lblPasta = nullptr;

    // The chosen folder, relative to the export root ("mensal/2026-11"); empty for the root itself.
    QString Pasta() const;
    // Selects the folder of that relative path, listing the folders on the way (those that exist).
    void SelecionaPasta(const QString &relativa);

    // Lists the root's folders.
    void FormCreate() override;
    // Refuses the root itself: the server writes into a folder below it.
    void sbtConfirmaClick() override;
    // Has the server create the folder typed in edtNovaPasta inside the selected one, and selects it.
    void sbtCriaPastaClick();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    // Fetches the folders of the item once (on its first expansion).
    void Carrega(QTreeWidgetItem *item);
    QTreeWidgetItem *Filho(QTreeWidgetItem *item, const QString &nome) const;
    QTreeWidgetItem *NovoItem(QTreeWidgetItem *pai, const QString &nome);

    TNetConnection &m_net;
};

namespace vnd {
// Runs the server folder chooser; true with the chosen relative folder in pasta, false when cancelled.
bool EscolhePastaServidor(TNetConnection &net, QString &pasta);
} // namespace vnd
