// The mail client as a host of COM add-ins: it reads the add-in list
// under HKEY_CURRENT_USER, creates each add-in that loads at start-up
// through its ProgID and class registration, connects it to the object
// model, and disconnects them all at the end. An add-in that cannot be
// loaded or connected is named with the reason and the host goes on.
#pragma once

#include <string>
#include <vector>

#include "platform/com/com_ptr.h"
#include "platform/outlook/extensibility.h"
#include "platform/outlook/model.h"

namespace quillory::host {

struct LoadedAddin {
    std::string progId;
    ComPtr<IDTExtensibility2> addin;
    bool active = false;  // connected (S_OK) rather than inactive (S_FALSE)
};

// What happened to each add-in of the list, one line each, for the user.
struct AddinReport {
    std::string progId;
    std::string outcome;
    HRESULT hr = S_OK;
};

class CAddinHost {
public:
    explicit CAddinHost(_Application* app) : app_(app) {}
    ~CAddinHost() { DisconnectAll(); }
    CAddinHost(const CAddinHost&) = delete;
    CAddinHost& operator=(const CAddinHost&) = delete;

    // Loads and connects every add-in listed with LoadBehavior 3, then tells
    // them that start-up is complete.
    std::vector<AddinReport> LoadAll();
    // OnBeginShutdown, then OnDisconnection, for each in reverse order.
    void DisconnectAll();
    const std::vector<LoadedAddin>& Addins() const { return loaded_; }

private:
    AddinReport Load(const std::string& progId);

    ComPtr<_Application> app_;
    std::vector<LoadedAddin> loaded_;
};

// The command-line host's windows: nothing is drawn, but what a person
// would see is remembered for the commands that print it.
class CHeadlessHost : public outlook::IOutlookHost {
public:
    void ExecuteBuiltinControl(LONG id, IDispatch* window) override;
    std::vector<LONG> executed;
};

}  // namespace quillory::host
