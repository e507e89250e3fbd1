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

// GCC 12 and later follow the conditional free of a shared count into the
// code that inlines a handle and report later reads of the same count by
// other handles as uses after free, although a count is only freed when
// no handle holds it any more.
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ >= 12
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuse-after-free"
#endif

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

    // Gives up this handle's share and takes one of other's object.
    // Assigning a handle to itself changes nothing.
    NPT_Reference<T>& operator=(const NPT_Reference<T>& other)
    {
        if (this == &other) return *this;
        Take(other.m_Object, other.m_Counter);
        return *this;
    }

    template <typename U>
    NPT_Reference<T>& operator=(const NPT_Reference<U>& other)
    {
        Take(other.m_Object, other.m_Counter);
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

    // The new share is counted before the old one is given up: the source
    // handle may live inside the object this handle releases (a = a->next),
    // and releasing that object may release the source with it. A handle
    // that already shares the object sees its count go up and back down.
    void Take(T* object, NPT_UInt32* counter)
    {
        if (counter) ++(*counter);
        Release();
        m_Object  = object;
        m_Counter = counter;
    }

    T*          m_Object;
    NPT_UInt32* m_Counter;
};

#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ >= 12
#pragma GCC diagnostic pop
#endif

#endif // NPT_REFERENCES_H
