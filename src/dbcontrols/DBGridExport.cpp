#include "DBGridExport.h"

#include "DBGridEx.h"
#include "DataSet.h"
#include "Exceptions.h"

#include <QFile>
#include <QSaveFile>

#include <xlsxwriter.h>

#include <algorithm>

namespace {

bool IsBinary(const TField& field) { return field.DataType() == ftBytes || field.DataType() == ftBlob; }

QString ExportText(const TField& field)
{
    if (IsBinary(field))
        return QString::fromLatin1(field.AsBytes().toHex());
    return field.Text();
}

void ImportText(TField& field, const QString& text, bool null)
{
    if (null) {
        field.Clear();
        return;
    }
    if (IsBinary(field))
        field.SetAsBytes(QByteArray::fromHex(text.toLatin1()));
    else if (field.DataType() == ftString || field.DataType() == ftMemo)
        field.SetAsString(text); // an empty text stays a text, not a null
    else
        field.SetText(text);
}

// Controls of the data set stay quiet while it is walked or filled.
class TControlsDisabled
{
public:
    explicit TControlsDisabled(TDataSet& dataSet) : FDataSet(dataSet) { dataSet.DisableControls(); }
    ~TControlsDisabled() { FDataSet.EnableControls(); }
    TControlsDisabled(const TControlsDisabled&) = delete;
    TControlsDisabled& operator=(const TControlsDisabled&) = delete;

private:
    TDataSet& FDataSet;
};

} // namespace

QString CSVLine(const QStringList& values, const std::vector<bool>& nulls, QChar separator)
{
    QString line;
    for (qsizetype i = 0; i < values.size(); ++i) {
        if (i > 0)
            line += separator;
        const QString& value = values[i];
        const bool null = static_cast<size_t>(i) < nulls.size() && nulls[static_cast<size_t>(i)];
        if (null)
            continue;
        const bool quote = value.isEmpty() || value.contains(separator) || value.contains(QLatin1Char('"'))
                           || value.contains(QLatin1Char('\n')) || value.contains(QLatin1Char('\r'))
                           || value.front().isSpace() || value.back().isSpace();
        if (!quote) {
            line += value;
            continue;
        }
        line += QLatin1Char('"');
        line += QString(value).replace(QLatin1Char('"'), QStringLiteral("\"\""));
        line += QLatin1Char('"');
    }
    return line;
}

std::vector<TCSVRecord> ParseCSV(const QString& text, QChar separator)
{
    std::vector<TCSVRecord> records;
    TCSVRecord record;
    QString value;
    bool quoted = false;   // the value started with a quote
    bool inQuotes = false; // inside the quotes now
    int line = 1;
    record.Line = line;
    const auto endValue = [&] {
        record.Values << value;
        record.Nulls.push_back(!quoted && value.isEmpty());
        value.clear();
        quoted = false;
    };
    const auto endRecord = [&] {
        endValue();
        // A blank line is no record.
        if (!(record.Values.size() == 1 && record.Nulls.front()))
            records.push_back(std::move(record));
        record = TCSVRecord();
        record.Line = line;
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (inQuotes) {
            if (c == QLatin1Char('"')) {
                if (i + 1 < text.size() && text[i + 1] == QLatin1Char('"')) {
                    value += c;
                    ++i;
                } else {
                    inQuotes = false;
                }
            } else {
                if (c == QLatin1Char('\n'))
                    ++line;
                value += c;
            }
            continue;
        }
        if (c == QLatin1Char('"') && value.isEmpty() && !quoted) {
            quoted = inQuotes = true;
        } else if (c == separator) {
            endValue();
        } else if (c == QLatin1Char('\r')) {
            continue;
        } else if (c == QLatin1Char('\n')) {
            ++line;
            endRecord();
        } else {
            value += c;
        }
    }
    if (!value.isEmpty() || quoted || !record.Values.isEmpty())
        endRecord();
    return records;
}

std::vector<TExportColumn> GridExportColumns(const TDBGridEx& grid)
{
    std::vector<TExportColumn> columns;
    for (int c = 0; c < grid.Columns().Count(); ++c) {
        const TColumnEx* column = grid.Columns()[c];
        if (column->Visible() && column->Field())
            columns.push_back({column->Field(), column->Title().Caption()});
    }
    return columns;
}

void ExportToCSV(TDataSet& dataSet, const std::vector<TExportColumn>& columns, const QString& fileName,
                 const TCSVOptions& options)
{
    dataSet.CheckActive();
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        throw Exception(QStringLiteral("Не удалось создать файл \"%1\": %2").arg(fileName, file.errorString()));
    const auto write = [&](const QString& line) { file.write((line + QStringLiteral("\r\n")).toUtf8()); };
    if (options.ByteOrderMark)
        file.write("\xEF\xBB\xBF");
    QStringList titles;
    for (const TExportColumn& column : columns)
        titles << column.Title;
    write(CSVLine(titles, {}, options.Separator));
    const TDataSet::TDisplayScope restore(dataSet, -1);
    for (int position = 0; position < dataSet.RecordCount(); ++position) {
        dataSet.SetDisplayPosition(position);
        QStringList values;
        std::vector<bool> nulls;
        for (const TExportColumn& column : columns) {
            nulls.push_back(column.Field->IsNull());
            values << (nulls.back() ? QString() : ExportText(*column.Field));
        }
        write(CSVLine(values, nulls, options.Separator));
    }
    if (!file.commit())
        throw Exception(QStringLiteral("Не удалось записать файл \"%1\": %2").arg(fileName, file.errorString()));
}

void ExportGridToCSV(const TDBGridEx& grid, const QString& fileName, const TCSVOptions& options)
{
    TDataSet* dataSet = grid.DataSet();
    if (!dataSet)
        throw Exception(QStringLiteral("Нет данных для выгрузки"));
    ExportToCSV(*dataSet, GridExportColumns(grid), fileName, options);
}

namespace {

// The workbook of one export: closed (written) by Close, dropped otherwise.
class TWorkbook
{
public:
    explicit TWorkbook(const QString& fileName) : FPath(QFile::encodeName(fileName))
    {
        lxw_workbook_options options{};
        options.constant_memory = LXW_TRUE; // rows go to disk as they are written
        FBook = workbook_new_opt(FPath.constData(), &options);
        if (!FBook)
            throw Exception(QStringLiteral("Не удалось создать файл \"%1\"").arg(fileName));
    }
    ~TWorkbook()
    {
        if (FBook) {
            workbook_close(FBook);
            QFile::remove(QFile::decodeName(FPath));
        }
    }
    TWorkbook(const TWorkbook&) = delete;
    TWorkbook& operator=(const TWorkbook&) = delete;

    lxw_workbook* Book() const { return FBook; }
    void Close(const QString& fileName)
    {
        const lxw_error error = workbook_close(FBook);
        FBook = nullptr;
        if (error != LXW_NO_ERROR) {
            QFile::remove(QFile::decodeName(FPath));
            throw Exception(QStringLiteral("Не удалось записать файл \"%1\": %2")
                                .arg(fileName, QString::fromUtf8(lxw_strerror(error))));
        }
    }

private:
    QByteArray FPath;
    lxw_workbook* FBook = nullptr;
};

bool IsNumber(TFieldType type)
{
    switch (type) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
    case ftLargeint:
    case ftFloat:
    case ftCurrency:
    case ftBCD: return true;
    default: return false;
    }
}

} // namespace

void ExportToXLSX(TDataSet& dataSet, const std::vector<TExportColumn>& columns, const QString& fileName,
                  const QString& sheetName)
{
    dataSet.CheckActive();
    // Written beside the target and moved over it once complete.
    const QString partial = fileName + QStringLiteral(".part");
    TWorkbook book(partial);
    const QByteArray sheetTitle = (sheetName.isEmpty() ? dataSet.objectName() : sheetName).left(31).toUtf8();
    lxw_worksheet* sheet = workbook_add_worksheet(book.Book(), sheetTitle.isEmpty() ? nullptr : sheetTitle.constData());
    if (!sheet)
        sheet = workbook_add_worksheet(book.Book(), nullptr);
    lxw_format* bold = workbook_add_format(book.Book());
    format_set_bold(bold);
    lxw_format* dateFormat = workbook_add_format(book.Book());
    format_set_num_format(dateFormat, "dd.mm.yyyy");
    lxw_format* dateTimeFormat = workbook_add_format(book.Book());
    format_set_num_format(dateTimeFormat, "dd.mm.yyyy hh:mm:ss");
    lxw_format* timeFormat = workbook_add_format(book.Book());
    format_set_num_format(timeFormat, "hh:mm:ss");

    for (size_t c = 0; c < columns.size(); ++c) {
        const auto col = static_cast<lxw_col_t>(c);
        worksheet_write_string(sheet, 0, col, columns[c].Title.toUtf8().constData(), bold);
        worksheet_set_column(sheet, col, col, std::clamp(columns[c].Field->DisplayWidth(), 6, 60) + 2, nullptr);
    }
    const TDataSet::TDisplayScope restore(dataSet, -1);
    for (int position = 0; position < dataSet.RecordCount(); ++position) {
        dataSet.SetDisplayPosition(position);
        const auto row = static_cast<lxw_row_t>(position + 1);
        for (size_t c = 0; c < columns.size(); ++c) {
            const TField& field = *columns[c].Field;
            const auto col = static_cast<lxw_col_t>(c);
            if (field.IsNull())
                continue;
            const TFieldType type = field.DataType();
            if (IsNumber(type))
                worksheet_write_number(sheet, row, col, field.AsFloat(), nullptr);
            else if (type == ftBoolean)
                worksheet_write_boolean(sheet, row, col, field.AsBoolean(), nullptr);
            else if (type == ftDate || type == ftDateTime || type == ftTime)
                // The toolkit's days count from the same day as the workbook's.
                worksheet_write_number(sheet, row, col, field.AsDateTime(),
                                       type == ftDate   ? dateFormat
                                       : type == ftTime ? timeFormat
                                                        : dateTimeFormat);
            else
                worksheet_write_string(sheet, row, col, ExportText(field).toUtf8().constData(), nullptr);
        }
    }
    book.Close(fileName);
    QFile::remove(fileName);
    if (!QFile::rename(partial, fileName)) {
        QFile::remove(partial);
        throw Exception(QStringLiteral("Не удалось записать файл \"%1\"").arg(fileName));
    }
}

void ExportGridToXLSX(const TDBGridEx& grid, const QString& fileName)
{
    TDataSet* dataSet = grid.DataSet();
    if (!dataSet)
        throw Exception(QStringLiteral("Нет данных для выгрузки"));
    ExportToXLSX(*dataSet, GridExportColumns(grid), fileName);
}

int ImportFromCSV(TDataSet& dataSet, const QString& fileName, const TCSVOptions& options)
{
    dataSet.CheckActive();
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw Exception(QStringLiteral("Не удалось открыть файл \"%1\": %2").arg(fileName, file.errorString()));
    QByteArray bytes = file.readAll();
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    const std::vector<TCSVRecord> records = ParseCSV(QString::fromUtf8(bytes), options.Separator);
    if (records.empty())
        return 0;
    std::vector<TField*> fields;
    for (const QString& name : records.front().Values) {
        TField* field = dataSet.FindField(name);
        if (!field)
            for (TField* candidate : dataSet.Fields())
                if (candidate->DisplayName().compare(name, Qt::CaseInsensitive) == 0)
                    field = candidate;
        fields.push_back(field && field->FieldKind() == fkData ? field : nullptr);
    }
    dataSet.CheckBrowseMode();
    TControlsDisabled quiet(dataSet);
    int added = 0;
    for (size_t r = 1; r < records.size(); ++r) {
        const TCSVRecord& record = records[r];
        dataSet.Append();
        try {
            for (size_t i = 0; i < fields.size() && i < static_cast<size_t>(record.Values.size()); ++i)
                if (fields[i])
                    ImportText(*fields[i], record.Values[static_cast<int>(i)], record.Nulls[i]);
            dataSet.Post();
        } catch (const Exception& error) {
            dataSet.Cancel();
            throw Exception(
                QStringLiteral("Строка %1 файла \"%2\": %3").arg(record.Line).arg(fileName, error.Message()));
        }
        ++added;
    }
    return added;
}
