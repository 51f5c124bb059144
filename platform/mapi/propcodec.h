// A compact byte form of property values, for keeping them in databases
// (message stores, profile sections) and reading them back.
//
// One value is its tag (32-bit) followed by its data, little-endian:
//   PT_I2 16 bits; PT_BOOLEAN 16 bits; PT_LONG, PT_ERROR, PT_R4 (bit
//   pattern), PT_NULL and PT_OBJECT (the 32-bit member) 32 bits; PT_DOUBLE,
//   PT_APPTIME (bit pattern), PT_CURRENCY, PT_I8 64 bits; PT_SYSTIME low then
//   high 32 bits; PT_CLSID 16 bytes (Data1, Data2, Data3 little-endian, then
//   Data4); PT_STRING8 and PT_BINARY a 32-bit length and the bytes (strings
//   without their NUL); multi-valued types a 32-bit count and the elements
//   in the single-valued form without tags.
// An array is a 32-bit count followed by its values.
//
// Decoding never reads outside the given bytes: truncated or inconsistent
// input gives MAPI_E_CORRUPT_DATA, as does a string holding a NUL.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "platform/mapi/mapidefs.h"

namespace quillory {

// Appends the value's encoding to out. MAPI_E_INVALID_TYPE for a type this
// platform cannot hold (PT_UNSPECIFIED, PT_UNICODE, unknown types),
// MAPI_E_INVALID_PARAMETER for a value whose data pointer is missing. On
// failure out is left as it was.
SCODE EncodePropValue(const SPropValue& value, std::vector<BYTE>& out);

// Appends a count and the values.
SCODE EncodePropArray(std::span<const SPropValue> values, std::vector<BYTE>& out);

// Decodes the value at the start of data into *out; strings, binaries and
// arrays are allocated with MAPIAllocateMore chained to lpBase (which must
// be a MAPIAllocateBuffer block). *consumed receives the bytes used.
SCODE DecodePropValue(std::span<const BYTE> data, void* lpBase, SPropValue* out, std::size_t* consumed);

// Decodes data holding exactly one value into a new MAPIAllocateBuffer
// chain; one MAPIFreeBuffer of *out frees it.
SCODE DecodePropValue(std::span<const BYTE> data, LPSPropValue* out);

// Decodes data holding exactly one array (as EncodePropArray writes it) into
// one MAPIAllocateBuffer chain. An empty array gives *count 0 and a buffer.
SCODE DecodePropArray(std::span<const BYTE> data, ULONG* count, LPSPropValue* out);

// The tag and encoded size of the value at the start of data, without
// allocating; MAPI_E_CORRUPT_DATA as for decoding.
SCODE PeekPropValue(std::span<const BYTE> data, ULONG* tag, std::size_t* size);

}  // namespace quillory
