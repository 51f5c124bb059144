#include "platform/mapi/restriction.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "platform/mapi/mapi_alloc.h"

namespace quillory {
namespace {

constexpr ULONG kLong = PROP_TAG(PT_LONG, 0x6701);
constexpr ULONG kText = PROP_TAG(PT_STRING8, 0x6702);
constexpr ULONG kBin = PROP_TAG(PT_BINARY, 0x6703);
constexpr ULONG kTime = PROP_TAG(PT_SYSTIME, 0x6704);
constexpr ULONG kFlag = PROP_TAG(PT_BOOLEAN, 0x6706);
constexpr ULONG kShort = PROP_TAG(PT_I2, 0x6708);
constexpr ULONG kList = PROP_TAG(PT_MV_STRING8, 0x6709);
constexpr ULONG kOther = PROP_TAG(PT_LONG, 0x670A);
constexpr ULONG kAbsent = PROP_TAG(PT_LONG, 0x67FF);

// Builds restriction trees whose nodes and values stay put while the test
// runs (deques never move their elements).
class Builder {
public:
    SPropValue* Long(ULONG tag, LONG v) { return Val(tag, [&](PV& x) { x.l = v; }); }
    SPropValue* Text(ULONG tag, const char* s)
    {
        return Val(tag, [&](PV& x) { x.lpszA = const_cast<char*>(Keep(s).c_str()); });
    }
    SPropValue* Bin(ULONG tag, const std::string& bytes)
    {
        const std::string& kept = Keep(bytes);
        return Val(tag, [&](PV& x) {
            x.bin.cb = static_cast<ULONG>(kept.size());
            x.bin.lpb = reinterpret_cast<BYTE*>(const_cast<char*>(kept.data()));
        });
    }
    template <class F>
    SPropValue* Val(ULONG tag, F fill)
    {
        SPropValue& v = values_.emplace_back();
        v.ulPropTag = tag;
        fill(v.Value);
        return &v;
    }

    SRestriction& Prop(ULONG relop, ULONG tag, SPropValue* v)
    {
        SRestriction& r = Node(RES_PROPERTY);
        r.res.resProperty = {relop, tag, v};
        return r;
    }
    SRestriction& Content(ULONG fuzzy, ULONG tag, SPropValue* v)
    {
        SRestriction& r = Node(RES_CONTENT);
        r.res.resContent = {fuzzy, tag, v};
        return r;
    }
    SRestriction& Compare(ULONG relop, ULONG tag1, ULONG tag2)
    {
        SRestriction& r = Node(RES_COMPAREPROPS);
        r.res.resCompareProps = {relop, tag1, tag2};
        return r;
    }
    SRestriction& Mask(ULONG rel, ULONG tag, ULONG mask)
    {
        SRestriction& r = Node(RES_BITMASK);
        r.res.resBitMask = {rel, tag, mask};
        return r;
    }
    SRestriction& Size(ULONG relop, ULONG tag, ULONG cb)
    {
        SRestriction& r = Node(RES_SIZE);
        r.res.resSize = {relop, tag, cb};
        return r;
    }
    SRestriction& Exist(ULONG tag)
    {
        SRestriction& r = Node(RES_EXIST);
        r.res.resExist = {0, tag, 0};
        return r;
    }
    SRestriction& Not(SRestriction& inner)
    {
        SRestriction& r = Node(RES_NOT);
        r.res.resNot = {0, &inner};
        return r;
    }
    SRestriction& And(std::initializer_list<SRestriction> children) { return List(RES_AND, children); }
    SRestriction& Or(std::initializer_list<SRestriction> children) { return List(RES_OR, children); }
    SRestriction& Node(ULONG rt)
    {
        SRestriction& r = nodes_.emplace_back();
        r.rt = rt;
        return r;
    }

private:
    SRestriction& List(ULONG rt, std::initializer_list<SRestriction> children)
    {
        std::vector<SRestriction>& kids = lists_.emplace_back(children);
        SRestriction& r = Node(rt);
        r.res.resAnd = {static_cast<ULONG>(kids.size()), kids.empty() ? nullptr : kids.data()};
        return r;
    }
    const std::string& Keep(const std::string& s) { return strings_.emplace_back(s); }

    std::deque<SPropValue> values_;
    std::deque<SRestriction> nodes_;
    std::deque<std::vector<SRestriction>> lists_;
    std::deque<std::string> strings_;
};

// One row with a value of several types, and a list of strings.
class RestrictionTest : public ::testing::Test {
protected:
    RestrictionTest()
    {
        row_.push_back(*b_.Long(kLong, 10));
        row_.push_back(*b_.Text(kText, "Comp.Lang.Cpp"));
        row_.push_back(*b_.Bin(kBin, std::string("\x01\x02\x03\x00\x05", 5)));
        row_.push_back(*b_.Val(kTime, [](PV& x) { x.ft = FILETIME{0x1000, 0x20}; }));
        row_.push_back(*b_.Val(kFlag, [](PV& x) { x.b = 1; }));
        row_.push_back(*b_.Val(kShort, [](PV& x) { x.i = -2; }));  // bits 0xFFFE
        row_.push_back(*b_.Long(kOther, 10));
        list_[0] = const_cast<char*>("alpha");
        list_[1] = const_cast<char*>("Beta");
        row_.push_back(*b_.Val(kList, [&](PV& x) { x.MVszA = {2, list_}; }));
        // A property recorded as missing: an error value under its ID.
        row_.push_back(*b_.Val(PROP_TAG(PT_ERROR, 0x670B), [](PV& x) { x.err = MAPI_E_NOT_FOUND; }));
    }
    bool Eval(const SRestriction& r)
    {
        EXPECT_EQ(ValidateRestriction(r), S_OK);
        return EvaluateRestriction(r, row_.data(), static_cast<ULONG>(row_.size()));
    }

    Builder b_;
    std::vector<SPropValue> row_;
    LPSTR list_[2] = {};
};

// For each type: the row's value against a smaller, an equal and a greater
// value under every operator.
TEST_F(RestrictionTest, EveryRelationalOperatorOnEveryOrderedType)
{
    struct Case {
        const char* name;
        SPropValue* less;
        SPropValue* same;
        SPropValue* more;
    };
    const Case cases[] = {
        {"long", b_.Long(kLong, 9), b_.Long(kLong, 10), b_.Long(kLong, 11)},
        {"string", b_.Text(kText, "Comp.Lang.C"), b_.Text(kText, "Comp.Lang.Cpp"), b_.Text(kText, "Comp.Lang.Cq")},
        {"binary", b_.Bin(kBin, std::string("\x01\x02\x03", 3)), b_.Bin(kBin, std::string("\x01\x02\x03\x00\x05", 5)),
         b_.Bin(kBin, std::string("\x01\x02\x04", 3))},
        {"time", b_.Val(kTime, [](PV& x) { x.ft = FILETIME{0xFFFFFFFF, 0x1F}; }),
         b_.Val(kTime, [](PV& x) { x.ft = FILETIME{0x1000, 0x20}; }),
         b_.Val(kTime, [](PV& x) { x.ft = FILETIME{0, 0x21}; })},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ULONG tag = c.same->ulPropTag;
        // Row value against (less, same, more): expected truth per operator.
        const struct {
            ULONG relop;
            bool less, same, more;
        } table[] = {
            {RELOP_LT, false, false, true}, {RELOP_LE, false, true, true}, {RELOP_GT, true, false, false},
            {RELOP_GE, true, true, false},  {RELOP_EQ, false, true, false}, {RELOP_NE, true, false, true},
        };
        for (const auto& t : table) {
            SCOPED_TRACE(t.relop);
            EXPECT_EQ(Eval(b_.Prop(t.relop, tag, c.less)), t.less);
            EXPECT_EQ(Eval(b_.Prop(t.relop, tag, c.same)), t.same);
            EXPECT_EQ(Eval(b_.Prop(t.relop, tag, c.more)), t.more);
        }
    }
    // Booleans: FALSE orders before TRUE.
    EXPECT_TRUE(Eval(b_.Prop(RELOP_GT, kFlag, b_.Val(kFlag, [](PV& x) { x.b = 0; }))));
    EXPECT_TRUE(Eval(b_.Prop(RELOP_EQ, kFlag, b_.Val(kFlag, [](PV& x) { x.b = 1; }))));
    // Property tests on strings are case-sensitive.
    EXPECT_FALSE(Eval(b_.Prop(RELOP_EQ, kText, b_.Text(kText, "comp.lang.cpp"))));
}

TEST_F(RestrictionTest, MissingPropertiesAndTypeMismatchesAreFalse)
{
    for (ULONG relop : {RELOP_LT, RELOP_LE, RELOP_GT, RELOP_GE, RELOP_EQ, RELOP_NE}) {
        EXPECT_FALSE(Eval(b_.Prop(relop, kAbsent, b_.Long(kAbsent, 10)))) << relop;
    }
    // ...so their negation holds.
    EXPECT_TRUE(Eval(b_.Not(b_.Prop(RELOP_NE, kAbsent, b_.Long(kAbsent, 1)))));
    // An error value stands for a missing property, whatever its code.
    const ULONG errId = PROP_TAG(PT_LONG, 0x670B);
    EXPECT_FALSE(Eval(b_.Prop(RELOP_NE, errId, b_.Long(errId, 0))));
    EXPECT_FALSE(Eval(b_.Exist(errId)));
    EXPECT_FALSE(Eval(b_.Exist(PROP_TAG(PT_UNSPECIFIED, 0x670B))));
    // Same ID, other type: the tag does not match the row's value.
    const ULONG longAsText = CHANGE_PROP_TYPE(kLong, PT_STRING8);
    EXPECT_FALSE(Eval(b_.Prop(RELOP_NE, longAsText, b_.Text(longAsText, "10"))));
    // Tag matches the row but the value has another type.
    EXPECT_FALSE(Eval(b_.Prop(RELOP_NE, kLong, b_.Text(kText, "10"))));
    EXPECT_FALSE(Eval(b_.Compare(RELOP_NE, kLong, kText)));
    EXPECT_FALSE(Eval(b_.Compare(RELOP_EQ, kLong, kAbsent)));
    EXPECT_FALSE(Eval(b_.Mask(BMR_EQZ, kAbsent, 1)));
    EXPECT_FALSE(Eval(b_.Mask(BMR_NEZ, kAbsent, 1)));
    EXPECT_FALSE(Eval(b_.Size(RELOP_GE, kAbsent, 0)));
    EXPECT_FALSE(Eval(b_.Content(FL_SUBSTRING, CHANGE_PROP_TYPE(kAbsent, PT_STRING8), b_.Text(kText, ""))));
    // A tag of unspecified type finds the value by ID.
    EXPECT_TRUE(Eval(b_.Exist(PROP_TAG(PT_UNSPECIFIED, PROP_ID(kLong)))));
    EXPECT_TRUE(Eval(b_.Exist(kLong)));
}

TEST_F(RestrictionTest, ContentMatchFlagsOnStringsBinariesAndLists)
{
    struct Case {
        ULONG fuzzy;
        const char* pattern;
        bool match;
    } const strings[] = {
        {FL_FULLSTRING, "Comp.Lang.Cpp", true},
        {FL_FULLSTRING, "comp.lang.cpp", false},
        {FL_FULLSTRING | FL_IGNORECASE, "comp.lang.cpp", true},
        {FL_FULLSTRING, "Comp.Lang.Cp", false},
        {FL_PREFIX, "Comp.L", true},
        {FL_PREFIX, "comp.l", false},
        {FL_PREFIX, "Lang", false},
        {FL_PREFIX, "", true},
        {FL_SUBSTRING, "Lang", true},
        {FL_SUBSTRING, "lang", false},
        {FL_SUBSTRING | FL_IGNORECASE, "LANG.C", true},
        {FL_SUBSTRING | FL_LOOSE, "lang.c", true},
        {FL_SUBSTRING, "Cpq", false},
        {FL_SUBSTRING, "", true},
    };
    for (const Case& c : strings) {
        EXPECT_EQ(Eval(b_.Content(c.fuzzy, kText, b_.Text(kText, c.pattern))), c.match)
            << std::hex << c.fuzzy << " " << c.pattern;
    }
    // Binaries, including an embedded zero byte.
    EXPECT_TRUE(Eval(b_.Content(FL_SUBSTRING, kBin, b_.Bin(kBin, std::string("\x03\x00\x05", 3)))));
    EXPECT_TRUE(Eval(b_.Content(FL_PREFIX, kBin, b_.Bin(kBin, std::string("\x01\x02", 2)))));
    EXPECT_FALSE(Eval(b_.Content(FL_FULLSTRING, kBin, b_.Bin(kBin, std::string("\x01\x02\x03", 3)))));
    EXPECT_FALSE(Eval(b_.Content(FL_SUBSTRING, kBin, b_.Bin(kBin, std::string("\x00\x03", 2)))));
    // A list matches when one of its strings does.
    EXPECT_TRUE(Eval(b_.Content(FL_FULLSTRING | FL_IGNORECASE, kList, b_.Text(kText, "beta"))));
    EXPECT_FALSE(Eval(b_.Content(FL_FULLSTRING, kList, b_.Text(kText, "beta"))));
    EXPECT_TRUE(Eval(b_.Content(FL_PREFIX, kList, b_.Text(kText, "alp"))));
    // A string pattern against a binary value does not match.
    EXPECT_FALSE(Eval(b_.Content(FL_SUBSTRING, kBin, b_.Text(kText, ""))));
}

TEST_F(RestrictionTest, LogicalNestingAndTheOtherKinds)
{
    SRestriction yes = b_.Prop(RELOP_EQ, kLong, b_.Long(kLong, 10));
    SRestriction no = b_.Prop(RELOP_EQ, kLong, b_.Long(kLong, 11));
    EXPECT_TRUE(Eval(b_.And({})));
    EXPECT_FALSE(Eval(b_.Or({})));
    EXPECT_TRUE(Eval(b_.And({yes, yes})));
    EXPECT_FALSE(Eval(b_.And({yes, no})));
    EXPECT_TRUE(Eval(b_.Or({no, yes})));
    EXPECT_FALSE(Eval(b_.Or({no, no})));
    EXPECT_TRUE(Eval(b_.Not(no)));
    // (NOT (yes AND no)) AND (no OR NOT no) AND NOT NOT yes
    EXPECT_TRUE(Eval(b_.And({b_.Not(b_.And({yes, no})), b_.Or({no, b_.Not(no)}), b_.Not(b_.Not(yes))})));
    EXPECT_FALSE(Eval(b_.Or({b_.And({yes, b_.Not(yes)}), b_.Not(b_.Or({yes, no}))})));

    EXPECT_TRUE(Eval(b_.Compare(RELOP_EQ, kLong, kOther)));
    EXPECT_FALSE(Eval(b_.Compare(RELOP_LT, kLong, kOther)));
    EXPECT_TRUE(Eval(b_.Compare(RELOP_GE, kLong, kOther)));

    EXPECT_TRUE(Eval(b_.Mask(BMR_NEZ, kLong, 0x2)));  // 10 = 0b1010
    EXPECT_FALSE(Eval(b_.Mask(BMR_NEZ, kLong, 0x5)));
    EXPECT_TRUE(Eval(b_.Mask(BMR_EQZ, kLong, 0x5)));
    EXPECT_FALSE(Eval(b_.Mask(BMR_EQZ, kLong, 0x8)));
    EXPECT_TRUE(Eval(b_.Mask(BMR_EQZ, kShort, 0x1)));
    EXPECT_TRUE(Eval(b_.Mask(BMR_NEZ, kShort, 0x8000)));
    EXPECT_FALSE(Eval(b_.Mask(BMR_NEZ, kShort, 0x10000)));  // an I2 has 16 bits

    // Sizes: the string with its terminator (14 bytes), the binary's length.
    EXPECT_TRUE(Eval(b_.Size(RELOP_EQ, kText, 14)));
    EXPECT_TRUE(Eval(b_.Size(RELOP_GT, kText, 13)));
    EXPECT_FALSE(Eval(b_.Size(RELOP_LT, kText, 14)));
    EXPECT_TRUE(Eval(b_.Size(RELOP_EQ, kBin, 5)));
    EXPECT_TRUE(Eval(b_.Size(RELOP_EQ, kLong, 4)));
    EXPECT_TRUE(Eval(b_.Size(RELOP_EQ, kList, 11)));  // "alpha" and "Beta" with terminators
}

TEST_F(RestrictionTest, MalformedAndUnsupportedRestrictionsAreRefused)
{
    SRestriction& noValue = b_.Prop(RELOP_EQ, kLong, nullptr);
    EXPECT_EQ(ValidateRestriction(noValue), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(ValidateRestriction(b_.Prop(7, kLong, b_.Long(kLong, 1))), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(ValidateRestriction(b_.Prop(RELOP_RE, kText, b_.Text(kText, "a.*"))), MAPI_E_TOO_COMPLEX);
    EXPECT_EQ(ValidateRestriction(b_.Prop(RELOP_EQ, kText, b_.Val(kText, [](PV& x) { x.lpszA = nullptr; }))),
              MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(ValidateRestriction(b_.Compare(9, kLong, kOther)), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(ValidateRestriction(b_.Size(RELOP_RE, kText, 1)), MAPI_E_TOO_COMPLEX);
    EXPECT_EQ(ValidateRestriction(b_.Mask(2, kLong, 1)), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(ValidateRestriction(b_.Mask(BMR_EQZ, kText, 1)), MAPI_E_TOO_COMPLEX);
    EXPECT_EQ(ValidateRestriction(b_.Content(3, kText, b_.Text(kText, "x"))), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(ValidateRestriction(b_.Content(FL_SUBSTRING | 0x00800000, kText, b_.Text(kText, "x"))),
              MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(ValidateRestriction(b_.Content(FL_SUBSTRING, kLong, b_.Long(kLong, 1))), MAPI_E_TOO_COMPLEX);
    EXPECT_EQ(ValidateRestriction(b_.Content(FL_SUBSTRING, kText, nullptr)), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(ValidateRestriction(b_.Node(RES_SUBRESTRICTION)), MAPI_E_TOO_COMPLEX);
    EXPECT_EQ(ValidateRestriction(b_.Node(0x77)), MAPI_E_INVALID_PARAMETER);
    SRestriction& notNothing = b_.Node(RES_NOT);
    notNothing.res.resNot = {0, nullptr};
    EXPECT_EQ(ValidateRestriction(notNothing), MAPI_E_INVALID_PARAMETER);
    SRestriction& andNothing = b_.Node(RES_AND);
    andNothing.res.resAnd = {2, nullptr};
    EXPECT_EQ(ValidateRestriction(andNothing), MAPI_E_INVALID_PARAMETER);
    // A bad node deep inside a valid one is found.
    EXPECT_EQ(ValidateRestriction(b_.Or({b_.Exist(kLong), b_.Not(noValue)})), MAPI_E_INVALID_PARAMETER);
}

TEST_F(RestrictionTest, NestingIsBoundedWithoutExhaustingTheStack)
{
    // A chain of NOT nodes: element i points at element i + 1.
    auto chain = [&](std::size_t length) {
        std::vector<SRestriction> nodes(length);
        for (std::size_t i = 0; i < length; ++i) {
            nodes[i].rt = RES_NOT;
            nodes[i].res.resNot = {0, i + 1 < length ? &nodes[i + 1] : nullptr};
        }
        nodes.back() = b_.Exist(kLong);
        return nodes;
    };
    std::vector<SRestriction> ok = chain(kMaxRestrictionDepth);  // 63 NOTs over EXIST
    EXPECT_EQ(ValidateRestriction(ok[0]), S_OK);
    EXPECT_FALSE(EvaluateRestriction(ok[0], row_.data(), static_cast<ULONG>(row_.size())));
    std::vector<SRestriction> deep = chain(kMaxRestrictionDepth + 1);
    EXPECT_EQ(ValidateRestriction(deep[0]), MAPI_E_TOO_COMPLEX);
    std::vector<SRestriction> hostile = chain(1'000'000);
    EXPECT_EQ(ValidateRestriction(hostile[0]), MAPI_E_TOO_COMPLEX);
    EXPECT_FALSE(EvaluateRestriction(hostile[0], row_.data(), static_cast<ULONG>(row_.size())));
    LPSRestriction copy = nullptr;
    EXPECT_EQ(DupRestriction(hostile[0], &copy), MAPI_E_TOO_COMPLEX);
    EXPECT_EQ(copy, nullptr);
}

TEST_F(RestrictionTest, CopiesShareNothingWithTheSource)
{
    LPSRestriction copy = nullptr;
    {
        Builder src;
        SRestriction& r = src.And({src.Content(FL_SUBSTRING | FL_IGNORECASE, kText, src.Text(kText, "lang")),
                                   src.Not(src.Prop(RELOP_GT, kLong, src.Long(kLong, 10))),
                                   src.Or({src.Mask(BMR_NEZ, kLong, 2), src.Exist(kAbsent)})});
        ASSERT_EQ(DupRestriction(r, &copy), S_OK);
    }  // the source is gone; ASan reports any pointer into it
    ASSERT_NE(copy, nullptr);
    EXPECT_TRUE(EvaluateRestriction(*copy, row_.data(), static_cast<ULONG>(row_.size())));
    row_[0].Value.l = 11;
    EXPECT_FALSE(EvaluateRestriction(*copy, row_.data(), static_cast<ULONG>(row_.size())));
    MAPIFreeBuffer(copy);
}

}  // namespace
}  // namespace quillory
