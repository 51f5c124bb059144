// Reading and writing the known-articles cache file, and checking
// unconfirmed entries against the message store.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <new>
#include <utility>

#include "common/grouplist.h"
#include "platform/base/trace.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/mapitags.h"
#include "platform/mapi/mapiutil.h"
#include "provider/folder/header_entryid.h"
#include "provider/folder/table_cache.h"
#include "provider/folder/table_cache_slots.h"

namespace quillory::quarnex {

namespace {

// The number between the first and the second space: optional '-', then
// decimal digits up to the first other character (like atoi), in 32 bits.
ULONG ParseNumber(std::string_view text)
{
    bool negative = false;
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    ULONG value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = value * 10 + static_cast<ULONG>(text[i] - '0');
    return negative ? 0u - value : value;
}

// One piece of the file as an entry; false when it carries none.
bool ParsePiece(std::string_view piece, KnownArticle& out)
{
    // A NUL ends the text, so a stray one cannot smuggle bytes into an entry ID.
    piece = piece.substr(0, piece.find('\0'));
    if (piece.size() < kCacheLineMinLength) return false;
    out.confirmed = true;
    if (piece.starts_with(kUnconfirmedPrefix)) {
        out.confirmed = false;
        piece.remove_prefix(kUnconfirmedPrefix.size());
    }
    const std::size_t firstSpace = piece.find(' ');
    if (firstSpace == std::string_view::npos) return false;
    const std::size_t secondSpace = piece.find(' ', firstSpace + 1);
    if (secondSpace == std::string_view::npos) return false;
    out.number = ParseNumber(piece.substr(firstSpace + 1, secondSpace - firstSpace - 1));
    if (out.number == 0) return false;
    out.group = piece.substr(0, firstSpace);
    out.messageId = piece.substr(secondSpace + 1);
    return true;
}

// Asks the store's default receive folder for a message stamped with the
// entry's header entry ID. The folder is opened on the first question.
class CReceiveFolderProbe {
public:
    explicit CReceiveFolderProbe(IMsgStore* store) : store_(store) {}

    bool Holds(const KnownArticle& entry)
    {
        if (!Open()) return false;
        std::vector<BYTE> id = MakeHeaderEntryId(entry.number, entry.messageId, entry.group);
        std::string hex = BinToHex(id);
        SPropValue value{};
        value.ulPropTag = PR_CORVANE_HEADER_ENTRYID_HEX;
        value.Value.lpszA = hex.data();
        SRestriction res{};
        res.rt = RES_PROPERTY;
        res.res.resProperty.relop = RELOP_EQ;
        res.res.resProperty.ulPropTag = PR_CORVANE_HEADER_ENTRYID_HEX;
        res.res.resProperty.lpProp = &value;
        if (FAILED(table_->Restrict(&res, 0))) return false;
        table_->SeekRow(BOOKMARK_BEGINNING, 0, nullptr);
        RowSetPtr rows;
        return SUCCEEDED(table_->QueryRows(1, 0, &rows)) && rows && rows->cRows > 0;
    }

private:
    bool Open()
    {
        if (table_) return true;
        if (!store_ || tried_) return false;
        tried_ = true;
        ULONG cb = 0;
        MapiBuffer<ENTRYID> eid;
        HRESULT hr = store_->GetReceiveFolder(nullptr, 0, &cb, &eid, nullptr);
        ComPtr<IUnknown> unk;
        ULONG type = 0;
        if (SUCCEEDED(hr)) hr = store_->OpenEntry(cb, eid.Get(), nullptr, 0, &type, &unk);
        ComPtr<IMAPIFolder> folder;
        if (SUCCEEDED(hr)) hr = unk->QueryInterface(IID_IMAPIFolder, folder.AsVoidOut());
        if (SUCCEEDED(hr)) hr = folder->GetContentsTable(0, &table_);
        if (SUCCEEDED(hr)) {
            SizedSPropTagArray<1> cols{1, {PR_ENTRYID}};
            hr = table_->SetColumns(cols.AsTagArray(), 0);
        }
        if (FAILED(hr)) {
            Trace("CTableCache::Load - receive folder not readable (%08x)\n", static_cast<unsigned>(hr));
            table_ = nullptr;
            return false;
        }
        return true;
    }

    IMsgStore* store_;
    bool tried_ = false;
    ComPtr<IMAPITable> table_;
};

using Pairs = std::vector<std::pair<tWord, tWord>>;
// Of the pairs with equal keys the last one (in file order) takes the slot.
// A file the cache saved lists its group keys in order already.
Pairs LastPerKey(Pairs pairs)
{
    const bool sorted = std::is_sorted(pairs.begin(), pairs.end(),
                                       [](const auto& a, const auto& b) { return a.first < b.first; });
    if (!sorted) StableSortByKey(pairs);
    std::size_t kept = 0;
    for (std::size_t i = 0; i < pairs.size(); ++i)
        if (i + 1 == pairs.size() || pairs[i + 1].first != pairs[i].first) pairs[kept++] = pairs[i];
    pairs.resize(kept);
    return pairs;
}

}  // namespace

bool CTableCache::HeldInStore(const KnownArticle& entry) const
{
    return probe_ && probe_(entry);
}

bool CTableCache::Load(std::string_view path)
{
    Clear();
    path_.assign(path);
    const bool read = ReadWholeFile(path_, slots_->loaded);
    ParseLoaded();
    Trace("CTableCache::Load(%s) -- bNg %zu, bId %zu\n", path_.c_str(), bNg_.Size(), bId_.Size());
    return read;
}

void CTableCache::LoadText(std::string_view text)
{
    Clear();
    slots_->loaded.assign(text);
    ParseLoaded();
}

// One pass over the text: every line becomes an entry pointing into it; then
// each tree is built from its keys in order, median first.
void CTableCache::ParseLoaded()
{
    const std::string_view text = slots_->loaded;
    CReceiveFolderProbe storeProbe(store_.Get());
    std::vector<std::pair<tWord, tWord>> ngPairs;
    std::vector<std::pair<tWord, tWord>> idPairs;
    try {
        const auto lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
        ngPairs.reserve(lines);
        idPairs.reserve(lines);
        std::size_t pos = 0;
        while (pos < text.size()) {
            std::size_t end = pos;
            while (end < text.size() && text[end] != '\n' && text[end] != '\r') ++end;
            KnownArticle entry;
            if (ParsePiece(text.substr(pos, end - pos), entry) &&
                (entry.confirmed || (probe_ ? HeldInStore(entry) : storeProbe.Holds(entry)))) {
                const tWord ng = GroupKey(entry.number, entry.group);
                const tWord id = IdKey(entry.number, entry.messageId);
                const tWord slot = slots_->Alloc(std::move(entry));
                ngPairs.emplace_back(ng, slot);
                idPairs.emplace_back(id, slot);
            }
            pos = end + 1;
        }
    } catch (const std::bad_alloc&) {
        // Keep what was read before memory ran out.
        Trace("CTableCache::Load - out of memory after %zu entries\n", ngPairs.size());
        if (idPairs.size() > ngPairs.size()) idPairs.resize(ngPairs.size());
    }
    ngPairs = LastPerKey(std::move(ngPairs));
    idPairs = LastPerKey(std::move(idPairs));
    try {
        bool added = false;
        bNg_.Reserve(ngPairs.size());
        bId_.Reserve(idPairs.size());
        for (const auto& [key, slot] : ngPairs) {
            bNg_.Insert(key, slot, added);
            slots_->slots[slot].inNg = true;
        }
        for (const auto& [key, slot] : idPairs) {
            bId_.Insert(key, slot, added);
            slots_->slots[slot].inId = true;
        }
    } catch (const std::bad_alloc&) {
        Trace("CTableCache::Load - out of memory while indexing\n");
        Clear();
        return;
    }
    for (tWord slot = 0; slot < slots_->slots.size(); ++slot) slots_->ReleaseIfUnused(slot);
}

bool CTableCache::WriteText(const std::function<bool(std::string_view)>& sink) const
{
    // In pieces, so that a large cache is never held twice in memory.
    constexpr std::size_t kPiece = 64 * 1024;
    std::string piece;
    piece.reserve(kPiece + 1024);
    bool ok = true;
    ForEachByGroup([&](const KnownArticle& e) {
        if (!ok) return;
        if (!e.confirmed) piece += kUnconfirmedPrefix;
        piece += e.group;
        char number[16];
        std::snprintf(number, sizeof number, " %ld ", static_cast<long>(static_cast<LONG>(e.number)));
        piece += number;
        piece += e.messageId;
        piece += "\r\n";
        if (piece.size() >= kPiece) {
            ok = sink(piece);
            piece.clear();
        }
    });
    return ok && (piece.empty() || sink(piece));
}

std::string CTableCache::SaveText() const
{
    std::string out;
    WriteText([&out](std::string_view piece) {
        out += piece;
        return true;
    });
    return out;
}

int CTableCache::Save(std::string_view path)
{
    const std::string target = path.empty() ? path_ : std::string(path);
    if (target.empty()) return 0;
    // Written beside the file and renamed over it, so that a crash while
    // writing leaves the previous cache whole.
    const std::string temp = target + ".tmp";
    bool ok = false;
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        ok = out && WriteText([&out](std::string_view piece) {
                 return static_cast<bool>(out.write(piece.data(), static_cast<std::streamsize>(piece.size())));
             }) && out.flush();
    }
    std::error_code ec;
    if (ok) std::filesystem::rename(temp, target, ec);
    if (!ok || ec) {
        std::filesystem::remove(temp, ec);
        Trace("CTableCache::Save(%s) -- not written\n", target.c_str());
        return 0;
    }
    Trace("CTableCache::Save(%s) -- bNg %zu, bId %zu\n", target.c_str(), bNg_.Size(), bId_.Size());
    return 1;
}

}  // namespace quillory::quarnex
