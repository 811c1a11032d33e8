// The enumerator collections hand out from _NewEnum: IEnumVARIANT over its own copies.
#include "collections/collection.h"

#include <atomic>
#include <new>

namespace vantor {

namespace {

class Enumerator final : public vantor::SingleInterface<IEnumVARIANT> {
public:
    explicit Enumerator(std::vector<VARIANT>&& items) : items_(std::move(items)) { module().lock(); }
    ~Enumerator() override {
        for (VARIANT& v : items_) VariantClear(&v);
        module().unlock();
    }


    HRESULT Next(ULONG count, VARIANT* out, ULONG* fetched) override {
        if (fetched) *fetched = 0;
        if (!out && count) return E_POINTER;
        if (count > 1 && !fetched) return E_POINTER;  // as the standard interface requires
        ULONG n = 0;
        for (; n < count && next_ < items_.size(); ++n, ++next_) {
            VariantInit(&out[n]);
            HRESULT hr = VariantCopy(&out[n], &items_[next_]);
            if (FAILED(hr)) {
                for (ULONG k = 0; k < n; ++k) VariantClear(&out[k]);
                return hr;
            }
        }
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG count) override {
        size_t left = items_.size() - next_;
        next_ += std::min<size_t>(count, left);
        return count <= left ? S_OK : S_FALSE;
    }
    HRESULT Reset() override {
        next_ = 0;
        return S_OK;
    }
    HRESULT Clone(IEnumVARIANT** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        std::vector<VARIANT> copy(items_.size());
        for (size_t i = 0; i < items_.size(); ++i) {
            VariantInit(&copy[i]);
            VariantCopy(&copy[i], &items_[i]);
        }
        auto* e = new (std::nothrow) Enumerator(std::move(copy));
        if (!e) return E_OUTOFMEMORY;
        e->next_ = next_;
        *out = e;
        return S_OK;
    }

private:
    std::vector<VARIANT> items_;
    size_t next_ = 0;
};

}  // namespace

IEnumVARIANT* make_enumerator(std::vector<VARIANT>&& items) { return new (std::nothrow) Enumerator(std::move(items)); }

}  // namespace vantor
