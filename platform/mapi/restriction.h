// Restrictions: checking their shape, evaluating them against a property
// array, and deep copies that outlive the caller's structure. Shared by
// table views and the message store.
#pragma once

#include "platform/mapi/mapidefs.h"

namespace quillory {

// Nesting deeper than this is refused, so hostile input cannot exhaust the
// stack of the recursive checks.
constexpr ULONG kMaxRestrictionDepth = 64;

// S_OK when the restriction can be evaluated. MAPI_E_INVALID_PARAMETER for a
// malformed one (missing pointers, unknown kind, relational operator or
// fuzzy level, values with missing data); MAPI_E_TOO_COMPLEX for one this
// platform cannot evaluate (RELOP_RE, sub-object restrictions, content
// restrictions on types other than strings and binaries, nesting beyond
// kMaxRestrictionDepth).
SCODE ValidateRestriction(const SRestriction& res);

// Whether a property array satisfies a restriction that passed
// ValidateRestriction. A test on a property the array lacks is false (also
// for RELOP_NE and for either mask relation); so is a test whose value type
// differs from the property's. Strings compare byte-wise and case-sensitively
// in property and compare-props tests. Multi-valued properties compare as a
// whole (no per-instance matching), except that a content test on a
// multi-valued string or binary matches when any element matches.
bool EvaluateRestriction(const SRestriction& res, const SPropValue* props, ULONG count);

// Deep copy of a valid restriction into one MAPIAllocateBuffer chain; one
// MAPIFreeBuffer of *out frees it. Validates first.
SCODE DupRestriction(const SRestriction& res, LPSRestriction* out);

}  // namespace quillory
