// The add-in's texts, from its own string tables (the three languages the
// GUI library ships, carried as the add-in's resources, replaceable by
// table files beside the library), in the language the user chose.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "platform/base/wintypes.h"

namespace quillory::tolvane {

// String ids the add-in shows.
constexpr UINT kStrInboxAsBase = 139;
constexpr UINT kStrNotMailFolder = 140;
constexpr UINT kStrBaseFolderCaption = 2023;
constexpr UINT kStrButtonCaption = 7101;      // "Newsgroups..."
constexpr UINT kStrCaption = 7103;            // message box caption
constexpr UINT kStrNoAccountForGroup = 7104;  // subject, newsgroup
constexpr UINT kStrNoFittingAccount = 7105;   // subject, newsgroup
constexpr UINT kStrNoAccounts = 7111;
constexpr UINT kStrNewAccountQuestion = 7119;  // account name
constexpr UINT kStrNewAccountCaption = 7120;
constexpr UINT kStrNoGuiLibrary = 7121;
constexpr UINT kStrPostRefusedHint = 7308;
constexpr UINT kStrHelpFile = 7309;

// The text of an id (its first line for captions is the caller's choice);
// empty when no table has it. Runs the language check first, so a choice
// made elsewhere shows at once.
std::string AddinText(UINT id);

// A message with its conversions filled: each conversion of the text ("%s",
// "%08x" ...) takes the next argument as it is (the caller formats numbers),
// "%%" is one "%". A translated text whose conversions are not exactly those
// of the English text is not used; the English one is. Arguments are never
// read as formats.
std::string FormatAddinText(UINT id, std::initializer_list<std::string_view> args);

// The same filling of `format`; false (out untouched) when it does not read,
// or its conversions are not those of `reference` or not as many as the arguments.
bool FillPlaceholders(std::string_view format, std::string_view reference, std::initializer_list<std::string_view> args,
                      std::string& out);

}  // namespace quillory::tolvane
