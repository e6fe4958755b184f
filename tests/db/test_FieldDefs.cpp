// Field and index definitions.
#include "Exceptions.h"
#include "FieldDefs.h"
#include "IndexDefs.h"

#include <gtest/gtest.h>

namespace {

TEST(FieldDefs, AddNumbersFindsWithoutCaseAndReportsMissingNames)
{
    TFieldDefs defs;
    defs.Add(QStringLiteral("SYS$ID"), ftInteger, 0, true);
    defs.Add(QStringLiteral("NAME"), ftString, 40);
    TFieldDef& address = defs.Add(QStringLiteral("IBX_INTERNAL_DBKEY"), ftBytes, 8);

    EXPECT_EQ(defs.Count(), 3);
    EXPECT_EQ(defs[0].FieldNo(), 1);
    EXPECT_EQ(address.FieldNo(), 3);
    EXPECT_EQ(address.Index(), 2);
    EXPECT_TRUE(defs[0].Required());
    EXPECT_FALSE(defs[1].Required());
    EXPECT_EQ(defs.IndexOf(QStringLiteral("name")), 1);
    EXPECT_EQ(defs.Find(QStringLiteral("Sys$Id")), &defs[0]);
    EXPECT_EQ(defs.Find(QStringLiteral("PRICE")), nullptr);
    try {
        defs.FieldDefByName(QStringLiteral("PRICE"));
        FAIL();
    } catch (const EDatabaseError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Field 'PRICE' not found"));
    }

    defs.Delete(defs.IndexOf(QStringLiteral("IBX_INTERNAL_DBKEY")));
    EXPECT_EQ(defs.Names(), QStringList({"SYS$ID", "NAME"}));
    EXPECT_THROW(defs[5], EAssertionFailed);
}

TEST(FieldDefs, AttributesAndCopies)
{
    TFieldDefs defs;
    TFieldDef& price = defs.Add(QStringLiteral("PRICE"), ftBCD, 2);
    price.SetPrecision(18);
    price.SetAttributes(faReadonly);
    price.SetInternalCalcField(true);
    price.SetRequired(true);
    EXPECT_TRUE(price.ReadOnly() && price.Required());
    price.SetRequired(false);
    EXPECT_TRUE(price.ReadOnly());
    EXPECT_FALSE(price.Required());

    TFieldDefs copy;
    copy.Assign(defs);
    ASSERT_EQ(copy.Count(), 1);
    EXPECT_EQ(copy[0].DataType(), ftBCD);
    EXPECT_EQ(copy[0].Size(), 2);
    EXPECT_EQ(copy[0].Precision(), 18);
    EXPECT_TRUE(copy[0].ReadOnly());
    EXPECT_TRUE(copy[0].InternalCalcField());
}

TEST(FieldDefs, ChangesInsideAnUpdateAreReportedOnce)
{
    TFieldDefs defs;
    int changes = 0;
    defs.OnChange = [&] { ++changes; };
    defs.Add(QStringLiteral("A"), ftInteger);
    EXPECT_EQ(changes, 1);

    defs.BeginUpdate();
    defs.BeginUpdate();
    defs.Clear();
    defs.Add(QStringLiteral("B"), ftString, 10).SetRequired(true);
    defs.EndUpdate();
    EXPECT_EQ(changes, 1) << "nothing until the outer EndUpdate";
    defs.EndUpdate();
    EXPECT_EQ(changes, 2);

    defs.BeginUpdate();
    defs.EndUpdate();
    EXPECT_EQ(changes, 2) << "an update without changes reports nothing";
}

TEST(IndexDefs, FieldListsNamesAndLookups)
{
    EXPECT_EQ(SplitFieldList(QStringLiteral(" SYS$ID ; NAME;;PRICE ")), QStringList({"SYS$ID", "NAME", "PRICE"}));
    EXPECT_TRUE(SplitFieldList(QString()).isEmpty());

    TIndexDefs defs;
    defs.Add(QStringLiteral("RDB$PRIMARY1"), QStringLiteral("SYS$ID"), ixPrimary | ixUnique);
    TIndexDef& byName = defs.Add(QStringLiteral("BY_NAME"), QStringLiteral("NAME;PRICE"), ixCaseInsensitive);
    EXPECT_EQ(defs.Find(QStringLiteral("by_name")), &byName);
    EXPECT_EQ(defs.FindByFields(QStringLiteral("name; price")), &byName);
    EXPECT_EQ(defs.FindByFields(QStringLiteral("NAME")), nullptr);
    EXPECT_EQ(byName.FieldList(), QStringList({"NAME", "PRICE"}));
    EXPECT_TRUE(defs[0].Options() & ixPrimary);
    try {
        defs.IndexByName(QStringLiteral("NOPE"));
        FAIL();
    } catch (const EDatabaseError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Index 'NOPE' not found"));
    }

    TIndexDefs copy;
    copy.Assign(defs);
    EXPECT_EQ(copy.Count(), 2);
    EXPECT_EQ(copy[1].Fields(), QStringLiteral("NAME;PRICE"));
}

} // namespace
