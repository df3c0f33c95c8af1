#pragma once
// Reals and doubles as neutral items, for tests: the product's encoder (neutral/item_encoding.h,
// where the item layout and the reader's formulas are described) under the test kit's names, and
// a reference decoder of its own.
//
// decode_real and decode_double decode an Encoding by the formulas written out again here, apart
// from the reader's code: the oracle against which tests judge both the reader's decoding and the
// encodings the product makes. Only the table of powers of ten (power_of_ten) is shared.

#include "neutral/item_encoding.h"

namespace support {

using neutral::kCodeBlanks;
using neutral::kCodeChars;
using neutral::kCodeDouble;
using neutral::kCodeDoubleAllOnes;
using neutral::kCodeDoubleX;
using neutral::kCodeDoubleXZero;
using neutral::kCodeDoubleZero;
using neutral::kCodeFalse;
using neutral::kCodeInteger;
using neutral::kCodeIntegerZero;
using neutral::kCodeMinusOne;
using neutral::kCodeReal;
using neutral::kCodeRealAllOnes;
using neutral::kCodeRealZero;
using neutral::kCodeTrue;
inline constexpr int kFirstEndMark = neutral::kFirstMark;  // kFirstEndMark .. kLastValue end a record
using neutral::kLastValue;

using neutral::kMaxExponent;
using neutral::kMaxItemValues;
using neutral::kMinExponent;
using neutral::power_of_ten;

using neutral::encode_double;
using neutral::encode_real;
using neutral::Encoding;
using neutral::make_encoding;

// The reader's decoding of a real (codes 4, 5, 11) and a double (6, 7, 12, 13, 14).
float decode_real(const Encoding& enc);
double decode_double(const Encoding& enc);

}  // namespace support
