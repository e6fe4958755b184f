// The clipboard of the copy and paste services: marks its text as Russian,
// so that programs which convert text by the clipboard's locale read the
// Cyrillic letters right. The locale travels as a format of ours beside the
// text: a 32-bit identifier, little-endian (1049 for Russian).
#pragma once

#include "Clipboard.h"

#include <cstdint>

class TRusClipboard : public TClipboard
{
public:
    // The locale's format on the clipboard.
    static const QString LocaleFormat;

    // Stores the locale identifier on the open clipboard beside what this
    // session wrote; it does not empty the clipboard. A failure (a closed
    // clipboard, nothing written yet) is silent. The pattern of the callers:
    // Open, SetLocale(1049), write or read the text, SetLocale(1049), Close.
    void SetLocale(uint32_t localeId);
    // The locale stored with the clipboard's content, or 0 when there is none.
    uint32_t Locale();
};
