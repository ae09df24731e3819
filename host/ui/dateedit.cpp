#include "host/ui/dateedit.h"

#include "host/ui/datasource.h"
#include "host/ui/handlers.h"

#include <QApplication>
#include <QFocusEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>

namespace vnd
{

QString WeekdayName(const QDate &date)
{
    static const char *const names[] = {"Segunda-feira", "Terça-feira", "Quarta-feira", "Quinta-feira",
                                        "Sexta-feira",   "Sábado",      "Domingo"};
    if (!date.isValid())
        return {};
    return QString::fromUtf8(names[date.dayOfWeek() - 1]);
}

QDate ParseDateBr(const QString &text)
{
    return QDate::fromString(text.trimmed(), QStringLiteral("dd/MM/yyyy"));
}

} // namespace vnd

namespace
{
const QString kBlank = QStringLiteral("_");
// Room at the right end for the longest weekday name.
int WeekdayRoom(const QFontMetrics &fm)
{
    return fm.horizontalAdvance(QStringLiteral("Segunda-feira")) + 8;
}
} // namespace

TDateEditPlus::TDateEditPlus(QWidget *parent) : QLineEdit(parent)
{
    setInputMask(QStringLiteral("99/99/9999;_"));
    setTextMargins(0, 0, WeekdayRoom(fontMetrics()), 0);
    connect(this, &QLineEdit::textChanged, this, &TDateEditPlus::UpdateLook);
    UpdateLook();
}

QDate TDateEditPlus::GetDate() const
{
    return vnd::ParseDateBr(text());
}

void TDateEditPlus::SetDate(const QDate &date)
{
    if (date.isValid())
        setText(date.toString(QStringLiteral("dd/MM/yyyy")));
    else
        clear();
}

bool TDateEditPlus::IsDateValid() const
{
    return GetDate().isValid();
}

bool TDateEditPlus::IsEmpty() const
{
    for (const QChar c : text())
        if (c.isDigit())
            return false;
    return true;
}

QString TDateEditPlus::Text() const
{
    if (IsEmpty())
        return {};
    QString typed = displayText();
    typed.replace(kBlank, QStringLiteral(" "));
    // The mask's blanks and separators after the last digit typed are not part of what was typed.
    while (typed.endsWith(QLatin1Char(' ')) || typed.endsWith(QLatin1Char('/')))
        typed.chop(1);
    return typed;
}

void TDateEditPlus::UpdateLook()
{
    const QDate date = GetDate();
    QPalette p = palette();
    p.setColor(QPalette::Text,
               date.isValid() ? QColor(Qt::blue) : QApplication::palette(this).color(QPalette::Text));
    setPalette(p);
    if (date != m_shown) {
        m_shown = date;
        update();
        emit dateChanged(date);
    }
}

int TDateEditPlus::FirstFree() const
{
    const QString shown = displayText();
    const int blank = shown.indexOf(kBlank);
    return blank < 0 ? int(shown.size()) : blank;
}

void TDateEditPlus::KeepCursorOnFree()
{
    if (hasSelectedText())
        return;
    const int free = FirstFree();
    if (cursorPosition() > free)
        setCursorPosition(free);
}

void TDateEditPlus::focusInEvent(QFocusEvent *event)
{
    QLineEdit::focusInEvent(event);
    // Entering by Tab selects everything, which typing overwrites: right for a complete date. A date
    // not complete yet is continued where it stops.
    if (FirstFree() < displayText().size()) {
        deselect();
        setCursorPosition(FirstFree());
    }
}

void TDateEditPlus::mousePressEvent(QMouseEvent *event)
{
    QLineEdit::mousePressEvent(event);
    KeepCursorOnFree();
}

void TDateEditPlus::mouseReleaseEvent(QMouseEvent *event)
{
    QLineEdit::mouseReleaseEvent(event);
    KeepCursorOnFree();
}

void TDateEditPlus::paintEvent(QPaintEvent *event)
{
    QLineEdit::paintEvent(event);
    if (!m_shown.isValid())
        return;
    QStyleOptionFrame option;
    initStyleOption(&option);
    const QRect inner = style()->subElementRect(QStyle::SE_LineEditContents, &option, this);
    QPainter p(this);
    p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::PlaceholderText));
    p.drawText(inner.adjusted(0, 0, -4, 0), Qt::AlignRight | Qt::AlignVCenter, vnd::WeekdayName(m_shown));
}

TDBDateEditPlus::TDBDateEditPlus(QWidget *parent) : TDateEditPlus(parent)
{
    vnd::Connect(this, &QLineEdit::textEdited, this, [this] { Store(); });
}

void TDBDateEditPlus::SetDataField(TDataSource *source, const QString &fieldName)
{
    if (m_source)
        disconnect(m_source, nullptr, this, nullptr);
    m_source = source;
    m_field = fieldName;
    if (source) {
        vnd::Connect(source, &TDataSource::dataChange, this, [this] { Load(); });
        vnd::Connect(source, &TDataSource::dataSetChanged, this, [this] { Load(); });
    }
    Load();
}

void TDBDateEditPlus::Load()
{
    TClientDataSet *data = m_source ? m_source->DataSet() : nullptr;
    // While the row is edited the edit itself is the truth; reloading would drop what is being typed.
    if (data && (data->State() == TDataSetState::Edit || data->State() == TDataSetState::Insert))
        return;
    m_loading = true;
    if (!data || !data->Active() || data->IsEmpty() || data->RecNo() < 0)
        SetDate({});
    else
        SetDate(data->FieldByName(m_field).AsDateTime().date());
    m_loading = false;
}

void TDBDateEditPlus::Store()
{
    TClientDataSet *data = m_source ? m_source->DataSet() : nullptr;
    if (m_loading || !data || !data->Active())
        return;
    if (!IsEmpty() && !IsDateValid())
        return; // a date still being typed
    if (data->State() == TDataSetState::Browse) {
        if (data->RecNo() < 0)
            return;
        data->Edit();
    }
    TField field = data->FieldByName(m_field);
    if (IsEmpty())
        field.Clear();
    else
        field.SetAsDateTime(QDateTime(GetDate(), QTime(0, 0)));
}
