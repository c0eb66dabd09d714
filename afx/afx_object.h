// CObject: the framework's root object class. Owned objects are deleted through a base pointer,
// so the destructor is virtual; objects are not copied.
#pragma once

class CObject {
public:
    CObject() = default;
    virtual ~CObject() = default;
    CObject(const CObject&) = delete;
    CObject& operator=(const CObject&) = delete;
};
