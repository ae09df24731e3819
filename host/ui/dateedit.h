#pragma once
// Date edits: a masked "dd/mm/aaaa" line edit that shows the weekday of a valid date in Portuguese at its
// right end and writes valid dates in blue. An empty edit is allowed; a partly typed or impossible date
// reads as not valid and keeps its typed text for the message that names it.

#include <QDate>
#include <QLineEdit>
#include <QPointer>

class TDataSource;

namespace vnd
{
// "Domingo" … "Sábado" for a valid date, else empty.
QString WeekdayName(const QDate &date);
// The date of a "dd/MM/yyyy" text (exactly; no time part), invalid when it is none.
QDate ParseDateBr(const QString &text);
} // namespace vnd

class TDateEditPlus : public QLineEdit
{
    Q_OBJECT
  public:
    explicit TDateEditPlus(QWidget *parent = nullptr);

    // The date typed, or an invalid date when the text is empty or not a date.
    QDate GetDate() const;
    // Shows the date; an invalid date empties the edit.
    void SetDate(const QDate &date);
    // True when the text is a complete, existing date.
    bool IsDateValid() const;
    // True when no digit was typed.
    bool IsEmpty() const;
    // The text as typed ("31/02/2024", "12/0" for a partial one, "" when empty).
    QString Text() const;

  signals:
    // The edit now holds this date (invalid when it holds none).
    void dateChanged(const QDate &date);

  protected:
    void paintEvent(QPaintEvent *event) override;
    // A click or a focus that would leave the cursor past the blanks of the mask puts it on the first
    // blank instead: digits typed there would be lost.
    void focusInEvent(QFocusEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

  private:
    void UpdateLook();
    // Position of the first blank of the mask (the text's length when the date is complete).
    int FirstFree() const;
    void KeepCursorOnFree();

    QDate m_shown;
};

// The data-bound date edit: shows the date field of the data source's current row and, when the user
// types a complete date or empties the edit, puts the row into edit and writes the field.
class TDBDateEditPlus : public TDateEditPlus
{
    Q_OBJECT
  public:
    explicit TDBDateEditPlus(QWidget *parent = nullptr);
    void SetDataField(TDataSource *source, const QString &fieldName);

  private:
    void Load();
    void Store();

    QPointer<TDataSource> m_source;
    QString m_field;
    bool m_loading = false;
};
