// BSTR: a 4-byte byte count, the bytes, a NUL. The pointer handed out points
// at the bytes, so a BSTR reads as a C string where it holds no NUL.
#include <cstdlib>
#include <cstring>
#include <limits>

#include "platform/com/oleauto.h"

namespace {

constexpr std::size_t kPrefix = sizeof(std::uint32_t);

std::uint32_t* Header(BSTR b) { return reinterpret_cast<std::uint32_t*>(b - kPrefix); }

BSTR Allocate(const char* bytes, UINT len)
{
    // The count and the terminator must fit beside the bytes.
    if (len > std::numeric_limits<std::uint32_t>::max() - kPrefix - 1) return nullptr;
    auto* block = static_cast<char*>(std::malloc(kPrefix + len + 1));
    if (!block) return nullptr;
    const std::uint32_t count = len;
    std::memcpy(block, &count, kPrefix);
    BSTR out = block + kPrefix;
    if (bytes)
        std::memcpy(out, bytes, len);
    else
        std::memset(out, 0, len);
    out[len] = '\0';
    return out;
}

}  // namespace

BSTR SysAllocString(const OLECHAR* psz)
{
    if (!psz) return nullptr;
    const std::size_t n = std::strlen(psz);
    if (n > std::numeric_limits<UINT>::max()) return nullptr;
    return Allocate(psz, static_cast<UINT>(n));
}

BSTR SysAllocStringLen(const OLECHAR* psz, UINT len) { return Allocate(psz, len); }

BSTR SysAllocStringByteLen(const char* psz, UINT len) { return Allocate(psz, len); }

int SysReAllocString(BSTR* pbstr, const OLECHAR* psz)
{
    if (!pbstr) return FALSE;
    BSTR fresh = SysAllocString(psz);
    if (psz && !fresh) return FALSE;
    SysFreeString(*pbstr);
    *pbstr = fresh;
    return TRUE;
}

void SysFreeString(BSTR bstr)
{
    if (bstr) std::free(bstr - kPrefix);
}

UINT SysStringLen(BSTR bstr) { return bstr ? *Header(bstr) : 0; }

UINT SysStringByteLen(BSTR bstr) { return SysStringLen(bstr); }

namespace quillory {

CComBSTR::CComBSTR(std::string_view text)
{
    if (text.size() > std::numeric_limits<UINT>::max()) {
        failed_ = true;
        return;
    }
    bstr_ = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    failed_ = bstr_ == nullptr;
}

CComBSTR::CComBSTR(const CComBSTR& o)
{
    if (o.bstr_) {
        bstr_ = SysAllocStringLen(o.bstr_, o.Length());
        failed_ = bstr_ == nullptr;
    }
}

CComBSTR::CComBSTR(CComBSTR&& o) noexcept : bstr_(o.bstr_), failed_(o.failed_)
{
    o.bstr_ = nullptr;
    o.failed_ = false;
}

CComBSTR& CComBSTR::operator=(CComBSTR o) noexcept
{
    std::swap(bstr_, o.bstr_);
    std::swap(failed_, o.failed_);
    return *this;
}

CComBSTR::~CComBSTR() { SysFreeString(bstr_); }

BSTR* CComBSTR::operator&()
{
    SysFreeString(bstr_);
    bstr_ = nullptr;
    failed_ = false;
    return &bstr_;
}

BSTR CComBSTR::Detach()
{
    BSTR b = bstr_;
    bstr_ = nullptr;
    return b;
}

void CComBSTR::Attach(BSTR b)
{
    SysFreeString(bstr_);
    bstr_ = b;
    failed_ = false;
}

}  // namespace quillory
