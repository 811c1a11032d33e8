// Spies: stand-ins for the component's classes that log every call made on them, for tests of
// what an object asks of its children (the order of a device's bindings, say).
//
//   vantor::spy::install(CLSID_Fog);           // CoCreateInstance(CLSID_Fog) now makes a spy
//   ... create a Device3D, Initialise ...
//   EXPECT_EQ(vantor::spy::calls("Fog."), (std::vector<std::string>{"Fog.put_Device(1048579)"}));
//   vantor::spy::fail("Objects.Render", E_FAIL);
//
// Each call is logged as "<Class>.<member>(<arguments>)": numbers in decimal, floats %g,
// strings quoted, objects "<object>" or "null"; out parameters are left out and answered zero.
#pragma once

#include <vantor/text.h>
#include <vantor/vantor.h>

#include <atomic>
#include <initializer_list>
#include <string>
#include <vector>

namespace vantor::spy {

// The log, the failures chosen, and the spies alive.
std::vector<std::string>& log();
std::vector<std::string> calls(const std::string& prefix);  // the log lines starting with prefix
void clear();
void fail(const std::string& call, HRESULT hr);  // "Objects.Render": that member answers hr
void clear_failures();
int live();
// Makes the registry create spies for `clsid` (its InprocServer32 names the spy library).
void install(REFCLSID clsid);

// For the generated spies.
HRESULT record(const std::string& object, const char* member, std::initializer_list<std::string> args);
void count_live(int delta);
std::string number(long long v);
std::string real(double v);
std::string text(BSTR v);
std::string variant(const VARIANT& v);
std::string object(IUnknown* p);

template <class I>
class SpyObject : public I {
public:
    explicit SpyObject(const char* name) : name_(name) { count_live(1); }
    virtual ~SpyObject() { count_live(-1); }
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IDispatch && riid != __uuidof(I)) return E_NOINTERFACE;
        *ppv = static_cast<I*>(this);
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        ULONG n = --refs_;
        if (n == 0) delete this;
        return n;
    }
    HRESULT GetTypeInfoCount(UINT* n) override {
        if (n) *n = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return DISP_E_MEMBERNOTFOUND;
    }

protected:
    HRESULT call(const char* member, std::initializer_list<std::string> args) { return record(name_, member, args); }

private:
    std::atomic<ULONG> refs_{1};
    std::string name_;
};

using Creator = IUnknown* (*)(const char* name);
Creator creator_for(REFCLSID clsid);
const char* class_name(REFCLSID clsid);

}  // namespace vantor::spy
