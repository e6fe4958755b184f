#include "DBGridExport.h"

#include "DBGridEx.h"
#include "DataSet.h"
#include "Exceptions.h"

#include "SysUtils.h"

#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStringDecoder>

#include <xlsxwriter.h>

#include <algorithm>
#include <cmath>
#include <optional>

namespace {

bool IsBinary(const TField& field) { return field.DataType() == ftBytes || field.DataType() == ftBlob; }

bool IsDateTime(TFieldType type) { return type == ftDate || type == ftTime || type == ftDateTime; }

// Numbers and dates travel in one format whatever the locale of the machine
// that writes or reads them: "." before the decimals, no group separators,
// dates as yyyy-mm-dd and times as hh:nn:ss(.zzz).
const TFormatSettings& ExchangeSettings()
{
    static const TFormatSettings settings = [] {
        TFormatSettings s;
        s.DecimalSeparator = QLatin1Char('.');
        s.ThousandSeparator = QChar();
        s.DateSeparator = QLatin1Char('-');
        s.TimeSeparator = QLatin1Char(':');
        return s;
    }();
    return settings;
}

QString ExchangeDateTime(TFieldType type, TDateTime value)
{
    const bool milliseconds = std::llround(value * 86400000.0) % 1000 != 0;
    const QString time = milliseconds ? QStringLiteral("hh:nn:ss.zzz") : QStringLiteral("hh:nn:ss");
    const QString pattern = type == ftDate   ? QStringLiteral("yyyy-mm-dd")
                            : type == ftTime ? time
                                             : QStringLiteral("yyyy-mm-dd ") + time;
    return FormatDateTime(pattern, value, ExchangeSettings());
}

QString ExportText(const TField& field)
{
    if (IsBinary(field))
        return QString::fromLatin1(field.AsBytes().toHex());
    const TFieldType type = field.DataType();
    if (IsNumericType(type)) // AsString has every digit and no groups; only its decimal mark is the locale's
        return field.AsString().replace(FormatSettings().DecimalSeparator, QLatin1Char('.'));
    if (IsDateTime(type))
        return ExchangeDateTime(type, field.AsDateTime());
    return field.Text();
}

// A number as ExportText writes it.
bool IsExchangeNumber(const QString& text)
{
    static const QRegularExpression pattern(QStringLiteral("^[-+]?[0-9]+(\\.[0-9]+)?([eE][-+]?[0-9]+)?$"));
    return pattern.match(text).hasMatch();
}

// A date, time or date and time as ExportText writes it ("T" may stand for
// the blank); none for any other text.
std::optional<TDateTime> ExchangeDateTimeValue(TFieldType type, const QString& text)
{
    static const QRegularExpression date(QStringLiteral("^(\\d{4})-(\\d{2})-(\\d{2})(?:[ T](.*))?$"));
    static const QRegularExpression time(QStringLiteral("^(\\d{2}):(\\d{2})(?::(\\d{2})(?:\\.(\\d{1,3}))?)?$"));
    TDateTime result = 0;
    QString timeText = text;
    if (type != ftTime) {
        const QRegularExpressionMatch match = date.match(text);
        if (!match.hasMatch())
            return std::nullopt;
        const std::optional<TDateTime> day = TryEncodeDate(match.captured(1).toInt(), match.captured(2).toInt(),
                                                           match.captured(3).toInt());
        if (!day)
            return std::nullopt;
        result = *day;
        timeText = match.captured(4);
        if (!match.hasCaptured(4))
            return result;
    }
    const QRegularExpressionMatch match = time.match(timeText);
    if (!match.hasMatch())
        return std::nullopt;
    const std::optional<TDateTime> dayTime = TryEncodeTime(
        match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt(),
        match.captured(4).leftJustified(3, QLatin1Char('0')).toInt());
    if (!dayTime)
        return std::nullopt;
    return result < 0 ? result - *dayTime : result + *dayTime;
}

[[noreturn]] void RefuseValue(const TField& field, const QString& reason)
{
    throw EConvertError(QStringLiteral("поле \"%1\": %2").arg(field.DisplayName(), reason));
}

void ImportBytes(TField& field, const QString& text)
{
    static const QRegularExpression hex(QStringLiteral("^([0-9A-Fa-f]{2})*$"));
    if (!hex.match(text).hasMatch())
        RefuseValue(field, QStringLiteral("значение \"%1\" не записано шестнадцатеричными цифрами").arg(text.left(40)));
    const QByteArray bytes = QByteArray::fromHex(text.toLatin1());
    if (field.DataType() == ftBytes && field.Size() > 0 && bytes.size() > field.Size())
        RefuseValue(field, QStringLiteral("%1 байт не помещаются в поле из %2").arg(bytes.size()).arg(field.Size()));
    field.SetAsBytes(bytes);
}

void ImportText(TField& field, const QString& text, bool null)
{
    if (null) {
        field.Clear();
        return;
    }
    const TFieldType type = field.DataType();
    if (IsBinary(field)) {
        ImportBytes(field, text);
    } else if (type == ftString || type == ftMemo) {
        if (type == ftString && field.Size() > 0 && text.size() > field.Size())
            RefuseValue(field, QStringLiteral("значение из %1 символов длиннее поля (не больше %2)")
                                   .arg(text.size())
                                   .arg(field.Size()));
        field.SetAsString(text); // an empty text stays a text, not a null
    } else if (IsNumericType(type) && IsExchangeNumber(text)) {
        field.SetAsString(text); // "." is the decimal mark in every locale
    } else if (const std::optional<TDateTime> value = IsDateTime(type) ? ExchangeDateTimeValue(type, text)
                                                                       : std::nullopt;
               value) {
        field.SetAsDateTime(*value);
    } else {
        // Files written before the exchange format kept the locale's text:
        // the field reads it as typed text, or refuses it.
        field.SetText(text);
    }
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

// Reads records one by one. A line ends with CR LF, LF or CR alone; a quoted
// value must be closed, and only a separator or a line end may follow its
// closing quote, so that a stray quote cannot swallow the lines after it.
class TCSVReader
{
public:
    TCSVReader(const QString& text, QChar separator) : FText(text), FSeparator(separator) {}

    // The next record that is not a blank line; false at the end.
    bool Next(TCSVRecord& record)
    {
        while (FPos < FText.size()) {
            record = ReadRecord();
            if (!(record.Values.size() == 1 && record.Nulls.front()))
                return true;
        }
        return false;
    }

private:
    QChar At(qsizetype i) const { return i < FText.size() ? FText[i] : QChar(); }

    // Consumes a line end at FPos, if there is one.
    bool LineEnd()
    {
        if (At(FPos) == QLatin1Char('\r')) {
            FPos += At(FPos + 1) == QLatin1Char('\n') ? 2 : 1;
        } else if (At(FPos) == QLatin1Char('\n')) {
            ++FPos;
        } else {
            return false;
        }
        ++FLine;
        return true;
    }

    TCSVRecord ReadRecord()
    {
        TCSVRecord record;
        record.Line = FLine;
        for (;;) {
            QString value;
            bool quoted = false;
            if (At(FPos) == QLatin1Char('"')) {
                quoted = true;
                ReadQuoted(value);
            } else {
                const qsizetype start = FPos;
                while (FPos < FText.size() && FText[FPos] != FSeparator && FText[FPos] != QLatin1Char('\n')
                       && FText[FPos] != QLatin1Char('\r'))
                    ++FPos;
                value = FText.mid(start, FPos - start);
            }
            record.Values << value;
            record.Nulls.push_back(!quoted && value.isEmpty());
            if (FPos >= FText.size() || LineEnd())
                return record;
            if (FText[FPos] != FSeparator)
                throw ECSVError(FLine, QStringLiteral("после закрывающей кавычки стоит \"%1\", а не разделитель "
                                                      "\"%2\" или конец строки")
                                           .arg(FText[FPos])
                                           .arg(FSeparator));
            ++FPos;
        }
    }

    void ReadQuoted(QString& value)
    {
        const int opened = FLine;
        ++FPos;
        for (;;) {
            if (FPos >= FText.size())
                throw ECSVError(opened, QStringLiteral("кавычка, открытая в этой строке, не закрыта"));
            const QChar c = FText[FPos];
            if (c == QLatin1Char('"')) {
                if (At(FPos + 1) != QLatin1Char('"')) {
                    ++FPos;
                    return;
                }
                value += c;
                FPos += 2;
                continue;
            }
            if (c == QLatin1Char('\n') || (c == QLatin1Char('\r') && At(FPos + 1) != QLatin1Char('\n')))
                ++FLine;
            value += c;
            ++FPos;
        }
    }

    const QString& FText;
    QChar FSeparator;
    qsizetype FPos = 0;
    int FLine = 1;
};

} // namespace

ECSVError::ECSVError(int line, const QString& reason) : Exception(reason), FLine(line) {}

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
    TCSVReader reader(text, separator);
    TCSVRecord record;
    while (reader.Next(record))
        records.push_back(std::move(record));
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
            if (IsNumericType(type))
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

namespace {

// The file's text: UTF-8, or else the system's ANSI code page (as Russian
// spreadsheets save CSV), never UTF-8 with its faults replaced.
QString DecodeCSV(QByteArray bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    QStringDecoder ansi("windows-1251");
    return ansi.decode(bytes);
}

// The fields the header names, in its order; the reason when a title names
// no field of the data set or a field twice.
struct THeader
{
    std::vector<TField*> Fields; // null for a calculated or lookup field, which is skipped
    QString Fault;
};

THeader MatchHeader(TDataSet& dataSet, const TCSVRecord& header)
{
    THeader result;
    std::vector<const TField*> seen;
    for (const QString& title : header.Values) {
        const QString name = title.trimmed();
        TField* field = dataSet.FindField(name);
        if (!field)
            for (TField* candidate : dataSet.Fields())
                if (candidate->DisplayName().compare(name, Qt::CaseInsensitive) == 0)
                    field = candidate;
        if (!field) {
            result.Fault = name.isEmpty() ? QStringLiteral("у столбца %1 нет названия").arg(result.Fields.size() + 1)
                                          : QStringLiteral("в таблице нет поля \"%1\"").arg(name.left(80));
            return result;
        }
        if (std::find(seen.begin(), seen.end(), field) != seen.end()) {
            result.Fault = QStringLiteral("поле \"%1\" названо в заголовке дважды").arg(name);
            return result;
        }
        seen.push_back(field);
        result.Fields.push_back(field->FieldKind() == fkData ? field : nullptr);
    }
    return result;
}

// The separator under which the header names fields of the data set: the
// one asked for, or else one of the other common ones; the header under the
// one asked for with its fault when none fits.
std::pair<QChar, THeader> FindSeparator(TDataSet& dataSet, const QString& text, QChar asked)
{
    THeader first;
    for (const QChar separator : {asked, QChar(u';'), QChar(u','), QChar(u'\t')}) {
        if (separator != asked && text.indexOf(separator) < 0)
            continue;
        TCSVRecord header;
        TCSVReader reader(text, separator);
        try {
            if (!reader.Next(header))
                return {asked, THeader()};
        } catch (const ECSVError&) {
            if (separator == asked)
                throw;
            continue;
        }
        THeader matched = MatchHeader(dataSet, header);
        if (matched.Fault.isEmpty())
            return {separator, std::move(matched)};
        if (separator == asked)
            first = std::move(matched);
    }
    return {asked, std::move(first)};
}

} // namespace

int ImportFromCSV(TDataSet& dataSet, const QString& fileName, const TCSVOptions& options)
{
    dataSet.CheckActive();
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw Exception(QStringLiteral("Не удалось открыть файл \"%1\": %2").arg(fileName, file.errorString()));
    const QString text = DecodeCSV(file.readAll());
    const auto fault = [&](int line, const QString& reason) {
        return Exception(QStringLiteral("Строка %1 файла \"%2\": %3").arg(line).arg(fileName, reason));
    };

    // The whole file is read and checked before the first row is added.
    std::vector<TCSVRecord> records;
    std::vector<TField*> fields;
    try {
        const auto [separator, header] = FindSeparator(dataSet, text, options.Separator);
        if (!header.Fault.isEmpty())
            throw ECSVError(1, header.Fault);
        fields = header.Fields;
        records = ParseCSV(text, separator);
    } catch (const ECSVError& error) {
        throw fault(error.Line(), error.Message());
    }
    if (records.empty())
        return 0;
    for (size_t r = 1; r < records.size(); ++r)
        if (static_cast<size_t>(records[r].Values.size()) != fields.size())
            throw fault(records[r].Line, QStringLiteral("значений %1, а в заголовке столбцов %2")
                                             .arg(records[r].Values.size())
                                             .arg(fields.size()));

    dataSet.CheckBrowseMode();
    TControlsDisabled quiet(dataSet);
    int added = 0;
    for (size_t r = 1; r < records.size(); ++r) {
        const TCSVRecord& record = records[r];
        dataSet.Append();
        try {
            for (size_t i = 0; i < fields.size(); ++i)
                if (fields[i])
                    ImportText(*fields[i], record.Values[static_cast<int>(i)], record.Nulls[i]);
            dataSet.Post();
        } catch (const Exception& error) {
            dataSet.Cancel();
            throw fault(record.Line, error.Message());
        }
        ++added;
    }
    return added;
}
