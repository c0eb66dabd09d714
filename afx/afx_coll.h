// The framework's growable arrays: CPtrArray (untyped pointers) and CByteArray (bytes).
//
// Both keep the framework's growth rule. An empty array is first allocated at exactly the size
// asked for. Beyond the capacity it grows by the growth step; step 0 (the default) means
// "automatic": size / 8, clamped to 4..1024 elements. The new capacity is never less than the
// size needed. Growing copies the elements into a new block; a block that cannot be had throws
// CMemoryException and leaves the array as it was. Shrinking to 0 frees the block.
#pragma once

#include <windows.h>

#include <climits>
#include <cstring>
#include <new>

#include "afx_exceptions.h"
#include "afx_object.h"

template <class TYPE> class CGrowableArray : public CObject {
public:
    CGrowableArray() = default;
    ~CGrowableArray() override { delete[] m_pData; }

    int GetSize() const { return m_nSize; }
    int GetCount() const { return m_nSize; }
    int GetUpperBound() const { return m_nSize - 1; }
    // Elements the block holds before the next growth.
    int GetCapacity() const { return m_nMaxSize; }
    bool IsEmpty() const { return m_nSize == 0; }

    // Unchecked, like the framework's release build: the index must lie in 0..GetSize() - 1.
    TYPE GetAt(int index) const { return m_pData[index]; }
    void SetAt(int index, TYPE element) { m_pData[index] = element; }
    TYPE& ElementAt(int index) { return m_pData[index]; }
    TYPE operator[](int index) const { return m_pData[index]; }
    TYPE& operator[](int index) { return m_pData[index]; }
    const TYPE* GetData() const { return m_pData; }
    TYPE* GetData() { return m_pData; }

    // Sets the size; new elements are zero. growBy -1 keeps the current growth step.
    // Throws CMemoryException for a size that cannot be held (negative or too large to allocate).
    void SetSize(int newSize, int growBy = -1) {
        if (growBy != -1)
            m_nGrowBy = growBy;
        if (newSize < 0)
            AfxThrowMemoryException();
        if (newSize == 0) {
            delete[] m_pData;
            m_pData = nullptr;
            m_nSize = m_nMaxSize = 0;
        } else if (!m_pData) {
            m_pData = Allocate(newSize);
            m_nSize = m_nMaxSize = newSize;
        } else if (newSize <= m_nMaxSize) {
            if (newSize > m_nSize)
                std::memset(m_pData + m_nSize, 0, sizeof(TYPE) * static_cast<size_t>(newSize - m_nSize));
            m_nSize = newSize;
        } else {
            int step = m_nGrowBy;
            if (step == 0) {
                step = m_nSize / 8;
                step = step < 4 ? 4 : (step > 1024 ? 1024 : step);
            }
            const long long stepped = static_cast<long long>(m_nMaxSize) + step;
            const int newMax =
                newSize < stepped ? static_cast<int>(stepped < INT_MAX ? stepped : INT_MAX) : newSize;
            TYPE* block = Allocate(newMax);
            std::memcpy(block, m_pData, sizeof(TYPE) * static_cast<size_t>(m_nSize));
            delete[] m_pData;
            m_pData = block;
            m_nSize = newSize;
            m_nMaxSize = newMax;
        }
    }

    // Appends one element and returns its index; throws CMemoryException if the array cannot grow.
    int Add(TYPE element) {
        const int index = m_nSize;
        if (index == INT_MAX)
            AfxThrowMemoryException();
        SetSize(index + 1);
        m_pData[index] = element;
        return index;
    }

    // Removes count elements from index on; the later ones move down. Out-of-range requests
    // remove only what exists.
    void RemoveAt(int index, int count = 1) {
        if (index < 0 || count <= 0 || index >= m_nSize)
            return;
        if (count > m_nSize - index)
            count = m_nSize - index;
        const int after = m_nSize - (index + count);
        if (after > 0)
            std::memmove(m_pData + index, m_pData + index + count, sizeof(TYPE) * static_cast<size_t>(after));
        m_nSize -= count;
    }

    void RemoveAll() { SetSize(0); }

private:
    static TYPE* Allocate(int count) {
        TYPE* block = new (std::nothrow) TYPE[static_cast<size_t>(count)];
        if (!block)
            AfxThrowMemoryException();
        std::memset(block, 0, sizeof(TYPE) * static_cast<size_t>(count));
        return block;
    }

    TYPE* m_pData = nullptr;
    int m_nSize = 0;
    int m_nMaxSize = 0;
    int m_nGrowBy = 0;
};

class CPtrArray : public CGrowableArray<void*> {};

class CByteArray : public CGrowableArray<BYTE> {};
