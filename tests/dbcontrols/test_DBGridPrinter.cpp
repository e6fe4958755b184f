// The grid printer: a PDF with the page header and footer, the title, the
// texts around the grid and the rows, macros and substitutions replaced.
#include "DBGridEx.h"
#include "DBGridPrinter.h"
#include "DataSetFixture.h"
#include "PdfText.h"
#include "QtPrinters.h"
#include "SysUtils.h"

#include <QApplication>
#include <QFile>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

class PrinterTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        FSaved = FormatSettings();
        FormatSettings() = TFormatSettings();
        ASSERT_TRUE(FDir.isValid());
        FTable = dbtest::MakeTable({{1, "Хлеб", 12.5}, {2, "Молоко", 80.1}, {3, "Соль", 7}});
        FSource.SetDataSet(FTable.get());
        FGrid.SetDataSource(&FSource);
        FGrid.resize(500, 300);
        FPrinter.SetDBGrid(&FGrid);
    }
    void TearDown() override { FormatSettings() = FSaved; }

    QString PrintedText()
    {
        const QString file = FDir.filePath(QStringLiteral("grid.pdf"));
        FPrinter.PrintToPdf(file);
        QFile pdf(file);
        EXPECT_TRUE(pdf.open(QIODevice::ReadOnly));
        const QByteArray bytes = pdf.readAll();
        EXPECT_TRUE(bytes.startsWith("%PDF"));
        return pdftest::PdfText(bytes);
    }

    TFormatSettings FSaved;
    QTemporaryDir FDir;
    std::unique_ptr<TCustomMemTable> FTable;
    TDataSource FSource;
    TDBGridEx FGrid;
    TDBGridPrinter FPrinter;
};

TEST_F(PrinterTest, PdfHasHeaderFooterTitleTextsAndRowsWithMacrosReplaced)
{
    const QString today = DateToStr(QDateTimeToDateTime(QDateTime::currentDateTime()));
    FPrinter.SetSubstitution(QStringLiteral("%[Today]"), today);
    FPrinter.PageHeader().LeftText = QStringLiteral("&[ShortDate] Остатки товаров");
    FPrinter.PageHeader().RightText = QStringLiteral("Стр. &[Page]");
    FPrinter.PageFooter().CenterText = QStringLiteral("Напечатано %[Today], всего страниц: &[Pages]");
    FPrinter.SetTitle(QStringLiteral("Товары на складе"));
    FPrinter.SetBeforeGridText(QStringLiteral("Перед таблицей"));
    FPrinter.SetAfterGridText(QStringLiteral("Итого: 3 позиции"));
    const QString text = PrintedText();

    EXPECT_TRUE(text.contains(today + QStringLiteral(" Остатки товаров"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("Стр. 1"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("Напечатано ") + today + QStringLiteral(", всего страниц: 1")))
        << text.toStdString();
    EXPECT_FALSE(text.contains(QStringLiteral("%[Today]")));
    EXPECT_FALSE(text.contains(QStringLiteral("&[")));
    for (const char* expected : {"Товары на складе", "Перед таблицей", "Итого: 3 позиции", "NAME", "Молоко", "80,1"})
        EXPECT_TRUE(text.contains(QString::fromUtf8(expected))) << expected;
    // The texts keep their order on the page.
    EXPECT_LT(text.indexOf(QStringLiteral("Перед таблицей")), text.indexOf(QStringLiteral("Хлеб")));
    EXPECT_LT(text.indexOf(QStringLiteral("Соль")), text.indexOf(QStringLiteral("Итого")));
}

TEST_F(PrinterTest, LongGridsRunOverPagesWithTitlesOnEachAndSettingsKeptBetweenPrints)
{
    FTable->DisableControls();
    for (int i = 4; i <= 300; ++i) {
        FTable->Append();
        FTable->FieldByName(QStringLiteral("ID"))->SetAsInteger(i);
        FTable->FieldByName(QStringLiteral("NAME"))->SetAsString(QStringLiteral("Товар %1").arg(i));
        FTable->Post();
    }
    FTable->EnableControls();
    FPrinter.PageFooter().RightText = QStringLiteral("Стр. &[Page] из &[Pages]");
    const QString text = PrintedText();
    EXPECT_TRUE(text.contains(QStringLiteral("Стр. 2 из "))) << text.left(500).toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("Товар 300")));
    EXPECT_GT(text.count(QStringLiteral("PRICE")), 1); // titles repeated

    // Another grid printed by the same printer keeps the footer.
    TDBGridEx other;
    TDataSource source;
    auto small = dbtest::MakeTable({{7, "Сахар", 1}});
    source.SetDataSet(small.get());
    other.SetDataSource(&source);
    FPrinter.SetDBGrid(&other);
    const QString second = PrintedText();
    EXPECT_TRUE(second.contains(QStringLiteral("Стр. 1 из 1")));
    EXPECT_TRUE(second.contains(QStringLiteral("Сахар")));
    EXPECT_FALSE(second.contains(QStringLiteral("Товар 300")));
}

TEST_F(PrinterTest, ColouredPrintAsksTheGridForCellColoursUnlessSwitchedOff)
{
    int asked = 0;
    FGrid.OnGetCellParams = [&](TDBGridEx*, TCellParams&) { ++asked; };
    FPrinter.SetOptions({gpoFitToPageWidth, gpoColored});
    PrintedText();
    EXPECT_EQ(asked, 3 * 4);
    asked = 0;
    FPrinter.SetUseCellParams(false);
    PrintedText();
    EXPECT_EQ(asked, 0);
    EXPECT_FALSE(FPrinter.Printing());
}

} // namespace

namespace {

TEST_F(PrinterTest, PreviewShowsThePagesInTheChosenOrientation)
{
    FPrinter.SetOrientation(QPageLayout::Landscape);
    int pages = 0;
    QPageLayout::Orientation orientation = QPageLayout::Portrait;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QPrintPreviewDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        if (auto* preview = dialog->findChild<QPrintPreviewWidget*>()) {
            preview->updatePreview();
            pages = preview->pageCount();
            orientation = preview->orientation();
        }
        dialog->reject();
    });
    EXPECT_EQ(FPrinter.Preview(), QDialog::Rejected);
    EXPECT_EQ(pages, 1);
    EXPECT_EQ(orientation, QPageLayout::Landscape);
}

// The picture CI keeps of the print preview, with a header, a title and a
// footer around the rows.
TEST_F(PrinterTest, PreviewScreenshotSavedWhereTheEnvironmentSays)
{
    const QString path = qEnvironmentVariable("PRINT_PREVIEW_SCREENSHOT");
    if (path.isEmpty())
        GTEST_SKIP() << "PRINT_PREVIEW_SCREENSHOT is not set";
    FPrinter.PageHeader().LeftText = QStringLiteral("Остатки товаров");
    FPrinter.PageHeader().RightText = QStringLiteral("&[ShortDate]");
    FPrinter.PageFooter().CenterText = QStringLiteral("Стр. &[Page] из &[Pages]");
    FPrinter.SetTitle(QStringLiteral("Склад № 1"));
    bool written = false;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QPrintPreviewDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        dialog->resize(900, 700);
        if (auto* preview = dialog->findChild<QPrintPreviewWidget*>()) {
            preview->updatePreview();
            preview->fitInView();
        }
        QApplication::processEvents();
        written = dialog->grab().save(path);
        dialog->reject();
    });
    FPrinter.Preview();
    ASSERT_TRUE(written) << path.toStdString();
}

} // namespace
