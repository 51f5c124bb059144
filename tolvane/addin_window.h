// The hidden add-in window, "TARNEL_NNTP_<profile>": its text tells the
// provider the user's identity and the base folder
// ("address;name;FOLDERHEX;STOREHEX"), and it takes WM_COPYDATA notices
// from the provider and the options page.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "platform/base/window.h"

namespace quillory::tolvane {

inline constexpr char kWindowClassPrefix[] = "TARNEL_NNTP_";

// WM_COPYDATA codes (dwData); the window takes 660..690.
constexpr ULONG_PTR kCopyDataFirst = 660;
constexpr ULONG_PTR kCopyDataLast = 690;
constexpr ULONG_PTR kCopyDataDetachBase = 665;
constexpr ULONG_PTR kCopyDataBaseChanged = 666;
constexpr ULONG_PTR kCopyDataAccountCreated = 667;
constexpr ULONG_PTR kCopyDataAccountRenamed = 668;
constexpr ULONG_PTR kCopyDataLanguageChanged = 669;

// The proxy-address list of the user's entry.
constexpr ULONG PR_EMS_AB_PROXY_ADDRESSES = 0x800F101E;

// The account name of a 667 notice: the text before the first NUL within
// the data; nothing when there is no NUL inside it.
std::optional<std::string> ParseAccountCreated(std::span<const char> data);
// The old and new names of a 668 notice: two NUL-terminated strings, both
// inside the data; nothing otherwise.
std::optional<std::pair<std::string, std::string>> ParseAccountRenamed(std::span<const char> data);

// The identity fields of the window text: the display name, and the e-mail
// address when it is an Internet one ("@", no "/cn="), else the first
// "SMTP:" proxy address with "@" (the prefix cut off). Both are empty unless
// both are known.
struct WindowIdentity {
    std::string address;
    std::string name;
};
WindowIdentity ChooseIdentity(std::string_view email, std::string_view displayName,
                              std::span<const std::string> proxies);

// "address;name;folder;store"; a ';' inside the address or name becomes ','.
std::string ComposeWindowText(const WindowIdentity& who, std::string_view folderHex, std::string_view storeHex);

}  // namespace quillory::tolvane
