// The pages an options dialog collects from its OptionsPagesAdd sinks.
#include "platform/com/dispatch_member.h"
#include "platform/outlook/model_objects.h"

namespace quillory::outlook {

namespace {

class CPropertyPages final : public CDispatchImpl<PropertyPages>, public CRefCounted {
public:
    explicit CPropertyPages(ModelPtr model) : model_(std::move(model)) {}
    QUILLORY_IUNKNOWN_REFCOUNT
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        return QueryInterfaceTable(riid, ppv, {{&IID_PropertyPages, this}, {&IID_IDispatch, this}});
    }
    HRESULT get_Application(_Application** out) override { return model_->Application(out); }
    HRESULT get_Count(LONG* out) override
    {
        if (!out) return E_POINTER;
        *out = static_cast<LONG>(pages_.size());
        return S_OK;
    }
    HRESULT Item(VARIANT Index, IDispatch** out) override
    {
        if (!out) return E_POINTER;
        *out = nullptr;
        std::size_t i = 0;
        if (const HRESULT hr = Find(Index, i); FAILED(hr)) return hr;
        const CComVariant& page = pages_[i].page;
        if (page.vt != VT_DISPATCH) return DISP_E_TYPEMISMATCH;  // a ProgID, not made yet
        return Hand(page.pdispVal, out);
    }
    // Page: a ProgID, or an object that is a PropertyPage.
    HRESULT Add(VARIANT Page, BSTR Title) override
    {
        CComVariant page;
        if (const HRESULT hr = VariantCopyInd(&page, &Page); FAILED(hr)) return hr;
        if (page.vt == VT_BSTR) {
            if (VariantText(page).empty()) return E_INVALIDARG;
        } else if (page.vt == VT_DISPATCH || page.vt == VT_UNKNOWN) {
            ComPtr<PropertyPage> object;
            if (!page.punkVal || FAILED(page.punkVal->QueryInterface(IID_PropertyPage, object.AsVoidOut())))
                return DISP_E_TYPEMISMATCH;
            page = CComVariant::Dispatch(object.Get());
        } else {
            return DISP_E_TYPEMISMATCH;
        }
        pages_.push_back(OptionsPage{page, std::string(Title ? Title : "", SysStringLen(Title))});
        return S_OK;
    }
    HRESULT Remove(VARIANT Index) override
    {
        std::size_t i = 0;
        if (const HRESULT hr = Find(Index, i); FAILED(hr)) return hr;
        pages_.erase(pages_.begin() + static_cast<std::ptrdiff_t>(i));
        return S_OK;
    }

    const std::vector<OptionsPage>& Pages() const { return pages_; }

protected:
    DispTable Members() const override
    {
        static const DispMember members[] = {
            DispMethod<&PropertyPages::Item>("Item", DISPID_VALUE),
            DispProp<&PropertyPages::get_Application>("Application", 1),
            DispProp<&PropertyPages::get_Count>("Count", 2),
            DispMethod<&PropertyPages::Add>("Add", 3),
            DispMethod<&PropertyPages::Remove>("Remove", 4),
        };
        return members;
    }
    std::string_view InterfaceName() const override { return "PropertyPages"; }

private:
    // A 1-based position or a page's title.
    HRESULT Find(const VARIANT& index, std::size_t& out) const
    {
        LONG n = 0;
        std::string title;
        bool isName = false;
        if (!CollectionIndex(index, n, title, isName)) return DISP_E_TYPEMISMATCH;
        for (std::size_t i = 0; i < pages_.size(); ++i) {
            if (isName ? pages_[i].title == title : static_cast<LONG>(i + 1) == n) {
                out = i;
                return S_OK;
            }
        }
        return DISP_E_BADINDEX;
    }

    ModelPtr model_;
    std::vector<OptionsPage> pages_;
};

}  // namespace

HRESULT CreatePropertyPages(ModelPtr model, IDispatch** out)
{
    if (!out) return E_POINTER;
    auto pages = ComPtr<CPropertyPages>::Attach(NewComObject<CPropertyPages>(std::move(model)));
    return Hand(static_cast<PropertyPages*>(pages.Get()), out);
}

HRESULT PagesOf(IDispatch* pages, std::vector<OptionsPage>& out)
{
    auto* impl = dynamic_cast<CPropertyPages*>(pages);
    if (!impl) return E_INVALIDARG;
    out = impl->Pages();
    return S_OK;
}

}  // namespace quillory::outlook
