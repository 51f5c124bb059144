// A newsgroup account as the host's commands find it: a "Corvane" message
// service of a MAPI profile, chosen by its account name (index 2 of the
// account settings array), with the whole settings array read from the
// service's profile section.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "common/account_props.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/mapidefs.h"

namespace quillory::host {

constexpr std::string_view kNewsServiceName = "Corvane";

// MAPI stays initialised while a command runs.
class MapiInitScope {
public:
    MapiInitScope();
    ~MapiInitScope();
    MapiInitScope(const MapiInitScope&) = delete;
    MapiInitScope& operator=(const MapiInitScope&) = delete;
    HRESULT Result() const { return hr_; }

private:
    HRESULT hr_;
};

class NewsAccount {
public:
    // The settings array in its fixed order; entries that are not set carry
    // an error tag.
    std::span<const SPropValue> Props() const { return {props_.Get(), count_}; }

    // Values by position; an entry with another tag than expected reads as
    // empty, `def` or false.
    std::string_view String(acct::Index index) const;
    LONG Long(acct::Index index, LONG def) const;
    bool Bool(acct::Index index, bool def) const;

    std::string_view Name() const { return String(acct::kAccountName); }
    // The group-list file's full path ("DIR" + index 12); empty when either is
    // not set, since the file's place is then unknown.
    std::string GroupListPath() const;

    const MAPIUID& ServiceUid() const { return uid_; }

private:
    friend HRESULT FindNewsAccount(std::string_view, std::string_view, NewsAccount&, std::string&);
    MapiBuffer<SPropValue> props_;
    ULONG count_ = 0;
    MAPIUID uid_{};
};

// Finds the account named `accountName` among the "Corvane" services of
// `profile` (an exact match first, else the only one that differs in case
// alone) and reads its settings. MAPI must be initialised. On failure `error`
// says why in a sentence for the user.
HRESULT FindNewsAccount(std::string_view profile, std::string_view accountName, NewsAccount& out,
                        std::string& error);

}  // namespace quillory::host
