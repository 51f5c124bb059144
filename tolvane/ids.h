// The add-in library's identities: its classes, application, type library
// and interfaces, their ProgIDs, and its resources. Fixed for every build;
// the registry scripts and the type library text carry the same values.
#pragma once

#include "platform/com/unknwn.h"

namespace quillory::tolvane {

// {4A9C87D8-D7B2-4102-85E1-73A0B3420C31}
constexpr CLSID CLSID_OutlookAddin = {0x4A9C87D8, 0xD7B2, 0x4102, {0x85, 0xE1, 0x73, 0xA0, 0xB3, 0x42, 0x0C, 0x31}};
// {BA90A421-0038-4694-965B-ED932BB7EF34}
constexpr CLSID CLSID_NNTPPropPage = {0xBA90A421, 0x0038, 0x4694, {0x96, 0x5B, 0xED, 0x93, 0x2B, 0xB7, 0xEF, 0x34}};
// {BB506285-5892-483E-85AB-03ABB06D6CD4}
constexpr GUID LIBID_tolvaneLib = {0xBB506285, 0x5892, 0x483E, {0x85, 0xAB, 0x03, 0xAB, 0xB0, 0x6D, 0x6C, 0xD4}};
constexpr WORD kTypeLibMajor = 1;
constexpr WORD kTypeLibMinor = 0;
// {EAC5E94B-A8D8-443C-B65C-99172421381A}
constexpr IID IID_IOutlookAddin = {0xEAC5E94B, 0xA8D8, 0x443C, {0xB6, 0x5C, 0x99, 0x17, 0x24, 0x21, 0x38, 0x1A}};
inline constexpr char kAppId[] = "{1AA5E393-BCF2-4526-AB2D-A93F54A81BC8}";

inline constexpr char kAddinProgId[] = "tolvane.OutlookAddin";
inline constexpr char kPageProgId[] = "tolvane.NNTPPropPage";
inline constexpr char kAddinFriendlyName[] = "Tarnel NNTP";
inline constexpr char kAddinDescription[] = "Read and post Usenet newsgroups in the mail client.";

// Resources.
constexpr WORD IDR_TOLVANE = 7300;        // the AppID script
constexpr WORD IDR_OUTLOOKADDIN = 7301;   // the add-in class
constexpr WORD IDR_NNTPPROPPAGE = 7303;   // the options page class
constexpr WORD IDR_TYPELIB = 1;
constexpr WORD IDR_MANIFEST = 2;
inline constexpr char kScriptType[] = "REGISTRY";

// The options page control's OLE miscellaneous status bits (%OLEMISC%):
// recompose on resize, can't link, inside out, activate when visible, set
// client site first.
constexpr DWORD kPageOleMisc = 0x00020000 | 0x00000010 | 0x00000080 | 0x00000100 | 0x00000001;

}  // namespace quillory::tolvane
