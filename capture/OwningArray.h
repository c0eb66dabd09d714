// COwningArray<T>: a growable pointer array that owns its entries.
//
// Built on the framework's CPtrArray, so it grows by the same rule. Removing an entry or
// destroying the array deletes the entries; Add takes ownership only when it returns, and throws
// CMemoryException (leaving the object with the caller) when the array cannot grow.
#pragma once

#include "afx_coll.h"
#include "afx_object.h"

template <class T> class COwningArray : public CObject {
public:
    COwningArray() = default;
    ~COwningArray() override { DeleteAll(); }

    int GetSize() const { return m_items.GetSize(); }
    int GetCapacity() const { return m_items.GetCapacity(); }
    bool IsEmpty() const { return m_items.IsEmpty(); }
    // The entry at index, or nullptr for an index outside the array.
    T* GetAt(int index) const {
        return (index >= 0 && index < m_items.GetSize()) ? static_cast<T*>(m_items.GetAt(index)) : nullptr;
    }
    T* operator[](int index) const { return GetAt(index); }

    int Add(T* item) { return m_items.Add(item); }

    // Deletes the entry at index; the later ones move down. An index outside the array is ignored.
    void RemoveAt(int index) {
        T* item = GetAt(index);
        if (index < 0 || index >= m_items.GetSize())
            return;
        m_items.RemoveAt(index);
        delete item;
    }

    // Puts item at index in place of the entry there, which goes back to the caller undeleted.
    // An index outside the array changes nothing and gives back nullptr.
    T* Exchange(int index, T* item) {
        if (index < 0 || index >= m_items.GetSize())
            return nullptr;
        T* old = static_cast<T*>(m_items.GetAt(index));
        m_items.SetAt(index, item);
        return old;
    }

    // Takes the entry at index out of the array without deleting it.
    T* Detach(int index) {
        T* item = GetAt(index);
        if (index >= 0 && index < m_items.GetSize())
            m_items.RemoveAt(index);
        return item;
    }

    // Deletes every entry, then frees the pointer block (size and capacity 0).
    void DeleteAll() {
        for (int i = 0; i < m_items.GetSize(); ++i)
            delete static_cast<T*>(m_items.GetAt(i));
        m_items.RemoveAll();
    }

private:
    CPtrArray m_items;
};
