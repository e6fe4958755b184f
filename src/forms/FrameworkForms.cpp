#include "FrameworkForms.h"

#include "SDataSource.h"
#include "UKORRGR.h"
#include "uFilterDlg.h"
#include "uIterators.h"
#include "uRecordAttribs.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProgressDialog>

namespace {

// The progress of a long group operation in a modal window with a stop
// button; redrawn a few times a second, not for every row.
class TGroupProgressDialog : public TGroupOperationProgress
{
public:
    TGroupProgressDialog(const QString& caption, int total)
        : FDialog(caption.isEmpty() ? QStringLiteral("Групповая операция") : caption, QStringLiteral("Прервать"), 0,
                  total, QApplication::activeWindow())
    {
        FDialog.setWindowTitle(QStringLiteral("Групповая операция"));
        FDialog.setWindowModality(Qt::ApplicationModal);
        FDialog.setMinimumDuration(500);
        FDialog.setAutoReset(false);
        FDialog.setAutoClose(false);
        FClock.start();
    }

    bool Advance(int walked) override
    {
        if (FClock.elapsed() >= 100) {
            FClock.restart();
            FDialog.setValue(walked); // a modal dialog handles its events here
        }
        return !FDialog.wasCanceled();
    }

private:
    QProgressDialog FDialog;
    QElapsedTimer FClock;
};

} // namespace

void InstallFrameworkForms()
{
    TSDataSource::FilterDialog = ShowFilterDialog;
    TSDataSource::RecordAttributesForm = ShowRecordAttributesForm;
    GroupOperationAskValue = AskTypedValue;
    GroupOperationProgress = [](const QString& caption, int total) -> std::unique_ptr<TGroupOperationProgress> {
        return std::make_unique<TGroupProgressDialog>(caption, total);
    };
}
