#include "dialog_template.h"

namespace testing_support {

namespace {

class Reader {
public:
    explicit Reader(const BYTE* p) : m_p(p) {}
    WORD Word() {
        WORD w;
        memcpy(&w, m_p, 2);
        m_p += 2;
        return w;
    }
    DWORD Dword() {
        DWORD d;
        memcpy(&d, m_p, 4);
        m_p += 4;
        return d;
    }
    short Short() { return static_cast<short>(Word()); }
    std::wstring String() {
        std::wstring s;
        for (WORD c = Word(); c; c = Word())
            s.push_back(static_cast<wchar_t>(c));
        return s;
    }
    // A name-or-ordinal field: 0 = none, 0xFFFF followed by an ordinal, else a string.
    void SzOrOrd(std::wstring* text, int* ordinal) {
        WORD first;
        memcpy(&first, m_p, 2);
        if (first == 0) {
            m_p += 2;
        } else if (first == 0xFFFF) {
            m_p += 2;
            *ordinal = Word();
        } else {
            *text = String();
        }
    }
    void AlignDword() {
        const auto at = reinterpret_cast<UINT_PTR>(m_p);
        m_p += (4 - at % 4) % 4;
    }
    void Skip(size_t n) { m_p += n; }

private:
    const BYTE* m_p;
};

std::wstring PredefinedClass(int ordinal) {
    switch (ordinal) {
    case 0x80:
        return L"Button";
    case 0x81:
        return L"Edit";
    case 0x82:
        return L"Static";
    case 0x83:
        return L"ListBox";
    case 0x84:
        return L"ScrollBar";
    case 0x85:
        return L"ComboBox";
    default:
        return L"#" + std::to_wstring(ordinal);
    }
}

} // namespace

bool LoadDialogTemplate(HMODULE module, int id, DialogTemplate* out) {
    HRSRC res = FindResourceW(module, MAKEINTRESOURCEW(id), reinterpret_cast<LPCWSTR>(RT_DIALOG));
    if (!res)
        return false;
    HGLOBAL data = LoadResource(module, res);
    const BYTE* p = data ? static_cast<const BYTE*>(LockResource(data)) : nullptr;
    if (!p)
        return false;
    Reader r(p);
    DialogTemplate t;
    int itemCount;
    WORD version, signature;
    memcpy(&version, p, 2);
    memcpy(&signature, p + 2, 2);
    t.extended = version == 1 && signature == 0xFFFF;
    if (t.extended) {
        r.Skip(4);
        r.Dword(); // help id
        t.exStyle = r.Dword();
        t.style = r.Dword();
    } else {
        t.style = r.Dword();
        t.exStyle = r.Dword();
    }
    itemCount = r.Word();
    t.x = r.Short();
    t.y = r.Short();
    t.cx = r.Short();
    t.cy = r.Short();
    std::wstring menu, cls;
    int menuOrd = -1, clsOrd = -1;
    r.SzOrOrd(&menu, &menuOrd);
    r.SzOrOrd(&cls, &clsOrd);
    t.caption = r.String();
    if (t.style & (DS_SETFONT | DS_SHELLFONT)) {
        t.pointSize = r.Word();
        if (t.extended) {
            r.Word();  // weight
            r.Skip(2); // italic, charset
        }
        t.faceName = r.String();
    }
    for (int i = 0; i < itemCount; ++i) {
        r.AlignDword();
        DialogItem item;
        if (t.extended) {
            r.Dword(); // help id
            item.exStyle = r.Dword();
            item.style = r.Dword();
        } else {
            item.style = r.Dword();
            item.exStyle = r.Dword();
        }
        item.x = r.Short();
        item.y = r.Short();
        item.cx = r.Short();
        item.cy = r.Short();
        item.id = t.extended ? static_cast<int>(r.Dword()) : r.Short();
        std::wstring itemClass;
        int itemClassOrd = -1;
        r.SzOrOrd(&itemClass, &itemClassOrd);
        item.className = itemClassOrd >= 0 ? PredefinedClass(itemClassOrd) : itemClass;
        r.SzOrOrd(&item.text, &item.textOrdinal);
        const WORD extra = r.Word();
        r.Skip(extra);
        t.items.push_back(item);
    }
    *out = t;
    return true;
}

} // namespace testing_support
