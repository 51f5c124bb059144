// What the object model's tests share: a profile with its store and the
// model over it, a recording host, and event sinks that run a handler.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/base/window.h"
#include "platform/com/connpt.h"
#include "platform/com/dispatch.h"
#include "platform/com/refcounted.h"
#include "platform/mapi/tests/profile_test_util.h"
#include "platform/outlook/model.h"

namespace quillory::testing {

// A dispatch sink for one event interface; every event runs the handler.
class CTestSink final : public IDispatch, public CRefCounted {
public:
    using Handler = std::function<void(DISPID, DISPPARAMS*)>;
    CTestSink(const IID& events, Handler handler) : events_(events), handler_(std::move(handler)) {}
    QUILLORY_IUNKNOWN_REFCOUNT
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        return QueryInterfaceTable(riid, ppv, {{&events_, this}, {&IID_IDispatch, this}});
    }
    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override
    {
        handler_(id, params);
        return S_OK;
    }

private:
    IID events_;
    Handler handler_;
};

// Advises a sink for the life of the object.
class Advised {
public:
    Advised(IUnknown* source, const IID& events, CTestSink::Handler handler)
        : source_(source), events_(events), sink_(ComPtr<CTestSink>::Attach(NewComObject<CTestSink>(events, std::move(handler))))
    {
        EXPECT_EQ(AdviseSink(source, events, sink_.Get(), &cookie_), S_OK);
    }
    ~Advised() { UnadviseSink(source_.Get(), events_, &cookie_); }
    Advised(const Advised&) = delete;
    Advised& operator=(const Advised&) = delete;
    void Unadvise() { UnadviseSink(source_.Get(), events_, &cookie_); }

private:
    ComPtr<IUnknown> source_;
    IID events_;
    ComPtr<CTestSink> sink_;
    DWORD cookie_ = kNotAdvised;
};

// The object argument of an event (rgvarg is in reverse order).
inline IDispatch* ObjectArg(DISPPARAMS* p, UINT i)
{
    const VARIANT& v = p->rgvarg[p->cArgs - 1 - i];
    return v.vt == VT_DISPATCH ? v.pdispVal : nullptr;
}

inline std::string NameOf(IDispatch* object)
{
    CComVariant name;
    if (FAILED(DispGet(object, "Name", name))) return "<no name>";
    return std::string(VariantText(name));
}

// A host that records what the model asks of it.
class CRecordingHost : public outlook::IOutlookHost {
public:
    void ExplorerShown(_Explorer*) override { calls.push_back("ExplorerShown"); }
    void ExplorerClosed(_Explorer*) override { calls.push_back("ExplorerClosed"); }
    void InspectorShown(_Inspector*) override { calls.push_back("InspectorShown"); }
    void InspectorClosed(_Inspector*) override { calls.push_back("InspectorClosed"); }
    void CommandBarsChanged(_CommandBars*) override { ++menuChanges; }
    void ExecuteBuiltinControl(LONG id, IDispatch*) override { calls.push_back("Builtin " + std::to_string(id)); }
    std::vector<std::string> calls;
    int menuChanges = 0;
};

// A profile "P" with its store, a session, and the model over it.
class OutlookModelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        admin_ = ProfAdmin();
        ASSERT_EQ(admin_->CreateProfile(const_cast<LPSTR>("P"), nullptr, 0, 0), S_OK);
        ASSERT_EQ(MAPILogonEx(0, const_cast<LPSTR>("P"), nullptr, MAPI_EXTENDED | MAPI_NEW_SESSION, &session_), S_OK);
        ASSERT_EQ(outlook::CreateApplication(session_.Get(), &host_, &app_), S_OK);
        ASSERT_EQ(app_->get_Session(&ns_), S_OK);
    }
    void TearDown() override
    {
        if (app_) outlook::ShutdownApplication(app_.Get());
        ns_ = nullptr;
        app_ = nullptr;
        if (session_) session_->Logoff(0, 0, 0);
    }

    ComPtr<MAPIFolder> Inbox()
    {
        ComPtr<MAPIFolder> inbox;
        EXPECT_EQ(ns_->GetDefaultFolder(olFolderInbox, &inbox), S_OK);
        return inbox;
    }
    ComPtr<MAPIFolder> AddFolder(MAPIFolder* parent, const char* name)
    {
        ComPtr<_Folders> folders;
        ComPtr<MAPIFolder> added;
        EXPECT_EQ(parent->get_Folders(&folders), S_OK);
        EXPECT_EQ(folders->Add(CComBSTR(name).Get(), CComVariant::Missing(), &added), S_OK);
        return added;
    }
    // Pumps the thread's queue as a host's loop does.
    static void Pump()
    {
        MSG msg;
        while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessage(&msg);
    }

    MapiHome home_;
    ComPtr<IProfAdmin> admin_;
    ComPtr<IMAPISession> session_;
    CRecordingHost host_;
    ComPtr<_Application> app_;
    ComPtr<_NameSpace> ns_;
};

}  // namespace quillory::testing
