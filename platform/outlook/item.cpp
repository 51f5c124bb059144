// What mail and post items share: properties over the open message, saving,
// deleting, and opening and closing in an inspector.
#include <strings.h>

#include "platform/base/msgbox.h"
#include "platform/base/time.h"
#include "platform/com/dispatch_member.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/mapiutil.h"
#include "platform/mapi/proputil.h"
#include "platform/outlook/item_impl.h"
#include "platform/outlook/item_text.h"

namespace quillory::outlook {

template <class Itf>
CItem<Itf>::CItem(ModelPtr model, std::size_t store, EntryId folder, EntryId id, ComPtr<IMessage> message)
    : CEventSource(static_cast<Itf*>(this), DIID_ItemEvents),
      model_(std::move(model)),
      store_(store),
      folder_(std::move(folder)),
      message_(std::move(message))
{
    id_ = std::move(id);
    dirty_ = id_.empty();
    model_->Register(this);
}

template <class Itf>
CItem<Itf>::~CItem()
{
    model_->Unregister(this);
}

template <class Itf>
HRESULT CItem<Itf>::QueryInterface(REFIID riid, void** ppv)
{
    return QueryInterfaceTable(riid, ppv,
                               {{&Itf::kIid, static_cast<Itf*>(this)},
                                {&IID_OutlookItem, static_cast<Itf*>(this)},
                                {&IID_IDispatch, static_cast<Itf*>(this)},
                                {&IID_IConnectionPointContainer, static_cast<IConnectionPointContainer*>(this)}});
}

template <class Itf>
HRESULT CItem<Itf>::Check() const
{
    if (model_->Stopped()) return MAPI_E_END_OF_SESSION;
    return gone_ ? MAPI_E_NOT_FOUND : S_OK;
}

template <class Itf>
HRESULT CItem<Itf>::GetText(ULONG tag, BSTR* out)
{
    if (const HRESULT hr = Check(); FAILED(hr)) return hr;
    return ToBstr(Text(tag), out);
}

template <class Itf>
HRESULT CItem<Itf>::SetValues(std::span<SPropValue> values)
{
    if (const HRESULT hr = Check(); FAILED(hr)) return hr;
    MapiBuffer<SPropProblemArray> problems;
    HRESULT hr = message_->SetProps(static_cast<ULONG>(values.size()), values.data(), &problems);
    if (SUCCEEDED(hr) && problems && problems->cProblem) hr = problems->aProblem[0].scode;
    if (SUCCEEDED(hr)) dirty_ = true;
    return hr;
}

template <class Itf>
HRESULT CItem<Itf>::PutText(ULONG tag, BSTR value)
{
    std::string text(value ? value : "", SysStringLen(value));
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.lpszA = text.data();
    return SetValues({&v, 1});
}

template <class Itf>
HRESULT CItem<Itf>::GetTime(ULONG tag, DATE* out)
{
    if (!out) return E_POINTER;
    if (const HRESULT hr = Check(); FAILED(hr)) return hr;
    *out = kNoDate;
    MapiBuffer<SPropValue> v;
    FILETIME local{};
    if (FAILED(HrGetOneProp(message_.Get(), tag, &v)) || !FileTimeToLocalFileTime(&v->Value.ft, &local))
        return S_OK;
    if (const auto d = DateFromFileTime(local)) *out = *d;
    return S_OK;
}

template <class Itf>
HRESULT CItem<Itf>::get_Application(_Application** out)
{
    return model_->Application(out);
}

template <class Itf>
HRESULT CItem<Itf>::get_Class(LONG* out)
{
    if (!out) return E_POINTER;
    *out = std::is_same_v<Itf, _PostItem> ? olPost : olMail;
    return S_OK;
}

template <class Itf>
HRESULT CItem<Itf>::get_Parent(MAPIFolder** out)
{
    if (const HRESULT hr = Check(); FAILED(hr)) return hr;
    return model_->Folder(store_, folder_, out);
}

template <class Itf>
HRESULT CItem<Itf>::get_EntryID(BSTR* out)
{
    if (const HRESULT hr = Check(); FAILED(hr)) return hr;
    return ToBstr(BinToHex(id_), out);
}

template <class Itf>
HRESULT CItem<Itf>::get_HTMLBody(BSTR* out)
{
    if (const HRESULT hr = Check(); FAILED(hr)) return hr;
    const EntryId html = ReadBinary(message_.Get(), PR_HTML);
    return ToBstr(std::string_view(reinterpret_cast<const char*>(html.data()), html.size()), out);
}

template <class Itf>
HRESULT CItem<Itf>::put_HTMLBody(BSTR value)
{
    std::string text(value ? value : "", SysStringLen(value));
    SPropValue v{};
    v.ulPropTag = PR_HTML;
    v.Value.bin = SBinary{static_cast<ULONG>(text.size()), reinterpret_cast<LPBYTE>(text.data())};
    return SetValues({&v, 1});
}

template <class Itf>
HRESULT CItem<Itf>::get_ConversationTopic(BSTR* out)
{
    if (const HRESULT hr = Check(); FAILED(hr)) return hr;
    MapiBuffer<SPropValue> v;
    if (SUCCEEDED(HrGetOneProp(message_.Get(), PR_CONVERSATION_TOPIC, &v)) && v->Value.lpszA)
        return ToBstr(v->Value.lpszA, out);
    return ToBstr(NormalizedSubject(Text(PR_SUBJECT)), out);
}

template <class Itf>
HRESULT CItem<Itf>::get_ConversationIndex(BSTR* out)
{
    if (const HRESULT hr = Check(); FAILED(hr)) return hr;
    return ToBstr(BinToHex(ReadBinary(message_.Get(), PR_CONVERSATION_INDEX)), out);
}

template <class Itf>
HRESULT CItem<Itf>::get_UnRead(VARIANT_BOOL* out)
{
    if (!out) return E_POINTER;
    if (const HRESULT hr = Check(); FAILED(hr)) return hr;
    MapiBuffer<SPropValue> v;
    const bool read = SUCCEEDED(HrGetOneProp(message_.Get(), PR_MESSAGE_FLAGS, &v)) && (v->Value.l & MSGFLAG_READ);
    *out = read ? VARIANT_FALSE : VARIANT_TRUE;
    return S_OK;
}

template <class Itf>
HRESULT CItem<Itf>::put_UnRead(VARIANT_BOOL value)
{
    if (const HRESULT hr = Check(); FAILED(hr)) return hr;
    return message_->SetReadFlag(value ? CLEAR_READ_FLAG : 0);
}

template <class Itf>
HRESULT CItem<Itf>::get_Saved(VARIANT_BOOL* out)
{
    if (!out) return E_POINTER;
    *out = dirty_ ? VARIANT_FALSE : VARIANT_TRUE;
    return S_OK;
}

template <class Itf>
HRESULT CItem<Itf>::get_Size(LONG* out)
{
    if (!out) return E_POINTER;
    if (const HRESULT hr = Check(); FAILED(hr)) return hr;
    MapiBuffer<SPropValue> v;
    *out = SUCCEEDED(HrGetOneProp(message_.Get(), PR_MESSAGE_SIZE, &v)) ? v->Value.l : 0;
    return S_OK;
}

template <class Itf>
HRESULT CItem<Itf>::get_MAPIOBJECT(IUnknown** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    if (const HRESULT hr = Check(); FAILED(hr)) return hr;
    return message_->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(out));
}

template <class Itf>
HRESULT CItem<Itf>::Save()
{
    if (const HRESULT hr = Check(); FAILED(hr)) return hr;
    // A sink may refuse the save.
    if (FireCancellable(events_, DISPID_ItemWrite)) return S_FALSE;
    if (const HRESULT hr = CompleteConversation(message_.Get()); FAILED(hr)) return hr;
    if (const HRESULT hr = message_->SaveChanges(KEEP_OPEN_READWRITE); FAILED(hr)) return hr;
    dirty_ = false;
    if (id_.empty()) {
        id_ = ReadBinary(message_.Get(), PR_ENTRYID);
        model_->ItemSaved(this);
    }
    return S_OK;
}

template <class Itf>
HRESULT CItem<Itf>::Delete()
{
    if (const HRESULT hr = Check(); FAILED(hr)) return hr;
    ComPtr<IDispatch> keep(Dispatch());  // closing the inspector may let go of the last reference
    if (inspector) static_cast<CInspector*>(inspector)->Dismiss();
    gone_ = true;
    if (id_.empty()) return S_OK;
    ComPtr<MAPIFolder> folder;
    if (const HRESULT hr = model_->Folder(store_, folder_, &folder); FAILED(hr)) return hr;
    SBinary bin{static_cast<ULONG>(id_.size()), id_.data()};
    ENTRYLIST list{1, &bin};
    return static_cast<CFolder*>(folder.Get())->Mapi()->DeleteMessages(&list, 0, nullptr, 0);
}

template <class Itf>
HRESULT CItem<Itf>::Display(VARIANT)
{
    if (const HRESULT hr = Check(); FAILED(hr)) return hr;
    if (inspector) return static_cast<CInspector*>(inspector)->Activate();
    ComPtr<_Application> app;
    ComPtr<_Inspectors> inspectors;
    ComPtr<_Inspector> opened;
    HRESULT hr = model_->Application(&app);
    if (SUCCEEDED(hr)) hr = app->get_Inspectors(&inspectors);
    if (SUCCEEDED(hr)) hr = inspectors->Add(Dispatch(), &opened);
    return hr;
}

template <class Itf>
HRESULT CItem<Itf>::Close(LONG SaveMode)
{
    if (const HRESULT hr = Check(); FAILED(hr)) return hr;
    if (SaveMode != olSave && SaveMode != olDiscard && SaveMode != olPromptForSave) return E_INVALIDARG;
    ComPtr<IDispatch> keep(Dispatch());
    if (FireCancellable(events_, DISPID_ItemClose)) return S_FALSE;
    if (dirty_ && SaveMode == olPromptForSave) {
        const int answer = MessageBox(nullptr, "Do you want to save changes?", "Quillory", MB_YESNOCANCEL | MB_ICONQUESTION);
        if (answer == IDCANCEL) return S_FALSE;
        SaveMode = answer == IDYES ? olSave : olDiscard;
    }
    if (dirty_ && SaveMode == olSave) {
        if (const HRESULT hr = Save(); FAILED(hr)) return hr;
    } else if (dirty_) {
        dirty_ = false;  // the changes are dropped with the open message
        Refresh();
    }
    if (inspector) static_cast<CInspector*>(inspector)->Dismiss();
    return S_OK;
}

template <class Itf>
HRESULT CItem<Itf>::GetInspector(_Inspector** out)
{
    if (const HRESULT hr = Check(); FAILED(hr)) return hr;
    return Hand(inspector, out);
}

template <class Itf>
void CItem<Itf>::Refresh()
{
    if (dirty_ || id_.empty() || gone_ || model_->Stopped()) return;
    ULONG type = 0;
    ComPtr<IUnknown> unknown;
    ComPtr<IMessage> fresh;
    EntryId copy = id_;
    if (SUCCEEDED(model_->Stores()[store_].store->OpenEntry(static_cast<ULONG>(copy.size()),
                                                            reinterpret_cast<LPENTRYID>(copy.data()), nullptr,
                                                            MAPI_BEST_ACCESS, &type, &unknown)) &&
        SUCCEEDED(unknown.As(IID_IMessage, fresh)))
        message_ = fresh;
}

template <class Itf>
void CItem<Itf>::MarkGone()
{
    gone_ = true;
    if (inspector) static_cast<CInspector*>(inspector)->Dismiss();
}

template class CItem<_MailItem>;
template class CItem<_PostItem>;

// ---- member tables ----

namespace {

template <class Itf>
constexpr auto ItemMembers()
{
    return std::array{
        DispProp<&OutlookItem::get_Application>("Application", 1),
        DispProp<&OutlookItem::get_Class>("Class", 2),
        DispProp<&OutlookItem::get_Parent>("Parent", 3),
        DispProp<&OutlookItem::get_EntryID>("EntryID", 4),
        DispProp<&OutlookItem::get_MessageClass, &OutlookItem::put_MessageClass>("MessageClass", 5),
        DispProp<&OutlookItem::get_Subject, &OutlookItem::put_Subject>("Subject", 6),
        DispProp<&OutlookItem::get_Body, &OutlookItem::put_Body>("Body", 7),
        DispProp<&OutlookItem::get_HTMLBody, &OutlookItem::put_HTMLBody>("HTMLBody", 8),
        DispProp<&OutlookItem::get_ConversationTopic>("ConversationTopic", 9),
        DispProp<&OutlookItem::get_ConversationIndex>("ConversationIndex", 10),
        DispProp<&OutlookItem::get_SenderName>("SenderName", 11),
        DispProp<&OutlookItem::get_SenderEmailAddress>("SenderEmailAddress", 12),
        DispProp<&OutlookItem::get_ReceivedTime>("ReceivedTime", 13),
        DispProp<&OutlookItem::get_SentOn>("SentOn", 14),
        DispProp<&OutlookItem::get_CreationTime>("CreationTime", 15),
        DispProp<&OutlookItem::get_UnRead, &OutlookItem::put_UnRead>("UnRead", 16),
        DispProp<&OutlookItem::get_Saved>("Saved", 17),
        DispProp<&OutlookItem::get_Size>("Size", 18),
        DispProp<&OutlookItem::get_MAPIOBJECT>("MAPIOBJECT", 19),
        DispMethod<&OutlookItem::Save>("Save", 20),
        DispMethod<&OutlookItem::Delete>("Delete", 21),
        DispMethod<&OutlookItem::Display>("Display", 22),
        DispMethod<&OutlookItem::Close>("Close", 23),
        DispMethod<&OutlookItem::GetInspector>("GetInspector", 24),
    };
}

template <std::size_t N, std::size_t M>
constexpr std::array<DispMember, N + M> Join(const std::array<DispMember, N>& a, const std::array<DispMember, M>& b)
{
    std::array<DispMember, N + M> out{};
    for (std::size_t i = 0; i < N; ++i) out[i] = a[i];
    for (std::size_t i = 0; i < M; ++i) out[N + i] = b[i];
    return out;
}

}  // namespace

DispTable CMailItem::Members() const
{
    static constexpr auto members = Join(ItemMembers<_MailItem>(), std::array{DispProp<&_MailItem::get_To>("To", 100)});
    return members;
}

DispTable CPostItem::Members() const
{
    static constexpr auto members = Join(ItemMembers<_PostItem>(), std::array{
                                                                        DispMethod<&_PostItem::Post>("Post", 100),
                                                                        DispMethod<&_PostItem::PostReply>("PostReply", 101),
                                                                    });
    return members;
}

}  // namespace quillory::outlook
