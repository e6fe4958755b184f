#include "FrameworkForms.h"

#include "SDataSource.h"
#include "uFilterDlg.h"

void InstallFrameworkForms() { TSDataSource::FilterDialog = ShowFilterDialog; }
