// Export of a grid's shown rows to CSV, and import of CSV rows into an open
// data set. The file is UTF-8 (with a byte order mark, which spreadsheets
// look for); the first line holds the column titles. Values are written as
// their fields edit them (Text), binary values in hex, so that an import
// reads back what was exported: an unquoted empty value is null, a quoted
// empty value ("") an empty text.
#pragma once

#include <QChar>
#include <QString>
#include <QStringList>
#include <vector>

class TDataSet;
class TDBGridEx;
class TField;

struct TCSVOptions
{
    QChar Separator = QLatin1Char(';'); // a comma is the decimal separator here
    bool ByteOrderMark = true;
};

// One exported column: its field and the title the header line shows.
struct TExportColumn
{
    TField* Field;
    QString Title;
};

// The visible columns of the grid that show a field.
std::vector<TExportColumn> GridExportColumns(const TDBGridEx& grid);

// Writes every row of the data set's view (filters and order as shown), the
// cursor left where it was. Raises Exception when the file
// cannot be written; a partly written file is not left behind.
void ExportToCSV(TDataSet& dataSet, const std::vector<TExportColumn>& columns, const QString& fileName,
                 const TCSVOptions& options = {});
void ExportGridToCSV(const TDBGridEx& grid, const QString& fileName, const TCSVOptions& options = {});

// Writes the same rows to an .xlsx workbook of one sheet: numbers, dates and
// booleans as typed cells, nulls as blank cells, the titles in bold. Raises
// Exception when the workbook cannot be written (no partial file is left).
void ExportToXLSX(TDataSet& dataSet, const std::vector<TExportColumn>& columns, const QString& fileName,
                  const QString& sheetName = QString());
void ExportGridToXLSX(const TDBGridEx& grid, const QString& fileName);

// Appends a record per line after the header; header names are matched to
// fields by field name or display label (case-insensitive); other columns
// are skipped. A value the field refuses stops the import with the line
// number in the message; the rows before it stay posted. Returns the rows added.
int ImportFromCSV(TDataSet& dataSet, const QString& fileName, const TCSVOptions& options = {});

// The CSV text of one record: values quoted where needed. For tests and callers
// that build their own files.
QString CSVLine(const QStringList& values, const std::vector<bool>& nulls, QChar separator);
// Splits CSV text into records of values; nulls marks the unquoted empty values.
struct TCSVRecord
{
    QStringList Values;
    std::vector<bool> Nulls;
    int Line = 0; // where the record starts, from 1
};
std::vector<TCSVRecord> ParseCSV(const QString& text, QChar separator);
