// Message texts for the VCERT binding's and the library's status codes.
#pragma once

#include <QString>
#include <cstdint>

// Never raises. May trigger the binding's one load attempt.
QString VCertErrorText(int32_t code);
