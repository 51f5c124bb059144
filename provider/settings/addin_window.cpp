#include "provider/settings/addin_window.h"

#include <cstdio>

#include "platform/base/trace.h"
#include "platform/base/window.h"

namespace quillory {

AddinWindowText ParseAddinWindowText(std::string_view text)
{
    AddinWindowText out;
    std::string* fields[] = {&out.email, &out.userName, &out.folderHex, &out.storeHex};
    if (text.empty()) return out;
    std::size_t start = 0;
    for (int i = 0; i < 4; ++i) {
        const std::size_t end = text.find(';', start);
        const std::size_t stop = end == std::string_view::npos ? text.size() : end;
        fields[i]->assign(text.substr(start, stop - start));
        out.fields = i + 1;
        if (end == std::string_view::npos) break;
        start = stop + 1;
    }
    return out;
}

HWND FindAddinWindow(std::string_view profileName)
{
    std::string className(sizeof kAddinWindowClassFormat + profileName.size(), '\0');
    const int n = std::snprintf(className.data(), className.size(), "TARNEL_NNTP_%.*s",
                                static_cast<int>(profileName.size()), profileName.data());
    if (n < 0) return nullptr;
    className.resize(static_cast<std::size_t>(n));
    return FindWindow(className.c_str(), nullptr);
}

std::optional<std::string> ReadAddinWindowText(std::string_view profileName)
{
    const HWND window = FindAddinWindow(profileName);
    if (!window) return std::nullopt;
    std::string text(kAddinWindowTextMax + 1, '\0');
    const int n = GetWindowText(window, text.data(), kAddinWindowTextMax + 1);
    text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return text;
}

std::optional<std::vector<BYTE>> EntryIdFromHexField(std::string_view hex)
{
    // An odd digit count or a stray character would give a garbled entry ID.
    if (hex.size() <= kMinEntryIdHexDigits || hex.size() % 2 != 0) return std::nullopt;
    auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    };
    std::vector<BYTE> out(hex.size() / 2);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const int hi = digit(hex[2 * i]);
        const int lo = digit(hex[2 * i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out[i] = static_cast<BYTE>(hi << 4 | lo);
    }
    return out;
}

void NotifyAddinWindow(std::string_view profileName, ULONG_PTR code, std::string_view data)
{
    const HWND window = FindAddinWindow(profileName);
    if (!window) return;
    std::string copy(data);
    COPYDATASTRUCT cds{code, static_cast<DWORD>(copy.size()), copy.data()};
    SendMessage(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds));
    Trace("NotifyAddinWindow -- sent %lu\n", static_cast<unsigned long>(code));
}

}  // namespace quillory
