#include "FrameworkForms.h"

#include "SDataSource.h"
#include "uFilterDlg.h"
#include "uRecordAttribs.h"

void InstallFrameworkForms()
{
    TSDataSource::FilterDialog = ShowFilterDialog;
    TSDataSource::RecordAttributesForm = ShowRecordAttributesForm;
}
