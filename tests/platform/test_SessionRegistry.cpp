// The session functions' registry and the protocol both ends speak, without
// a server: sessions, record locks, the event queues and the event line.
#include "SessionProtocol.h"
#include "SessionRegistry.h"

#include <gtest/gtest.h>

#include <cstdint>

using namespace UserSessions;
using SessionProtocol::TEventLine;

namespace {

const std::string Db = "/data/goods.fdb";
const std::string Other = "/data/other.fdb";
const TRecordId Row1("\x01\0\0\0\0\0\0\0", 8);
const TRecordId Row2("\x02\0\0\0\0\0\0\0", 8);

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find(SessionProtocol::EventEnd, start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    EXPECT_EQ(start, text.size()) << "every line is ended";
    return lines;
}

} // namespace

TEST(SessionRegistry, HandlesArePerDatabaseAndSessionsGoWithTheirAttachment)
{
    TRegistry registry;
    const int32_t a = registry.Register(Db, 7, 100, "ANNA");
    const int32_t b = registry.Register(Db, 8, 200, "BORIS");
    const int32_t c = registry.Register(Db, 9, 200, "BORIS");
    EXPECT_EQ(registry.Register(Other, 7, 100, "ANNA"), 1) << "another database counts on its own";
    EXPECT_EQ(std::vector<int32_t>({a, b, c}), std::vector<int32_t>({1, 2, 3}));

    TSession session;
    ASSERT_TRUE(registry.SessionOf(Db, b, session));
    EXPECT_EQ(session.UserId, 8);
    EXPECT_EQ(session.AttachmentId, 200);
    EXPECT_EQ(session.UserName, "BORIS");

    EXPECT_EQ(registry.Lock(Db, b, Row1).Result, SessionProtocol::Ok);
    registry.Forget(Db, 200); // both of BORIS's sessions and their locks
    EXPECT_FALSE(registry.SessionOf(Db, b, session));
    EXPECT_FALSE(registry.SessionOf(Db, c, session));
    EXPECT_TRUE(registry.SessionOf(Db, a, session));
    EXPECT_FALSE(registry.Holder(Db, Row1).Locked);

    registry.Unregister(Db, a);
    EXPECT_FALSE(registry.SessionOf(Db, a, session));
    EXPECT_EQ(registry.Register(Db, 7, 100, "ANNA"), 4) << "a handle is never given twice";
}

TEST(SessionRegistry, LocksAnswerForTheirHolder)
{
    TRegistry registry;
    const int32_t anna = registry.Register(Db, 7, 100, "ANNA");
    const int32_t boris = registry.Register(Db, 8, 200, "BORIS");

    struct Step
    {
        const char* What;
        int32_t Session;
        TRecordId Record;
        SessionProtocol::TResult Result;
    };
    const Step steps[] = {
        {"a free record", anna, Row1, SessionProtocol::Ok},
        {"asked twice: still hers", anna, Row1, SessionProtocol::Ok},
        {"another session", boris, Row1, SessionProtocol::LockedByOther},
        {"another record", boris, Row2, SessionProtocol::Ok},
        {"an unknown session", 99, Row2, SessionProtocol::UnknownSession},
    };
    for (const Step& step : steps)
        EXPECT_EQ(registry.Lock(Db, step.Session, step.Record).Result, step.Result) << step.What;
    // A database nobody registered with knows no session either: the same
    // answer, never UnknownDatabase, which the client shows differently.
    EXPECT_EQ(registry.Lock(Other, anna, Row1).Result, SessionProtocol::UnknownSession);
    EXPECT_FALSE(registry.Holder(Other, Row1).Locked) << "a lock belongs to its database";
    EXPECT_FALSE(registry.Unlock(Other, anna, Row1));

    const TLockAttempt refused = registry.Lock(Db, boris, Row1);
    EXPECT_EQ(refused.HolderAttachment, 100) << "whose attachment to ask about";
    EXPECT_EQ(refused.HolderUser, "ANNA");

    const TLockHolder holder = registry.Holder(Db, Row1);
    ASSERT_TRUE(holder.Locked);
    EXPECT_EQ(holder.Session.Handle, anna);
    EXPECT_EQ(holder.Session.UserName, "ANNA");

    EXPECT_FALSE(registry.Unlock(Db, boris, Row1)) << "another session's lock stays";
    EXPECT_TRUE(registry.Holder(Db, Row1).Locked);
    EXPECT_TRUE(registry.Unlock(Db, anna, Row1));
    EXPECT_FALSE(registry.Unlock(Db, anna, Row1));
    EXPECT_EQ(registry.Lock(Db, boris, Row1).Result, SessionProtocol::Ok);

    registry.Unregister(Db, boris); // its locks go with it
    EXPECT_FALSE(registry.Holder(Db, Row1).Locked);
    EXPECT_FALSE(registry.Holder(Db, Row2).Locked);
}

TEST(SessionRegistry, EventsReachEveryOtherListenerInOrderAndInPieces)
{
    TRegistry registry;
    const int32_t sender = registry.Register(Db, 1, 100, "A");
    const int32_t listener = registry.Register(Db, 2, 200, "B");
    const int32_t silent = registry.Register(Db, 3, 300, "C");
    std::vector<int64_t> longQueues;
    EXPECT_EQ(registry.TakeEvents(Db, listener, 8000), "") << "asking makes a listener";

    EXPECT_FALSE(registry.Post(Db, 99, "lost", longQueues)) << "an unknown sender";
    for (const char* line : {"first", "second", "third"})
        ASSERT_TRUE(registry.Post(Db, sender, line, longQueues));
    EXPECT_EQ(registry.TakeEvents(Db, sender, 8000), "") << "not to itself";
    EXPECT_EQ(registry.TakeEvents(Db, silent, 8000), "") << "it never asked: it collected nothing";

    // A take hands over whole lines that fit, oldest first; the rest wait.
    EXPECT_EQ(Lines(registry.TakeEvents(Db, listener, 13)), std::vector<std::string>({"first", "second"}));
    EXPECT_EQ(Lines(registry.TakeEvents(Db, listener, 8000)), std::vector<std::string>({"third"}));
    EXPECT_EQ(registry.TakeEvents(Db, listener, 8000), "");
    EXPECT_TRUE(longQueues.empty());
}

TEST(SessionRegistry, EventsStayInTheirDatabaseAndGoWithTheirReader)
{
    TRegistry registry;
    const int32_t sender = registry.Register(Db, 1, 100, "A");
    const int32_t reader = registry.Register(Db, 2, 200, "B");
    registry.Register(Other, 3, 300, "C");
    const int32_t elsewhere = registry.Register(Other, 4, 400, "D");
    ASSERT_EQ(elsewhere, reader) << "the reader's handle in another database";
    registry.TakeEvents(Db, reader, 0);
    registry.TakeEvents(Other, elsewhere, 0);
    std::vector<int64_t> longQueues;

    ASSERT_TRUE(registry.Post(Db, sender, "to B", longQueues));
    EXPECT_EQ(registry.TakeEvents(Other, elsewhere, 8000), "");
    EXPECT_FALSE(registry.Post(Other, 3, "no such sender there", longQueues));

    // Unregistered with lines unread: they go, and the handle reads nothing more.
    registry.Unregister(Db, reader);
    ASSERT_TRUE(registry.Post(Db, sender, "after B", longQueues));
    EXPECT_EQ(registry.TakeEvents(Db, reader, 8000), "");
    TSession session;
    EXPECT_FALSE(registry.SessionOf(Db, reader, session)) << "taking does not bring a session back";
    registry.Unregister(Db, reader); // twice: harmless
    registry.Unregister("/data/never.fdb", 1);
    EXPECT_TRUE(registry.SessionOf(Other, elsewhere, session));
}

TEST(SessionRegistry, AReaderThatStopsReadingIsReportedAndKeepsTheNewestLines)
{
    TRegistry registry;
    const int32_t sender = registry.Register(Db, 1, 100, "A");
    const int32_t reader = registry.Register(Db, 2, 200, "B");
    registry.TakeEvents(Db, reader, 0);
    std::vector<int64_t> longQueues;
    for (size_t i = 0; i < MaxQueue + 5; ++i)
        registry.Post(Db, sender, std::to_string(i), longQueues);
    // Asked about once per long stretch, then, the queue full, at every post.
    EXPECT_EQ(longQueues.size(), MaxQueue / LongQueue + 5);
    EXPECT_EQ(longQueues.front(), 200);
    const std::vector<std::string> kept = Lines(registry.TakeEvents(Db, reader, 64 * MaxQueue));
    ASSERT_EQ(kept.size(), MaxQueue);
    EXPECT_EQ(kept.front(), "5") << "the oldest went";
    EXPECT_EQ(kept.back(), std::to_string(MaxQueue + 4));
}

TEST(SessionProtocol, EventLinesRoundTrip)
{
    const TEventLine cases[] = {
        {3, 0, SessionProtocol::RecordChangeKind, 2, "0201000000000000", "GOODS"},
        {1, -5, 10, 0, "00000000000000FF", "O'Brien;s"},
        {12, 3, 10, 1, "abcdef0123456789", "Товары;склад"},
        {2, 0, 10, 0, "0100000000000000", ""},
        {INT32_MAX, INT32_MIN, -1, 0, "FFFFFFFFFFFFFFFF", ";"},
    };
    for (const TEventLine& event : cases) {
        const std::string line = SessionProtocol::FormatEventLine(event);
        EXPECT_EQ(line.find(SessionProtocol::EventEnd), std::string::npos) << line;
        EXPECT_EQ(SessionProtocol::ParseEventLine(line), event) << line;
    }
    EXPECT_EQ(SessionProtocol::FormatEventLine({3, 0, 10, 2, "0201000000000000", "GOODS"}),
              "3;0;10;2;0201000000000000;GOODS");

    // A null record is written as an empty field, and such a line is no event.
    const std::string noRecord = SessionProtocol::FormatEventLine({4, 0, 10, 1, "", "GOODS"});
    EXPECT_EQ(noRecord, "4;0;10;1;;GOODS");
    EXPECT_FALSE(SessionProtocol::ParseEventLine(noRecord));
    // A separator in the record cannot move the table name.
    EXPECT_EQ(SessionProtocol::FormatEventLine({4, 0, 10, 1, "01;02", "GOODS"}), "4;0;10;1;01 02;GOODS");

    // A line break in a value cannot split the event.
    const auto broken = SessionProtocol::ParseEventLine(
        SessionProtocol::FormatEventLine({1, 0, 10, 0, "0100000000000000", "A\nB\r"}));
    ASSERT_TRUE(broken);
    EXPECT_EQ(broken->TableName, "A B ");
}

TEST(SessionProtocol, LinesThatAreNotEventsAreRefused)
{
    for (const char* line : {
             "",
             "1;0;10;0;0100000000000000",   // no table
             "1;0;10;0;01;T",               // a short record
             "1;0;10;0;01000000000000zz;T", // not hexadecimal
             "1;0;x;0;0100000000000000;T",  // a kind that is no number
             "1;0;10;;0100000000000000;T",  // no operation
             "1;0;10;0 ;0100000000000000;T",
         })
        EXPECT_FALSE(SessionProtocol::ParseEventLine(line)) << line;
}
