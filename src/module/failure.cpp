#include "module/failure.h"

#include "module/module.h"
#include "module/strings.h"

#include <vantor/system.h>
#include <vantor/text.h>

namespace vantor {

failure::failure(HRESULT hr, const char* text) : hr_(hr) {
    char system[512];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             static_cast<DWORD>(hr), 0, system, sizeof system, nullptr);
    description_ = text::utf16(std::string(system, n) + (text ? text : ""));
}

failure::failure(HRESULT hr, unsigned id) : hr_(hr), description_(text::utf16(load_string(id))) {}

HRESULT failure::Report(REFCLSID clsid, REFIID iid) const {
    ICreateErrorInfo* create = nullptr;
    if (FAILED(CreateErrorInfo(&create)) || !create) return hr_;
    create->SetGUID(iid);
    std::u16string source = text::utf16(module().progid_of(clsid));
    create->SetSource(source.data());
    std::u16string description = description_;
    create->SetDescription(description.data());
    IErrorInfo* info = nullptr;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
        SetErrorInfo(0, info);
        info->Release();
    }
    create->Release();
    return hr_;
}

}  // namespace vantor
