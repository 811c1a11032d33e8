// The COM-style objects of the file API over a parsed Document.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "document.h"

namespace vantor::xfile {

namespace {

// Reference counting and QueryInterface for an object exposing `Primary` and the interfaces it
// derives from, plus optional extra interfaces listed by the derived class.
template <class Primary>
class ComObject : public Primary {
public:
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        ULONG n = --refs_;
        if (n == 0) delete this;
        return n;
    }

protected:
    virtual ~ComObject() = default;
    HRESULT answer(void* self, void** ppv) {
        *ppv = self;
        AddRef();
        return S_OK;
    }

private:
    std::atomic<ULONG> refs_{1};
};

// A document reference held by every object handed out from it.
class DocRef {
public:
    explicit DocRef(Document* d) : d_(d) { d_->add_ref(); }
    DocRef(const DocRef& o) : d_(o.d_) { d_->add_ref(); }
    DocRef& operator=(const DocRef&) = delete;
    ~DocRef() { d_->release(); }
    Document* operator->() const { return d_; }
    Document* get() const { return d_; }

private:
    Document* d_;
};

HRESULT copy_name(std::string_view name, LPSTR buf, LPDWORD len) {
    if (!len) return E_POINTER;
    DWORD need = name.empty() ? 0 : DWORD(name.size() + 1);
    if (!buf) {
        *len = need;
        return S_OK;
    }
    if (*len < need) {
        *len = need;
        return DXFILEERR_BADVALUE;
    }
    if (need) {
        std::memcpy(buf, name.data(), name.size());
        buf[name.size()] = 0;
    } else if (*len > 0) {
        buf[0] = 0;
    }
    *len = need;
    return S_OK;
}

HRESULT new_object(const DocRef& doc, uint32_t index, IDirectXFileData** out);

class ReferenceObject final : public ComObject<IDirectXFileDataReference> {
public:
    ReferenceObject(const DocRef& doc, uint32_t index) : doc_(doc), index_(index) {}

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == IID_IDirectXFileObject || riid == IID_IDirectXFileDataReference)
            return answer(static_cast<IDirectXFileDataReference*>(this), ppv);
        return E_NOINTERFACE;
    }
    HRESULT GetName(LPSTR buf, LPDWORD len) override { return copy_name(ref().name, buf, len); }
    HRESULT GetId(LPGUID id) override {
        if (!id) return E_POINTER;
        *id = ref().has_id ? ref().id : GUID{};
        return S_OK;
    }
    HRESULT Resolve(IDirectXFileData** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        uint32_t target;
        try {
            target = doc_->resolve(ref());
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        if (target == kNone) return DXFILEERR_NOTFOUND;
        return new_object(doc_, target, out);
    }

private:
    const Reference& ref() const { return doc_->references[index_]; }
    DocRef doc_;
    uint32_t index_;
};

class DataObject final : public ComObject<IDirectXFileData> {
public:
    DataObject(const DocRef& doc, uint32_t index) : doc_(doc), index_(index) {}

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == IID_IDirectXFileObject || riid == IID_IDirectXFileData)
            return answer(static_cast<IDirectXFileData*>(this), ppv);
        return E_NOINTERFACE;
    }
    HRESULT GetName(LPSTR buf, LPDWORD len) override { return copy_name(obj().name, buf, len); }
    HRESULT GetId(LPGUID id) override {
        if (!id) return E_POINTER;
        *id = obj().id;
        return S_OK;
    }
    HRESULT GetData(LPCSTR member, DWORD* size, void** data) override {
        if (!size || !data) return E_POINTER;
        *size = 0;
        *data = nullptr;
        const Object& o = obj();
        uint8_t* block = const_cast<uint8_t*>(doc_->block(o));
        if (!member) {
            *size = o.data_size;
            *data = o.data_size ? block : nullptr;
            return S_OK;
        }
        uint32_t offset, length;
        if (!locate_member(*o.type, block, o.data_size, member, &offset, &length)) return DXFILEERR_NOTFOUND;
        *size = length;
        *data = block + offset;
        return S_OK;
    }
    HRESULT GetType(const GUID** type) override {
        if (!type) return E_POINTER;
        *type = &obj().type->guid;
        return S_OK;
    }
    HRESULT GetNextObject(IDirectXFileObject** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        const Object& o = obj();
        if (next_ >= o.child_count) return DXFILEERR_NOMOREOBJECTS;
        const Child& c = doc_->children[o.first_child + next_];
        IDirectXFileObject* made = nullptr;
        if (c.kind == ChildKind::Object) {
            IDirectXFileData* data = nullptr;
            HRESULT hr = new_object(doc_, c.index, &data);
            if (FAILED(hr)) return hr;
            made = data;
        } else {
            made = new (std::nothrow) ReferenceObject(doc_, c.index);
            if (!made) return E_OUTOFMEMORY;
        }
        ++next_;
        *out = made;
        return S_OK;
    }
    HRESULT AddDataObject(IDirectXFileData*) override { return DXFILEERR_NOTDONEYET; }
    HRESULT AddDataReference(LPCSTR, const GUID*) override { return DXFILEERR_NOTDONEYET; }
    HRESULT AddBinaryObject(LPCSTR, const GUID*, LPCSTR, LPVOID, DWORD) override {
        return DXFILEERR_NOTDONEYET;
    }

private:
    const Object& obj() const { return doc_->objects[index_]; }
    DocRef doc_;
    uint32_t index_;
    uint32_t next_ = 0;
};

HRESULT new_object(const DocRef& doc, uint32_t index, IDirectXFileData** out) {
    *out = new (std::nothrow) DataObject(doc, index);
    return *out ? S_OK : E_OUTOFMEMORY;
}

struct StopPosition {
    HRESULT hr = S_OK;
    DWORD offset = 0, line = 0, warnings = 0;

    HRESULT report(HRESULT* phr, DWORD* off, DWORD* ln) const {
        if (phr) *phr = hr;
        if (off) *off = offset;
        if (ln) *ln = line;
        return FAILED(hr) ? S_OK : S_FALSE;
    }
};

class Diagnostics final : public IDirectXFileDiagnostics {
public:
    Diagnostics(IUnknown* owner, const StopPosition* where, Document* doc = nullptr)
        : owner_(owner), where_(where), doc_(doc) {}
    HRESULT QueryInterface(REFIID riid, void** ppv) override { return owner_->QueryInterface(riid, ppv); }
    ULONG AddRef() override { return owner_->AddRef(); }
    ULONG Release() override { return owner_->Release(); }
    HRESULT GetStopPosition(HRESULT* phr, DWORD* off, DWORD* ln) override {
        return where_->report(phr, off, ln);
    }
    HRESULT GetWarningCount(DWORD* count) override {
        if (!count) return E_POINTER;
        *count = where_->warnings;
        return S_OK;
    }
    HRESULT GetTemplateName(const GUID* guid, LPSTR buf, LPDWORD len) override {
        if (!guid) return E_POINTER;
        const Template* t = doc_ ? doc_->templates.find_guid(*guid) : nullptr;
        if (!t) return DXFILEERR_NOTFOUND;
        return copy_name(t->name, buf, len);
    }

private:
    IUnknown* owner_;
    const StopPosition* where_;
    Document* doc_;  // owned by the enumeration object that owns this
};

class EnumObject final : public ComObject<IDirectXFileEnumObject> {
public:
    explicit EnumObject(Document* doc) : doc_(doc), diagnostics_(this, &where_, doc) {
        where_.hr = doc->error;
        where_.offset = doc->error_offset;
        where_.line = doc->error_line;
        where_.warnings = doc->warnings;
    }

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == IID_IDirectXFileEnumObject)
            return answer(static_cast<IDirectXFileEnumObject*>(this), ppv);
        if (riid == IID_IDirectXFileDiagnostics) return answer(&diagnostics_, ppv);
        return E_NOINTERFACE;
    }
    HRESULT GetNextDataObject(IDirectXFileData** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (next_ < doc_->top_level.size()) {
            HRESULT hr = new_object(doc_, doc_->top_level[next_], out);
            if (SUCCEEDED(hr)) ++next_;
            return hr;
        }
        return FAILED(doc_->error) ? doc_->error : DXFILEERR_NOMOREOBJECTS;
    }
    HRESULT GetDataObjectById(REFGUID id, IDirectXFileData** out) override {
        return find(out, [&](const Object& o) { return o.id == id; });
    }
    HRESULT GetDataObjectByName(LPCSTR name, IDirectXFileData** out) override {
        if (!name) return E_POINTER;
        std::string_view n(name);
        return find(out, [&](const Object& o) { return o.name == n; });
    }

private:
    template <class Match>
    HRESULT find(IDirectXFileData** out, Match match) {
        if (!out) return E_POINTER;
        *out = nullptr;
        uint32_t complete = doc_->top_level.empty() ? 0 : doc_->objects[doc_->top_level.back()].end;
        for (uint32_t i = 0; i < complete; ++i)
            if (match(doc_->objects[i])) return new_object(doc_, i, out);
        return DXFILEERR_NOTFOUND;
    }

    DocRef doc_;
    size_t next_ = 0;
    StopPosition where_;
    Diagnostics diagnostics_;
};

class File final : public ComObject<IDirectXFile> {
public:
    File() : registered_(std::make_shared<TemplateSet>()), diagnostics_(this, &where_) {}

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == IID_IDirectXFile)
            return answer(static_cast<IDirectXFile*>(this), ppv);
        if (riid == IID_IDirectXFileDiagnostics) return answer(&diagnostics_, ppv);
        return E_NOINTERFACE;
    }

    HRESULT CreateEnumObject(LPVOID source, DXFILELOADOPTIONS options,
                             IDirectXFileEnumObject** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!source) return E_POINTER;
        Document* doc = nullptr;
        HRESULT hr = load(source, options & 0xF, true, &doc);
        if (FAILED(hr)) return hr;
        auto* e = new (std::nothrow) EnumObject(doc);
        doc->release();  // the enumeration holds its own reference
        if (!e) return E_OUTOFMEMORY;
        *out = e;
        return S_OK;
    }

    HRESULT CreateSaveObject(LPCSTR, DXFILEFORMAT, IDirectXFileSaveObject** out) override {
        if (out) *out = nullptr;
        return DXFILEERR_NOTDONEYET;
    }

    HRESULT RegisterTemplates(LPVOID data, DWORD size) override {
        if (!data) return E_POINTER;
        DXFILELOADMEMORY memory{data, size};
        Document* doc = nullptr;
        HRESULT hr = load(&memory, DXFILELOAD_FROMMEMORY, false, &doc);
        if (FAILED(hr)) return hr;
        hr = doc->error;
        if (SUCCEEDED(hr)) {
            try {
                auto merged = std::make_shared<TemplateSet>();
                merged->add_all(*registered_);
                merged->add_all(doc->templates);
                registered_ = std::move(merged);
            } catch (const std::bad_alloc&) {
                hr = E_OUTOFMEMORY;
            }
        }
        doc->release();
        return hr;
    }

private:
    // Reads a source into a new document and parses it. Header and compression failures are
    // returned; parse errors stay in the document (they end enumeration, or fail registration).
    HRESULT load(LPVOID source, DWORD kind, bool objects, Document** out) {
        where_ = StopPosition{};
        auto* doc = new (std::nothrow) Document;
        if (!doc) return E_OUTOFMEMORY;
        HRESULT hr;
        try {
            hr = read_source(source, kind, doc);
            if (SUCCEEDED(hr)) {
                doc->registered = registered_;
                doc->templates.parent = registered_.get();
                parse(doc, header_, start_, objects);
                where_.hr = doc->error;
                where_.offset = doc->error_offset;
                where_.line = doc->error_line;
                where_.warnings = doc->warnings;
            }
        } catch (const std::bad_alloc&) {
            hr = E_OUTOFMEMORY;
        }
        if (FAILED(hr)) {
            where_.hr = hr;
            doc->release();
            return hr;
        }
        *out = doc;
        return S_OK;
    }

    HRESULT read_source(LPVOID source, DWORD kind, Document* doc) {
        Bytes raw;
        if (kind == DXFILELOAD_FROMFILE) {
            HRESULT hr = read_file(static_cast<const char*>(source), &raw);
            if (FAILED(hr)) return hr;
        } else if (kind == DXFILELOAD_FROMMEMORY) {
            const auto* m = static_cast<const DXFILELOADMEMORY*>(source);
            if (!m->lpMemory && m->dSize) return E_POINTER;
            if (m->dSize) std::memcpy(raw.extend(m->dSize), m->lpMemory, m->dSize);
        } else {
            return DXFILEERR_NOTDONEYET;
        }
        HRESULT hr = read_header(raw.data(), raw.size(), &header_);
        if (FAILED(hr)) return hr;
        if (!header_.compressed) {
            doc->source.swap(raw);
            start_ = 16;
            return S_OK;
        }
        uint32_t where = 0;
        hr = inflate_mszip(raw.data() + 16, raw.size() - 16, &doc->source, &where);
        where_.offset = where;
        start_ = 0;
        return hr;
    }

    // The whole file, read without first clearing the buffer (large meshes are tens of MB).
    static HRESULT read_file(const char* path, Bytes* out) {
        // Without O_NONBLOCK a FIFO would hold the open until some writer came; it is refused below.
        int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) return DXFILEERR_FILENOTFOUND;
        struct Close {
            int fd;
            ~Close() { ::close(fd); }
        } close{fd};
        struct stat st;
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return DXFILEERR_FILENOTFOUND;
        if (uint64_t(st.st_size) > kMaxInflated) return DXFILEERR_BADFILE;
        uint8_t* at = out->extend(size_t(st.st_size));
        size_t got = 0;
        while (got < size_t(st.st_size)) {
            ssize_t n = ::read(fd, at + got, size_t(st.st_size) - got);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return DXFILEERR_BADFILE;
            if (n == 0) break;  // the file shrank while being read: parse what is there
            got += size_t(n);
        }
        out->truncate(got);
        return S_OK;
    }

    std::shared_ptr<const TemplateSet> registered_;
    Header header_{};
    size_t start_ = 16;
    StopPosition where_;
    Diagnostics diagnostics_;
};

struct ResultRow {
    HRESULT hr;
    const char* name;
    const char* text;
};

const ResultRow kResults[] = {
    {DXFILEERR_BADOBJECT, "DXFILEERR_BADOBJECT", "Not a file object."},
    {DXFILEERR_BADVALUE, "DXFILEERR_BADVALUE", "A value is not valid here."},
    {DXFILEERR_BADTYPE, "DXFILEERR_BADTYPE", "A template uses an unsupported type."},
    {DXFILEERR_BADSTREAMHANDLE, "DXFILEERR_BADSTREAMHANDLE", "The stream handle is not valid."},
    {DXFILEERR_BADALLOC, "DXFILEERR_BADALLOC", "Out of memory while reading the file."},
    {DXFILEERR_NOTFOUND, "DXFILEERR_NOTFOUND", "The object or member was not found."},
    {DXFILEERR_NOTDONEYET, "DXFILEERR_NOTDONEYET", "This operation is not offered."},
    {DXFILEERR_FILENOTFOUND, "DXFILEERR_FILENOTFOUND", "The file could not be opened."},
    {DXFILEERR_RESOURCENOTFOUND, "DXFILEERR_RESOURCENOTFOUND", "The resource was not found."},
    {DXFILEERR_URLNOTFOUND, "DXFILEERR_URLNOTFOUND", "The URL was not found."},
    {DXFILEERR_BADRESOURCE, "DXFILEERR_BADRESOURCE", "The resource is not valid."},
    {DXFILEERR_BADFILETYPE, "DXFILEERR_BADFILETYPE", "Not an X file, or an unknown format."},
    {DXFILEERR_BADFILEVERSION, "DXFILEERR_BADFILEVERSION", "Unsupported X file version."},
    {DXFILEERR_BADFILEFLOATSIZE, "DXFILEERR_BADFILEFLOATSIZE", "Float size must be 32 or 64."},
    {DXFILEERR_BADFILECOMPRESSIONTYPE, "DXFILEERR_BADFILECOMPRESSIONTYPE", "Unsupported compression."},
    {DXFILEERR_BADFILE, "DXFILEERR_BADFILE", "The X file is damaged."},
    {DXFILEERR_PARSEERROR, "DXFILEERR_PARSEERROR", "The X file could not be parsed."},
    {DXFILEERR_NOTEMPLATE, "DXFILEERR_NOTEMPLATE", "An object uses an unknown template."},
    {DXFILEERR_BADARRAYSIZE, "DXFILEERR_BADARRAYSIZE", "An array size does not fit the data."},
    {DXFILEERR_BADDATAREFERENCE, "DXFILEERR_BADDATAREFERENCE", "A data reference is not valid."},
    {DXFILEERR_INTERNALERROR, "DXFILEERR_INTERNALERROR", "Internal error in the X file reader."},
    {DXFILEERR_NOMOREOBJECTS, "DXFILEERR_NOMOREOBJECTS", "No more objects."},
    {DXFILEERR_BADINTRINSICS, "DXFILEERR_BADINTRINSICS", "Bad intrinsic types."},
    {DXFILEERR_NOMORESTREAMHANDLES, "DXFILEERR_NOMORESTREAMHANDLES", "No more stream handles."},
    {DXFILEERR_NOMOREDATA, "DXFILEERR_NOMOREDATA", "No more data."},
    {DXFILEERR_BADCACHEFILE, "DXFILEERR_BADCACHEFILE", "The cache file is not valid."},
    {DXFILEERR_NOINTERNET, "DXFILEERR_NOINTERNET", "No Internet connection."},
};

const ResultRow* find_result(HRESULT hr) {
    for (const ResultRow& r : kResults)
        if (r.hr == hr) return &r;
    return nullptr;
}

}  // namespace

}  // namespace vantor::xfile

extern "C" {

VANTOR_API HRESULT DirectXFileCreate(IDirectXFile** out) {
    if (!out) return E_POINTER;
    *out = new (std::nothrow) vantor::xfile::File;
    return *out ? S_OK : E_OUTOFMEMORY;
}

VANTOR_API const char* DXFileResultName(HRESULT hr) {
    const auto* r = vantor::xfile::find_result(hr);
    return r ? r->name : nullptr;
}

VANTOR_API const char* DXFileResultText(HRESULT hr) {
    const auto* r = vantor::xfile::find_result(hr);
    return r ? r->text : nullptr;
}
}
