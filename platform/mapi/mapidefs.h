// MAPI property types, values, tag arrays, rows, restrictions and sort orders,
// with the exact numeric values of their home definitions.
#pragma once

#include "platform/com/stream.h"
#include "platform/com/unknwn.h"
#include "platform/mapi/mapicode.h"

// ---- Property types ---------------------------------------------------------
constexpr ULONG PT_UNSPECIFIED = 0x0000;
constexpr ULONG PT_NULL = 0x0001;
constexpr ULONG PT_I2 = 0x0002;
constexpr ULONG PT_SHORT = PT_I2;
constexpr ULONG PT_LONG = 0x0003;
constexpr ULONG PT_I4 = PT_LONG;
constexpr ULONG PT_R4 = 0x0004;
constexpr ULONG PT_DOUBLE = 0x0005;
constexpr ULONG PT_CURRENCY = 0x0006;
constexpr ULONG PT_APPTIME = 0x0007;
constexpr ULONG PT_ERROR = 0x000A;
constexpr ULONG PT_BOOLEAN = 0x000B;
constexpr ULONG PT_OBJECT = 0x000D;
constexpr ULONG PT_I8 = 0x0014;
constexpr ULONG PT_LONGLONG = PT_I8;
constexpr ULONG PT_STRING8 = 0x001E;
constexpr ULONG PT_UNICODE = 0x001F;
constexpr ULONG PT_SYSTIME = 0x0040;
constexpr ULONG PT_CLSID = 0x0048;
constexpr ULONG PT_BINARY = 0x0102;
constexpr ULONG MV_FLAG = 0x1000;
constexpr ULONG PT_MV_I2 = MV_FLAG | PT_I2;
constexpr ULONG PT_MV_LONG = MV_FLAG | PT_LONG;
constexpr ULONG PT_MV_STRING8 = MV_FLAG | PT_STRING8;
constexpr ULONG PT_MV_BINARY = MV_FLAG | PT_BINARY;

constexpr ULONG PROP_TYPE_MASK = 0x0000FFFF;
constexpr ULONG PROP_TYPE(ULONG tag) { return tag & PROP_TYPE_MASK; }
constexpr ULONG PROP_ID(ULONG tag) { return tag >> 16; }
constexpr ULONG PROP_TAG(ULONG type, ULONG id) { return (id << 16) | type; }
constexpr ULONG CHANGE_PROP_TYPE(ULONG tag, ULONG type) { return (tag & 0xFFFF0000u) | type; }
constexpr ULONG PROP_ID_NULL = 0;
constexpr ULONG PROP_ID_INVALID = 0xFFFF;
constexpr ULONG PR_NULL = PROP_TAG(PT_NULL, PROP_ID_NULL);

// ---- Values -------------------------------------------------------------------
using LPBYTE = BYTE*;

union CURRENCY {
    struct {
        ULONG Lo;
        LONG Hi;
    } s;
    LONGLONG int64;
};

struct SBinary {
    ULONG cb;
    LPBYTE lpb;
};
struct SShortArray {
    ULONG cValues;
    short* lpi;
};
struct SLongArray {
    ULONG cValues;
    LONG* lpl;
};
struct SBinaryArray {
    ULONG cValues;
    SBinary* lpbin;
};
struct SLPSTRArray {
    ULONG cValues;
    LPSTR* lppszA;
};

union PV {
    short i;
    LONG l;
    ULONG ul;
    float flt;
    double dbl;
    unsigned short b;
    CURRENCY cur;
    double at;
    FILETIME ft;
    LPSTR lpszA;
    SBinary bin;
    GUID* lpguid;
    LARGE_INTEGER li;
    SShortArray MVi;
    SLongArray MVl;
    SBinaryArray MVbin;
    SLPSTRArray MVszA;
    SCODE err;
    LONG x;
};

struct SPropValue {
    ULONG ulPropTag;
    ULONG dwAlignPad;
    PV Value;
};
using LPSPropValue = SPropValue*;

struct SPropProblem {
    ULONG ulIndex;
    ULONG ulPropTag;
    SCODE scode;
};
struct SPropProblemArray {
    ULONG cProblem;
    SPropProblem aProblem[1];
};
using LPSPropProblemArray = SPropProblemArray*;

// A counted array of tags; the one-element array is grown by allocation.
struct SPropTagArray {
    ULONG cValues;
    ULONG aulPropTag[1];
};
using LPSPropTagArray = SPropTagArray*;
constexpr ULONG CbNewSPropTagArray(ULONG n) { return static_cast<ULONG>(offsetof(SPropTagArray, aulPropTag) + n * sizeof(ULONG)); }

// A tag array of fixed size known at compile time, usable where an
// LPSPropTagArray is expected through AsTagArray().
template <ULONG N>
struct SizedSPropTagArray {
    ULONG cValues;
    ULONG aulPropTag[N];
    LPSPropTagArray AsTagArray() { return reinterpret_cast<LPSPropTagArray>(this); }
    const SPropTagArray* AsTagArray() const { return reinterpret_cast<const SPropTagArray*>(this); }
};

struct SRow {
    ULONG ulAdrEntryPad;
    ULONG cValues;
    LPSPropValue lpProps;
};
using LPSRow = SRow*;
struct SRowSet {
    ULONG cRows;
    SRow aRow[1];
};
using LPSRowSet = SRowSet*;
constexpr ULONG CbNewSRowSet(ULONG n) { return static_cast<ULONG>(offsetof(SRowSet, aRow) + n * sizeof(SRow)); }

// Recipient lists have the row layout under their own names.
struct ADRENTRY {
    ULONG ulReserved1;
    ULONG cValues;
    LPSPropValue rgPropVals;
};
struct ADRLIST {
    ULONG cEntries;
    ADRENTRY aEntries[1];
};
using LPADRLIST = ADRLIST*;
constexpr ULONG CbNewADRLIST(ULONG n) { return static_cast<ULONG>(offsetof(ADRLIST, aEntries) + n * sizeof(ADRENTRY)); }

struct ENTRYID {
    BYTE abFlags[4];
    BYTE ab[1];
};
using LPENTRYID = ENTRYID*;
struct MAPIUID {
    BYTE ab[16];
};
using LPMAPIUID = MAPIUID*;

struct MAPIERROR {
    ULONG ulVersion;
    LPSTR lpszError;
    LPSTR lpszComponent;
    ULONG ulLowLevelError;
    ULONG ulContext;
};
using LPMAPIERROR = MAPIERROR*;

// ---- Restrictions -------------------------------------------------------------
constexpr ULONG RES_AND = 0x00;
constexpr ULONG RES_OR = 0x01;
constexpr ULONG RES_NOT = 0x02;
constexpr ULONG RES_CONTENT = 0x03;
constexpr ULONG RES_PROPERTY = 0x04;
constexpr ULONG RES_COMPAREPROPS = 0x05;
constexpr ULONG RES_BITMASK = 0x06;
constexpr ULONG RES_SIZE = 0x07;
constexpr ULONG RES_EXIST = 0x08;
constexpr ULONG RES_SUBRESTRICTION = 0x09;

constexpr ULONG RELOP_LT = 0;
constexpr ULONG RELOP_LE = 1;
constexpr ULONG RELOP_GT = 2;
constexpr ULONG RELOP_GE = 3;
constexpr ULONG RELOP_EQ = 4;
constexpr ULONG RELOP_NE = 5;
constexpr ULONG RELOP_RE = 6;

constexpr ULONG BMR_EQZ = 0;
constexpr ULONG BMR_NEZ = 1;

constexpr ULONG FL_FULLSTRING = 0x00000000;
constexpr ULONG FL_SUBSTRING = 0x00000001;
constexpr ULONG FL_PREFIX = 0x00000002;
constexpr ULONG FL_IGNORECASE = 0x00010000;
constexpr ULONG FL_IGNORENONSPACE = 0x00020000;
constexpr ULONG FL_LOOSE = 0x00040000;

struct SRestriction;
using LPSRestriction = SRestriction*;
struct SAndRestriction {
    ULONG cRes;
    LPSRestriction lpRes;
};
using SOrRestriction = SAndRestriction;
struct SNotRestriction {
    ULONG ulReserved;
    LPSRestriction lpRes;
};
struct SContentRestriction {
    ULONG ulFuzzyLevel;
    ULONG ulPropTag;
    LPSPropValue lpProp;
};
struct SPropertyRestriction {
    ULONG relop;
    ULONG ulPropTag;
    LPSPropValue lpProp;
};
struct SComparePropsRestriction {
    ULONG relop;
    ULONG ulPropTag1;
    ULONG ulPropTag2;
};
struct SBitMaskRestriction {
    ULONG relBMR;
    ULONG ulPropTag;
    ULONG ulMask;
};
struct SSizeRestriction {
    ULONG relop;
    ULONG ulPropTag;
    ULONG cb;
};
struct SExistRestriction {
    ULONG ulReserved1;
    ULONG ulPropTag;
    ULONG ulReserved2;
};
struct SSubRestriction {
    ULONG ulSubObject;
    LPSRestriction lpRes;
};
struct SRestriction {
    ULONG rt;
    union {
        SAndRestriction resAnd;
        SOrRestriction resOr;
        SNotRestriction resNot;
        SContentRestriction resContent;
        SPropertyRestriction resProperty;
        SComparePropsRestriction resCompareProps;
        SBitMaskRestriction resBitMask;
        SSizeRestriction resSize;
        SExistRestriction resExist;
        SSubRestriction resSub;
    } res;
};

// ---- Sort orders --------------------------------------------------------------
constexpr ULONG TABLE_SORT_ASCEND = 0x00000000;
constexpr ULONG TABLE_SORT_DESCEND = 0x00000001;
constexpr ULONG TABLE_SORT_COMBINE = 0x00000002;

struct SSortOrder {
    ULONG ulPropTag;
    ULONG ulOrder;
};
struct SSortOrderSet {
    ULONG cSorts;
    ULONG cCategories;
    ULONG cExpanded;
    SSortOrder aSort[1];
};
using LPSSortOrderSet = SSortOrderSet*;
constexpr ULONG CbNewSSortOrderSet(ULONG n)
{
    return static_cast<ULONG>(offsetof(SSortOrderSet, aSort) + n * sizeof(SSortOrder));
}

// ---- Memory -------------------------------------------------------------------
using LPALLOCATEBUFFER = SCODE (*)(ULONG cbSize, void** lppBuffer);
using LPALLOCATEMORE = SCODE (*)(ULONG cbSize, void* lpObject, void** lppBuffer);
using LPFREEBUFFER = ULONG (*)(void* lpBuffer);
