// An account settings array for tests: every entry starts absent (an error
// value with the expected property ID) and is set by position.
#pragma once

#include "common/account_props.h"
#include "platform/mapi/mapicode.h"
#include "platform/mapi/mapidefs.h"

#include <array>
#include <deque>
#include <span>
#include <string>
#include <string_view>

namespace quillory::testing {

class AccountFixture {
public:
    AccountFixture()
    {
        for (int i = 0; i < acct::kCount; ++i) Clear(static_cast<acct::Index>(i));
    }
    AccountFixture(const AccountFixture&) = delete;
    AccountFixture& operator=(const AccountFixture&) = delete;

    void Clear(acct::Index i)
    {
        props_[i].ulPropTag = CHANGE_PROP_TYPE(acct::kTags[i], PT_ERROR);
        props_[i].Value.err = MAPI_E_NOT_FOUND;
    }
    void SetString(acct::Index i, std::string_view text)
    {
        props_[i].ulPropTag = acct::kTags[i];
        props_[i].Value.lpszA = texts_.emplace_back(text).data();
    }
    void SetLong(acct::Index i, LONG value)
    {
        props_[i].ulPropTag = acct::kTags[i];
        props_[i].Value.l = value;
    }
    void SetBool(acct::Index i, bool value)
    {
        props_[i].ulPropTag = acct::kTags[i];
        props_[i].Value.b = value ? 1 : 0;
    }
    SPropValue& operator[](acct::Index i) { return props_[i]; }
    std::span<SPropValue> Span() { return props_; }

private:
    std::array<SPropValue, acct::kCount> props_{};
    std::deque<std::string> texts_;
};

}  // namespace quillory::testing
