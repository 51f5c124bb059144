#include "common/strtable.h"

#include <strings.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "common/codepage.h"
#include "platform/base/resource.h"
#include "platform/base/trace.h"

namespace quillory {

CStrTable::CStrTable() : content_(std::make_shared<const Content>()) {}

CStrTable::~CStrTable() = default;

std::shared_ptr<const CStrTable::Content> CStrTable::Snapshot() const
{
    Lock();
    std::shared_ptr<const Content> c = content_;
    Unlock();
    return c;
}

void CStrTable::Replace(std::shared_ptr<const Content> content)
{
    Lock();
    content_.swap(content);
    Unlock();
    // The old content goes here, outside the lock.
}

void CStrTable::Clear() { Replace(std::make_shared<const Content>()); }

bool CStrTable::LoadImage(std::span<const std::byte> image, std::string* why)
{
    std::optional<strtable::Image> parsed = strtable::ParseStrTable(image, why);
    const unsigned codePage = parsed ? CodePageOfCharset(parsed->charset) : 0;
    if (parsed && codePage == 0 && why) *why = "a charset without a code page";
    if (!codePage) {
        Clear();
        return false;
    }
    auto content = std::make_shared<Content>();
    content->charset = parsed->charset;
    content->reserved = parsed->reserved;
    content->ids.reserve(parsed->entries.size());
    content->texts.reserve(parsed->entries.size());
    for (strtable::Entry& e : parsed->entries) {
        std::optional<std::string> text = CodePageToUtf8(e.text, codePage);
        if (!text) {
            if (why) *why = "the code page cannot be converted";
            Clear();
            return false;
        }
        content->ids.push_back(e.id);
        content->texts.push_back(std::move(*text));
    }
    Replace(std::move(content));
    return true;
}

bool CStrTable::LoadFile(const std::string& path, std::string* why)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (why) *why = "cannot be read";
        Clear();
        return false;
    }
    std::vector<char> bytes;
    char buffer[65536];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        bytes.insert(bytes.end(), buffer, buffer + in.gcount());
        if (bytes.size() > kMaxFileSize) {
            if (why) *why = "larger than any table";
            Clear();
            return false;
        }
    }
    return LoadImage(std::as_bytes(std::span<const char>(bytes)), why);
}

std::optional<std::string> CStrTable::Lookup(std::uint32_t id) const
{
    if (id == strtable::kSentinelId) return std::nullopt;
    const std::shared_ptr<const Content> c = Snapshot();
    std::size_t lo = 0, hi = c->ids.size();
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (c->ids[mid] == id) return c->texts[mid];
        if (c->ids[mid] < id)
            lo = mid + 1;
        else
            hi = mid;
    }
    return std::nullopt;
}

std::uint32_t CStrTable::Charset() const { return Snapshot()->charset; }
std::uint32_t CStrTable::Reserved() const { return Snapshot()->reserved; }
std::uint32_t CStrTable::Count() const { return static_cast<std::uint32_t>(Snapshot()->ids.size()); }

std::string FindTableFile(std::string_view directory, std::string_view name)
{
    if (directory.empty() || name.empty()) return {};
    std::error_code ec;
    const std::filesystem::path dir{std::string(directory)};
    if (std::filesystem::is_regular_file(dir / std::string(name), ec)) return (dir / std::string(name)).string();
    // Names compare without regard to case, as they did where tables come from.
    std::string found;
    for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string candidate = it->path().filename().string();
        if (candidate.size() == name.size() && strncasecmp(candidate.c_str(), name.data(), name.size()) == 0 &&
            it->is_regular_file(ec) && (found.empty() || candidate < std::filesystem::path(found).filename().string()))
            found = it->path().string();
    }
    return found;
}

bool LoadStrTableByName(CStrTable& table, HMODULE module, std::string_view directory, std::string_view name)
{
    const std::string nameText(name);
    std::string why;
    if (const std::string path = FindTableFile(directory, name); !path.empty()) {
        if (table.LoadFile(path, &why)) return true;
        Trace("LoadStrTableByName -- %s ignored: %s\n", path.c_str(), why.c_str());
    }
    if (HRSRC found = FindResource(module, nameText.c_str(), strtable::kResourceType)) {
        const auto* data = static_cast<const std::byte*>(LockResource(LoadResource(module, found)));
        if (data && table.LoadImage({data, SizeofResource(module, found)}, &why)) return true;
        Trace("LoadStrTableByName -- resource %s rejected: %s\n", nameText.c_str(), why.c_str());
    }
    table.Clear();
    return false;
}

}  // namespace quillory
