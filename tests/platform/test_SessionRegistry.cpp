// The session functions' registry and the protocol both ends speak, without
// a server: sessions and who may use them, record locks, the event queues,
// the claim that keeps a database's sessions in one process, and the event
// line.
#include "SessionProtocol.h"
#include "SessionRegistry.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

using namespace UserSessions;
using SessionProtocol::TEventLine;

namespace {

const std::string Db = "/data/goods.fdb";
const std::string Other = "/data/other.fdb";
const TRecordId Row1("\x01\0\0\0\0\0\0\0", 8);
const TRecordId Row2("\x02\0\0\0\0\0\0\0", 8);
constexpr TEventBudget Plenty{1 << 30, 1 << 30};

// Processes that claim databases, as the lock files would show them: one
// registry stands for one process.
struct TWorld
{
    std::map<std::string, int> Holders; // database -> process
};

class TWorldClaims : public TProcessClaims
{
public:
    TWorldClaims(std::shared_ptr<TWorld> world, int process) : FWorld(std::move(world)), FProcess(process) {}

    std::unique_ptr<TProcessClaim> Claim(const std::string& database) override
    {
        CheckNotClaimedElsewhere(database);
        FWorld->Holders[database] = FProcess;
        return std::make_unique<TWorldClaim>(FWorld, database);
    }
    void CheckNotClaimedElsewhere(const std::string& database) override
    {
        const auto holder = FWorld->Holders.find(database);
        if (holder != FWorld->Holders.end() && holder->second != FProcess)
            throw TClaimedElsewhere(database, std::to_string(holder->second));
    }

private:
    struct TWorldClaim : TProcessClaim
    {
        TWorldClaim(std::shared_ptr<TWorld> world, std::string database)
            : World(std::move(world)), Database(std::move(database))
        {
        }
        ~TWorldClaim() override { World->Holders.erase(Database); }
        std::shared_ptr<TWorld> World;
        std::string Database;
    };
    std::shared_ptr<TWorld> FWorld;
    int FProcess;
};

// Raw handle bits from the list, then counting on from 1000.
THandleSource Bits(std::vector<uint32_t> bits)
{
    auto next = std::make_shared<size_t>(0);
    return [bits = std::move(bits), next]() -> uint32_t {
        const size_t i = (*next)++;
        return i < bits.size() ? bits[i] : static_cast<uint32_t>(1000 + i);
    };
}

TRegistry Process(THandleSource handles = RandomBits, std::shared_ptr<TWorld> world = std::make_shared<TWorld>(),
                  int process = 1)
{
    return TRegistry(std::move(handles), std::make_shared<TWorldClaims>(std::move(world), process));
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find(SessionProtocol::EventEnd, start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    EXPECT_EQ(start, text.size()) << "every line is ended";
    return lines;
}

// What one take hands over, as lines.
std::vector<std::string> Take(TRegistry& registry, const std::string& database, const std::string& caller,
                              int32_t handle, TEventBudget budget = Plenty)
{
    std::string text;
    registry.TakeEvents(database, caller, handle, budget, [&](const std::string& given) { text = given; });
    return Lines(text);
}

TEventLine Change(const std::string& table, int32_t operation = 0)
{
    return {0, 0, SessionProtocol::RecordChangeKind, operation, "0100000000000000", table};
}

} // namespace

TEST(SessionRegistry, HandlesAreRandomAboveZeroAndNeverInUse)
{
    // 0 and a value that is 0 in 31 bits are never given; nor is a handle
    // in use, in any database.
    TRegistry registry = Process(Bits({0, 0x80000000u, 5, 0x80000005u, 7, 5, 9}));
    EXPECT_EQ(registry.Register(Db, 7, 100, "ANNA"), 5);
    EXPECT_EQ(registry.Register(Db, 8, 200, "BORIS"), 7);
    EXPECT_EQ(registry.Register(Other, 7, 100, "ANNA"), 9);

    TRegistry random = Process();
    std::set<int32_t> handles;
    for (int i = 0; i < 500; ++i)
        handles.insert(random.Register(Db, i, 100, "ANNA"));
    EXPECT_EQ(handles.size(), 500u);
    EXPECT_GT(*handles.begin(), 0);
    EXPECT_GT(*handles.rbegin(), 1 << 24) << "spread over 31 bits, not counted";
}

TEST(SessionRegistry, SessionsAreNumberedInPublicAndGoWithTheirAttachment)
{
    TRegistry registry = Process();
    const int32_t a = registry.Register(Db, 7, 100, "ANNA");
    const int32_t b = registry.Register(Db, 8, 200, "BORIS");
    const int32_t c = registry.Register(Db, 9, 200, "BORIS");
    const int32_t elsewhere = registry.Register(Other, 7, 100, "ANNA");

    TSession session;
    ASSERT_TRUE(registry.SessionOf(Db, "BORIS", b, session));
    EXPECT_EQ(session.Number, 2);
    EXPECT_EQ(session.UserId, 8);
    EXPECT_EQ(session.AttachmentId, 200);
    EXPECT_EQ(session.UserName, "BORIS");
    ASSERT_TRUE(registry.SessionOf(Other, "ANNA", elsewhere, session));
    EXPECT_EQ(session.Number, 1) << "another database counts on its own";

    EXPECT_EQ(registry.Lock(Db, "BORIS", b, Row1).Result, SessionProtocol::Ok);
    registry.Forget(Db, 200); // both of BORIS's sessions and their locks
    EXPECT_FALSE(registry.SessionOf(Db, "BORIS", b, session));
    EXPECT_FALSE(registry.SessionOf(Db, "BORIS", c, session));
    EXPECT_TRUE(registry.SessionOf(Db, "ANNA", a, session));
    EXPECT_FALSE(registry.Holder(Db, Row1).Locked);

    EXPECT_TRUE(registry.Unregister(Db, "ANNA", a));
    EXPECT_FALSE(registry.SessionOf(Db, "ANNA", a, session));
    EXPECT_FALSE(registry.Unregister(Db, "ANNA", a)) << "twice";
    registry.Forget("/data/never.fdb", 1); // harmless
}

// Whoever knows a handle reaches the session only as its owner's database
// user: another user's calls find no session, the owner's other attachments
// (its listener) use it.
TEST(SessionRegistry, OnlyTheOwnersAttachmentsReachASession)
{
    TRegistry registry = Process();
    const int32_t anna = registry.Register(Db, 7, 100, "ANNA");
    const int32_t boris = registry.Register(Db, 8, 200, "BORIS");
    ASSERT_EQ(registry.Lock(Db, "ANNA", anna, Row1).Result, SessionProtocol::Ok);
    Take(registry, Db, "ANNA", anna); // ANNA listens
    std::vector<int64_t> longQueues;
    ASSERT_TRUE(registry.Post(Db, "BORIS", boris, Change("GOODS"), longQueues));

    EXPECT_EQ(registry.Lock(Db, "BORIS", anna, Row2).Result, SessionProtocol::UnknownSession);
    EXPECT_FALSE(registry.Unlock(Db, "BORIS", anna, Row1));
    EXPECT_TRUE(registry.Holder(Db, Row1).Locked) << "her lock stays";
    EXPECT_FALSE(registry.Post(Db, "BORIS", anna, Change("GOODS"), longQueues)) << "no events in her name";
    bool handedOver = false;
    EXPECT_EQ(registry.TakeEvents(Db, "BORIS", anna, Plenty, [&](const std::string&) { handedOver = true; }), 0u);
    EXPECT_FALSE(handedOver) << "her events stay hers";
    TSession session;
    EXPECT_FALSE(registry.SessionOf(Db, "BORIS", anna, session)) << "no audit in her name";
    EXPECT_FALSE(registry.Unregister(Db, "BORIS", anna));

    // Her listener is an attachment of her own user: all works for it.
    EXPECT_EQ(Take(registry, Db, "ANNA", anna), std::vector<std::string>({"2;0;10;0;0100000000000000;GOODS"}));
    EXPECT_TRUE(registry.Unlock(Db, "ANNA", anna, Row1));
    EXPECT_TRUE(registry.Unregister(Db, "ANNA", anna));
}

TEST(SessionRegistry, LocksAnswerForTheirHolder)
{
    TRegistry registry = Process();
    const int32_t anna = registry.Register(Db, 7, 100, "ANNA");
    const int32_t boris = registry.Register(Db, 8, 200, "BORIS");
    const auto user = [&](int32_t handle) { return handle == anna ? "ANNA" : "BORIS"; };

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
    };
    for (const Step& step : steps)
        EXPECT_EQ(registry.Lock(Db, user(step.Session), step.Session, step.Record).Result, step.Result) << step.What;
    EXPECT_EQ(registry.Lock(Db, "ANNA", anna ^ boris, Row2).Result, SessionProtocol::UnknownSession);
    // A database nobody registered with knows no session either: the same
    // answer, never UnknownDatabase, which the client shows differently.
    EXPECT_EQ(registry.Lock(Other, "ANNA", anna, Row1).Result, SessionProtocol::UnknownSession);
    EXPECT_FALSE(registry.Holder(Other, Row1).Locked) << "a lock belongs to its database";
    EXPECT_FALSE(registry.Unlock(Other, "ANNA", anna, Row1));

    const TLockAttempt refused = registry.Lock(Db, "BORIS", boris, Row1);
    EXPECT_EQ(refused.HolderAttachment, 100) << "whose attachment to ask about";
    EXPECT_EQ(refused.HolderUser, "ANNA");

    const TLockHolder holder = registry.Holder(Db, Row1);
    ASSERT_TRUE(holder.Locked);
    EXPECT_EQ(holder.Session.Handle, anna);
    EXPECT_EQ(holder.Session.Number, 1);
    EXPECT_EQ(holder.Session.UserName, "ANNA");

    EXPECT_FALSE(registry.Unlock(Db, "BORIS", boris, Row1)) << "another session's lock stays";
    EXPECT_TRUE(registry.Holder(Db, Row1).Locked);
    EXPECT_TRUE(registry.Unlock(Db, "ANNA", anna, Row1));
    EXPECT_FALSE(registry.Unlock(Db, "ANNA", anna, Row1));
    EXPECT_EQ(registry.Lock(Db, "BORIS", boris, Row1).Result, SessionProtocol::Ok);

    registry.Unregister(Db, "BORIS", boris); // its locks go with it
    EXPECT_FALSE(registry.Holder(Db, Row1).Locked);
    EXPECT_FALSE(registry.Holder(Db, Row2).Locked);
}

TEST(SessionRegistry, EventsReachEveryOtherListenerInOrderAndInPieces)
{
    TRegistry registry = Process();
    const int32_t sender = registry.Register(Db, 1, 100, "A");
    const int32_t listener = registry.Register(Db, 2, 200, "B");
    const int32_t silent = registry.Register(Db, 3, 300, "C");
    std::vector<int64_t> longQueues;
    EXPECT_TRUE(Take(registry, Db, "B", listener).empty()) << "asking makes a listener";

    for (const char* table : {"ONE", "TWO", "ТРИ"})
        ASSERT_TRUE(registry.Post(Db, "A", sender, Change(table), longQueues));
    EXPECT_TRUE(Take(registry, Db, "A", sender).empty()) << "not to itself";
    EXPECT_TRUE(Take(registry, Db, "C", silent).empty()) << "it never asked: it collected nothing";

    // Whole lines within the budget, oldest first, the sender by its public
    // number; the rest wait. A line of n characters takes n + 1 of the
    // budget, "ТРИ" six bytes for three characters.
    const std::string one = "1;0;10;0;0100000000000000;ONE";
    const std::string three = "1;0;10;0;0100000000000000;ТРИ";
    EXPECT_EQ(Take(registry, Db, "B", listener, {2 * (one.size() + 1), 1000}),
              std::vector<std::string>({one, "1;0;10;0;0100000000000000;TWO"}));
    EXPECT_TRUE(Take(registry, Db, "B", listener, {one.size() + 1, three.size()}).empty()) << "too many bytes";
    EXPECT_TRUE(Take(registry, Db, "B", listener, {one.size(), 1000}).empty()) << "too many characters";
    EXPECT_EQ(Take(registry, Db, "B", listener, {one.size() + 1, three.size() + 1}), std::vector<std::string>({three}));
    EXPECT_TRUE(Take(registry, Db, "B", listener).empty());
    EXPECT_TRUE(longQueues.empty());
}

TEST(SessionRegistry, LinesLeaveTheQueueOnlyOnceHandedOver)
{
    TRegistry registry = Process();
    const int32_t sender = registry.Register(Db, 1, 100, "A");
    const int32_t reader = registry.Register(Db, 2, 200, "B");
    Take(registry, Db, "B", reader);
    std::vector<int64_t> longQueues;
    registry.Post(Db, "A", sender, Change("ONE"), longQueues);
    registry.Post(Db, "A", sender, Change("TWO"), longQueues);

    EXPECT_THROW(registry.TakeEvents(Db, "B", reader, Plenty,
                                     [](const std::string&) { throw std::runtime_error("the result was refused"); }),
                 std::runtime_error);
    EXPECT_EQ(Take(registry, Db, "B", reader).size(), 2u) << "nothing lost";
    EXPECT_TRUE(Take(registry, Db, "B", reader).empty());
}

TEST(SessionRegistry, EventsStayInTheirDatabaseAndGoWithTheirReader)
{
    TRegistry registry = Process();
    const int32_t sender = registry.Register(Db, 1, 100, "A");
    const int32_t reader = registry.Register(Db, 2, 200, "B");
    registry.Register(Db, 3, 300, "C"); // keeps the database's state once B goes
    const int32_t elsewhere = registry.Register(Other, 4, 400, "B");
    Take(registry, Db, "B", reader);
    Take(registry, Other, "B", elsewhere);
    std::vector<int64_t> longQueues;

    ASSERT_TRUE(registry.Post(Db, "A", sender, Change("T"), longQueues));
    EXPECT_TRUE(Take(registry, Other, "B", elsewhere).empty());
    EXPECT_FALSE(registry.Post(Other, "A", sender, Change("T"), longQueues)) << "no such sender there";

    // Unregistered with lines unread: they go, and the handle reads nothing more.
    registry.Unregister(Db, "B", reader);
    ASSERT_TRUE(registry.Post(Db, "A", sender, Change("T"), longQueues));
    EXPECT_TRUE(Take(registry, Db, "B", reader).empty());
    TSession session;
    EXPECT_FALSE(registry.SessionOf(Db, "B", reader, session)) << "taking does not bring a session back";
    EXPECT_TRUE(registry.SessionOf(Other, "B", elsewhere, session));
}

// A queue that overflows is replaced by one line that says so: the reader
// learns it missed changes instead of silently missing the oldest.
TEST(SessionRegistry, AnOverflowingQueueTellsItsReader)
{
    TRegistry registry = Process();
    const int32_t sender = registry.Register(Db, 1, 100, "A");
    const int32_t reader = registry.Register(Db, 2, 200, "B");
    Take(registry, Db, "B", reader);
    std::vector<int64_t> longQueues;
    const auto post = [&](size_t count) {
        for (size_t i = 0; i < count; ++i)
            registry.Post(Db, "A", sender, Change("T" + std::to_string(i)), longQueues);
    };
    const auto marker = [](const std::string& line) {
        const auto event = SessionProtocol::ParseEventLine(line);
        return event && event->Kind == SessionProtocol::EventsLostKind ? std::optional<int32_t>(event->Param)
                                                                       : std::nullopt;
    };

    post(MaxQueue + 5);
    // Asked about once per long stretch, then once more as it fills again.
    EXPECT_EQ(longQueues.size(), MaxQueue / LongQueue);
    EXPECT_EQ(longQueues.front(), 200);
    std::vector<std::string> lines = Take(registry, Db, "B", reader);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(marker(lines[0]), static_cast<int32_t>(MaxQueue)) << lines[0];
    EXPECT_EQ(SessionProtocol::ParseEventLine(lines[1])->Sender, 1);
    EXPECT_EQ(SessionProtocol::ParseEventLine(lines[1])->TableName, "T" + std::to_string(MaxQueue));
    EXPECT_EQ(SessionProtocol::ParseEventLine(lines[5])->TableName, "T" + std::to_string(MaxQueue + 4));

    // Overflowing twice before a read: one marker counts both.
    post(2 * MaxQueue);
    lines = Take(registry, Db, "B", reader);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(marker(lines[0]), static_cast<int32_t>(2 * MaxQueue - 1));
    EXPECT_FALSE(marker(lines[1]));
    // Read: the count starts again.
    post(MaxQueue + 1);
    lines = Take(registry, Db, "B", reader);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(marker(lines[0]), static_cast<int32_t>(MaxQueue));
}

// Two processes on one database: the one that registers first keeps its
// sessions until its last one goes; the other is told so, in words, as it
// registers and as it names a session.
TEST(SessionRegistry, OneProcessKeepsADatabasesSessions)
{
    auto world = std::make_shared<TWorld>();
    TRegistry first = Process(RandomBits, world, 1);
    TRegistry second = Process(RandomBits, world, 2);
    const int32_t anna = first.Register(Db, 7, 100, "ANNA");
    const int32_t boris = first.Register(Db, 8, 200, "BORIS");

    try {
        second.Register(Db, 9, 300, "CLARA");
        ADD_FAILURE() << "a second process registered";
    } catch (const TClaimedElsewhere& e) {
        const std::string text = e.what();
        EXPECT_NE(text.find(Db), std::string::npos) << text;
        EXPECT_NE(text.find("pid 1"), std::string::npos) << text;
        EXPECT_NE(text.find("SuperServer"), std::string::npos) << text;
    }
    EXPECT_THROW(second.Lock(Db, "ANNA", anna, Row1), TClaimedElsewhere);
    EXPECT_THROW(second.Holder(Db, Row1), TClaimedElsewhere);
    EXPECT_NO_THROW(second.Register(Other, 9, 300, "CLARA")) << "another database is free";
    EXPECT_THROW(first.Register(Other, 7, 100, "ANNA"), TClaimedElsewhere);

    first.Unregister(Db, "ANNA", anna);
    EXPECT_THROW(second.Register(Db, 9, 300, "CLARA"), TClaimedElsewhere) << "BORIS is still there";
    first.Forget(Db, 200);
    TSession session;
    EXPECT_FALSE(first.SessionOf(Db, "BORIS", boris, session));
    EXPECT_NO_THROW(second.Register(Db, 9, 300, "CLARA")) << "the last session gone, so is the claim";
    EXPECT_THROW(first.Register(Db, 7, 100, "ANNA"), TClaimedElsewhere);
}

// The claim by lock file, across real processes.
TEST(SessionRegistry, TheLockFileKeepsOtherProcessesOut)
{
    char pattern[] = "/tmp/sessionclaimXXXXXX";
    ASSERT_TRUE(mkdtemp(pattern));
    const std::filesystem::path dir(pattern);
    const std::string database = (dir / "goods.fdb").string();
    const std::string lockFile = TFileClaims::LockFileOf(database);
    TFileClaims claims;
    // What another process gets: 0 when refused with TClaimedElsewhere, 1
    // when it could claim, 2 on anything else.
    const auto otherProcess = [&] {
        const pid_t child = fork();
        if (child == 0) {
            int code = 2;
            try {
                TFileClaims().Claim(database);
                code = 1;
            } catch (const TClaimedElsewhere&) {
                code = 0;
            } catch (...) {
            }
            _exit(code);
        }
        int status = 0;
        waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };

    EXPECT_NO_THROW(claims.CheckNotClaimedElsewhere(database)) << "no file: nobody";
    {
        const auto claim = claims.Claim(database);
        std::string pid;
        std::ifstream(lockFile) >> pid;
        EXPECT_EQ(pid, std::to_string(getpid()));
        EXPECT_EQ(otherProcess(), 0);
        EXPECT_THROW(claims.CheckNotClaimedElsewhere(database), TClaimedElsewhere)
            << "asked from anywhere but the claim itself";
    }
    EXPECT_FALSE(std::filesystem::exists(lockFile)) << "removed with the claim";
    EXPECT_EQ(otherProcess(), 1);

    // A file its dead holder left behind holds nothing.
    std::ofstream(lockFile) << "12345\n";
    EXPECT_NO_THROW(claims.CheckNotClaimedElsewhere(database));
    EXPECT_NO_THROW(claims.Claim(database));

    // A folder the engine may not write: said so.
    std::filesystem::remove_all(dir);
    try {
        claims.Claim(database);
        ADD_FAILURE() << "claimed in a missing folder";
    } catch (const TRegistryError& e) {
        EXPECT_NE(std::string(e.what()).find(lockFile), std::string::npos) << e.what();
    }
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
