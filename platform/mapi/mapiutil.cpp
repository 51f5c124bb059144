#include "platform/mapi/mapiutil.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <limits>
#include <mutex>
#include <random>

#include "platform/base/time.h"
#include "platform/com/guid.h"
#include "platform/mapi/mapi_alloc.h"

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Whether text is an even number of hex digits.
bool IsHex(std::string_view text)
{
    if (text.size() % 2) return false;
    for (char c : text) {
        if (HexValue(c) < 0) return false;
    }
    return true;
}

void DecodeHex(std::string_view text, BYTE* out)
{
    for (std::size_t i = 0; i + 1 < text.size(); i += 2)
        out[i / 2] = static_cast<BYTE>(HexValue(text[i]) << 4 | HexValue(text[i + 1]));
}

// ---- Conversation indexes ------------------------------------------------------------

constexpr int kHeaderTimeShift = 24;         // the header keeps the top 40 bits
constexpr int kFineShift = 18;               // delta unit while the delta code is 0
constexpr int kCoarseShift = 23;             // delta unit while the delta code is 1
constexpr ULONGLONG kFineLimit = 1ULL << 49; // deltas from here on use the coarse unit
constexpr ULONG kDeltaCodeBit = 0x80000000u;
constexpr std::size_t kRememberedParents = 32;

// The delta field (code bit and 31 bits) for a time since the header time.
ULONG EncodeDelta(ULONGLONG delta)
{
    if (delta < kFineLimit) return static_cast<ULONG>(delta >> kFineShift) & ~kDeltaCodeBit;
    const ULONGLONG coarse = delta >> kCoarseShift;
    if (coarse > ~kDeltaCodeBit) return 0xFFFFFFFFu;  // beyond the field's range
    return kDeltaCodeBit | static_cast<ULONG>(coarse);
}

// The last delta field handed out per recent parent, so that children made
// within one delta unit still sort in the order they were made.
class ChildClock {
public:
    ULONG Next(std::span<const BYTE> parent, ULONG field)
    {
        std::lock_guard lock(mutex_);
        for (auto it = recent_.begin(); it != recent_.end(); ++it) {
            if (it->parent.size() == parent.size() && std::equal(parent.begin(), parent.end(), it->parent.begin())) {
                if (field <= it->last && it->last != 0xFFFFFFFFu) field = it->last + 1;
                it->last = field;
                return field;
            }
        }
        recent_.push_front({std::vector<BYTE>(parent.begin(), parent.end()), field});
        if (recent_.size() > kRememberedParents) recent_.pop_back();
        return field;
    }

private:
    struct Entry {
        std::vector<BYTE> parent;
        ULONG last;
    };
    std::mutex mutex_;
    std::deque<Entry> recent_;
};

ChildClock& Clock()
{
    static ChildClock clock;
    return clock;
}

ULONGLONG Now()
{
    FILETIME ft{};
    GetSystemTimeAsFileTime(&ft);
    return quillory::FileTimeToUInt64(ft);
}

BYTE RandomNibble()
{
    thread_local std::mt19937 gen{std::random_device{}()};
    return static_cast<BYTE>(gen() & 0x0F);
}

}  // namespace

void HexFromBin(LPBYTE pb, int cb, LPSTR sz)
{
    if (!sz) return;
    int n = 0;
    if (pb) {
        for (int i = 0; i < cb; ++i) {
            sz[n++] = kHexDigits[pb[i] >> 4];
            sz[n++] = kHexDigits[pb[i] & 0x0F];
        }
    }
    sz[n] = '\0';
}

BOOL FBinFromHex(LPSTR sz, LPBYTE pb)
{
    if (!sz) return FALSE;
    const std::string_view text(sz);
    if (!IsHex(text) || (!pb && !text.empty())) return FALSE;
    DecodeHex(text, pb);
    return TRUE;
}

SCODE ScCreateConversationIndex(ULONG cbParent, LPBYTE lpbParent, ULONG* lpcbConvIndex, LPBYTE* lppbConvIndex)
{
    if (!lpcbConvIndex || !lppbConvIndex) return MAPI_E_INVALID_PARAMETER;
    *lpcbConvIndex = 0;
    *lppbConvIndex = nullptr;
    if (cbParent != 0 && (!lpbParent || cbParent < kConvIndexHeaderSize)) return MAPI_E_INVALID_PARAMETER;
    if (cbParent > std::numeric_limits<ULONG>::max() - kConvIndexChildSize) return MAPI_E_INVALID_PARAMETER;

    const ULONGLONG now = Now();
    const ULONG cb = cbParent ? cbParent + kConvIndexChildSize : kConvIndexHeaderSize;
    quillory::MapiBuffer<BYTE> out;
    if (const SCODE sc = MAPIAllocateBuffer(cb, out.AsVoidOut()); FAILED(sc)) return sc;
    BYTE* p = out.Get();

    if (!cbParent) {
        p[0] = 0x01;
        const ULONGLONG top = now >> kHeaderTimeShift;
        for (int i = 0; i < 5; ++i) p[1 + i] = static_cast<BYTE>(top >> (8 * (4 - i)));
        GUID guid{};
        if (const HRESULT hr = CoCreateGuid(&guid); FAILED(hr)) return hr;
        std::memcpy(p + 6, &guid, sizeof guid);
    } else {
        std::memcpy(p, lpbParent, cbParent);
        ULONGLONG header = 0;
        for (int i = 0; i < 5; ++i) header = header << 8 | lpbParent[1 + i];
        header <<= kHeaderTimeShift;
        // A parent stamped by a clock ahead of ours counts as just made.
        const ULONGLONG delta = now > header ? now - header : 0;
        const ULONG field = Clock().Next(std::span<const BYTE>(lpbParent, cbParent), EncodeDelta(delta));
        static std::atomic<unsigned> sequence{0};
        BYTE* child = p + cbParent;
        for (int i = 0; i < 4; ++i) child[i] = static_cast<BYTE>(field >> (8 * (3 - i)));
        child[4] = static_cast<BYTE>(RandomNibble() << 4 | (sequence.fetch_add(1) & 0x0F));
    }
    *lpcbConvIndex = cb;
    *lppbConvIndex = out.Release();
    return S_OK;
}

namespace quillory {

std::string BinToHex(std::span<const BYTE> bytes)
{
    std::string out;
    out.reserve(bytes.size() * 2);
    for (BYTE b : bytes) {
        out.push_back(kHexDigits[b >> 4]);
        out.push_back(kHexDigits[b & 0x0F]);
    }
    return out;
}

std::optional<std::vector<BYTE>> HexToBin(std::string_view text)
{
    if (!IsHex(text)) return std::nullopt;
    std::vector<BYTE> out(text.size() / 2);
    DecodeHex(text, out.data());
    return out;
}

}  // namespace quillory
