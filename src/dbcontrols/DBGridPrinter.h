// Prints a grid's shown rows: page header and footer (left, centre and right
// texts), a title and texts before and after the grid on the first and last
// pages, column titles repeated on every page. Texts may hold the page
// macros &[Page], &[Pages], &[Date], &[ShortDate], &[Time] and &[Title], and
// substitutions of the caller's own (SetSubstitution("%[Today]", ...)).
// Settings stay from one print to the next, whichever grid is attached.
#pragma once

#include "EnumSet.h"

#include <QMap>
#include <QObject>
#include <QPageLayout>
#include <QPointer>
#include <QString>

class QPagedPaintDevice;
class QPainter;
class QPrinter;
class QWidget;
class TDBGridEx;

enum TGridPrintOption {
    gpoFitToPageWidth, // shrink the grid when its columns are wider than the page
    gpoColored,        // cell colours as the grid paints them
};
using TGridPrintOptions = TEnumSet<TGridPrintOption>;

struct TPrintTexts
{
    QString LeftText;
    QString CenterText;
    QString RightText;
    void Clear() { *this = TPrintTexts(); }
    bool IsEmpty() const { return LeftText.isEmpty() && CenterText.isEmpty() && RightText.isEmpty(); }
};

class TDBGridPrinter : public QObject
{
    Q_OBJECT
public:
    explicit TDBGridPrinter(QObject* owner = nullptr);
    ~TDBGridPrinter() override;

    // The grid printed; the printer forgets a grid that is destroyed.
    TDBGridEx* DBGrid() const { return FGrid; }
    void SetDBGrid(TDBGridEx* grid) { FGrid = grid; }

    TPrintTexts& PageHeader() { return FHeader; }
    TPrintTexts& PageFooter() { return FFooter; }
    const QString& Title() const { return FTitle; }
    void SetTitle(const QString& title) { FTitle = title; }
    const QString& BeforeGridText() const { return FBeforeGrid; }
    void SetBeforeGridText(const QString& text) { FBeforeGrid = text; }
    const QString& AfterGridText() const { return FAfterGrid; }
    void SetAfterGridText(const QString& text) { FAfterGrid = text; }
    TGridPrintOptions Options() const { return FOptions; }
    void SetOptions(TGridPrintOptions options) { FOptions = options; }
    // Empty: the grid's own font.
    const QString& PrintFontName() const { return FFontName; }
    void SetPrintFontName(const QString& name) { FFontName = name; }
    // Whether the grid's colour hook is asked for each printed cell.
    bool UseCellParams() const { return FUseCellParams; }
    void SetUseCellParams(bool value) { FUseCellParams = value; }
    QPageLayout::Orientation Orientation() const { return FOrientation; }
    void SetOrientation(QPageLayout::Orientation orientation) { FOrientation = orientation; }

    void SetSubstitution(const QString& name, const QString& value) { FSubstitutions[name] = value; }
    QString Substitution(const QString& name) const { return FSubstitutions.value(name); }
    // A text with its macros and substitutions replaced.
    QString ExpandText(const QString& text, int page, int pages) const;

    // The width the visible columns take, in screen pixels.
    int GridWidth() const;
    // Paints every page onto the device (a printer, a PDF writer).
    void PrintTo(QPagedPaintDevice& device);
    void PrintToPdf(const QString& fileName);
    // Prints on the printer it is given (after the caller's print dialog).
    void Print(QPrinter& printer);
    // The preview dialog, modal; it prints from there when asked.
    int Preview(QWidget* parent = nullptr);
    bool Printing() const { return FPrinting; }

private:
    struct TPage
    {
        int FirstRow = 0;
        int EndRow = 0;     // one past the last row on the page
        bool First = false; // title and the text before the grid
        bool Last = false;  // the text after the grid
    };
    struct TLayout;
    std::vector<TPage> Paginate(const TLayout& layout) const;
    void PaintPage(QPainter& painter, const TLayout& layout, const TPage& page, int number, int pages) const;
    int PaintTable(QPainter& painter, const TLayout& layout, const TPage& page, int top) const;

    QPointer<TDBGridEx> FGrid;
    TPrintTexts FHeader;
    TPrintTexts FFooter;
    QString FTitle;
    QString FBeforeGrid;
    QString FAfterGrid;
    TGridPrintOptions FOptions{gpoFitToPageWidth};
    QString FFontName;
    bool FUseCellParams = true;
    QPageLayout::Orientation FOrientation = QPageLayout::Portrait;
    QMap<QString, QString> FSubstitutions;
    bool FPrinting = false;
};
