#include "provider/downloader/group_list_merge.h"

#include "common/grouplist.h"

#include <algorithm>

namespace quillory::quarnex {
namespace {

// Column of the name on a list line (after the two mark columns and a blank).
constexpr std::size_t kNameColumn = 3;

bool EndsName(char c) { return c == ' ' || c == '\r' || c == '\n'; }

}  // namespace

void CGroupListMerge::Reset()
{
    text_.clear();
    lineOf_.clear();
    loaded_ = false;
    modified_ = false;
}

void CGroupListMerge::Load(std::string text)
{
    Reset();
    text_ = std::move(text);
    loaded_ = true;
    // The marks of the previous run go: at the start and after every CR LF.
    if (!text_.empty() && text_[0] == kGroupNewMark) {
        text_[0] = ' ';
        modified_ = true;
    }
    for (std::size_t p = text_.find("\r\n!"); p != std::string::npos; p = text_.find("\r\n!", p + 2)) {
        text_[p + 2] = ' ';
        modified_ = true;
    }
    IndexLines();
}

// A name counts only in its column, so that a description that mentions a
// group never stands for that group's line.
void CGroupListMerge::IndexLines()
{
    std::size_t start = 0;
    while (start < text_.size()) {
        std::size_t end = text_.find_first_of("\r\n", start);
        if (end == std::string::npos) end = text_.size();
        if (end - start > kNameColumn && text_[start + 2] == ' ' &&
            (text_[start + 1] == ' ' || text_[start + 1] == kGroupSubscribedMark)) {
            std::size_t nameEnd = start + kNameColumn;
            while (nameEnd < end && text_[nameEnd] != ' ') ++nameEnd;
            if (nameEnd > start + kNameColumn)
                lineOf_.emplace(text_.substr(start + kNameColumn, nameEnd - start - kNameColumn), start);
        }
        start = end + 1;
    }
}

void CGroupListMerge::Add(std::string_view answerLine)
{
    std::size_t length = 0;
    while (length < answerLine.size() && !EndsName(answerLine[length]) && answerLine[length] != '\0') ++length;
    if (length == 0) return;
    const std::string name(answerLine.substr(0, std::min(length, kMaxNewGroupName)));

    if (const auto it = lineOf_.find(name); it != lineOf_.end()) {
        if (text_[it->second] == ' ') {
            text_[it->second] = kGroupNewMark;
            modified_ = true;
        }
        return;
    }
    // A last line without its line end would otherwise swallow the new one.
    if (!text_.empty() && text_.back() != '\n') text_.append("\r\n");
    lineOf_.emplace(name, text_.size());
    text_.push_back(kGroupNewMark);
    text_.append("  ").append(name).append("\r\n");
    modified_ = true;
}

}  // namespace quillory::quarnex
