#include "uIterators.h"

bool OnlyMarkedGroupOperations = false;

void RunGroupOperation(TSDataSource*, TField*, TGroupOperationKind) { OnlyMarkedGroupOperations = false; }
