// Intrusive reference counting and interface queries, the way the media
// graph's interfaces are used: IUnknown, a ComPtr<T> holder and the CUnknown
// base that filters, pins and graphs build on.
//
// An object starts with a count of 0; whoever keeps it holds a reference
// (ComPtr does this for you) and the last Release deletes it. Interfaces are
// plain abstract classes; an object that implements several of them answers
// QueryInterface with the matching base pointer. Each interface declares its
// identifier as `static constexpr const IID &iid`, so ComPtr<T>::As and
// ComQuery<T> can find it.
//
// A CUnknown may have an owner (pins: their filter). AddRef and Release then
// count on the owner, so a pin handed out keeps its filter alive; the owner
// deletes the pin with itself.
//
// Any thread: counts are atomic. Whoever holds a reference may call.
#pragma once

#include "platform/base/WinTypes.h"
#include "platform/dshow/Guid.h"

#include <atomic>
#include <cstddef>
#include <type_traits>
#include <utility>

// Scalar names of the SDK's media interfaces that WinTypes.h lacks.
using BOOL = int;
using WCHAR = wchar_t;
using LPWSTR = WCHAR *;
using LPCWSTR = const WCHAR *;
using LONGLONG = int64_t;
using DWORD_PTR = uintptr_t;
using LONG_PTR = intptr_t;
#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

inline constexpr IID IID_IUnknown{0x00000000, 0x0000, 0x0000,
                                  {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IClassFactory{0x00000001, 0x0000, 0x0000,
                                       {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

struct IUnknown {
    static constexpr const IID &iid = IID_IUnknown;
    // S_OK and an added reference in *ppv, or E_NOINTERFACE and nullptr.
    virtual HRESULT QueryInterface(REFIID riid, void **ppv) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default;  // objects die through Release only
};

// What a module's DllGetClassObject hands out, and what the filter catalogue
// keeps for each class.
struct IClassFactory : IUnknown {
    static constexpr const IID &iid = IID_IClassFactory;
    // pUnkOuter must be null: nothing here aggregates.
    virtual HRESULT CreateInstance(IUnknown *pUnkOuter, REFIID riid, void **ppv) = 0;
    virtual HRESULT LockServer(BOOL fLock) = 0;

protected:
    ~IClassFactory() = default;
};

// Holds one reference to a T (or nothing). Copy adds a reference, move steals.
template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    ComPtr(T *p) : m_p(p) { AddRefIfAny(); }
    ComPtr(const ComPtr &other) : m_p(other.m_p) { AddRefIfAny(); }
    ComPtr(ComPtr &&other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
    template <class U, class = std::enable_if_t<std::is_convertible_v<U *, T *>>>
    ComPtr(const ComPtr<U> &other) : m_p(other.Get()) { AddRefIfAny(); }
    template <class U, class = std::enable_if_t<std::is_convertible_v<U *, T *>>>
    ComPtr(ComPtr<U> &&other) noexcept : m_p(other.Detach()) {}
    ~ComPtr() { Reset(); }

    ComPtr &operator=(ComPtr other) noexcept
    {
        std::swap(m_p, other.m_p);
        return *this;
    }

    // Takes over a reference the caller already owns.
    static ComPtr Attach(T *p)
    {
        ComPtr r;
        r.m_p = p;
        return r;
    }
    // Gives the reference to the caller.
    T *Detach() { return std::exchange(m_p, nullptr); }
    void Reset()
    {
        if (T *p = std::exchange(m_p, nullptr))
            p->Release();
    }
    // For out-parameters: drops what is held and lends the slot.
    T **ReleaseAndGetAddressOf()
    {
        Reset();
        return &m_p;
    }
    void **ReleaseAndGetVoidAddress() { return reinterpret_cast<void **>(ReleaseAndGetAddressOf()); }
    // Copies with a new reference into an out-parameter (nullptr allowed).
    HRESULT CopyTo(T **pp) const
    {
        if (!pp)
            return E_POINTER;
        *pp = m_p;
        if (m_p)
            m_p->AddRef();
        return S_OK;
    }
    template <class U>
    HRESULT As(ComPtr<U> *out) const
    {
        if (!m_p)
            return E_POINTER;
        return m_p->QueryInterface(U::iid, out->ReleaseAndGetVoidAddress());
    }

    T *Get() const { return m_p; }
    T *operator->() const { return m_p; }
    T &operator*() const { return *m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    friend bool operator==(const ComPtr &a, const ComPtr &b) { return a.m_p == b.m_p; }
    friend bool operator==(const ComPtr &a, const T *b) { return a.m_p == b; }
    friend bool operator==(const ComPtr &a, std::nullptr_t) { return a.m_p == nullptr; }

private:
    void AddRefIfAny()
    {
        if (m_p)
            m_p->AddRef();
    }
    T *m_p = nullptr;
};

// The U interface of `p`, or empty.
template <class U, class T>
ComPtr<U> ComQuery(T *p)
{
    ComPtr<U> r;
    if (p)
        p->QueryInterface(U::iid, r.ReleaseAndGetVoidAddress());
    return r;
}
template <class U, class T>
ComPtr<U> ComQuery(const ComPtr<T> &p)
{
    return ComQuery<U>(p.Get());
}

// True when both point at the same object (their IUnknown identities match).
bool IsEqualObject(IUnknown *a, IUnknown *b);

// QueryInterface helper: hands out `p` with a new reference.
inline HRESULT GetInterface(IUnknown *p, void **ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = p;
    p->AddRef();
    return S_OK;
}

class CUnknown {
public:
    explicit CUnknown(IUnknown *owner = nullptr) : m_owner(owner) {}
    CUnknown(const CUnknown &) = delete;
    CUnknown &operator=(const CUnknown &) = delete;
    virtual ~CUnknown() = default;

    // Derived classes answer their own interfaces and defer to the base;
    // IID_IUnknown is answered by the most derived class's primary interface.
    virtual HRESULT NonDelegatingQueryInterface(REFIID riid, void **ppv)
    {
        (void)riid;
        if (ppv)
            *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG DelegatingAddRef()
    {
        if (m_owner)
            return m_owner->AddRef();
        return m_cRef.fetch_add(1, std::memory_order_relaxed) + 1;
    }
    ULONG DelegatingRelease()
    {
        if (m_owner)
            return m_owner->Release();
        const ULONG left = m_cRef.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0) {
            // A destructor may hand itself out and take it back (a graph
            // stopping its filters): one spare reference keeps that from
            // deleting twice.
            m_cRef.store(1, std::memory_order_relaxed);
            delete this;
        }
        return left;
    }
    IUnknown *GetOwner() const { return m_owner; }

private:
    IUnknown *const m_owner;
    std::atomic<ULONG> m_cRef{0};
};

// Put in every class that adds interfaces to a CUnknown: one implementation of
// IUnknown serves all of its interface bases.
#define DECLARE_IUNKNOWN                                                     \
    HRESULT QueryInterface(REFIID riid, void **ppv) override                 \
    {                                                                        \
        return NonDelegatingQueryInterface(riid, ppv);                       \
    }                                                                        \
    ULONG AddRef() override { return DelegatingAddRef(); }                   \
    ULONG Release() override { return DelegatingRelease(); }

// new T(args...) held by a ComPtr<T>.
template <class T, class... Args>
ComPtr<T> MakeCom(Args &&...args)
{
    return ComPtr<T>(new T(std::forward<Args>(args)...));
}
