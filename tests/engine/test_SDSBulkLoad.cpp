// Numbers, dates and times through the data set's bulk load, on embedded
// Firebird: the rows that go straight into the table must hold what a field
// given the same server value would hold (the row-by-row load sets every
// value through its field).
#include "SDS.h"

#include "DateTime.h"
#include "IBDatabase.h"
#include "IBTestDatabase.h"

#include "QtPrinters.h"
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

namespace {

const char* const Schema = R"(
CREATE TABLE VALS (
  SYS$ID INTEGER NOT NULL PRIMARY KEY,
  MONEY NUMERIC(15,2),
  WIDE NUMERIC(18,4),
  SHORT NUMERIC(4,1),
  FINE NUMERIC(9,6),
  RATIO DOUBLE PRECISION,
  STAMP TIMESTAMP,
  MADE DATE,
  AT_TIME TIME);
INSERT INTO VALS VALUES (1, 0, 0, 0, 0, 0, '1899-12-30 00:00:00', '1899-12-30', '00:00:00');
INSERT INTO VALS VALUES (2, 0.01, -0.0001, 0.1, 0.000001, 0.1, '1899-12-29 23:59:59.999', '1899-12-29', '23:59:59.999');
INSERT INTO VALS VALUES (3, -0.01, 1.0005, -0.1, -123.456789, -1e300, '0001-01-01 00:00:00.001', '0001-01-01', '12:00:00');
INSERT INTO VALS VALUES (4, 123456789012.34, 12345678901234.5678, 999.9, 2147.483647, 3.141592653589793, '9999-12-31 23:59:59.999', '9999-12-31', '00:00:00.001');
INSERT INTO VALS VALUES (5, -9999999999999.99, -9999999999.9999, -999.9, 0.1, 2.5e-300, '1800-05-06 13:14:15.123', '1800-05-06', '13:14:15.123');
INSERT INTO VALS VALUES (6, 80.1, 80.1, 80.1, 80.1, 80.1, '2026-12-10 07:30:00.5', '2026-12-10', '07:30:00.5');
INSERT INTO VALS VALUES (7, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL);
)";

// Every value of every row, as the bits of its double (null: no entry).
std::vector<std::vector<uint64_t>> Values(TDataSet& dataSet)
{
    std::vector<std::vector<uint64_t>> rows;
    for (dataSet.First(); !dataSet.Eof(); dataSet.Next()) {
        std::vector<uint64_t>& row = rows.emplace_back();
        for (TField* field : dataSet.Fields())
            if (!field->IsNull() && field->DataType() != ftBytes) {
                const double value = field->AsFloat();
                uint64_t bits;
                std::memcpy(&bits, &value, sizeof bits);
                row.push_back(bits);
            }
    }
    return rows;
}

class SDSBulkLoadTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        FTestDb.ExecuteScript(QString::fromUtf8(Schema));
        FTransaction.SetDefaultDatabase(&FTestDb.Database());
    }

    // rowByRow: a record handler makes the load set every value through its field.
    std::unique_ptr<TSDS> NewSDS(bool rowByRow)
    {
        auto sds = std::make_unique<TSDS>();
        sds->SetDatabase(&FTestDb.Database());
        sds->SetTransaction(&FTransaction);
        sds->SetTableName(QStringLiteral("VALS"));
        if (rowByRow)
            sds->OnRecordLoaded = [](TDataSet*) {};
        return sds;
    }

    TIBTestDatabase FTestDb;
    TIBTransaction FTransaction;
};

TEST_F(SDSBulkLoadTest, ValuesLoadAsTheirFieldsHoldThem)
{
    auto direct = NewSDS(false);
    auto rowByRow = NewSDS(true);
    direct->Open();
    rowByRow->Open();
    ASSERT_EQ(direct->RecordCount(), 7);
    EXPECT_EQ(Values(*direct), Values(*rowByRow));

    // Decimal columns keep their decimal value, the widest ones too.
    direct->First();
    direct->MoveBy(3);
    EXPECT_EQ(direct->FieldByName("MONEY")->AsFloat(), 123456789012.34);
    EXPECT_EQ(direct->FieldByName("WIDE")->AsFloat(), 12345678901234.5678);
    EXPECT_EQ(direct->FieldByName("FINE")->AsFloat(), 2147.483647);
    direct->Next();
    EXPECT_EQ(direct->FieldByName("MONEY")->AsFloat(), -9999999999999.99);
    EXPECT_EQ(direct->FieldByName("SHORT")->AsFloat(), -999.9);
    EXPECT_NEAR(direct->FieldByName("STAMP")->AsDateTime(), EncodeDate(1800, 5, 6) - EncodeTime(13, 14, 15, 123), 1e-9);
    direct->Last();
    EXPECT_TRUE(direct->FieldByName("MONEY")->IsNull());
    EXPECT_TRUE(direct->FieldByName("STAMP")->IsNull());
}

TEST_F(SDSBulkLoadTest, NarrowerFieldsCutTheirValues)
{
    // Fewer decimals than the column, and a date for a timestamp.
    std::unique_ptr<TSDS> sets[] = {NewSDS(false), NewSDS(true)};
    for (auto& sds : sets) {
        auto* money = new TBCDField(sds.get());
        money->SetFieldName(QStringLiteral("MONEY"));
        money->SetSize(1);
        money->SetDataSet(sds.get());
        auto* day = new TDateField(sds.get());
        day->SetFieldName(QStringLiteral("STAMP"));
        day->SetDataSet(sds.get());
        sds->Open();
    }
    EXPECT_EQ(Values(*sets[0]), Values(*sets[1]));
    TField* money = sets[0]->FieldByName("MONEY");
    TField* day = sets[0]->FieldByName("STAMP");
    sets[0]->First();
    sets[0]->Next();
    EXPECT_EQ(money->AsFloat(), 0.0); // 0.01
    EXPECT_EQ(day->AsDateTime(), -1.0);
    sets[0]->MoveBy(2);
    EXPECT_EQ(money->AsFloat(), 123456789012.3);
    EXPECT_EQ(day->AsDateTime(), EncodeDate(9999, 12, 31));
}

TEST_F(SDSBulkLoadTest, ADecimalBeyondItsPrecisionFailsTheLoad)
{
    // NUMERIC(4,1) is stored in a SMALLINT, which holds more than four digits.
    FTestDb.Execute(QStringLiteral("UPDATE VALS SET SHORT = 1000.0 WHERE SYS$ID = 4"));
    for (const bool rowByRow : {false, true}) {
        SCOPED_TRACE(rowByRow);
        auto sds = NewSDS(rowByRow);
        EXPECT_THROW(sds->Open(), EConvertError);
    }
}

} // namespace
