// Property value utilities: deep copies (into one block or chained to a MAPI
// buffer), lookups in property arrays, one-property get/set on objects, and
// the value ordering that restrictions and sorting share.
#pragma once

#include <initializer_list>

#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/mapix.h"

// Bytes a deep copy of the array needs in one block (the values followed by
// their strings, binaries and multi-value arrays). MAPI_E_INVALID_PARAMETER
// for an unknown type or a value whose data pointer is missing.
SCODE ScCountProps(int cValues, LPSPropValue lpPropArray, ULONG* lpcb);
// Deep copy into lpvDst, which must hold ScCountProps bytes; lpcb (optional)
// receives the bytes used. The copy shares nothing with the source.
SCODE ScCopyProps(int cValues, LPSPropValue lpPropArray, void* lpvDst, ULONG* lpcb);
// Deep copy into one buffer from lpAllocateBuffer.
SCODE ScDupPropset(int cValues, LPSPropValue lpPropArray, LPALLOCATEBUFFER lpAllocateBuffer,
                   LPSPropValue* lppPropArray);
// Deep copy of one value; its data is allocated with lpfAllocMore chained to
// lpvObject.
SCODE PropCopyMore(LPSPropValue lpDest, LPSPropValue lpSrc, LPALLOCATEMORE lpfAllocMore, void* lpvObject);

// The first value with the tag; a tag of type PT_UNSPECIFIED matches by ID.
LPSPropValue PpropFindProp(LPSPropValue lpPropArray, ULONG cValues, ULONG ulPropTag);
// The first value with the tag's property ID, whatever its type.
LPSPropValue LpValFindProp(ULONG ulPropTag, ULONG cValues, LPSPropValue lpPropArray);

// Reads one property into a MAPI buffer; a property the object lacks gives
// the error its PT_ERROR value carries (usually MAPI_E_NOT_FOUND).
HRESULT HrGetOneProp(LPMAPIPROP lpMapiProp, ULONG ulPropTag, LPSPropValue* lppProp);
// Sets one property; a problem entry comes back as the result.
HRESULT HrSetOneProp(LPMAPIPROP lpMapiProp, LPSPropValue lpProp);
// Whether the object lists the tag (PT_UNSPECIFIED: any type with that ID).
BOOL FPropExists(LPMAPIPROP lpMapiProp, ULONG ulPropTag);

namespace quillory {

// Deep copy of a row into one MAPIAllocateBuffer chain (out->lpProps).
SCODE CopyRow(const SRow& src, SRow* out);

// A tag array from a list; empty when memory runs out.
MapiBuffer<SPropTagArray> MakeTagArray(std::initializer_list<ULONG> tags);

// Orders two values: negative, zero or positive. Values of different types
// order by type. Strings compare byte-wise (ASCII case folded when
// ignoreCase), binaries by content then length, multi-values element by
// element then by count, FALSE before TRUE.
int ComparePropValues(const SPropValue& a, const SPropValue& b, bool ignoreCase = false);

// Whether a type is one this platform can hold and copy.
bool IsKnownPropType(ULONG ulPropType);

}  // namespace quillory
