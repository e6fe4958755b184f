// The script that gives a fresh database the framework's own objects.
#include "IBSQL.h"
#include "IBTestDatabase.h"

#include <gtest/gtest.h>

#include <QMap>
#include <QSet>

namespace {

// Rows of a one- or two-column query; the second column (when there is one)
// is the value, right-trimmed like the first.
QMap<QString, QString> Query(TIBDatabase& db, const QString& text)
{
    TIBTransaction transaction;
    transaction.SetDefaultDatabase(&db);
    transaction.StartTransaction();
    TIBSQL sql;
    sql.SetTransaction(&transaction);
    sql.SQL().SetText(text);
    QMap<QString, QString> rows;
    for (sql.ExecQuery(); !sql.Eof(); sql.Next())
        rows.insert(sql.Fields(0).AsString().trimmed(),
                    sql.FieldCount() > 1 ? sql.Fields(1).AsString().trimmed() : QString());
    sql.Close();
    transaction.Commit();
    return rows;
}

TEST(FrameworkSchema, CreatesGeneratorAndTablesInWin1251)
{
    TIBTestDatabase test(QStringLiteral("UTF8"));
    test.CreateFrameworkSchema();
    TIBDatabase& db = test.Database();

    EXPECT_EQ(Query(db, QStringLiteral("select RDB$RELATION_NAME from RDB$RELATIONS "
                                       "where coalesce(RDB$SYSTEM_FLAG, 0) = 0"))
                  .keys(),
              QStringList({"SYS$AUDIT", "SYS$LIST_KIND", "SYS_USER"}));
    EXPECT_EQ(Query(db, QStringLiteral("select RDB$GENERATOR_NAME from RDB$GENERATORS "
                                       "where coalesce(RDB$SYSTEM_FLAG, 0) = 0"))
                  .keys(),
              QStringList({"MAIN_GEN", "SYS$AUDIT_GEN"}));

    // The names are WIN1251 even in a database whose default is another set.
    const auto charsets = Query(
        db,
        QStringLiteral("select trim(RF.RDB$RELATION_NAME) || '.' || trim(RF.RDB$FIELD_NAME), C.RDB$CHARACTER_SET_NAME "
                       "from RDB$RELATION_FIELDS RF join RDB$FIELDS F on F.RDB$FIELD_NAME = RF.RDB$FIELD_SOURCE "
                       "join RDB$CHARACTER_SETS C on C.RDB$CHARACTER_SET_ID = F.RDB$CHARACTER_SET_ID "
                       "where RF.RDB$FIELD_NAME = 'NAME'"));
    EXPECT_EQ(charsets, (QMap<QString, QString>{{"SYS_USER.NAME", "WIN1251"}, {"SYS$LIST_KIND.NAME", "WIN1251"}}));

    // Each caller gets the next block of identities.
    EXPECT_EQ(Query(db, QStringLiteral("select gen_id(main_gen, 1) from rdb$database")).keys(), QStringList({"1"}));
    EXPECT_EQ(Query(db, QStringLiteral("select gen_id(main_gen, 10) from rdb$database")).keys(), QStringList({"11"}));

    // A user and a list kind by their keys, with a Cyrillic name.
    test.Execute(QStringLiteral("insert into SYS_USER (SYS$ID, NAME) values (gen_id(main_gen, 1), 'Иванов')"));
    test.Execute(QStringLiteral("insert into SYS$LIST_KIND (SYS$ID, NAME) values (gen_id(main_gen, 1), 'Склады')"));
    EXPECT_EQ(Query(db, QStringLiteral("select SYS$ID, NAME from SYS_USER where SYS$STATE = 0")),
              (QMap<QString, QString>{{"12", "Иванов"}}));
    EXPECT_EQ(Query(db, QStringLiteral("select NAME from SYS$LIST_KIND")).keys(), QStringList({"Склады"}));
}

} // namespace
