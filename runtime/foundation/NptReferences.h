/*****************************************************************
| NptReferences.h - NPT_Reference<T>, a non-intrusive reference-counted
| handle.
|
| The handle holds the object pointer and a pointer to a share count
| kept in a separate allocation, so any class can be shared without
| taking part in the counting. The last handle to let go deletes the
| object through its (virtual) destructor.
|
| A raw pointer must be wrapped exactly once; further handles are made
| from existing handles. A handle to a derived class converts to a
| handle to a base class that shares the same object and count.
|
| The count is a plain integer: all handles sharing one object must be
| used from one thread at a time.
****************************************************************/
#ifndef NPT_REFERENCES_H
#define NPT_REFERENCES_H

#include "NptTypes.h"

template <typename T>
class NPT_Reference
{
public:
    NPT_Reference() : m_Object(nullptr), m_Counter(nullptr) {}

    // Takes ownership of object; a null object gives an empty handle.
    explicit NPT_Reference(T* object)
        : m_Object(object), m_Counter(object ? new NPT_UInt32(1) : nullptr) {}

    NPT_Reference(const NPT_Reference<T>& other)
        : m_Object(other.m_Object), m_Counter(other.m_Counter)
    {
        if (m_Counter) ++(*m_Counter);
    }

    // Derived-to-base view: shares the object and its count.
    template <typename U>
    NPT_Reference(const NPT_Reference<U>& other)
        : m_Object(other.m_Object), m_Counter(other.m_Counter)
    {
        if (m_Counter) ++(*m_Counter);
    }

    ~NPT_Reference() { Release(); }

    NPT_Reference<T>& operator=(const NPT_Reference<T>& other)
    {
        if (this == &other) return *this;
        Release();
        m_Object  = other.m_Object;
        m_Counter = other.m_Counter;
        if (m_Counter) ++(*m_Counter);
        return *this;
    }

    template <typename U>
    NPT_Reference<T>& operator=(const NPT_Reference<U>& other)
    {
        Release();
        m_Object  = other.m_Object;
        m_Counter = other.m_Counter;
        if (m_Counter) ++(*m_Counter);
        return *this;
    }

    // Gives up this handle's share, then takes ownership of object.
    NPT_Reference<T>& operator=(T* object)
    {
        Release();
        m_Object  = object;
        m_Counter = object ? new NPT_UInt32(1) : nullptr;
        return *this;
    }

    T& operator*() const  { return *m_Object; }
    T* operator->() const { return m_Object; }

    T*   AsPointer() const { return m_Object; }
    bool IsNull() const    { return m_Object == nullptr; }

    // Number of handles sharing the object; 0 for an empty handle.
    NPT_UInt32 GetCount() const { return m_Counter ? *m_Counter : 0; }

    // Gives up this handle's share and leaves the handle empty. The last
    // share frees the count first, then deletes the object.
    void Release()
    {
        NPT_UInt32* counter = m_Counter;
        T*          object  = m_Object;
        m_Counter = nullptr;
        m_Object  = nullptr;
        if (counter == nullptr) return;
        if (--(*counter) == 0) {
            delete counter;
            delete object;
        }
    }

private:
    template <typename U> friend class NPT_Reference;

    T*          m_Object;
    NPT_UInt32* m_Counter;
};

#endif // NPT_REFERENCES_H
