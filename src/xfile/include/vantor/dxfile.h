// vantor/dxfile.h — the DirectX file API: reads `.x` files (text, binary, MSZIP-compressed).
//
//   IDirectXFile* file = nullptr;
//   DirectXFileCreate(&file);
//   file->RegisterTemplates((void*)D3DRM_XTEMPLATES, D3DRM_XTEMPLATE_BYTES);
//   IDirectXFileEnumObject* objects = nullptr;
//   if (SUCCEEDED(file->CreateEnumObject((void*)"cube.x", DXFILELOAD_FROMFILE, &objects))) {
//       IDirectXFileData* data = nullptr;
//       while (SUCCEEDED(hr = objects->GetNextDataObject(&data))) {
//           const GUID* type; data->GetType(&type);
//           DWORD size; void* block; data->GetData(nullptr, &size, &block);
//           IDirectXFileObject* child;
//           while (SUCCEEDED(data->GetNextObject(&child))) { ...; child->Release(); }
//           data->Release();
//       }
//       // hr == DXFILEERR_NOMOREOBJECTS after a clean file; any other code says why it stopped.
//       objects->Release();
//   }
//   file->Release();
//
// The whole file is read and checked when the enumeration object is created; data objects,
// their blocks and strings stay valid while any object of that enumeration is alive.
// Data blocks hold the template's members in order without padding: WORD 2 bytes, DWORD 4,
// FLOAT 4 (narrowed from 64-bit files), DOUBLE 8, CHAR/UCHAR/BYTE 1, strings as a `char*`.
#pragma once

#include <vantor/com.h>

// ---------------------------------------------------------------------------------------------
// Load options, formats and sources
// ---------------------------------------------------------------------------------------------
typedef DWORD DXFILEFORMAT;
typedef DWORD DXFILELOADOPTIONS;

#define DXFILEFORMAT_BINARY 0
#define DXFILEFORMAT_TEXT 1
#define DXFILEFORMAT_COMPRESSED 2

#define DXFILELOAD_FROMFILE 0x00L      // pvSource: const char* path
#define DXFILELOAD_FROMRESOURCE 0x01L  // not offered here (DXFILEERR_NOTDONEYET)
#define DXFILELOAD_FROMMEMORY 0x02L    // pvSource: DXFILELOADMEMORY* (the bytes are copied)
#define DXFILELOAD_FROMSTREAM 0x04L    // not offered here (DXFILEERR_NOTDONEYET)
#define DXFILELOAD_FROMURL 0x08L       // not offered here (DXFILEERR_NOTDONEYET)

struct DXFILELOADMEMORY {
    LPVOID lpMemory;
    DWORD dSize;
};

// ---------------------------------------------------------------------------------------------
// Results (facility 0x876, as the DirectX headers number them)
// ---------------------------------------------------------------------------------------------
#define DXFILE_OK 0
#define DXFILE_MAKE_RESULT(code) ((HRESULT)(0x88760000u | (code)))
#define DXFILEERR_BADOBJECT DXFILE_MAKE_RESULT(850)
#define DXFILEERR_BADVALUE DXFILE_MAKE_RESULT(851)
#define DXFILEERR_BADTYPE DXFILE_MAKE_RESULT(852)
#define DXFILEERR_BADSTREAMHANDLE DXFILE_MAKE_RESULT(853)
#define DXFILEERR_BADALLOC DXFILE_MAKE_RESULT(854)
#define DXFILEERR_NOTFOUND DXFILE_MAKE_RESULT(855)
#define DXFILEERR_NOTDONEYET DXFILE_MAKE_RESULT(856)
#define DXFILEERR_FILENOTFOUND DXFILE_MAKE_RESULT(857)
#define DXFILEERR_RESOURCENOTFOUND DXFILE_MAKE_RESULT(858)
#define DXFILEERR_URLNOTFOUND DXFILE_MAKE_RESULT(859)
#define DXFILEERR_BADRESOURCE DXFILE_MAKE_RESULT(860)
#define DXFILEERR_BADFILETYPE DXFILE_MAKE_RESULT(861)
#define DXFILEERR_BADFILEVERSION DXFILE_MAKE_RESULT(862)
#define DXFILEERR_BADFILEFLOATSIZE DXFILE_MAKE_RESULT(863)
#define DXFILEERR_BADFILECOMPRESSIONTYPE DXFILE_MAKE_RESULT(864)
#define DXFILEERR_BADFILE DXFILE_MAKE_RESULT(865)
#define DXFILEERR_PARSEERROR DXFILE_MAKE_RESULT(866)
#define DXFILEERR_NOTEMPLATE DXFILE_MAKE_RESULT(867)
#define DXFILEERR_BADARRAYSIZE DXFILE_MAKE_RESULT(868)
#define DXFILEERR_BADDATAREFERENCE DXFILE_MAKE_RESULT(869)
#define DXFILEERR_INTERNALERROR DXFILE_MAKE_RESULT(870)
#define DXFILEERR_NOMOREOBJECTS DXFILE_MAKE_RESULT(871)
#define DXFILEERR_BADINTRINSICS DXFILE_MAKE_RESULT(872)
#define DXFILEERR_NOMORESTREAMHANDLES DXFILE_MAKE_RESULT(873)
#define DXFILEERR_NOMOREDATA DXFILE_MAKE_RESULT(874)
#define DXFILEERR_BADCACHEFILE DXFILE_MAKE_RESULT(875)
#define DXFILEERR_NOINTERNET DXFILE_MAKE_RESULT(876)

// ---------------------------------------------------------------------------------------------
// Interfaces
// ---------------------------------------------------------------------------------------------
struct IDirectXFileEnumObject;
struct IDirectXFileSaveObject;
struct IDirectXFileObject;
struct IDirectXFileData;

struct IDirectXFile : IUnknown {
    // Opens a source and reads it whole. DXFILEERR_FILENOTFOUND, BADFILETYPE (short file, bad
    // magic, unknown format), BADFILEVERSION (major not 03), BADFILEFLOATSIZE (not 0032/0064),
    // BADFILECOMPRESSIONTYPE ("cmp "), BADFILE (broken compressed blocks, inflate limits),
    // DXFILEERR_NOTDONEYET (resources, streams, URLs), E_POINTER, E_OUTOFMEMORY.
    virtual HRESULT CreateEnumObject(LPVOID pvSource, DXFILELOADOPTIONS dwLoadOptions,
                                     IDirectXFileEnumObject** ppEnumObj) = 0;
    // Writing files is not offered: DXFILEERR_NOTDONEYET.
    virtual HRESULT CreateSaveObject(LPCSTR szFileName, DXFILEFORMAT dwFileFormat,
                                     IDirectXFileSaveObject** ppSaveObj) = 0;
    // Adds the templates of an `.x` image (any encoding); later declarations of a name replace
    // earlier ones. Header errors as CreateEnumObject; PARSEERROR, NOTEMPLATE, BADARRAYSIZE.
    virtual HRESULT RegisterTemplates(LPVOID pvData, DWORD cbSize) = 0;
};

struct IDirectXFileEnumObject : IUnknown {
    // The next top-level data object in file order; DXFILEERR_NOMOREOBJECTS at the end, or the
    // error that stopped reading (after every object that was read before it).
    virtual HRESULT GetNextDataObject(IDirectXFileData** ppDataObj) = 0;
    // First data object (any depth, file order) with this instance GUID / name; DXFILEERR_NOTFOUND.
    virtual HRESULT GetDataObjectById(REFGUID rguid, IDirectXFileData** ppDataObj) = 0;
    virtual HRESULT GetDataObjectByName(LPCSTR szName, IDirectXFileData** ppDataObj) = 0;
};

struct IDirectXFileSaveObject : IUnknown {};

struct IDirectXFileObject : IUnknown {
    // Copies the name with its terminator. pstrNameBuf null: *pdwBufLen gets the size needed.
    // A nameless object gives "" and size 0. DXFILEERR_BADVALUE when the buffer is too small.
    virtual HRESULT GetName(LPSTR pstrNameBuf, LPDWORD pdwBufLen) = 0;
    // The instance GUID, GUID_NULL when the file gave none.
    virtual HRESULT GetId(LPGUID pGuid) = 0;
};

struct IDirectXFileData : IDirectXFileObject {
    // szMember null: the whole block; otherwise that member's bytes (DXFILEERR_NOTFOUND).
    virtual HRESULT GetData(LPCSTR szMember, DWORD* pcbSize, void** ppvData) = 0;
    // The template GUID (valid while the object lives).
    virtual HRESULT GetType(const GUID** ppguid) = 0;
    // Children in file order (data objects, references); DXFILEERR_NOMOREOBJECTS at the end.
    virtual HRESULT GetNextObject(IDirectXFileObject** ppChildObj) = 0;
    // Building files is not offered: DXFILEERR_NOTDONEYET.
    virtual HRESULT AddDataObject(IDirectXFileData* pDataObj) = 0;
    virtual HRESULT AddDataReference(LPCSTR szRef, const GUID* pguidRef) = 0;
    virtual HRESULT AddBinaryObject(LPCSTR szName, const GUID* pguid, LPCSTR szMimeType, LPVOID pvData,
                                    DWORD cbSize) = 0;
};

struct IDirectXFileDataReference : IDirectXFileObject {
    // The object named (and/or identified) by the reference: the nearest earlier match, one of
    // the types the parent allows first, else any match in the file. An object never resolves to
    // one that contains it. DXFILEERR_NOTFOUND when nothing matches.
    virtual HRESULT Resolve(IDirectXFileData** ppDataObj) = 0;
};

struct IDirectXFileBinary : IDirectXFileObject {
    virtual HRESULT GetSize(DWORD* pcbSize) = 0;
    virtual HRESULT GetMimeType(LPCSTR* pszMimeType) = 0;
    virtual HRESULT Read(LPVOID pvData, DWORD cbSize, LPDWORD pcbRead) = 0;
};

// Where reading stopped, for tools that show it: on the enumeration object (the error ending
// the enumeration) and on the file object (the last failed CreateEnumObject or
// RegisterTemplates). Offsets count from the start of the file, or of the inflated data for
// compressed files; lines count from 1 in text, 0 in binary.
struct IDirectXFileDiagnostics : IUnknown {
    // S_FALSE (and zeros) when nothing failed.
    virtual HRESULT GetStopPosition(HRESULT* phr, DWORD* pdwOffset, DWORD* pdwLine) = 0;
    // Values and separators that were skipped because the template had no member for them.
    virtual HRESULT GetWarningCount(DWORD* pdwCount) = 0;
    // The name of the template with this GUID, as the file or the registered templates declare
    // it (enumeration objects only). Buffer rules as GetName; DXFILEERR_NOTFOUND.
    virtual HRESULT GetTemplateName(const GUID* pguid, LPSTR pstrNameBuf, LPDWORD pdwBufLen) = 0;
};

VANTOR_DEFINE_UUID(IDirectXFile, IID_IDirectXFile, 0x3D82AB40, 0x62DA, 0x11CF, 0xAB, 0x39, 0x00, 0x20, 0xAF,
                   0x71, 0xE4, 0x33)
VANTOR_DEFINE_UUID(IDirectXFileEnumObject, IID_IDirectXFileEnumObject, 0x3D82AB41, 0x62DA, 0x11CF, 0xAB, 0x39,
                   0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33)
VANTOR_DEFINE_UUID(IDirectXFileSaveObject, IID_IDirectXFileSaveObject, 0x3D82AB42, 0x62DA, 0x11CF, 0xAB, 0x39,
                   0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33)
VANTOR_DEFINE_UUID(IDirectXFileObject, IID_IDirectXFileObject, 0x3D82AB43, 0x62DA, 0x11CF, 0xAB, 0x39, 0x00,
                   0x20, 0xAF, 0x71, 0xE4, 0x33)
VANTOR_DEFINE_UUID(IDirectXFileData, IID_IDirectXFileData, 0x3D82AB44, 0x62DA, 0x11CF, 0xAB, 0x39, 0x00, 0x20,
                   0xAF, 0x71, 0xE4, 0x33)
VANTOR_DEFINE_UUID(IDirectXFileDataReference, IID_IDirectXFileDataReference, 0x3D82AB45, 0x62DA, 0x11CF, 0xAB,
                   0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33)
VANTOR_DEFINE_UUID(IDirectXFileBinary, IID_IDirectXFileBinary, 0x3D82AB46, 0x62DA, 0x11CF, 0xAB, 0x39, 0x00,
                   0x20, 0xAF, 0x71, 0xE4, 0x33)
VANTOR_DEFINE_UUID(IDirectXFileDiagnostics, IID_IDirectXFileDiagnostics, 0x6A1E7C52, 0x1D0B, 0x4F6E, 0x9B,
                   0x3C, 0x5E, 0x27, 0x81, 0xD4, 0x0A, 0x63)

// ---------------------------------------------------------------------------------------------
// Template identifiers (the standard templates' GUIDs)
// ---------------------------------------------------------------------------------------------
#define VANTOR_TID(NAME, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
    inline constexpr GUID NAME = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}};
#define VANTOR_TID_RM(NAME, l) \
    VANTOR_TID(NAME, l, 0x62DA, 0x11CF, 0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33)
#define VANTOR_TID_8F52(NAME, l, w1) \
    VANTOR_TID(NAME, l, w1, 0x11CF, 0x8F, 0x52, 0x00, 0x40, 0x33, 0x35, 0x94, 0xA3)
VANTOR_TID_RM(TID_DXFILEHeader, 0x3D82AB43)
VANTOR_TID_RM(TID_D3DRMMesh, 0x3D82AB44)
VANTOR_TID_RM(TID_D3DRMFrame, 0x3D82AB46)
VANTOR_TID_RM(TID_D3DRMMaterial, 0x3D82AB4D)
VANTOR_TID_RM(TID_D3DRMAnimation, 0x3D82AB4F)
VANTOR_TID_RM(TID_D3DRMAnimationSet, 0x3D82AB50)
VANTOR_TID_RM(TID_D3DRMVector, 0x3D82AB5E)
VANTOR_TID_RM(TID_D3DRMMeshFace, 0x3D82AB5F)
VANTOR_TID_8F52(TID_D3DRMMeshTextureCoords, 0xF6F23F40, 0x7686)
VANTOR_TID_8F52(TID_D3DRMFrameTransformMatrix, 0xF6F23F41, 0x7686)
VANTOR_TID_8F52(TID_D3DRMMeshMaterialList, 0xF6F23F42, 0x7686)
VANTOR_TID_8F52(TID_D3DRMMeshNormals, 0xF6F23F43, 0x7686)
VANTOR_TID_8F52(TID_D3DRMCoords2d, 0xF6F23F44, 0x7686)
VANTOR_TID_8F52(TID_D3DRMMatrix4x4, 0xF6F23F45, 0x7686)
VANTOR_TID_8F52(TID_D3DRMColorRGBA, 0x35FF44E0, 0x6C7C)
VANTOR_TID_8F52(TID_D3DRMColorRGB, 0xD3E16E81, 0x7835)
VANTOR_TID_8F52(TID_D3DRMTextureFilename, 0xA42790E1, 0x7810)
VANTOR_TID_8F52(TID_D3DRMMeshVertexColors, 0x1630B821, 0x7842)
VANTOR_TID_8F52(TID_D3DRMAnimationKey, 0x10DD46A8, 0x775B)
VANTOR_TID_8F52(TID_D3DRMFloatKeys, 0x10DD46A9, 0x775B)
VANTOR_TID_8F52(TID_D3DRMAnimationOptions, 0xE2BF56C0, 0x840F)
VANTOR_TID(TID_D3DRMSkinWeights, 0x6F0D123B, 0xBAD2, 0x4167, 0xA0, 0xD0, 0x80, 0x22, 0x4F, 0x25, 0xFA, 0xBB)
VANTOR_TID(TID_D3DRMXSkinMeshHeader, 0x3CF169CE, 0xFF7C, 0x44AB, 0x93, 0xC0, 0xF7, 0x8F, 0x62, 0xD1, 0x72,
           0xE2)
VANTOR_TID(TID_D3DRMAnimTicksPerSecond, 0x9E415A43, 0x7BA6, 0x4A73, 0x87, 0x43, 0xB7, 0x3D, 0x47, 0xE8, 0x84,
           0x76)
#undef VANTOR_TID_8F52
#undef VANTOR_TID_RM
#undef VANTOR_TID

extern "C" {
// Creates the file object (no templates registered yet). E_POINTER, E_OUTOFMEMORY.
VANTOR_API HRESULT DirectXFileCreate(IDirectXFile** lplpDirectXFile);
// The standard templates (everything a mesh, frame, animation or skinning loader meets), as an
// `.x` image for RegisterTemplates.
VANTOR_API extern const unsigned char D3DRM_XTEMPLATES[];
VANTOR_API extern const DWORD D3DRM_XTEMPLATE_BYTES;
// "DXFILEERR_BADFILE" and a short English sentence for each result above; nullptr for others.
VANTOR_API const char* DXFileResultName(HRESULT hr);
VANTOR_API const char* DXFileResultText(HRESULT hr);
}
