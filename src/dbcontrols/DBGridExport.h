// Export of a grid's shown rows to CSV, and import of CSV rows into an open
// data set. The file is UTF-8 (with a byte order mark, which spreadsheets
// look for); the first line holds the column titles. Numbers and dates are
// written in one format whatever the locale, so that a file read on another
// machine keeps its values: "." before the decimals and no group separators,
// dates as yyyy-mm-dd, times as hh:nn:ss (.zzz with milliseconds), date and
// time with a blank between. Binary values are hex, other values are
// written as their fields edit them (Text). An unquoted empty value is null,
// a quoted empty value ("") an empty text.
#pragma once

#include "Exceptions.h"

#include <QChar>
#include <QString>
#include <QStringList>
#include <vector>

class TDataSet;
class TDBGridEx;
class TField;

struct TCSVOptions
{
    QChar Separator = QLatin1Char(';'); // the separator spreadsheets expect where a comma is the decimal mark
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

// Appends a record per line after the header. Every title of the header
// names a field of the data set, by field name or display label
// (case-insensitive); calculated and lookup fields named there are skipped.
// Where the header names no fields under the separator asked for, but does
// under ";", "," or a tab, the file is read with that one. Numbers and dates
// are read in the exchange format above; a file written before it, in the
// locale's text, is read as the fields read typed text. A file that is not
// UTF-8 is read in the ANSI code page (windows-1251).
// The file is read and checked whole first: a quote left open, text after a
// closing quote, a title that names no field, or a row with more or fewer
// values than the header stops the import before any row is added, with the
// line and the reason. A value the field refuses (a bad number, a text longer
// than the field, bad hex) stops it with its line as well; the rows before it
// stay posted. Returns the rows added.
int ImportFromCSV(TDataSet& dataSet, const QString& fileName, const TCSVOptions& options = {});

// The CSV text of one record: values quoted where needed. For tests and callers
// that build their own files.
QString CSVLine(const QStringList& values, const std::vector<bool>& nulls, QChar separator);

// A CSV text that is not a sequence of records: the line where the fault is
// and the reason.
class ECSVError : public Exception
{
public:
    ECSVError(int line, const QString& reason);
    int Line() const { return FLine; }

private:
    int FLine;
};

struct TCSVRecord
{
    QStringList Values;
    std::vector<bool> Nulls; // the unquoted empty values
    int Line = 0;            // where the record starts, from 1
};
// Splits CSV text into records of values, blank lines skipped. Raises
// ECSVError as the import describes.
std::vector<TCSVRecord> ParseCSV(const QString& text, QChar separator);
