// The compact row store: every column type round trips, nulls stay null,
// rows keep identity and natural order.
#include "MemRowStore.h"

#include <gtest/gtest.h>

namespace {

TEST(MemRowStore, EveryTypeRoundTripsAndNullsStayNull)
{
    const std::vector<TMemRowStore::TColumn> columns = {
        {ftString, 10},  {ftSmallint, 0}, {ftInteger, 0}, {ftWord, 0},     {ftBoolean, 0},  {ftFloat, 0},
        {ftCurrency, 0}, {ftBCD, 2},      {ftDate, 0},    {ftTime, 0},     {ftDateTime, 0}, {ftBytes, 8},
        {ftAutoInc, 0},  {ftBlob, 0},     {ftMemo, 0},    {ftLargeint, 0},
    };
    const std::vector<Variant> values = {
        QStringLiteral("Привет"),
        -5,
        100000,
        65535,
        true,
        2.5,
        TCurrency{123456},
        12.34,
        Variant::FromDateTime(45000),
        Variant::FromDateTime(0.25),
        Variant::FromDateTime(45000.5),
        QByteArray("\x01\x02\x03", 3),
        7,
        QByteArray("\x00blob", 5),
        QStringLiteral("длинный текст"),
        int64_t(1) << 40,
    };
    TMemRowStore store;
    store.SetColumns(columns);
    const uint64_t full = store.Insert(values);
    const uint64_t empty = store.Insert(std::vector<Variant>(columns.size(), Variant::Null()));

    for (int c = 0; c < store.ColumnCount(); ++c) {
        SCOPED_TRACE(c);
        const Variant stored = store.Get(full, c);
        EXPECT_FALSE(store.IsNull(full, c));
        if (columns[size_t(c)].Type == ftBytes)
            EXPECT_EQ(stored.AsBytes(), QByteArray("\x01\x02\x03\0\0\0\0\0", 8)) << "padded to its size";
        else
            EXPECT_EQ(stored.Compare(values[size_t(c)]), 0) << VarToStr(stored).toStdString();
        EXPECT_TRUE(store.Get(empty, c).IsNull());
        EXPECT_TRUE(store.IsNull(empty, c));
    }
    EXPECT_EQ(store.Get(full, 8).VarType(), varDate);
    EXPECT_EQ(store.Get(full, 6).VarType(), varCurrency);

    // Setting a value to null and back.
    std::vector<Variant> changed = values;
    changed[0] = Variant::Null();
    changed[13] = Variant::Null();
    store.Update(full, changed);
    EXPECT_TRUE(store.IsNull(full, 0));
    EXPECT_TRUE(store.Get(full, 13).IsNull());
    EXPECT_EQ(store.Get(full, 14).AsString(), QStringLiteral("длинный текст"));
}

TEST(MemRowStore, IdentityOrderAndFailedWrites)
{
    TMemRowStore store;
    store.SetColumns({{ftInteger, 0}});
    const uint64_t a = store.Insert({1});
    const uint64_t c = store.Insert({3});
    const uint64_t b = store.Insert({2}, 1);
    EXPECT_EQ(store.Order(), (std::vector<uint64_t>{a, b, c}));
    store.Remove(a);
    EXPECT_FALSE(store.Exists(a));
    EXPECT_EQ(store.Get(b, 0).AsInteger(), 2);
    const uint64_t d = store.Insert({4});
    EXPECT_NE(d, a) << "identifiers are never reused";

    // The order of identifiers with a gap, until a row goes between others.
    TMemRowStore plain;
    plain.SetColumns({{ftInteger, 0}});
    const uint64_t p1 = plain.Insert({1}), p2 = plain.Insert({2}), p3 = plain.Insert({3});
    plain.Remove(p2);
    EXPECT_EQ(plain.Order(), (std::vector<uint64_t>{p1, p3}));
    EXPECT_EQ(plain.PositionOf(p3), 1);
    EXPECT_EQ(plain.PositionOf(p2), -1);
    const uint64_t p4 = plain.Insert({4}, 1);
    EXPECT_EQ(plain.Order(), (std::vector<uint64_t>{p1, p4, p3}));
    EXPECT_EQ(plain.LastId(), p3);
    EXPECT_EQ(plain.Count(), 3);

    // A value the column cannot hold changes nothing.
    EXPECT_ANY_THROW(store.Update(b, {QStringLiteral("не число")}));
    EXPECT_EQ(store.Get(b, 0).AsInteger(), 2);
    EXPECT_ANY_THROW(store.Insert({QStringLiteral("x")}));
    EXPECT_EQ(store.Count(), 3);

    store.ResetModified();
    store.Clear();
    EXPECT_TRUE(store.Modified());
    EXPECT_EQ(store.Count(), 0);
}

TEST(MemRowStore, UpdatesThatOutgrowTheRowKeepItsAddressAndTheFileForm)
{
    TMemRowStore store;
    store.SetColumns({{ftString, 0}, {ftInteger, 0}, {ftBlob, 0}, {ftMemo, 0}});
    const uint64_t id = store.Insert({QStringLiteral("ab"), 1, Variant::Null(), QStringLiteral("x")});
    const TMemRowStore::TRowHandle row = store.Handle(id);
    const QString longText(300, QChar(u'ж'));
    const struct
    {
        const char* what;
        std::vector<Variant> values;
    } steps[] = {
        {"moved out", {QStringLiteral("abc"), 2, QByteArray(200, 'b'), longText}},
        {"grown again", {longText, 3, QByteArray(500, 'c'), longText}},
        {"shrunk back in", {QStringLiteral("é"), 4, Variant::Null(), QStringLiteral("y")}},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        store.Update(id, step.values);
        EXPECT_EQ(store.Handle(id), row) << "indexes hold the address";
        for (int c = 0; c < store.ColumnCount(); ++c) {
            EXPECT_EQ(store.IsNull(id, c), step.values[size_t(c)].IsNull());
            if (!step.values[size_t(c)].IsNull()) {
                EXPECT_EQ(store.Get(id, c).Compare(step.values[size_t(c)]), 0) << c;
            }
        }
        // The row's file form reads back the same in another store.
        QByteArray form(store.FormSize(row), '\0');
        EXPECT_EQ(store.CopyForm(row, form.data()), form.data() + form.size());
        TMemRowStore copy;
        copy.SetColumns({{ftString, 0}, {ftInteger, 0}, {ftBlob, 0}, {ftMemo, 0}});
        ASSERT_EQ(copy.FormLength(form.constData(), form.size()), form.size());
        copy.AppendForm(form.constData(), form.size());
        for (int c = 0; c < store.ColumnCount(); ++c)
            EXPECT_EQ(copy.Get(copy.Order()[0], c).Compare(store.Get(id, c)), 0) << c;
        EXPECT_EQ(copy.FormLength(form.constData(), form.size() - 1), -1) << "a cut form is refused";
    }
    EXPECT_EQ(store.Compare(row, row, 0, false), 0);
    store.Remove(id);
    EXPECT_FALSE(store.Exists(id));
}

TEST(MemRowStore, TextOrderIsByCodePointWhateverTheStoredWidth)
{
    // Latin-1 and UTF-16 rows side by side, with and without case.
    TMemRowStore store;
    store.SetColumns({{ftString, 0}});
    const QStringList texts = {"", "a", "ab", "abc", "B", "b", "é", "ёж", "Ёж", "ÿz", "Ā"};
    std::vector<TMemRowStore::TRowHandle> rows;
    for (const QString& text : texts)
        rows.push_back(store.Handle(store.Insert({text})));
    for (size_t i = 0; i < rows.size(); ++i)
        for (size_t j = 0; j < rows.size(); ++j)
            for (const bool ci : {false, true}) {
                const int expected = texts[qsizetype(i)].compare(texts[qsizetype(j)],
                                                                 ci ? Qt::CaseInsensitive : Qt::CaseSensitive);
                const int sign = expected < 0 ? -1 : (expected > 0 ? 1 : 0);
                EXPECT_EQ(store.Compare(rows[i], rows[j], 0, ci), sign) << i << " " << j << " " << ci;
                EXPECT_EQ(store.CompareKey(rows[i], 0, store.MakeKey(0, texts[qsizetype(j)]), ci), sign);
                // Sort keys never contradict the order, and equal texts hash alike.
                const uint64_t a = store.SortKey(rows[i], 0, ci);
                const uint64_t b = store.SortKey(rows[j], 0, ci);
                if (a != b) {
                    EXPECT_EQ(a < b ? -1 : 1, sign) << i << " " << j << " " << ci;
                }
                if (sign == 0) {
                    EXPECT_EQ(store.KeyHash(rows[i], 0, ci, 7), store.KeyHash(rows[j], 0, ci, 7));
                }
            }
}

} // namespace
