#include "PendingEdit.h"

#include "Application.h"
#include "DataSet.h"
#include "Dialogs.h"

QString PendingEditQuestion() { return QStringLiteral("Запись изменена. Сохранить изменения?"); }

bool ResolvePendingEdit(TDataSet& dataSet)
{
    if (!dataSet.Active() || (dataSet.State() != dsEdit && dataSet.State() != dsInsert))
        return true;
    dataSet.UpdateRecord(); // what the controls still hold counts as typed
    if (!dataSet.Modified()) {
        dataSet.Cancel();
        return true;
    }
    const TApplication* application = Application();
    const TModalResult answer = application && !application->Interactive()
                                    ? mrYes
                                    : MessageDlg(PendingEditQuestion(), mtConfirmation, mbYesNoCancel);
    switch (answer) {
    case mrYes: dataSet.Post(); return true;
    case mrNo: dataSet.Cancel(); return true;
    default: return false;
    }
}
