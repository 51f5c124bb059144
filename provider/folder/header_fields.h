// The sender and the submit time of a header row, from its From and Date
// texts. The news component ("inetcomm.dll") reads any form; the quick
// readers here take only the common forms, plain ASCII, and answer exactly
// what the component answers for them (a differential test and a fuzz
// target hold them to that), so that most rows never need the component.
// For every other text they decline and the component reads it.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/base/wintypes.h"
#include "platform/inetcomm/mime/mime_services.h"

namespace quillory::quarnex {

struct HeaderSender {
    std::string name;
    std::string address;

    bool operator==(const HeaderSender&) const = default;
};

// "Display Name <local@domain>", "\"Quoted Name\" <local@domain>" or
// "local@domain"; nullopt for anything else.
std::optional<HeaderSender> QuickSender(std::string_view from);

// "[Www, ]D Mon YYYY HH:MM[:SS] +hhmm|-hhmm|GMT|UT|UTC[ (comment)]"; nullopt
// for anything else, and for a date the component would refuse.
std::optional<FILETIME> QuickDate(std::string_view date);

// The news component's readers, loaded for the lifetime of this object.
class CNewsComponentReaders {
public:
    CNewsComponentReaders();
    ~CNewsComponentReaders();
    CNewsComponentReaders(const CNewsComponentReaders&) = delete;
    CNewsComponentReaders& operator=(const CNewsComponentReaders&) = delete;

    bool Loaded() const { return module_ != nullptr; }
    // The first mailbox's name and address, uncut; nullopt when the
    // component finds none (or is not there).
    std::optional<HeaderSender> Sender(std::string_view from) const;
    std::optional<FILETIME> Date(std::string_view date) const;

private:
    HMODULE module_;
    PFNMIMEOLEPARSERFC822ADDRESS parseAddress_ = nullptr;
    PFNMIMEOLEINETDATETOFILETIME dateToFileTime_ = nullptr;
    PFNMIMEOLEGETALLOCATOR getAllocator_ = nullptr;
};

// Reads the From and Date texts of header rows: the component is loaded at
// the first text and kept while the reader lives (the NNTP session holds it
// loaded anyway); with the component there, the quick readers answer first
// and the component reads what they decline. Without the component nothing
// is read, as the rows' rules say.
class CHeaderFieldReader {
public:
    CHeaderFieldReader();
    ~CHeaderFieldReader();
    CHeaderFieldReader(const CHeaderFieldReader&) = delete;
    CHeaderFieldReader& operator=(const CHeaderFieldReader&) = delete;

    // Empty texts are not read; a text that cannot be read gives nullopt.
    void Read(std::string_view from, std::string_view date, std::optional<HeaderSender>& sender,
              std::optional<FILETIME>& submitted);

private:
    std::unique_ptr<CNewsComponentReaders> component_;
    // The component's answers for the From texts it read lately: authors
    // post many articles, and their texts come back again and again.
    std::unordered_map<std::string, std::optional<HeaderSender>> senders_;
};

// From texts whose component answers a reader remembers.
constexpr std::size_t kRememberedSenders = 4096;

}  // namespace quillory::quarnex
