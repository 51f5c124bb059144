// The add-in's hidden window, "TARNEL_NNTP_<profile>": its text carries the
// user's identity and the base folder, and it takes WM_COPYDATA notices
// about account changes.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/window.h"
#include "platform/base/wintypes.h"

namespace quillory {

inline constexpr char kAddinWindowClassFormat[] = "TARNEL_NNTP_%s";
// WM_GETTEXT reads at most this many characters.
constexpr int kAddinWindowTextMax = 4999;
// A base-folder entry ID field counts only when longer than this many digits.
constexpr std::size_t kMinEntryIdHexDigits = 9;

// WM_COPYDATA codes the provider sends.
constexpr ULONG_PTR kCopyDataAccountCreated = 667;
constexpr ULONG_PTR kCopyDataAccountRenamed = 668;

// The four ";"-separated fields of the window text; fields past the end of
// the text are empty, and `fields` tells how many the text had.
struct AddinWindowText {
    std::string email;
    std::string userName;
    std::string folderHex;
    std::string storeHex;
    int fields = 0;
};

AddinWindowText ParseAddinWindowText(std::string_view text);

// The window of the profile's add-in, or null.
HWND FindAddinWindow(std::string_view profileName);
// Its text (up to kAddinWindowTextMax characters); empty when there is no window.
std::optional<std::string> ReadAddinWindowText(std::string_view profileName);

// The binary entry ID of a hex field: only a field of more than nine digits,
// of even length and all hex digits, converts; anything else gives nothing.
std::optional<std::vector<BYTE>> EntryIdFromHexField(std::string_view hex);

// Sends WM_COPYDATA with `code` and `data` to the profile's add-in window
// when it exists. A missing window is not an error.
void NotifyAddinWindow(std::string_view profileName, ULONG_PTR code, std::string_view data);

}  // namespace quillory
