// The user-session protocol as both ends speak it: the session functions in
// the server (libfbsession.so) and the framework's client (TUserSession).
// Header only and standard C++ alone, since the plugin links no Qt.
#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace SessionProtocol {

// What f_LockRecord and F_PostEvent return; each code means one thing.
// F_UNLOCKRECORD answers a yes or no instead (1 when the session held the
// lock), and f_RegisterUserSession the new handle.
enum TResult : int32_t {
    Ok = 0,
    // The lock could not be recorded.
    OutOfMemory = -100,
    // The call named no record (a null row address).
    NoRecord = -200,
    // No session of the database has that handle: never registered,
    // unregistered, forgotten with its attachment, or no session registered
    // with the database in this process at all.
    UnknownSession = -400,
    // An unknown database. The functions never answer it: a database without
    // sessions gives UnknownSession, as it always has. The client still reads
    // it, with a message of its own.
    UnknownDatabase = -450,
    // Another live session holds the record.
    LockedByOther = -1100,
};

// The event kind of a change to a record (F_PostEvent's event_kind).
inline constexpr int32_t RecordChangeKind = 10;
// The kind of the line that stands for events the server dropped because
// their reader fell too far behind: sent by no session (0), the number of
// lines dropped as its parameter, no record, no table. Its reader has missed
// changes and must refresh whatever it shows.
inline constexpr int32_t EventsLostKind = -1;

// One change event as F_GetEvents hands it over: one line
// "sender;param;kind;operation;record;table", each line ended by "\n". The
// sender is the public number of the sending session (never its handle); the
// record is the row address in 16 hexadecimal digits; the table comes last,
// since its name may hold ";". A line break in a value becomes a space.
struct TEventLine
{
    int32_t Sender = 0;
    int32_t Param = 0;
    int32_t Kind = 0;
    int32_t Operation = 0;
    std::string RecordHex;
    std::string TableName; // UTF-8

    bool operator==(const TEventLine&) const = default;
};

inline constexpr char EventSeparator = ';';
inline constexpr char EventEnd = '\n';
// A row address (RDB$DB_KEY of a table) is 8 bytes.
inline constexpr size_t RecordBytes = 8;
inline constexpr size_t RecordHexDigits = 2 * RecordBytes;

namespace Detail {

inline std::string OneLine(std::string_view text)
{
    std::string line(text);
    for (char& c : line)
        if (c == '\n' || c == '\r')
            c = ' ';
    return line;
}

inline bool ParseInt(std::string_view text, int32_t& value)
{
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    return error == std::errc() && stop == end && !text.empty();
}

inline bool IsHex(std::string_view text)
{
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

} // namespace Detail

// The line of an event, without its end; the record keeps no separator.
inline std::string FormatEventLine(const TEventLine& event)
{
    std::string record = Detail::OneLine(event.RecordHex);
    for (char& c : record)
        if (c == EventSeparator)
            c = ' ';
    const std::string separator(1, EventSeparator);
    return std::to_string(event.Sender) + separator + std::to_string(event.Param) + separator
           + std::to_string(event.Kind) + separator + std::to_string(event.Operation) + separator + record + separator
           + Detail::OneLine(event.TableName);
}

// The event of one line (without its end); nothing when the line is not one:
// fewer than six fields, a number that is not one, or a record that is not
// 16 hexadecimal digits.
inline std::optional<TEventLine> ParseEventLine(std::string_view line)
{
    std::string_view fields[5];
    for (std::string_view& field : fields) {
        const size_t separator = line.find(EventSeparator);
        if (separator == std::string_view::npos)
            return std::nullopt;
        field = line.substr(0, separator);
        line.remove_prefix(separator + 1);
    }
    TEventLine event;
    if (!Detail::ParseInt(fields[0], event.Sender) || !Detail::ParseInt(fields[1], event.Param)
        || !Detail::ParseInt(fields[2], event.Kind) || !Detail::ParseInt(fields[3], event.Operation))
        return std::nullopt;
    if (fields[4].size() != RecordHexDigits || !Detail::IsHex(fields[4]))
        return std::nullopt;
    event.RecordHex = fields[4];
    event.TableName = line;
    return event;
}

} // namespace SessionProtocol
