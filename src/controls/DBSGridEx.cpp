#include "DBSGridEx.h"

#include "SDataSource.h"

TDBSGridEx::TDBSGridEx(QWidget* parent) : TDBGridEx(parent) {}

TSDataSource* TDBSGridEx::SDataSource() const { return dynamic_cast<TSDataSource*>(DataSource()); }

bool TDBSGridEx::CanEditRecords() const { return CanUpdate(); }

bool TDBSGridEx::CanInsertRecords() const { return CanInsert() || CanAppend(); }

bool TDBSGridEx::CanDeleteRecords() const { return CanDelete(); }

void TDBSGridEx::InsertAfterCurrent() { InsertRecord(); }

void TDBSGridEx::DuplicateField() {}

void TDBSGridEx::DuplicateFieldsRight() {}

bool TDBSGridEx::UpdateAction(TAction&) { return false; }
