#include "tolvane/addin_window.h"

#include <algorithm>

namespace quillory::tolvane {

namespace {

constexpr std::string_view kSmtpPrefix = "SMTP:";
constexpr std::size_t kProxyAddressStart = 5;  // the address after "SMTP:"

// The string at the start of data up to its NUL, and where the next begins.
std::optional<std::string> TakeString(std::span<const char>& data)
{
    const auto nul = std::find(data.begin(), data.end(), '\0');
    if (nul == data.end()) return std::nullopt;  // unterminated: nothing is read past the data
    std::string text(data.begin(), nul);
    data = data.subspan(static_cast<std::size_t>(nul - data.begin()) + 1);
    return text;
}

}  // namespace

std::optional<std::string> ParseAccountCreated(std::span<const char> data)
{
    if (data.empty()) return std::nullopt;
    return TakeString(data);
}

std::optional<std::pair<std::string, std::string>> ParseAccountRenamed(std::span<const char> data)
{
    if (data.empty()) return std::nullopt;
    auto first = TakeString(data);
    if (!first) return std::nullopt;
    auto second = TakeString(data);
    if (!second) return std::nullopt;
    return std::make_pair(std::move(*first), std::move(*second));
}

WindowIdentity ChooseIdentity(std::string_view email, std::string_view displayName,
                              std::span<const std::string> proxies)
{
    WindowIdentity who;
    who.name = std::string(displayName);
    if (email.find("/cn=") == std::string_view::npos && email.find('@') != std::string_view::npos) {
        who.address = std::string(email);
    } else {
        for (const std::string& p : proxies) {
            if (p.find('@') != std::string::npos && p.find(kSmtpPrefix) != std::string::npos &&
                p.size() > kProxyAddressStart) {
                who.address = p.substr(kProxyAddressStart);
                break;
            }
        }
    }
    if (who.address.empty() || who.name.empty()) return {};
    return who;
}

std::string ComposeWindowText(const WindowIdentity& who, std::string_view folderHex, std::string_view storeHex)
{
    // A field may not hold the separator: the reader would take the rest
    // of a name for the folder's ID.
    auto field = [](std::string s) {
        std::replace(s.begin(), s.end(), ';', ',');
        return s;
    };
    std::string text = field(who.address);
    text += ';';
    text += field(who.name);
    text += ';';
    text += folderHex;
    text += ';';
    text += storeHex;
    return text;
}

}  // namespace quillory::tolvane
