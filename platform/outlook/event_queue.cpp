// Store notifications to the owner thread: the sink copies what it hears
// into the queue and posts one message to the queue's hidden window; the
// window procedure, run when the owner pumps, hands the events over.
#include <algorithm>

#include "platform/base/trace.h"
#include "platform/com/refcounted.h"
#include "platform/outlook/model_core.h"

namespace quillory::outlook {
namespace {

constexpr char kWindowClass[] = "QuilloryOutlookEvents";
constexpr UINT kDrainMessage = WM_APP + 0x51;

EntryId Copy(ULONG cb, const ENTRYID* id)
{
    if (!cb || !id) return {};
    const auto* p = reinterpret_cast<const BYTE*>(id);
    return EntryId(p, p + cb);
}

class CStoreSink final : public IMAPIAdviseSink, public CRefCounted {
public:
    CStoreSink(std::shared_ptr<CEventQueue::Shared> shared, std::size_t store)
        : shared_(std::move(shared)), store_(store)
    {
    }
    QUILLORY_IUNKNOWN_REFCOUNT
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        return QueryInterfaceTable(riid, ppv, {{&IID_IMAPIAdviseSink, this}});
    }
    ULONG OnNotify(ULONG count, LPNOTIFICATION notifications) override
    {
        for (ULONG i = 0; notifications && i < count; ++i) {
            const NOTIFICATION& n = notifications[i];
            StoreEvent e;
            e.event = n.ulEventType;
            e.store = store_;
            if (n.ulEventType == fnevNewMail) {
                e.objType = MAPI_MESSAGE;
                e.id = Copy(n.info.newmail.cbEntryID, n.info.newmail.lpEntryID);
                e.parent = Copy(n.info.newmail.cbParentID, n.info.newmail.lpParentID);
            } else {
                const OBJECT_NOTIFICATION& o = n.info.obj;
                e.objType = o.ulObjType;
                e.id = Copy(o.cbEntryID, o.lpEntryID);
                e.parent = Copy(o.cbParentID, o.lpParentID);
                e.oldId = Copy(o.cbOldID, o.lpOldID);
                e.oldParent = Copy(o.cbOldParentID, o.lpOldParentID);
            }
            shared_->Push(std::move(e));
        }
        return 0;
    }

private:
    std::shared_ptr<CEventQueue::Shared> shared_;
    std::size_t store_;
};

ATOM RegisterQueueClass(WNDPROC proc)
{
    static std::mutex mutex;
    static ATOM atom = 0;
    std::lock_guard lock(mutex);
    if (!atom) {
        WNDCLASS wc{};
        wc.lpfnWndProc = proc;
        wc.lpszClassName = kWindowClass;
        atom = RegisterClass(&wc);
    }
    return atom;
}

}  // namespace

void CEventQueue::Shared::Push(StoreEvent e)
{
    std::lock_guard lock(mutex);
    if (closed) return;
    pending.push_back(std::move(e));
    if (!posted && window) posted = PostMessage(window, kDrainMessage, 0, 0) != FALSE;
}

CEventQueue::CEventQueue(std::function<void(const std::deque<StoreEvent>&)> deliver)
    : deliver_(std::move(deliver)), shared_(std::make_shared<Shared>())
{
    if (!RegisterQueueClass(&CEventQueue::WindowProc)) {
        Trace("CEventQueue -- the window class cannot be registered\n");
        return;
    }
    HWND window = CreateWindowEx(0, kWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    if (!window) {
        Trace("CEventQueue -- no window\n");
        return;
    }
    SetWindowLongPtr(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    std::lock_guard lock(shared_->mutex);
    shared_->window = window;
}

CEventQueue::~CEventQueue() { Close(); }

void CEventQueue::Close()
{
    HWND window = nullptr;
    {
        std::lock_guard lock(shared_->mutex);
        shared_->closed = true;
        shared_->pending.clear();
        window = std::exchange(shared_->window, nullptr);
    }
    if (window) {
        SetWindowLongPtr(window, GWLP_USERDATA, 0);
        DestroyWindow(window);
    }
}

bool CEventQueue::Ok() const
{
    std::lock_guard lock(shared_->mutex);
    return shared_->window != nullptr;
}

HRESULT CEventQueue::CreateSink(std::size_t store, IMAPIAdviseSink** out)
{
    if (!out) return E_POINTER;
    *out = NewComObject<CStoreSink>(shared_, store);
    return S_OK;
}

void CEventQueue::Drain()
{
    // A handler that pumps comes back here; the outer delivery goes on with
    // whatever arrives meanwhile, so no event is raised inside another.
    if (draining_) return;
    // Delivery may end the model that owns this queue; the queue stays until it returns.
    const auto keep = shared_from_this();
    draining_ = true;
    for (;;) {
        std::deque<StoreEvent> batch;
        {
            std::lock_guard lock(shared_->mutex);
            if (shared_->closed) break;
            shared_->posted = false;
            batch.swap(shared_->pending);
        }
        if (batch.empty()) break;
        deliver_(batch);
    }
    draining_ = false;
}

LRESULT CEventQueue::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == kDrainMessage) {
        if (auto* queue = reinterpret_cast<CEventQueue*>(GetWindowLongPtr(hwnd, GWLP_USERDATA))) queue->Drain();
        return 0;
    }
    return DefWindowProc(hwnd, message, wParam, lParam);
}

}  // namespace quillory::outlook
