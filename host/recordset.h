#pragma once
// The in-memory record set behind every cds… table: persistent field definitions, a current row with
// edit/insert/post, navigation, a simple filter, a change log and the data packet that carries it to and
// from the application server. Strings are held as UTF-8 bytes to keep large lists small.

#include <QByteArray>
#include <QDateTime>
#include <QMetaType>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>

#include "host/json.h"
#include "host/recordsetrow.h"
#include <functional>
#include <memory>
#include <vector>

// A record set in transit: the JSON text {"fields":[...],"rows":[[...]]}. Opaque to everyone but the
// record-set code.
struct TDataPacket
{
    QByteArray json;
    bool IsEmpty() const { return json.isEmpty(); }
};
Q_DECLARE_METATYPE(TDataPacket)

enum class TFieldType { String, FixedChar, Memo, DateTime, Float, Integer, Boolean };

// Packet name of a field type ("string", "fixed", "memo", "datetime", "float", "integer", "boolean").
const char *FieldTypeName(TFieldType type);
TFieldType FieldTypeFromName(const QByteArray &name);

class TField;
using TGetTextEvent = std::function<QString(const TField &field)>;

struct TFieldDef
{
    QString name;
    TFieldType type = TFieldType::String;
    int size = 0; // characters, for String and FixedChar
    QString label;
    bool readOnly = false;
    bool visible = true;
    int displayWidth = 0;
};

class TClientDataSet;

// A handle on one field of the data set's current row (or of one given row, read-only, see RowField).
// Valid while the data set keeps its definitions.
class TField
{
public:
    TField(TClientDataSet *owner, int index, int row = -1) : m_owner(owner), m_index(index), m_row(row) {}

    const TFieldDef &Def() const;
    QString FieldName() const { return Def().name; }
    TFieldType DataType() const { return Def().type; }
    int Size() const { return Def().size; }
    QString DisplayLabel() const { return Def().label.isEmpty() ? Def().name : Def().label; }
    int Index() const { return m_index; }

    bool IsNull() const;
    QVariant Value() const;
    // Text of the value: strings as held, date-times as dd/MM/yyyy hh:mm:ss (dd/MM/yyyy at midnight),
    // floats with the decimal comma, integers in decimal, null as "".
    QString AsString() const;
    // UTF-8 bytes of a string or memo field (other kinds: AsString in UTF-8).
    QByteArray AsBytes() const;
    QDateTime AsDateTime() const;
    double AsFloat() const;
    qint64 AsInteger() const;
    bool AsBoolean() const;
    // The field's display text: its OnGetText handler when set, else AsString.
    QString DisplayText() const;

    // Setters need the data set in edit or insert state and a handle on the current row. A string longer
    // than the field's size is cut to the size.
    void SetAsString(const QString &text);
    void SetAsBytes(const QByteArray &utf8);
    void SetAsDateTime(const QDateTime &value);
    void SetAsFloat(double value);
    void SetAsInteger(qint64 value);
    void SetAsBoolean(bool value);
    void SetValue(const QVariant &value);
    void Clear();

private:
    TClientDataSet *m_owner;
    int m_index;
    int m_row; // -1: the current row
};

enum class TDataSetState { Inactive, Browse, Edit, Insert };

class TClientDataSet : public QObject
{
    Q_OBJECT
public:
    explicit TClientDataSet(QObject *parent = nullptr);
    ~TClientDataSet() override;

    // Persistent field definitions; set before CreateDataSet. AddField returns the index.
    int AddField(const TFieldDef &def);
    int AddField(const QString &name, TFieldType type, int size = 0, const QString &label = {});
    const std::vector<TFieldDef> &FieldDefs() const { return m_defs; }
    TFieldDef &FieldDefAt(int index) { return m_defs.at(index); }
    void SetOnGetText(const QString &fieldName, TGetTextEvent handler);
    int FieldCount() const { return int(m_defs.size()); }
    // -1 when there is no such field.
    int FieldIndex(const QString &name) const;

    // Makes the data set active and empty with its definitions.
    void CreateDataSet();
    bool Active() const { return m_state != TDataSetState::Inactive; }
    // Closes and drops the rows; definitions stay.
    void Close();
    // Drops every row and the change log; stays active.
    void EmptyDataSet();
    TDataSetState State() const { return m_state; }

    // Row editing. Append/Insert start a new row (at the end / before the current row); Edit puts the
    // current row into edit state; Post stores it; Cancel drops the pending changes.
    void Append();
    void Insert();
    void Edit();
    void Post();
    void Cancel();
    void Delete();

    // Navigation over the rows that pass the filter.
    void First();
    void Next();
    void Prior();
    void Last();
    bool Eof() const { return m_eof; }
    bool Bof() const { return m_bof; }
    bool IsEmpty() const { return RecordCount() == 0; }
    // Rows passing the filter.
    int RecordCount() const;
    // Zero-based position of the current row among all rows (-1 when none).
    int RecNo() const { return m_current; }
    // Moves to the row at that position among all rows (used by grids).
    void SetRecNo(int row);
    // Rows regardless of the filter; row-level access for models and exports.
    int RowCount() const { return int(m_rows.size()); }
    QVariant RowValue(int row, int field) const;
    // Read-only handle on a field of the row at that position: grids take display texts through it
    // without moving the current row.
    TField RowField(int row, int field) { return TField(this, field, row); }
    // Whether the row at that position passes the filter.
    bool RowVisible(int row) const { return Passes(row); }

    TField FieldByName(const QString &name);
    TField Fields(int index) { return TField(this, index); }

    // Filter of the form FIELD = 'value' (several joined by AND). An unsupported text is an Exception.
    void SetFilter(const QString &filter);
    QString Filter() const { return m_filterText; }
    void SetFiltered(bool on);
    bool Filtered() const { return m_filtered; }

    // Change log.
    int ChangeCount() const;
    void MergeChangeLog();
    // Packet of the changed rows: fields, rows, "rowstate" per row ("inserted", "modified", "deleted")
    // and "original" values of modified rows.
    TDataPacket Delta() const;
    // The "rowstate" of each row of a Delta() packet, in row order; empty for a packet without them.
    // The rows themselves load with SetData.
    static QStringList DeltaRowStates(const TDataPacket &delta);

    // The whole data set as a packet, and back. SetData replaces definitions when the set has none, else
    // maps the packet's fields by name (unknown packet fields are ignored) and empties the change log.
    TDataPacket Data() const;
    void SetData(const TDataPacket &packet);
    // Appends the packet's rows; they count as inserted until MergeChangeLog.
    void AppendData(const TDataPacket &packet);

    // Suspends the changed() signal while a loop edits many rows (grids redraw once at the end).
    void DisableControls();
    void EnableControls();

signals:
    void stateChanged();
    // The rows changed (rows added, removed, edited, filter switched); models reset or refresh.
    void dataChanged();
    // The current row moved.
    void currentChanged(int row);

private:
    friend class TField;
    enum class RowStatus : unsigned char { Unchanged, Inserted, Modified };
    struct Row
    {
        vnd::recordset::PackedRow values;
        vnd::recordset::PackedRow original; // of a modified row
        RowStatus status = RowStatus::Unchanged;
    };

    QVariant Normalise(int field, const QVariant &value) const;
    QVariant CurrentValue(int field) const;
    void CheckActive() const;
    void CheckEditing(const TField &field) const;
    bool Passes(int row) const;
    void Seek(int from, int step);
    void NotifyData();
    void ReadRows(const QByteArray &json, bool appendAsInserted);

    std::vector<TFieldDef> m_defs;
    QHash<QString, int> m_fieldByName; // position of each field by its name as defined
    std::vector<TGetTextEvent> m_getText;
    std::vector<Row> m_rows;
    std::vector<vnd::recordset::PackedRow> m_deleted;
    vnd::recordset::TextPool m_pool; // of the rows above: emptied only with them
    TDataSetState m_state = TDataSetState::Inactive;
    int m_current = -1;
    bool m_eof = true;
    bool m_bof = true;
    std::vector<QVariant> m_buffer; // edit/insert buffer
    int m_insertAt = -1;
    QString m_filterText;
    std::vector<std::pair<int, QByteArray>> m_filterTerms;
    bool m_filtered = false;
    int m_disabled = 0;
    bool m_pendingNotify = false;
};

// A data packet written row by row, for rows that need no record set on the way (a server's page of the
// sale list): the text is the one Data() gives for a record set of these fields whose rows were set to
// the same values through its fields.
class TPacketWriter
{
public:
    // reserveBytes: the expected size of the whole text, to write it into one buffer.
    TPacketWriter(const std::vector<TFieldDef> &defs, qsizetype reserveBytes);
    // One value per field, in field order, in any form that SetValue accepts.
    void AddRow(const std::vector<QVariant> &values);
    // The same, value by value, for callers that hold raw texts: BeginRow, then per field in order Null,
    // Text (UTF-8, without a copy for a string field that keeps it whole) or Value, then EndRow.
    void BeginRow();
    void Null();
    void Text(const char *utf8, qsizetype size);
    void Value(const QVariant &value);
    void EndRow();
    int RowCount() const { return m_rows; }
    // The packet; the writer is spent.
    TDataPacket Finish();

private:
    const std::vector<TFieldDef> &m_defs;
    vnd::JsonWriter m_w;
    const TFieldDef &NextField();
    size_t m_column = 0;
    int m_rows = 0;
};
