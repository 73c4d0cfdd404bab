#include "platform/store/com.h"

#include "platform/store/storeapi.h"

#include <mutex>
#include <vector>

namespace platform {
namespace {

struct ThreadState {
    int initialisations = 0;
    DWORD model = COINIT_APARTMENTTHREADED;
};
thread_local ThreadState tThread;

struct Registration {
    CLSID clsid;
    ClassFactory factory;
};

std::mutex gClassesLock;

std::vector<Registration>& classes() {
    static std::vector<Registration> table{
        {CLSID_StoreNamespace, CreateMaildirNamespace},
    };
    return table;
}

ClassFactory factoryOf(REFCLSID clsid) {
    std::lock_guard lock(gClassesLock);
    for (const auto& entry : classes())
        if (entry.clsid == clsid)
            return entry.factory;
    return {};
}

} // namespace

HRESULT CoInitializeEx(void*, DWORD model) {
    if (model != COINIT_APARTMENTTHREADED && model != COINIT_MULTITHREADED)
        return E_INVALIDARG;
    if (tThread.initialisations > 0) {
        if (tThread.model != model)
            return RPC_E_CHANGED_MODE;
        ++tThread.initialisations;
        return S_FALSE;
    }
    tThread.model = model;
    tThread.initialisations = 1;
    return S_OK;
}

void CoUninitialize() {
    if (tThread.initialisations > 0)
        --tThread.initialisations;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid,
                         void** object) {
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (tThread.initialisations == 0)
        return CO_E_NOTINITIALIZED;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    // Every class here lives in the process; a caller that accepts only other
    // contexts finds none.
    if (!(context & CLSCTX_INPROC_SERVER))
        return REGDB_E_CLASSNOTREG;
    ClassFactory factory = factoryOf(clsid);
    if (!factory)
        return REGDB_E_CLASSNOTREG;
    return factory(iid, object);
}

ClassFactory RegisterClassFactory(REFCLSID clsid, ClassFactory factory) {
    std::lock_guard lock(gClassesLock);
    auto& table = classes();
    for (auto it = table.begin(); it != table.end(); ++it) {
        if (it->clsid == clsid) {
            ClassFactory previous = std::move(it->factory);
            if (factory)
                it->factory = std::move(factory);
            else
                table.erase(it);
            return previous;
        }
    }
    if (factory)
        table.push_back({clsid, std::move(factory)});
    return {};
}

} // namespace platform
