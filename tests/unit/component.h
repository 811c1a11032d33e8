// Test support for the component: each test registers libvantor into its own registry file
// (VANTOR_REGISTRY, set per test by CTest) and ends with the module's lock count back at 0.
#pragma once

#include <gtest/gtest.h>
#include <vantor/debug.h>
#include <vantor/text.h>
#include <vantor/vantor.h>

#include <string>

extern "C" HRESULT DllRegisterServer();
extern "C" HRESULT DllUnregisterServer();
extern "C" HRESULT DllCanUnloadNow();
extern "C" HRESULT DllGetClassObject(REFCLSID, REFIID, LPVOID*);

namespace vantor::test {

class ComponentTest : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitialize(nullptr);
        ASSERT_EQ(DllRegisterServer(), S_OK);
    }
    void TearDown() override {
        SetErrorInfo(0, nullptr);
        EXPECT_EQ(DllCanUnloadNow(), S_OK) << "an object of the component is still alive";
    }

    template <class I>
    I* create(REFCLSID clsid) {
        I* p = nullptr;
        EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(I), reinterpret_cast<void**>(&p)), S_OK);
        return p;
    }
};

// The thread's error information, taken: {source, description}; {"", ""} when none is set.
struct ErrorText {
    std::string source;
    std::string description;
};
inline ErrorText take_error() {
    ErrorText e;
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK || !info) return e;
    BSTR s = nullptr, d = nullptr;
    info->GetSource(&s);
    info->GetDescription(&d);
    e.source = text::utf8(s);
    e.description = text::utf8(d);
    SysFreeString(s);
    SysFreeString(d);
    info->Release();
    return e;
}

// Everything written to the debugger output while it lives.
class DebugCapture {
public:
    DebugCapture() { cookie_ = DebugOutputAddListener([](const char* s, void* self) { static_cast<DebugCapture*>(self)->text_ += s; }, this); }
    ~DebugCapture() { DebugOutputRemoveListener(cookie_); }
    const std::string& text() const { return text_; }
    void clear() { text_.clear(); }

private:
    int cookie_;
    std::string text_;
};

}  // namespace vantor::test
