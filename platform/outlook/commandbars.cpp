// Command bars: a window's menus as a tree of bars and controls. Built-in
// controls run the host's commands; buttons that add-ins add raise Click.
// When the window closes the tree is let go: controls still held answer
// E_FAIL from then on.
#include <algorithm>
#include <functional>
#include <optional>
#include <strings.h>

#include "platform/com/dispatch_member.h"
#include "platform/outlook/model_objects.h"

namespace quillory::outlook {

class CCommandBars;

namespace {

class CBar;

// What both kinds of control share, apart from their interface.
class CControlNode {
public:
    virtual ~CControlNode() = default;
    // The control's interface (no reference added).
    virtual CommandBarControl* Control() = 0;
    // Drops the reference the bar holding the control had.
    virtual void Unref() = 0;
    virtual CBar* Popup() = 0;
    LONG id = 0;
    LONG type = msoControlButton;
    std::string caption, tag, parameter;
    bool enabled = true, visible = true, builtIn = false;
    CBar* bar = nullptr;  // null once deleted or the window closed
};

struct Criteria {
    std::optional<LONG> type, id;
    std::optional<std::string> tag;
    bool visibleOnly = false;

    bool Match(const CControlNode& c) const
    {
        return (!type || *type == c.type) && (!id || *id == c.id) && (!tag || *tag == c.tag) &&
               (!visibleOnly || c.visible);
    }
};

std::optional<LONG> LongArg(const VARIANT& v)
{
    if (IsMissing(v) || v.vt == VT_EMPTY) return std::nullopt;
    CComVariant n;
    if (FAILED(VariantChangeType(&n, &v, 0, VT_I4))) return std::nullopt;
    return n.lVal;
}

Criteria CriteriaOf(const VARIANT& type, const VARIANT& id, const VARIANT& tag, const VARIANT& visible)
{
    Criteria c;
    c.type = LongArg(type);
    c.id = LongArg(id);
    if (!IsMissing(tag) && tag.vt != VT_EMPTY) c.tag = std::string(VariantText(tag));
    const auto v = LongArg(visible);
    c.visibleOnly = v && *v != 0;
    return c;
}

class CBar final : public CDispatchImpl<CommandBar>, public CRefCounted {
public:
    CBar(CCommandBars* owner, std::string name, LONG type) : owner_(owner), name_(std::move(name)), type_(type) {}
    QUILLORY_IUNKNOWN_REFCOUNT
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        return QueryInterfaceTable(riid, ppv, {{&IID_CommandBar, this}, {&IID_IDispatch, this}});
    }
    HRESULT get_Name(BSTR* out) override { return ToBstr(name_, out); }
    HRESULT get_Index(LONG* out) override;
    HRESULT get_Type(LONG* out) override
    {
        if (!out) return E_POINTER;
        *out = type_;
        return S_OK;
    }
    HRESULT get_BuiltIn(VARIANT_BOOL* out) override
    {
        if (!out) return E_POINTER;
        *out = VARIANT_TRUE;
        return S_OK;
    }
    HRESULT get_Visible(VARIANT_BOOL* out) override
    {
        if (!out) return E_POINTER;
        *out = VARIANT_TRUE;
        return S_OK;
    }
    HRESULT get_Controls(CommandBarControls** out) override;
    HRESULT FindControl(VARIANT Type, VARIANT Id, VARIANT Tag, VARIANT Visible, VARIANT Recursive,
                        CommandBarControl** out) override
    {
        if (!out) return E_POINTER;
        *out = nullptr;
        const auto recursive = LongArg(Recursive);
        CControlNode* found = Find(CriteriaOf(Type, Id, Tag, Visible), recursive && *recursive != 0);
        return found ? Hand(found->Control(), out) : S_OK;
    }

    CControlNode* Find(const Criteria& c, bool recursive)
    {
        for (auto* node : controls_) {
            if (c.Match(*node)) return node;
            if (recursive && node->Popup())
                if (CControlNode* inner = node->Popup()->Find(c, true)) return inner;
        }
        return nullptr;
    }
    HRESULT Insert(std::size_t before, CControlNode* node);
    void Remove(CControlNode* node)
    {
        const auto it = std::find(controls_.begin(), controls_.end(), node);
        if (it == controls_.end()) return;
        node->bar = nullptr;
        controls_.erase(it);
        node->Unref();
    }
    void Detach()
    {
        while (!controls_.empty()) {
            CControlNode* node = controls_.back();
            if (CBar* popup = node->Popup()) popup->Detach();
            Remove(node);
        }
        owner_ = nullptr;
    }
    const std::vector<CControlNode*>& Controls() const { return controls_; }
    CCommandBars* Owner() const { return owner_; }

protected:
    DispTable Members() const override
    {
        static const DispMember members[] = {
            DispProp<&CommandBar::get_Name>("Name", 1),
            DispProp<&CommandBar::get_Index>("Index", 2),
            DispProp<&CommandBar::get_Type>("Type", 3),
            DispProp<&CommandBar::get_BuiltIn>("BuiltIn", 4),
            DispProp<&CommandBar::get_Visible>("Visible", 5),
            DispProp<&CommandBar::get_Controls>("Controls", 6),
            DispMethod<&CommandBar::FindControl>("FindControl", 7),
        };
        return members;
    }
    std::string_view InterfaceName() const override { return "CommandBar"; }

private:
    CCommandBars* owner_;
    std::string name_;
    LONG type_;
    std::vector<CControlNode*> controls_;  // each holds one reference
};

}  // namespace

class CCommandBars final : public CDispatchImpl<_CommandBars>, public CRefCounted {
public:
    CCommandBars(ModelPtr model, IDispatch* window) : model_(std::move(model)), window_(window) {}
    QUILLORY_IUNKNOWN_REFCOUNT
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        return QueryInterfaceTable(riid, ppv, {{&IID__CommandBars, this}, {&IID_IDispatch, this}});
    }
    HRESULT get_Count(LONG* out) override
    {
        if (!out) return E_POINTER;
        *out = static_cast<LONG>(bars_.size());
        return S_OK;
    }
    HRESULT get_Item(VARIANT Index, CommandBar** out) override
    {
        if (!out) return E_POINTER;
        *out = nullptr;
        LONG index = 0;
        std::string name;
        bool isName = false;
        if (!CollectionIndex(Index, index, name, isName)) return DISP_E_TYPEMISMATCH;
        for (std::size_t i = 0; i < bars_.size(); ++i) {
            CComBSTR barName;
            bars_[i]->get_Name(&barName);
            if (isName ? strcasecmp(barName.Str().c_str(), name.c_str()) == 0 : static_cast<LONG>(i + 1) == index)
                return Hand(bars_[i].Get(), out);
        }
        return isName ? E_INVALIDARG : DISP_E_BADINDEX;
    }
    HRESULT get_ActiveMenuBar(CommandBar** out) override
    {
        if (!out) return E_POINTER;
        *out = nullptr;
        return bars_.empty() ? E_FAIL : Hand(bars_.front().Get(), out);
    }
    HRESULT FindControl(VARIANT Type, VARIANT Id, VARIANT Tag, VARIANT Visible, CommandBarControl** out) override
    {
        if (!out) return E_POINTER;
        *out = nullptr;
        const Criteria c = CriteriaOf(Type, Id, Tag, Visible);
        for (const auto& bar : bars_)
            if (CControlNode* found = bar->Find(c, true)) return Hand(found->Control(), out);
        return S_OK;
    }

    HRESULT Build(const MenuLayout& layout);
    CBar* NewBar(std::string name, LONG type);
    void Changed()
    {
        if (window_) model_->Host().CommandBarsChanged(this);
    }
    void Execute(CControlNode& control);
    // The caption of a built-in command of this window's menus, if it has it.
    std::optional<std::string> BuiltinCaption(LONG id) const;
    void Disconnect()
    {
        window_ = nullptr;
        for (auto& bar : bars_) bar->Detach();
        bars_.clear();
    }
    bool Open() const { return window_ != nullptr; }

protected:
    DispTable Members() const override
    {
        static const DispMember members[] = {
            DispProp<&_CommandBars::get_Item>("Item", DISPID_VALUE),
            DispProp<&_CommandBars::get_Count>("Count", 1),
            DispProp<&_CommandBars::get_ActiveMenuBar>("ActiveMenuBar", 2),
            DispMethod<&_CommandBars::FindControl>("FindControl", 3),
        };
        return members;
    }
    std::string_view InterfaceName() const override { return "_CommandBars"; }

private:
    ModelPtr model_;
    IDispatch* window_;  // the window owns the bars; null once it closed
    std::vector<ComPtr<CBar>> bars_;
    MenuLayout layout_;
};

namespace {

// A control of either kind over its interface.
template <class Itf>
class CControl : public CDispatchImpl<Itf>, public CEventSource, public CControlNode, public CRefCounted {
public:
    explicit CControl(CCommandBars* bars)
        : CEventSource(static_cast<Itf*>(this), DIID__CommandBarButtonEvents), bars_(bars)
    {
    }
    QUILLORY_IUNKNOWN_REFCOUNT
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        return QueryInterfaceTable(riid, ppv,
                                   {{&Itf::kIid, static_cast<Itf*>(this)},
                                    {&IID_CommandBarControl, static_cast<Itf*>(this)},
                                    {&IID_IDispatch, static_cast<Itf*>(this)},
                                    {&IID_IConnectionPointContainer, static_cast<IConnectionPointContainer*>(this)}});
    }
    CommandBarControl* Control() override { return static_cast<Itf*>(this); }
    void Unref() override { this->Release(); }

    HRESULT get_Id(LONG* out) override { return Give(id, out); }
    HRESULT get_Type(LONG* out) override { return Give(type, out); }
    HRESULT get_Caption(BSTR* out) override { return ToBstr(caption, out); }
    HRESULT put_Caption(BSTR value) override { return Change(caption, value); }
    HRESULT get_Enabled(VARIANT_BOOL* out) override { return Give(enabled ? VARIANT_TRUE : VARIANT_FALSE, out); }
    HRESULT put_Enabled(VARIANT_BOOL value) override { return Change(enabled, value != VARIANT_FALSE); }
    HRESULT get_Visible(VARIANT_BOOL* out) override { return Give(visible ? VARIANT_TRUE : VARIANT_FALSE, out); }
    HRESULT put_Visible(VARIANT_BOOL value) override { return Change(visible, value != VARIANT_FALSE); }
    HRESULT get_Tag(BSTR* out) override { return ToBstr(tag, out); }
    HRESULT put_Tag(BSTR value) override { return Change(tag, value); }
    HRESULT get_Parameter(BSTR* out) override { return ToBstr(parameter, out); }
    HRESULT put_Parameter(BSTR value) override { return Change(parameter, value); }
    HRESULT get_Index(LONG* out) override
    {
        if (!out) return E_POINTER;
        if (!bar) return E_FAIL;
        const auto& list = bar->Controls();
        *out = static_cast<LONG>(std::find(list.begin(), list.end(), this) - list.begin()) + 1;
        return S_OK;
    }
    HRESULT get_BuiltIn(VARIANT_BOOL* out) override { return Give(builtIn ? VARIANT_TRUE : VARIANT_FALSE, out); }
    HRESULT get_Parent(CommandBar** out) override
    {
        if (!out) return E_POINTER;
        *out = nullptr;
        return bar ? Hand(bar, out) : E_FAIL;
    }
    HRESULT Delete(VARIANT) override
    {
        if (!bar) return E_FAIL;
        ComPtr<Itf> keep(static_cast<Itf*>(this));
        if (CBar* popup = Popup()) popup->Detach();
        bar->Remove(this);
        events_.UnadviseAll();
        bars_->Changed();
        return S_OK;
    }
    HRESULT Execute() override
    {
        if (!bar || !bars_->Open()) return E_FAIL;
        if (!enabled) return S_FALSE;
        bars_->Execute(*this);
        return S_OK;
    }

    void RaiseClick(bool& cancelDefault)
    {
        VARIANT self;
        VariantInit(&self);
        self.vt = VT_DISPATCH;
        self.pdispVal = static_cast<Itf*>(this);
        VARIANT_BOOL cancel = VARIANT_FALSE;
        VARIANT cancelArg;
        VariantInit(&cancelArg);
        cancelArg.vt = VT_BYREF | VT_BOOL;
        cancelArg.pboolVal = &cancel;
        events_.Fire(DISPID_CommandBarButtonClick, {self, cancelArg});
        cancelDefault = cancel != VARIANT_FALSE;
    }

protected:
    template <class T>
    static HRESULT Give(T value, T* out)
    {
        if (!out) return E_POINTER;
        *out = value;
        return S_OK;
    }
    HRESULT Change(std::string& field, BSTR value)
    {
        if (!bar) return E_FAIL;
        field.assign(value ? value : "", SysStringLen(value));
        bars_->Changed();
        return S_OK;
    }
    HRESULT Change(bool& field, bool value)
    {
        if (!bar) return E_FAIL;
        field = value;
        bars_->Changed();
        return S_OK;
    }
    static std::span<const DispMember> ControlMembers()
    {
        static const DispMember members[] = {
            DispProp<&CommandBarControl::get_Id>("Id", 1),
            DispProp<&CommandBarControl::get_Type>("Type", 2),
            DispProp<&CommandBarControl::get_Caption, &CommandBarControl::put_Caption>("Caption", 3),
            DispProp<&CommandBarControl::get_Enabled, &CommandBarControl::put_Enabled>("Enabled", 4),
            DispProp<&CommandBarControl::get_Visible, &CommandBarControl::put_Visible>("Visible", 5),
            DispProp<&CommandBarControl::get_Tag, &CommandBarControl::put_Tag>("Tag", 6),
            DispProp<&CommandBarControl::get_Parameter, &CommandBarControl::put_Parameter>("Parameter", 7),
            DispProp<&CommandBarControl::get_Index>("Index", 8),
            DispProp<&CommandBarControl::get_BuiltIn>("BuiltIn", 9),
            DispProp<&CommandBarControl::get_Parent>("Parent", 10),
            DispMethod<&CommandBarControl::Delete>("Delete", 11),
            DispMethod<&CommandBarControl::Execute>("Execute", 12),
        };
        return members;
    }

    CCommandBars* bars_;  // outlives the control's place in the tree (see Release)
};

class CButton final : public CControl<_CommandBarButton> {
public:
    using CControl::CControl;
    CBar* Popup() override { return nullptr; }

protected:
    DispTable Members() const override { return ControlMembers(); }
    std::string_view InterfaceName() const override { return "_CommandBarButton"; }
};

class CPopup final : public CControl<CommandBarPopup> {
public:
    CPopup(CCommandBars* bars, CBar* popup) : CControl(bars), popup_(popup) {}
    CBar* Popup() override { return popup_.Get(); }
    HRESULT get_CommandBar(CommandBar** out) override { return bar ? Hand(popup_.Get(), out) : E_FAIL; }
    HRESULT get_Controls(CommandBarControls** out) override { return bar ? popup_->get_Controls(out) : E_FAIL; }

protected:
    DispTable Members() const override
    {
        static const auto members = [] {
            std::vector<DispMember> m(ControlMembers().begin(), ControlMembers().end());
            m.push_back(DispProp<&CommandBarPopup::get_CommandBar>("CommandBar", 20));
            m.push_back(DispProp<&CommandBarPopup::get_Controls>("Controls", 21));
            return m;
        }();
        return members;
    }
    std::string_view InterfaceName() const override { return "CommandBarPopup"; }

private:
    ComPtr<CBar> popup_;
};

class CControls final : public CDispatchImpl<CommandBarControls>, public CRefCounted {
public:
    CControls(CCommandBars* bars, CBar* bar) : bars_(bars), bar_(bar) {}
    QUILLORY_IUNKNOWN_REFCOUNT
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        return QueryInterfaceTable(riid, ppv, {{&IID_CommandBarControls, this}, {&IID_IDispatch, this}});
    }
    HRESULT get_Count(LONG* out) override
    {
        if (!out) return E_POINTER;
        *out = static_cast<LONG>(bar_->Controls().size());
        return S_OK;
    }
    HRESULT get_Item(VARIANT Index, CommandBarControl** out) override
    {
        if (!out) return E_POINTER;
        *out = nullptr;
        LONG index = 0;
        std::string name;
        bool isName = false;
        if (!CollectionIndex(Index, index, name, isName)) return DISP_E_TYPEMISMATCH;
        const auto& list = bar_->Controls();
        for (std::size_t i = 0; i < list.size(); ++i)
            if (isName ? strcasecmp(list[i]->caption.c_str(), name.c_str()) == 0 : static_cast<LONG>(i + 1) == index)
                return Hand(list[i]->Control(), out);
        return isName ? E_INVALIDARG : DISP_E_BADINDEX;
    }
    HRESULT Add(VARIANT Type, VARIANT Id, VARIANT Parameter, VARIANT Before, VARIANT, CommandBarControl** out) override;

protected:
    DispTable Members() const override
    {
        static const DispMember members[] = {
            DispProp<&CommandBarControls::get_Item>("Item", DISPID_VALUE),
            DispProp<&CommandBarControls::get_Count>("Count", 1),
            DispMethod<&CommandBarControls::Add>("Add", 2),
        };
        return members;
    }
    std::string_view InterfaceName() const override { return "CommandBarControls"; }

private:
    CCommandBars* bars_;
    ComPtr<CBar> bar_;
};

HRESULT CBar::get_Index(LONG* out)
{
    if (!out) return E_POINTER;
    *out = 1;
    return S_OK;
}

HRESULT CBar::get_Controls(CommandBarControls** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!owner_) return E_FAIL;
    return Hand(ComPtr<CControls>::Attach(NewComObject<CControls>(owner_, this)).Get(),
                out);
}

HRESULT CBar::Insert(std::size_t before, CControlNode* node)
{
    if (before > controls_.size()) return DISP_E_BADINDEX;
    node->bar = this;
    controls_.insert(controls_.begin() + static_cast<std::ptrdiff_t>(before), node);
    return S_OK;
}

// Makes a control (one reference, given to the bar by Insert).
CControlNode* NewControl(CCommandBars* bars, LONG type, CBar* popup)
{
    if (type == msoControlPopup) return NewComObject<CPopup>(bars, popup);
    return NewComObject<CButton>(bars);
}

HRESULT CControls::Add(VARIANT Type, VARIANT Id, VARIANT, VARIANT Before, VARIANT, CommandBarControl** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!bars_->Open() || !bar_->Owner()) return E_FAIL;
    const LONG type = LongArg(Type).value_or(msoControlButton);
    if (type != msoControlButton && type != msoControlPopup) return E_INVALIDARG;
    const LONG id = LongArg(Id).value_or(0);
    std::string caption;
    if (id != 0) {
        const auto builtin = bars_->BuiltinCaption(id);
        if (!builtin) return E_INVALIDARG;  // no such command in this window
        caption = *builtin;
    }
    const auto before = LongArg(Before);
    const std::size_t count = bar_->Controls().size();
    if (before && (*before < 1 || static_cast<std::size_t>(*before) > count + 1)) return DISP_E_BADINDEX;
    CBar* popup = type == msoControlPopup ? bars_->NewBar(caption, msoBarTypePopup) : nullptr;
    CControlNode* node = NewControl(bars_, type, popup);
    if (popup) popup->Release();  // the popup control holds it
    node->type = type;
    node->id = id;
    node->builtIn = id != 0;
    node->caption = caption;
    bar_->Insert(before ? static_cast<std::size_t>(*before - 1) : count, node);
    bars_->Changed();
    return Hand(node->Control(), out);
}

}  // namespace

CBar* CCommandBars::NewBar(std::string name, LONG type)
{
    return NewComObject<CBar>(this, std::move(name), type);
}

HRESULT CCommandBars::Build(const MenuLayout& layout)
{
    layout_ = layout;
    auto menuBar = ComPtr<CBar>::Attach(NewBar(layout.caption, msoBarTypeMenuBar));
    // Fills a bar from the layout, popups within popups.
    std::function<void(CBar*, const std::vector<MenuLayout>&)> fill = [&](CBar* bar, const std::vector<MenuLayout>& items) {
        for (const MenuLayout& item : items) {
            const bool isPopup = item.id == 0;
            CBar* popup = isPopup ? NewBar(item.caption, msoBarTypePopup) : nullptr;
            CControlNode* node = NewControl(this, isPopup ? msoControlPopup : msoControlButton, popup);
            node->type = isPopup ? msoControlPopup : msoControlButton;
            node->id = item.id;
            node->builtIn = true;
            node->caption = item.caption;
            bar->Insert(bar->Controls().size(), node);
            if (popup) {
                fill(popup, item.children);
                popup->Release();
            }
        }
    };
    fill(menuBar.Get(), layout.children);
    bars_.push_back(menuBar);
    return S_OK;
}

std::optional<std::string> CCommandBars::BuiltinCaption(LONG id) const
{
    std::function<std::optional<std::string>(const MenuLayout&)> find = [&](const MenuLayout& m) -> std::optional<std::string> {
        if (m.id == id) return m.caption;
        for (const auto& child : m.children)
            if (auto found = find(child)) return found;
        return std::nullopt;
    };
    return find(layout_);
}

void CCommandBars::Execute(CControlNode& control)
{
    ComPtr<_CommandBars> keep(this);
    bool cancelDefault = false;
    if (control.type == msoControlButton) {
        if (auto* button = dynamic_cast<CButton*>(&control)) button->RaiseClick(cancelDefault);
    }
    if (control.builtIn && !cancelDefault && window_) model_->Host().ExecuteBuiltinControl(control.id, window_);
}

HRESULT CreateCommandBars(ModelPtr model, IDispatch* window, const MenuLayout& layout, _CommandBars** out)
{
    if (!out) return E_POINTER;
    auto bars = ComPtr<CCommandBars>::Attach(NewComObject<CCommandBars>(std::move(model), window));
    if (const HRESULT hr = bars->Build(layout); FAILED(hr)) return hr;
    *out = bars.Detach();
    return S_OK;
}

void ReleaseCommandBars(_CommandBars* bars)
{
    if (auto* impl = dynamic_cast<CCommandBars*>(bars)) impl->Disconnect();
}

}  // namespace quillory::outlook
