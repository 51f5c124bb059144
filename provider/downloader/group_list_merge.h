// Merging the answer of a new-groups query into an account's group-list text
// (one CR LF line per group: new mark '!' or blank, subscribed mark '*' or
// blank, a blank, the name, optionally a blank and a description).
//
// Loading clears the new marks of the previous run. Each group of the answer
// then gets the new mark on its line when the line has none, or, when the
// list lacks it, a new line "!  <name>" (new, not subscribed).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>

namespace quillory::quarnex {

// Longest group name taken from an answer line.
constexpr std::size_t kMaxNewGroupName = 998;

class CGroupListMerge {
public:
    // Takes the list text and clears its new marks.
    void Load(std::string text);
    // Merges one line of the answer (its first word is the group name).
    void Add(std::string_view answerLine);

    bool Loaded() const { return loaded_; }
    bool Modified() const { return modified_; }
    const std::string& Text() const { return text_; }
    void Reset();

private:
    void IndexLines();

    std::string text_;
    // Offset of the first line naming each group.
    std::unordered_map<std::string, std::size_t> lineOf_;
    bool loaded_ = false;
    bool modified_ = false;
};

}  // namespace quillory::quarnex
