#include "ServiceActions.h"

namespace {

TServiceActions Published;
bool HighColor = true;
const QList<QIcon>* Images = nullptr;

} // namespace

const TServiceActions& ServiceActions() { return Published; }

void PublishServiceActions(const TServiceActions& actions) { Published = actions; }

QColor MarkedRowColor() { return HighColor ? QColor(224, 255, 192) : QColor(0, 255, 0); }

bool HighColorScreen() { return HighColor; }

void SetScreenColorDepth(int bitsPerPixel) { HighColor = bitsPerPixel > 8; }

const QList<QIcon>* ActionImageList() { return Images; }

void PublishActionImages(const QList<QIcon>* images) { Images = images; }
