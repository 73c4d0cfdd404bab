#pragma once
// The few pieces of the component run time that the store library uses:
// result codes, interface ids, reference-counted objects, the per-thread
// initialisation bookkeeping and object creation by class id.
//
// Objects are reference counted through AddRef/Release as the library uses
// them. Release answers the references left and destroys the object when that
// reaches 0; an object is never destroyed while a reference is held. Our code
// never uses raw new/delete for them: MakeObject creates an object owned by a
// shared_ptr that the object keeps of itself until its last Release.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>

namespace platform {

using HRESULT = std::int32_t;
using ULONG = std::uint32_t;
using DWORD = std::uint32_t;

constexpr HRESULT MakeFailure(std::uint32_t code) {
    return static_cast<HRESULT>(code);
}

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1; // success, but nothing (more) to give
constexpr HRESULT E_NOTIMPL = MakeFailure(0x80004001u);
constexpr HRESULT E_NOINTERFACE = MakeFailure(0x80004002u);
constexpr HRESULT E_POINTER = MakeFailure(0x80004003u);
constexpr HRESULT E_FAIL = MakeFailure(0x80004005u);
constexpr HRESULT E_UNEXPECTED = MakeFailure(0x8000FFFFu);
constexpr HRESULT E_ACCESSDENIED = MakeFailure(0x80070005u);
constexpr HRESULT E_OUTOFMEMORY = MakeFailure(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = MakeFailure(0x80070057u);
constexpr HRESULT CLASS_E_NOAGGREGATION = MakeFailure(0x80040110u);
constexpr HRESULT REGDB_E_CLASSNOTREG = MakeFailure(0x80040154u);
constexpr HRESULT CO_E_NOTINITIALIZED = MakeFailure(0x800401F0u);
constexpr HRESULT RPC_E_CHANGED_MODE = MakeFailure(0x80010106u);

constexpr bool Failed(HRESULT result) {
    return result < 0;
}
constexpr bool Succeeded(HRESULT result) {
    return result >= 0;
}

struct GUID {
    std::uint32_t data1;
    std::uint16_t data2;
    std::uint16_t data3;
    std::uint8_t data4[8];
    friend bool operator==(const GUID&, const GUID&) = default;
};
using IID = GUID;
using CLSID = GUID;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

// Class contexts of CoCreateInstance.
constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;

// Threading models of CoInitializeEx.
constexpr DWORD COINIT_MULTITHREADED = 0x0;
constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;

class IUnknown {
public:
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default; // objects go away through Release only
};

// Implements the reference count of one interface. `Interface` must derive
// from IUnknown.
template <typename Interface>
class RefCounted : public Interface {
public:
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        ULONG left = --refs_;
        if (left == 0) {
            // Dropping the object's hold on itself destroys it; nothing of
            // the object is touched after this block.
            std::shared_ptr<void> last = std::move(self_);
        }
        return left;
    }
    virtual ~RefCounted() = default;

private:
    template <typename T, typename... Args>
    friend T* MakeObject(Args&&... args);
    std::atomic<ULONG> refs_{1};
    std::shared_ptr<void> self_;
};

// Creates an object with one reference held by the caller.
template <typename T, typename... Args>
T* MakeObject(Args&&... args) {
    auto object = std::make_shared<T>(std::forward<Args>(args)...);
    T* raw = object.get();
    raw->self_ = std::move(object);
    return raw;
}

// Initialises the component run time for the calling thread: S_OK the first
// time, S_FALSE when the thread is already initialised in the same model, and
// RPC_E_CHANGED_MODE when it was initialised in the other model.
HRESULT CoInitializeEx(void* reserved, DWORD model);
inline HRESULT CoInitialize(void* reserved) {
    return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED);
}
// Undoes one successful CoInitialize(Ex) of the calling thread.
void CoUninitialize();

// Creates an object of a registered class for its interface `iid`. The
// calling thread must have initialised the run time (CO_E_NOTINITIALIZED);
// aggregation is not supported; the class must be registered for one of the
// contexts asked for (REGDB_E_CLASSNOTREG); the class decides which
// interfaces it has (E_NOINTERFACE).
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, void** object);

// What creates the objects of a class: answers the new object's interface
// `iid` in `object` with one reference.
using ClassFactory = std::function<HRESULT(REFIID iid, void** object)>;

// Registers (or, with an empty factory, removes) the in-process factory of a
// class and answers the one it replaces. The store namespace class is
// registered from the start; tests put another implementation in its place.
ClassFactory RegisterClassFactory(REFCLSID clsid, ClassFactory factory);

} // namespace platform
