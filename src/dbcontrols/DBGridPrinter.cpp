#include "DBGridPrinter.h"

#include "DBGridEx.h"
#include "DBGridGates_p.h"
#include "DateTime.h"
#include "SysUtils.h"

#include <QPainter>
#include <QPdfWriter>
#include <QPrintPreviewDialog>
#include <QPrinter>

#include <algorithm>
#include <cmath>

// Everything is laid out in screen pixels (96 per inch) and scaled onto the
// device; a grid wider than the page scales down as a whole.
struct TDBGridPrinter::TLayout
{
    struct TColumn
    {
        TColumnEx* Column;
        int Index;
        double Width;
    };
    std::vector<TColumn> Columns;
    int Rows = 0;
    double Scale = 1;     // device pixels per layout unit
    double PageWidth = 0; // layout units
    double PageHeight = 0;
    QFont Font, TitleFont, HeaderFont;
    double RowHeight = 0, LineHeight = 0, TitleHeight = 0;
    double BodyTop = 0, BodyBottom = 0;
    double BeforeHeight = 0, AfterHeight = 0;
};

namespace {

const double ScreenDpi = 96.0;

// RAII for the printing flag.
class TPrintingFlag
{
public:
    explicit TPrintingFlag(bool& flag) : FFlag(flag) { FFlag = true; }
    ~TPrintingFlag() { FFlag = false; }
    TPrintingFlag(const TPrintingFlag&) = delete;
    TPrintingFlag& operator=(const TPrintingFlag&) = delete;

private:
    bool& FFlag;
};

double TextHeight(const QFont& font, double width, const QString& text)
{
    if (text.isEmpty())
        return 0;
    const QFontMetricsF metrics(font);
    return metrics.boundingRect(QRectF(0, 0, width, 1e6), Qt::TextWordWrap, text).height();
}

} // namespace

TDBGridPrinter::TDBGridPrinter(QObject* owner) : QObject(owner) {}

TDBGridPrinter::~TDBGridPrinter() = default;

QString TDBGridPrinter::ExpandText(const QString& text, int page, int pages) const
{
    QString result = text;
    for (auto it = FSubstitutions.begin(); it != FSubstitutions.end(); ++it)
        result.replace(it.key(), it.value(), Qt::CaseInsensitive);
    const TDateTime now = QDateTimeToDateTime(QDateTime::currentDateTime());
    const std::pair<QString, QString> macros[] = {
        {QStringLiteral("&[Page]"), QString::number(page)},
        {QStringLiteral("&[Pages]"), QString::number(pages)},
        {QStringLiteral("&[ShortDate]"), DateToStr(now)},
        {QStringLiteral("&[Date]"), FormatDateTime(FormatSettings().LongDateFormat, now)},
        {QStringLiteral("&[Time]"), TimeToStr(now)},
        {QStringLiteral("&[Title]"), FTitle},
    };
    for (const auto& [macro, value] : macros)
        result.replace(macro, value, Qt::CaseInsensitive);
    return result;
}

int TDBGridPrinter::GridWidth() const
{
    if (!FGrid)
        return 0;
    int width = 0;
    for (int c = 0; c < FGrid->Columns().Count(); ++c)
        if (FGrid->Columns()[c]->Visible() && !FGrid->isColumnHidden(c))
            width += FGrid->columnWidth(c) + 1;
    return width;
}

std::vector<TDBGridPrinter::TPage> TDBGridPrinter::Paginate(const TLayout& layout) const
{
    std::vector<TPage> pages;
    TPage page;
    page.First = true;
    double y = layout.BodyTop + layout.TitleHeight + layout.BeforeHeight + layout.RowHeight;
    int row = 0;
    for (;;) {
        page.FirstRow = row;
        while (row < layout.Rows && y + layout.RowHeight <= layout.BodyBottom) {
            y += layout.RowHeight;
            ++row;
        }
        // A page that cannot hold a single row still takes one, or printing never ends.
        if (row == page.FirstRow && row < layout.Rows)
            ++row;
        page.EndRow = row;
        if (row == layout.Rows && y + layout.AfterHeight <= layout.BodyBottom) {
            page.Last = true;
            pages.push_back(page);
            return pages;
        }
        pages.push_back(page);
        page = TPage();
        y = layout.BodyTop + layout.RowHeight;
        if (row == layout.Rows) {
            // Only the text after the grid is left, on a page of its own.
            page.FirstRow = page.EndRow = row;
            page.Last = true;
            pages.push_back(page);
            return pages;
        }
    }
}

void TDBGridPrinter::PrintTo(QPagedPaintDevice& device)
{
    if (!FGrid)
        return;
    TPrintingFlag printing(FPrinting);
    QPageLayout pageLayout = device.pageLayout();
    pageLayout.setOrientation(FOrientation);
    device.setPageLayout(pageLayout);

    TLayout layout;
    const QRect paintRect = device.pageLayout().paintRectPixels(device.logicalDpiX());
    layout.Scale = device.logicalDpiX() / ScreenDpi;
    for (int c = 0; c < FGrid->Columns().Count(); ++c) {
        TColumnEx* column = FGrid->Columns()[c];
        if (column->Visible() && !FGrid->isColumnHidden(c))
            layout.Columns.push_back({column, c, double(FGrid->columnWidth(c) + 1)});
    }
    layout.Rows = FGrid->GridModel()->rowCount();
    double pageWidth = paintRect.width() / layout.Scale;
    const double gridWidth = GridWidth();
    if (FOptions.Contains(gpoFitToPageWidth) && gridWidth > pageWidth - 3) {
        layout.Scale *= (pageWidth - 3) / gridWidth;
        pageWidth = paintRect.width() / layout.Scale;
    }
    layout.PageWidth = pageWidth;
    layout.PageHeight = paintRect.height() / layout.Scale;

    layout.Font = FGrid->font();
    if (!FFontName.isEmpty())
        layout.Font.setFamily(FFontName);
    layout.Font.setPixelSize(std::max(8, QFontInfo(FGrid->font()).pixelSize()));
    layout.HeaderFont = layout.Font;
    layout.TitleFont = layout.Font;
    layout.TitleFont.setBold(true);
    layout.TitleFont.setPixelSize(layout.Font.pixelSize() * 3 / 2);
    const QFontMetricsF metrics(layout.Font);
    layout.LineHeight = metrics.height();
    layout.RowHeight = std::ceil(metrics.height() + 4);
    const double headerHeight = FHeader.IsEmpty() ? 0 : layout.LineHeight * 1.5;
    const double footerHeight = FFooter.IsEmpty() ? 0 : layout.LineHeight * 1.5;
    layout.BodyTop = headerHeight;
    layout.BodyBottom = layout.PageHeight - footerHeight;
    layout.TitleHeight = FTitle.isEmpty() ? 0 : TextHeight(layout.TitleFont, pageWidth, FTitle) + layout.LineHeight / 2;
    layout.BeforeHeight = FBeforeGrid.isEmpty()
                              ? 0
                              : TextHeight(layout.Font, pageWidth, FBeforeGrid) + layout.LineHeight / 2;
    layout.AfterHeight = FAfterGrid.isEmpty() ? 0
                                              : TextHeight(layout.Font, pageWidth, FAfterGrid) + layout.LineHeight / 2;

    const std::vector<TPage> pages = Paginate(layout);
    QPainter painter(&device);
    for (size_t i = 0; i < pages.size(); ++i) {
        if (i > 0)
            device.newPage();
        painter.save();
        painter.scale(layout.Scale, layout.Scale);
        PaintPage(painter, layout, pages[i], static_cast<int>(i) + 1, static_cast<int>(pages.size()));
        painter.restore();
    }
}

void TDBGridPrinter::PaintPage(QPainter& painter, const TLayout& layout, const TPage& page, int number, int pages) const
{
    const auto paintTexts = [&](const TPrintTexts& texts, double top) {
        painter.setFont(layout.HeaderFont);
        const QRectF line(0, top, layout.PageWidth, layout.LineHeight);
        painter.drawText(line, Qt::AlignLeft | Qt::AlignVCenter, ExpandText(texts.LeftText, number, pages));
        painter.drawText(line, Qt::AlignHCenter | Qt::AlignVCenter, ExpandText(texts.CenterText, number, pages));
        painter.drawText(line, Qt::AlignRight | Qt::AlignVCenter, ExpandText(texts.RightText, number, pages));
    };
    painter.setPen(Qt::black);
    if (!FHeader.IsEmpty())
        paintTexts(FHeader, 0);
    if (!FFooter.IsEmpty())
        paintTexts(FFooter, layout.PageHeight - layout.LineHeight);

    double top = layout.BodyTop;
    if (page.First) {
        if (!FTitle.isEmpty()) {
            painter.setFont(layout.TitleFont);
            painter.drawText(QRectF(0, top, layout.PageWidth, layout.TitleHeight), Qt::AlignHCenter | Qt::TextWordWrap,
                             ExpandText(FTitle, number, pages));
            top += layout.TitleHeight;
        }
        if (!FBeforeGrid.isEmpty()) {
            painter.setFont(layout.Font);
            painter.drawText(QRectF(0, top, layout.PageWidth, layout.BeforeHeight), Qt::TextWordWrap,
                             ExpandText(FBeforeGrid, number, pages));
            top += layout.BeforeHeight;
        }
    }
    if (page.EndRow > page.FirstRow || !page.Last || page.First)
        top = PaintTable(painter, layout, page, static_cast<int>(top));
    if (page.Last && !FAfterGrid.isEmpty()) {
        painter.setFont(layout.Font);
        painter.drawText(QRectF(0, top + layout.LineHeight / 2, layout.PageWidth, layout.AfterHeight), Qt::TextWordWrap,
                         ExpandText(FAfterGrid, number, pages));
    }
}

int TDBGridPrinter::PaintTable(QPainter& painter, const TLayout& layout, const TPage& page, int top) const
{
    painter.setFont(layout.Font);
    const QPen gridPen(QColor(128, 128, 128), 0);
    double y = top;
    // The column titles on every page.
    double x = 0;
    for (const auto& column : layout.Columns) {
        const QRectF cell(x, y, column.Width, layout.RowHeight);
        painter.fillRect(cell, QColor(230, 230, 230));
        painter.setPen(gridPen);
        painter.drawRect(cell);
        painter.setPen(Qt::black);
        painter.drawText(cell.adjusted(2, 0, -2, 0), int(column.Column->Title().Alignment() | Qt::AlignVCenter),
                         column.Column->Title().Caption());
        x += column.Width;
    }
    y += layout.RowHeight;
    const bool colored = FOptions.Contains(gpoColored) && FUseCellParams;
    TDBGridModel& model = *FGrid->GridModel();
    for (int row = page.FirstRow; row < page.EndRow; ++row) {
        x = 0;
        model.WithRow(row, [&] {
            for (const auto& column : layout.Columns) {
                const QRectF cell(x, y, column.Width, layout.RowHeight);
                TCellParams params;
                params.Column = column.Column;
                params.Row = row;
                params.Background = column.Column->Color();
                if (colored)
                    TDBGridPrinterGate::GetCellParams(*FGrid, params);
                if (colored && params.Background.isValid())
                    painter.fillRect(cell, params.Background);
                painter.setPen(gridPen);
                painter.drawRect(cell);
                painter.setPen(colored && params.Foreground.isValid() ? params.Foreground : QColor(Qt::black));
                const QString text = TDBGridPrinterGate::CellText(*FGrid, *column.Column);
                painter.drawText(cell.adjusted(2, 0, -2, 0), int(column.Column->Alignment() | Qt::AlignVCenter),
                                 painter.fontMetrics().elidedText(text, Qt::ElideRight, int(column.Width - 4)));
                x += column.Width;
            }
        });
        y += layout.RowHeight;
    }
    return static_cast<int>(y);
}

void TDBGridPrinter::PrintToPdf(const QString& fileName)
{
    QPdfWriter writer(fileName);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setResolution(300);
    writer.setPageMargins(QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
    writer.setCreator(QStringLiteral("TDBGridPrinter"));
    writer.setTitle(FTitle);
    PrintTo(writer);
}

void TDBGridPrinter::Print(QPrinter& printer) { PrintTo(printer); }

int TDBGridPrinter::Preview(QWidget* parent)
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageOrientation(FOrientation);
    QPrintPreviewDialog dialog(&printer, parent ? parent : FGrid.data());
    connect(&dialog, &QPrintPreviewDialog::paintRequested, this, [this](QPrinter* target) { PrintTo(*target); });
    return dialog.exec();
}
