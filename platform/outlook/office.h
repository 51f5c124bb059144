// Command bars: the menus of the mail client's windows, as automation
// objects. A window's CommandBars hold bars (the menu bar first); a bar holds
// controls; a popup control opens a bar of its own. Built-in controls carry
// the ids of the host's commands; controls that add-ins add are buttons
// whose Click goes to their sinks.
#pragma once

#include "platform/com/oleauto.h"

constexpr IID IID__CommandBars = {0x3620A0F6, 0x1E2D, 0x4496, {0x9A, 0x8F, 0x38, 0x92, 0x80, 0xC6, 0x0A, 0x7E}};
constexpr IID IID_CommandBar = {0xB02B084E, 0x6F7C, 0x4669, {0xA9, 0x50, 0xAB, 0xDA, 0x6D, 0xBE, 0x67, 0xB2}};
constexpr IID IID_CommandBarControls = {0x6B2BF0C6, 0xE30C, 0x4B19, {0xA1, 0x94, 0x19, 0x0B, 0x36, 0x5C, 0x47, 0x5A}};
constexpr IID IID_CommandBarControl = {0x6B34CC31, 0xF81A, 0x41F7, {0x8C, 0x81, 0x09, 0x11, 0x3F, 0x92, 0xD4, 0x41}};
constexpr IID IID__CommandBarButton = {0x9BB7C741, 0xF3E5, 0x40EE, {0xA3, 0xB3, 0xC0, 0xBA, 0xE5, 0x3F, 0xC5, 0x99}};
constexpr IID IID_CommandBarPopup = {0x3A768814, 0xEF57, 0x49D5, {0x93, 0xE6, 0xF1, 0x4A, 0x77, 0x4A, 0xC4, 0x48}};
// The events of a button: Click(Ctrl, CancelDefault).
constexpr IID DIID__CommandBarButtonEvents = {0x000C0351, 0x0000, 0x0000,
                                              {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr DISPID DISPID_CommandBarButtonClick = 1;

// Control types.
constexpr LONG msoControlCustom = 0;
constexpr LONG msoControlButton = 1;
constexpr LONG msoControlPopup = 10;
// Bar types.
constexpr LONG msoBarTypeNormal = 0;
constexpr LONG msoBarTypeMenuBar = 1;
constexpr LONG msoBarTypePopup = 2;

class CommandBar;
class CommandBarControl;
class CommandBarControls;

class _CommandBars : public IDispatch {
public:
    static constexpr const IID& kIid = IID__CommandBars;
    virtual HRESULT get_Count(LONG* out) = 0;
    // Index: a 1-based position or a bar's name.
    virtual HRESULT get_Item(VARIANT Index, CommandBar** out) = 0;
    virtual HRESULT get_ActiveMenuBar(CommandBar** out) = 0;
    // The first control (depth first, bars in order) matching every given
    // criterion; Nothing when none does.
    virtual HRESULT FindControl(VARIANT Type, VARIANT Id, VARIANT Tag, VARIANT Visible, CommandBarControl** out) = 0;
};

class CommandBar : public IDispatch {
public:
    static constexpr const IID& kIid = IID_CommandBar;
    virtual HRESULT get_Name(BSTR* out) = 0;
    virtual HRESULT get_Index(LONG* out) = 0;
    virtual HRESULT get_Type(LONG* out) = 0;
    virtual HRESULT get_BuiltIn(VARIANT_BOOL* out) = 0;
    virtual HRESULT get_Visible(VARIANT_BOOL* out) = 0;
    virtual HRESULT get_Controls(CommandBarControls** out) = 0;
    virtual HRESULT FindControl(VARIANT Type, VARIANT Id, VARIANT Tag, VARIANT Visible, VARIANT Recursive,
                                CommandBarControl** out) = 0;
};

class CommandBarControls : public IDispatch {
public:
    static constexpr const IID& kIid = IID_CommandBarControls;
    virtual HRESULT get_Count(LONG* out) = 0;
    virtual HRESULT get_Item(VARIANT Index, CommandBarControl** out) = 0;
    // Type: msoControlButton (default) or msoControlPopup; Id: a built-in
    // command to copy (left out: a custom control); Before: the 1-based
    // position to insert at (left out: at the end); Temporary: dropped when
    // the window closes (every control here is).
    virtual HRESULT Add(VARIANT Type, VARIANT Id, VARIANT Parameter, VARIANT Before, VARIANT Temporary,
                        CommandBarControl** out) = 0;
};

class CommandBarControl : public IDispatch {
public:
    static constexpr const IID& kIid = IID_CommandBarControl;
    virtual HRESULT get_Id(LONG* out) = 0;
    virtual HRESULT get_Type(LONG* out) = 0;
    virtual HRESULT get_Caption(BSTR* out) = 0;
    virtual HRESULT put_Caption(BSTR value) = 0;
    virtual HRESULT get_Enabled(VARIANT_BOOL* out) = 0;
    virtual HRESULT put_Enabled(VARIANT_BOOL value) = 0;
    virtual HRESULT get_Visible(VARIANT_BOOL* out) = 0;
    virtual HRESULT put_Visible(VARIANT_BOOL value) = 0;
    virtual HRESULT get_Tag(BSTR* out) = 0;
    virtual HRESULT put_Tag(BSTR value) = 0;
    virtual HRESULT get_Parameter(BSTR* out) = 0;
    virtual HRESULT put_Parameter(BSTR value) = 0;
    virtual HRESULT get_Index(LONG* out) = 0;
    virtual HRESULT get_BuiltIn(VARIANT_BOOL* out) = 0;
    // The bar that holds the control.
    virtual HRESULT get_Parent(CommandBar** out) = 0;
    virtual HRESULT Delete(VARIANT Temporary) = 0;
    // Runs the control: a built-in command goes to the host, a button of an
    // add-in raises Click.
    virtual HRESULT Execute() = 0;
};

class _CommandBarButton : public CommandBarControl {
public:
    static constexpr const IID& kIid = IID__CommandBarButton;
};

class CommandBarPopup : public CommandBarControl {
public:
    static constexpr const IID& kIid = IID_CommandBarPopup;
    virtual HRESULT get_CommandBar(CommandBar** out) = 0;
    virtual HRESULT get_Controls(CommandBarControls** out) = 0;
};
