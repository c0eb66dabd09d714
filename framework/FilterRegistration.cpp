// Registration half of CFilterModule: the COM class keys, the filter mapper's default category and
// the device category a capture source is listed in.
#include "FilterModule.h"

#include <wrl/client.h>

#include <string>

#include "ComScope.h"
#include "UniqueAny.h"

using Microsoft::WRL::ComPtr;

namespace {

const HRESULT kNothingToRemove = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND); // 0x80070002
const GUID kNullGuid = {};

std::wstring ClassKeyName(const CLSID& clsid) {
    WCHAR szClsid[40] = {};
    (void)StringFromGUID2(clsid, szClsid, 40); // 40 characters always hold a braced GUID
    return std::wstring(L"CLSID\\") + szClsid;
}

LONG SetStringValue(HKEY hKey, const WCHAR* pName, const WCHAR* pValue) {
    const DWORD cb = static_cast<DWORD>((lstrlenW(pValue) + 1) * sizeof(WCHAR));
    return RegSetValueExW(hKey, pName, 0, REG_SZ, reinterpret_cast<const BYTE*>(pValue), cb);
}

// Deletes hParent\pName with everything below it, depth first. A key that cannot be opened counts
// as already gone.
LONG DeleteKeyTree(HKEY hParent, const WCHAR* pName) {
    win::UniqueRegKey key;
    if (RegOpenKeyExW(hParent, pName, 0, MAXIMUM_ALLOWED, key.put()) != ERROR_SUCCESS)
        return ERROR_SUCCESS;
    std::wstring previous;
    for (;;) {
        WCHAR szSub[MAX_PATH + 1];
        DWORD cch = MAX_PATH + 1;
        if (RegEnumKeyExW(key.get(), 0, szSub, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        // Index 0 again naming the subkey just handled means it could not be removed (for example
        // it could not be opened): report that instead of enumerating it forever.
        if (previous == szSub)
            return ERROR_ACCESS_DENIED;
        const LONG lErr = DeleteKeyTree(key.get(), szSub);
        if (lErr != ERROR_SUCCESS)
            return lErr;
        previous = szSub;
    }
    return RegDeleteKeyW(hParent, pName);
}

HRESULT ModulePath(std::wstring* pPath) {
    WCHAR szPath[MAX_PATH];
    SetLastError(ERROR_SUCCESS);
    const DWORD cch = GetModuleFileNameW(CFilterModule::Instance(), szPath, MAX_PATH);
    if (cch == 0 || cch >= MAX_PATH) {
        const DWORD dwErr = GetLastError();
        return HRESULT_FROM_WIN32(dwErr != ERROR_SUCCESS ? dwErr : ERROR_INSUFFICIENT_BUFFER);
    }
    pPath->assign(szPath, cch);
    return S_OK;
}

REGFILTER2 MakeRegFilter2(const AMOVIESETUP_FILTER* pSetup) {
    REGFILTER2 rf2 = {};
    rf2.dwVersion = 1;
    rf2.dwMerit = pSetup->dwMerit;
    rf2.cPins = pSetup->nPins;
    rf2.rgPins = pSetup->lpPin;
    return rf2;
}

} // namespace

HRESULT CFilterModule::RegisterComClasses(BOOL bRegister) const {
    if (!bRegister) {
        for (int i = 0; i < m_cTemplates; ++i) {
            const std::wstring name = ClassKeyName(*m_pTemplates[i].m_ClsID);
            if (name.empty())
                return E_FAIL;
            const LONG lErr = DeleteKeyTree(HKEY_CLASSES_ROOT, name.c_str());
            if (lErr != ERROR_SUCCESS)
                return HRESULT_FROM_WIN32(lErr);
        }
        return S_OK;
    }

    std::wstring path;
    const HRESULT hr = ModulePath(&path);
    if (FAILED(hr))
        return hr;
    for (int i = 0; i < m_cTemplates; ++i) {
        const std::wstring name = ClassKeyName(*m_pTemplates[i].m_ClsID);
        win::UniqueRegKey classKey;
        LONG lErr = RegCreateKeyW(HKEY_CLASSES_ROOT, name.c_str(), classKey.put());
        if (lErr == ERROR_SUCCESS)
            lErr = SetStringValue(classKey.get(), nullptr, m_pTemplates[i].m_Name);
        win::UniqueRegKey serverKey;
        if (lErr == ERROR_SUCCESS)
            lErr = RegCreateKeyW(classKey.get(), L"InprocServer32", serverKey.put());
        if (lErr == ERROR_SUCCESS)
            lErr = SetStringValue(serverKey.get(), nullptr, path.c_str());
        if (lErr == ERROR_SUCCESS)
            lErr = SetStringValue(serverKey.get(), L"ThreadingModel", L"Both");
        if (lErr != ERROR_SUCCESS)
            return HRESULT_FROM_WIN32(lErr);
    }
    return S_OK;
}

HRESULT RegisterFilterSetupWithMapper1(IFilterMapper* pMapper, const AMOVIESETUP_FILTER* pSetup,
                                       BOOL bRegister) {
    HRESULT hr = pMapper->UnregisterFilter(*pSetup->clsID);
    if (!bRegister)
        return hr == kNothingToRemove ? S_OK : hr;
    hr = pMapper->RegisterFilter(*pSetup->clsID, pSetup->strName, pSetup->dwMerit);
    for (UINT p = 0; SUCCEEDED(hr) && p < pSetup->nPins; ++p) {
        const AMOVIESETUP_PIN& pin = pSetup->lpPin[p];
        hr = pMapper->RegisterPin(*pSetup->clsID, pin.strName, pin.bRendered, pin.bOutput, pin.bZero,
                                  pin.bMany, pin.clsConnectsToFilter ? *pin.clsConnectsToFilter : kNullGuid,
                                  pin.strConnectsToPin);
        for (UINT t = 0; SUCCEEDED(hr) && t < pin.nMediaTypes; ++t) {
            const AMOVIESETUP_MEDIATYPE& type = pin.lpMediaType[t];
            hr = pMapper->RegisterPinType(*pSetup->clsID, pin.strName,
                                          type.clsMajorType ? *type.clsMajorType : kNullGuid,
                                          type.clsMinorType ? *type.clsMinorType : kNullGuid);
        }
    }
    return hr == kNothingToRemove ? S_OK : hr;
}

HRESULT CFilterModule::RegisterWithMapper(BOOL bRegister) const {
    ComPtr<IFilterMapper2> mapper2;
    ComPtr<IFilterMapper> mapper1;
    HRESULT hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                                  reinterpret_cast<void**>(mapper2.GetAddressOf()));
    if (FAILED(hr)) {
        hr = CoCreateInstance(CLSID_FilterMapper, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper,
                              reinterpret_cast<void**>(mapper1.GetAddressOf()));
        if (FAILED(hr))
            return hr;
    }
    for (int i = 0; i < m_cTemplates; ++i) {
        const AMOVIESETUP_FILTER* pSetup = m_pTemplates[i].m_pAMovieSetup_Filter;
        if (!pSetup)
            continue;
        if (mapper2) {
            hr = mapper2->UnregisterFilter(nullptr, nullptr, *m_pTemplates[i].m_ClsID);
            if (bRegister) {
                const REGFILTER2 rf2 = MakeRegFilter2(pSetup);
                hr = mapper2->RegisterFilter(*m_pTemplates[i].m_ClsID, m_pTemplates[i].m_Name, nullptr,
                                             nullptr, nullptr, &rf2);
            }
        } else {
            hr = RegisterFilterSetupWithMapper1(mapper1.Get(), pSetup, bRegister);
        }
        if (hr == kNothingToRemove)
            hr = S_OK;
        if (FAILED(hr))
            break;
    }
    return hr;
}

HRESULT CFilterModule::RegisterInDeviceCategory(BOOL bRegister) const {
    ComPtr<IFilterMapper2> mapper;
    HRESULT hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                                  reinterpret_cast<void**>(mapper.GetAddressOf()));
    if (FAILED(hr))
        return hr;
    for (int i = 0; i < m_cTemplates && SUCCEEDED(hr); ++i) {
        const AMOVIESETUP_FILTER* pSetup = m_pTemplates[i].m_pAMovieSetup_Filter;
        if (!pSetup)
            continue;
        if (bRegister) {
            const REGFILTER2 rf2 = MakeRegFilter2(pSetup);
            ComPtr<IMoniker> moniker; // the device entry's moniker: not needed, but ours to release
            hr = mapper->RegisterFilter(*m_pTemplates[i].m_ClsID, m_pTemplates[i].m_Name,
                                        moniker.GetAddressOf(), m_pDeviceCategory, nullptr, &rf2);
        } else {
            hr = mapper->UnregisterFilter(m_pDeviceCategory, nullptr, *m_pTemplates[i].m_ClsID);
            // An entry that is not there has nothing to remove; unregistering twice must not
            // leave the COM keys behind.
            if (hr == kNothingToRemove)
                hr = S_OK;
        }
    }
    return hr;
}

HRESULT CFilterModule::RegisterServer() const {
    const win::ComScope com(COINIT_APARTMENTTHREADED);
    HRESULT hr = RegisterComClasses(TRUE);
    if (SUCCEEDED(hr))
        hr = RegisterWithMapper(TRUE);
    if (SUCCEEDED(hr) && m_pDeviceCategory)
        hr = RegisterInDeviceCategory(TRUE);
    // Let COM drop the mapper's module now rather than at process exit; regsvr32 ends soon anyway.
    CoFreeUnusedLibraries();
    return hr;
}

HRESULT CFilterModule::UnregisterServer() const {
    const win::ComScope com(COINIT_APARTMENTTHREADED);
    HRESULT hr = S_OK;
    // If the device entry stays, the rest stays too, so the module remains consistently listed.
    if (m_pDeviceCategory)
        hr = RegisterInDeviceCategory(FALSE);
    if (SUCCEEDED(hr))
        hr = RegisterWithMapper(FALSE);
    if (SUCCEEDED(hr))
        hr = RegisterComClasses(FALSE);
    CoFreeUnusedLibraries(); // as in RegisterServer
    return hr;
}
