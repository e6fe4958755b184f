#include "Vcerterr.h"

#include "Text.h"
#include "vcert1.h"

#include <array>

QString VCertErrorText(int32_t code)
{
    if (code == VCERT_LIB_NOT_LOADED) {
        QString text = QStringLiteral("Не найдена библиотека %1 или один из ее компонентов").arg(VCertLibName);
        if (const QString error = VCertLoadError(); !error.isEmpty())
            text += QStringLiteral(": ") + error;
        return text;
    }
    if (code == VCERT_FUNCTION_MISSING)
        return QStringLiteral("В библиотеке %1 отсутствует функция %2").arg(VCertLibName, VCertMissingFunction());
    if (VCertLibStatus() != 0)
        return QStringLiteral("Неизвестная ошибка");

    constexpr int32_t size = 1024;
    std::array<char, size> buffer{};
    reinterpret_cast<VCERT_GetErrorText_t>(VCertProc(fnGetErrorText))(code, buffer.data(), size);
    const QByteArray text(buffer.data(), qstrnlen(buffer.data(), size));
    return AnsiToString(Trim(text));
}
