#include "afx_filedialog.h"

#include <cstring>

#include "afx_wnd.h"

CFileDialog::CFileDialog(BOOL bOpenFileDialog, const char* defExt, const char* fileName, DWORD flags,
                         const char* filter, CWnd* pParentWnd)
    : m_bOpenFileDialog(bOpenFileDialog), m_pParentWnd(pParentWnd), m_strDefExt(defExt ? defExt : ""),
      m_strFilter(filter ? MakeSystemFilter(filter) : std::string()) {
    std::memset(&m_ofn, 0, sizeof m_ofn);
    std::memset(m_szFileName, 0, sizeof m_szFileName);
    if (fileName)
        lstrcpynA(m_szFileName, fileName, MAX_PATH);
    m_ofn.lStructSize = sizeof m_ofn;
    m_ofn.lpstrFile = m_szFileName;
    m_ofn.nMaxFile = MAX_PATH;
    m_ofn.lpstrDefExt = defExt ? m_strDefExt.c_str() : nullptr;
    m_ofn.lpstrFilter = filter ? m_strFilter.c_str() : nullptr;
    m_ofn.Flags = flags | OFN_EXPLORER;
}

INT_PTR CFileDialog::DoModal() {
    m_ofn.hwndOwner = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
    const BOOL chosen = m_bOpenFileDialog ? GetOpenFileNameA(&m_ofn) : GetSaveFileNameA(&m_ofn);
    return chosen ? IDOK : IDCANCEL;
}

std::string CFileDialog::MakeSystemFilter(const char* filter, UINT codePage) {
    std::string text(filter ? filter : "");
    for (size_t i = 0; i < text.size(); ++i) {
        if (IsDBCSLeadByteEx(codePage, static_cast<BYTE>(text[i])) && i + 1 < text.size())
            ++i; // the next byte belongs to this character, whatever its value
        else if (text[i] == '|')
            text[i] = '\0';
    }
    // Two NULs end the list even when the text lacks its closing "||".
    text.push_back('\0');
    text.push_back('\0');
    return text;
}
