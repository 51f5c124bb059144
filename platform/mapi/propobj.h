// In-memory property sets and the IMAPIProp implementation that the
// platform's MAPI objects (profile sections, messages, folders, status
// objects ...) build on.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "platform/com/refcounted.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/mapix.h"

namespace quillory {

// Property values keyed by their FULL tag: two values that share a property
// ID but differ in type are kept apart (account settings store 0x67910040 and
// 0x6791000B side by side). Requests of type PT_UNSPECIFIED match by ID.
// Each value is a deep copy in its own MAPI buffer. Not locked: the owner
// serialises access.
class CPropertyBag {
public:
    CPropertyBag() = default;
    CPropertyBag(const CPropertyBag&) = delete;
    CPropertyBag& operator=(const CPropertyBag&) = delete;
    CPropertyBag(CPropertyBag&&) = default;
    CPropertyBag& operator=(CPropertyBag&&) = default;

    // Stores a copy, replacing the value of the same full tag. Fails with
    // MAPI_E_INVALID_TYPE for PT_UNSPECIFIED and types that cannot be held,
    // MAPI_E_BAD_VALUE for a value whose data is missing.
    SCODE Set(const SPropValue& value);
    // The value with the tag; PT_UNSPECIFIED: the lowest tag with its ID.
    const SPropValue* Find(ULONG ulPropTag) const;
    // Removes the value (PT_UNSPECIFIED: every value with the ID); returns
    // how many went.
    ULONG Delete(ULONG ulPropTag);
    void Clear() { values_.clear(); }

    ULONG Count() const { return static_cast<ULONG>(values_.size()); }
    bool Empty() const { return values_.empty(); }
    // Tags in ascending order.
    std::vector<ULONG> Tags() const;
    // Every value, copied into one MAPIAllocateBuffer chain.
    SCODE CopyAll(ULONG* lpcValues, LPSPropValue* lppProps) const;
    // A deep copy of the whole bag.
    SCODE Clone(CPropertyBag& out) const;

    template <class F>
    void ForEach(F&& f) const
    {
        for (const auto& [tag, value] : values_) f(*value);
    }

private:
    struct FreeValue {
        void operator()(SPropValue* p) const { MAPIFreeBuffer(p); }
    };
    std::map<ULONG, std::unique_ptr<SPropValue, FreeValue>> values_;
};

// The IMAPIProp behaviour over a bag, independent of the interface; the
// template below binds it to one.
class CMAPIPropCore {
public:
    virtual ~CMAPIPropCore() = default;

protected:
    CMAPIPropCore() = default;

    // ---- Hooks for derived objects ---------------------------------------------
    // Answers a tag that the bag lacks (PR_ENTRYID, PR_OBJECT_TYPE ...): fill
    // *lpOut, chaining its data to lpBase with MAPIAllocateMore. Return
    // MAPI_E_NOT_FOUND when the object has no such property. ulPropTag may be
    // of type PT_UNSPECIFIED. Called with the object's lock held.
    virtual HRESULT GetComputedProp(ULONG ulPropTag, void* lpBase, LPSPropValue lpOut);
    // Full tags GetComputedProp answers, for the property list and GetProps
    // of everything.
    virtual void ListComputedProps(std::vector<ULONG>& tags) const;
    // Whether callers may not set or delete the tag (MAPI_E_COMPUTED).
    virtual bool IsComputedProp(ULONG ulPropTag) const;
    // Asked before every change; the default refuses changes (MAPI_E_NO_ACCESS)
    // when the object was opened read-only.
    virtual HRESULT CheckModify();
    // Copies what is not a property (recipients, attachments ...) for CopyTo.
    virtual HRESULT CopySubObjects(LPMAPIPROP lpDest, std::span<const IID> excluded, ULONG ulFlags);
    // The component named in GetLastError's answers.
    virtual const char* ComponentName() const { return "Quillory MAPI"; }

    // ---- State for derived objects -----------------------------------------------
    std::unique_lock<std::recursive_mutex> Lock() const { return std::unique_lock(mutex_); }
    CPropertyBag& Bag() { return bag_; }  // with the lock held
    const CPropertyBag& Bag() const { return bag_; }
    void SetWritable(bool writable) { writable_ = writable; }
    bool Writable() const { return writable_; }
    bool Modified() const { return modified_; }
    void SetModified(bool modified) { modified_ = modified; }
    // Remembers the text GetLastError gives for hr; returns hr.
    HRESULT RecordError(HRESULT hr, std::string text);

    // ---- IMAPIProp, interface-independent -------------------------------------
    HRESULT DoGetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError);
    HRESULT DoGetProps(LPSPropTagArray lpPropTagArray, ULONG ulFlags, ULONG* lpcValues, LPSPropValue* lppPropArray);
    HRESULT DoGetPropList(ULONG ulFlags, LPSPropTagArray* lppPropTagArray);
    HRESULT DoSetProps(ULONG cValues, LPSPropValue lpPropArray, LPSPropProblemArray* lppProblems);
    HRESULT DoDeleteProps(LPSPropTagArray lpPropTagArray, LPSPropProblemArray* lppProblems);
    HRESULT DoCopyTo(ULONG ciidExclude, LPCIID rgiidExclude, LPSPropTagArray lpExcludeProps, LPCIID lpInterface,
                     void* lpDestObj, ULONG ulFlags, LPSPropProblemArray* lppProblems);
    HRESULT DoCopyProps(LPSPropTagArray lpIncludeProps, LPCIID lpInterface, void* lpDestObj, ULONG ulFlags,
                        LPSPropProblemArray* lppProblems);

private:
    struct Problem {
        ULONG index;
        ULONG tag;
        SCODE scode;
    };
    static HRESULT HandOutProblems(const std::vector<Problem>& problems, LPSPropProblemArray* lppProblems);
    HRESULT FillOne(ULONG ulPropTag, void* lpBase, LPSPropValue lpOut);
    HRESULT CopyValues(std::vector<SPropValue> values, std::vector<ULONG> origin, std::vector<Problem> problems,
                       LPCIID lpInterface, void* lpDestObj, ULONG ulFlags, LPSPropProblemArray* lppProblems,
                       std::span<const IID> excluded, bool copySubObjects);

    mutable std::recursive_mutex mutex_;
    CPropertyBag bag_;
    bool writable_ = true;
    bool modified_ = false;
    HRESULT lastError_ = S_OK;
    std::string lastErrorText_;
};

// IMAPIProp for any interface derived from it: IUnknown (answering
// IID_IUnknown, IID_IMAPIProp and what SupportsInterface accepts) and every
// IMAPIProp method except SaveChanges, which the derived object supplies.
// Thread-safe per object.
template <class Interface>
class CMAPIPropBase : public Interface, public CRefCounted, public CMAPIPropCore {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IMAPIProp) && !SupportsInterface(riid))
            return E_NOINTERFACE;
        this->AddRef();
        *ppv = static_cast<Interface*>(this);
        return S_OK;
    }
    QUILLORY_IUNKNOWN_REFCOUNT

    HRESULT GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) override
    {
        return DoGetLastError(hResult, ulFlags, lppMAPIError);
    }
    HRESULT GetProps(LPSPropTagArray lpPropTagArray, ULONG ulFlags, ULONG* lpcValues,
                     LPSPropValue* lppPropArray) override
    {
        return DoGetProps(lpPropTagArray, ulFlags, lpcValues, lppPropArray);
    }
    HRESULT GetPropList(ULONG ulFlags, LPSPropTagArray* lppPropTagArray) override
    {
        return DoGetPropList(ulFlags, lppPropTagArray);
    }
    HRESULT OpenProperty(ULONG ulPropTag, LPCIID lpiid, ULONG ulInterfaceOptions, ULONG ulFlags,
                         LPUNKNOWN* lppUnk) override
    {
        if (lppUnk) *lppUnk = nullptr;
        return RecordError(MAPI_E_NO_SUPPORT, "This object opens no property as an object");
    }
    HRESULT SetProps(ULONG cValues, LPSPropValue lpPropArray, LPSPropProblemArray* lppProblems) override
    {
        return DoSetProps(cValues, lpPropArray, lppProblems);
    }
    HRESULT DeleteProps(LPSPropTagArray lpPropTagArray, LPSPropProblemArray* lppProblems) override
    {
        return DoDeleteProps(lpPropTagArray, lppProblems);
    }
    HRESULT CopyTo(ULONG ciidExclude, LPCIID rgiidExclude, LPSPropTagArray lpExcludeProps, ULONG_PTR ulUIParam,
                   LPMAPIPROGRESS lpProgress, LPCIID lpInterface, void* lpDestObj, ULONG ulFlags,
                   LPSPropProblemArray* lppProblems) override
    {
        return DoCopyTo(ciidExclude, rgiidExclude, lpExcludeProps, lpInterface, lpDestObj, ulFlags, lppProblems);
    }
    HRESULT CopyProps(LPSPropTagArray lpIncludeProps, ULONG_PTR ulUIParam, LPMAPIPROGRESS lpProgress,
                      LPCIID lpInterface, void* lpDestObj, ULONG ulFlags, LPSPropProblemArray* lppProblems) override
    {
        return DoCopyProps(lpIncludeProps, lpInterface, lpDestObj, ulFlags, lppProblems);
    }
    HRESULT GetNamesFromIDs(LPSPropTagArray* lppPropTags, GUID* lpPropSetGuid, ULONG ulFlags, ULONG* lpcPropNames,
                            LPMAPINAMEID** lpppPropNames) override
    {
        if (lpcPropNames) *lpcPropNames = 0;
        if (lpppPropNames) *lpppPropNames = nullptr;
        return RecordError(MAPI_E_NO_SUPPORT, "Named properties are not supported");
    }
    HRESULT GetIDsFromNames(ULONG cPropNames, LPMAPINAMEID* lppPropNames, ULONG ulFlags,
                            LPSPropTagArray* lppPropTags) override
    {
        if (lppPropTags) *lppPropTags = nullptr;
        return RecordError(MAPI_E_NO_SUPPORT, "Named properties are not supported");
    }

protected:
    CMAPIPropBase() = default;
    // Further interfaces the object answers with itself (e.g. IID_IProfSect).
    virtual bool SupportsInterface(REFIID riid) const { return false; }
};

}  // namespace quillory
