// The in-memory table's file format: definitions, indexes and rows in one
// binary file of our own.
//
//   offset  size  content
//   0       4     magic "CSMT"
//   4       2     format version (little endian), currently 3 (2 is read too)
//   6       2     reserved, 0
//   8       8     payload length in bytes
//   16      4     CRC-32 (zlib) of the payload
//   20      ...   payload, little endian; a string is a u32 byte count and
//                 that many bytes of UTF-8:
//                 string tag: what the owner says the file holds (version 3
//                   on; absent in version 2, read as empty)
//                 u32 field definition count, then per definition:
//                   string name, u8 type (TFieldType), i32 size, i32 precision,
//                   u8 attributes, u8 internal-calculated (0/1), i32 field number
//                 u32 index definition count, then per index:
//                   string name, string fields, u8 options
//                 u64 row count, then per row the row store's form over the
//                 stored definitions (see TMemRowStore), that is:
//                   null flags, one bit per column (bit c%8 of byte c/8, set
//                   for null), then the fixed values in column order, also
//                   of null columns (zeros): u8 for Booleans, i32 for 16/32-bit
//                   integers, i64 for 64-bit integers and currency (x10000),
//                   f64 for floats, BCD, dates and times, the field's size in
//                   bytes for fixed binaries; then per non-null string, memo
//                   or blob in column order: a base-128 varint of its byte
//                   count shifted left once (low bit set: UTF-16 text, else
//                   Latin-1 text or blob bytes), and the bytes
//                 u32 count of saved index orders, then per index:
//                   string name, u64 entry count, and that many u32 row
//                   numbers (0-based, in the order above): the index's order,
//                   so loading need not sort again
//
// The whole file is read and checked before anything of the table changes.
#pragma once

#include "FieldDefs.h"
#include "IndexDefs.h"
#include "MemRowStore.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <memory>
#include <vector>

struct TMemTableImage
{
    struct TFieldDefData
    {
        QString Name;
        TFieldType Type = ftUnknown;
        int Size = 0;
        int Precision = 0;
        TFieldAttributes Attributes = 0;
        bool InternalCalc = false;
        int FieldNo = 0;
    };
    struct TIndexDefData
    {
        QString Name;
        QString Fields;
        TIndexOptions Options = 0;
    };

    QString Tag; // the owner's word on what the file holds; empty when none
    std::vector<TFieldDefData> FieldDefs;
    std::vector<TIndexDefData> IndexDefs;
    // The rows, one store column per stored definition in definition order
    // (definitions of unknown type have none).
    std::shared_ptr<TMemRowStore> Rows = std::make_shared<TMemRowStore>();
    struct TIndexOrder
    {
        QString Name;
        std::vector<uint32_t> Rows; // row numbers in index order
    };
    std::vector<TIndexOrder> IndexOrders;
};

inline constexpr uint16_t MemTableFileVersion = 3;

// Writes image's definitions and orders with the rows of store, whose
// column for each definition columnOfDef gives (-1: written as null); rows
// in store's natural order. The device must be seekable (the header is
// written last); false when writing failed.
bool WriteMemTableImage(QIODevice& device, const TMemTableImage& image, const TMemRowStore& store,
                        const std::vector<int>& columnOfDef);
// The same into memory.
QByteArray EncodeMemTableImage(const TMemTableImage& image, const TMemRowStore& store,
                               const std::vector<int>& columnOfDef);
// The same with the image's own rows.
QByteArray EncodeMemTableImage(const TMemTableImage& image);
// Raises EDatabaseError naming the file and what is wrong with it.
TMemTableImage DecodeMemTableImage(const QByteArray& bytes, const QString& fileName);
// The tag of a table file, read without the rest of it (and so without its
// checksum); empty when the file is missing, not a table file or untagged.
QString ReadMemTableFileTag(const QString& fileName);
