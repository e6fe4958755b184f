#include "status.h"

#include <iterator>

namespace vpki1 {
namespace {

struct StatusEntry
{
    int32_t code;
    const char* text;
};

// The only place the codes get their texts.
constexpr StatusEntry kStatusTexts[] = {
    {kOk, "Операция выполнена успешно"},
    {kInvalidArgument, "Неверный параметр функции"},
    {kUnknownHandle, "Неизвестный дескриптор хранилища"},
    {kStoreUnavailable, "Не удалось открыть или создать хранилище сертификатов"},
    {kMalformedObject, "Данные повреждены или не являются объектом в кодировке DER"},
    {kUnsupportedKind, "Неподдерживаемый тип импортируемого объекта"},
    {kCrlNotNewer, "Список отзыва сертификатов не новее уже установленного"},
    {kNotSupported, "Функция не поддерживается этой библиотекой"},
    {kWriteFailed, "Ошибка записи в хранилище сертификатов"},
    {kEmptyStoreName, "Не указано имя хранилища"},
    {kBadStoreName, "Недопустимое имя хранилища"},
    {kInternalError, "Внутренняя ошибка библиотеки"},
};

thread_local int32_t detailCode = kOk;
thread_local std::string detailText;

} // namespace

void SetStatusDetail(int32_t code, std::string detail)
{
    detailCode = code;
    detailText = std::move(detail);
}

void ClearStatusDetail() { SetStatusDetail(kOk, {}); }

std::string StatusDetail(int32_t code) { return code == detailCode ? detailText : std::string(); }

std::string StatusText(int32_t code)
{
    for (const StatusEntry& entry : kStatusTexts) {
        if (entry.code == code)
            return entry.text;
    }
    return "Неизвестная ошибка библиотеки (код " + std::to_string(code) + ")";
}

} // namespace vpki1
