// module/failure.h — the error record every method throws, and how it is reported.
//
//   return guard([&] {
//       if (!device_) throw failure(E_POINTER, "Device Not Initialised.");
//       HRESULT hr = dev->SetLight(id_, &record);
//       if (FAILED(hr)) throw failure(hr, kStringUnknownError);   // a string-table id
//       return S_OK;
//   });
//
// failure(hr, text): the system's text for hr (FormatMessage, with its line break) followed by
// text; for codes the system has no text for (facilities 0x876 and 0x877) the text alone.
// failure(hr, id): the string table's text for id (empty when the id does not load).
// Report() sets the thread's error information (source: the class's ProgID) and returns hr.
#pragma once

#include <vantor/com.h>

#include <string>

namespace vantor {

class failure {
public:
    failure(HRESULT hr, const char* text);
    failure(HRESULT hr, unsigned id);

    HRESULT hr() const { return hr_; }
    const std::u16string& description() const { return description_; }
    const std::u16string& help_file() const { return help_file_; }

    // Sets the thread's error information for a failure of class `clsid` on interface `iid`
    // and returns hr() unchanged. Without an error-information object, only returns hr().
    HRESULT Report(REFCLSID clsid, REFIID iid) const;

private:
    HRESULT hr_;
    std::u16string description_;
    std::u16string help_file_;  // always empty
};

// Thrown where a method meets a missing reference that it makes no check of its own for; the
// method skeleton turns it (like any exception that is not a failure) into E_FAIL "Exception Raised.".
struct missing_reference {};

template <class T>
T* need(T* p) {
    if (!p) throw missing_reference{};
    return p;
}

// The method skeleton: runs body (returning an HRESULT); a thrown failure is reported for the
// class and interface given; anything else becomes E_FAIL "Exception Raised.".
template <class F>
HRESULT guarded(REFCLSID clsid, REFIID iid, F&& body) {
    try {
        return body();
    } catch (const failure& f) {
        return f.Report(clsid, iid);
    } catch (...) {
        return failure(E_FAIL, "Exception Raised.").Report(clsid, iid);
    }
}

}  // namespace vantor
