// Status codes of the stand-in VCERT library and their texts.
#pragma once

#include <cstdint>
#include <string>

namespace vpki1 {

// 0 is success; -1 and -2 are never used, the binding reserves them for its own
// failures (library missing, entry point missing).
enum Status : int32_t {
    kOk = 0,
    kInvalidArgument = 1,
    kUnknownHandle = 2,
    kStoreUnavailable = 3,
    kMalformedObject = 4,
    kUnsupportedKind = 5,
    kCrlNotNewer = 6,
    kNotSupported = 7,
    kWriteFailed = 8,
    kEmptyStoreName = 9,
    kBadStoreName = 10,
    kInternalError = 11,
};

// Russian text of a status in UTF-8; an unknown code gets a text naming it.
std::string StatusText(int32_t code);

// What the last failing call of this thread knows beyond its code (the folder
// it tried, the system's reason), in UTF-8; the error text of that code gets
// it appended. VCERT_Initialize and VCERT_ImportMem clear it first.
void SetStatusDetail(int32_t code, std::string detail);
void ClearStatusDetail();
// The detail for that code, empty when the last failure had another code.
std::string StatusDetail(int32_t code);

} // namespace vpki1
