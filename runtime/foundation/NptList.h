/*****************************************************************
| NptList.h - NPT_List<T>, a doubly linked list that owns its items.
|
| Items are appended at the tail only; each item is one heap object
| holding the next and previous links and an owned copy of the value.
| Copying a list copies every value in order. Iteration starts at the
| first item and follows the next links:
|
|     for (NPT_List<NPT_String>::Iterator it = list.GetFirstItem(); it; ++it)
|         use(*it);
|
| or with a range-for over the list. An iterator stays valid until the
| list is cleared or destroyed.
|
| Add and Clear always return NPT_SUCCESS. A list is used by one thread
| at a time.
****************************************************************/
#ifndef NPT_LIST_H
#define NPT_LIST_H

#include <utility>

#include "NptTypes.h"
#include "NptResults.h"

template <typename T>
class NPT_List
{
private:
    struct Item
    {
        explicit Item(const T& data) : m_Next(nullptr), m_Prev(nullptr), m_Data(data) {}
        explicit Item(T&& data) : m_Next(nullptr), m_Prev(nullptr), m_Data(std::move(data)) {}
        Item* m_Next;
        Item* m_Prev;
        T     m_Data;
    };

public:
    // Position in a list; a null iterator (false) is past the last item.
    class Iterator
    {
    public:
        Iterator() : m_Item(nullptr) {}
        T&       operator*() const { return m_Item->m_Data; }
        T*       operator->() const { return &m_Item->m_Data; }
        Iterator& operator++() { m_Item = m_Item->m_Next; return *this; }
        Iterator  operator++(int) { Iterator old(*this); m_Item = m_Item->m_Next; return old; }
        bool operator==(const Iterator& other) const { return m_Item == other.m_Item; }
        bool operator!=(const Iterator& other) const { return m_Item != other.m_Item; }
        explicit operator bool() const { return m_Item != nullptr; }

    private:
        friend class NPT_List<T>;
        explicit Iterator(Item* item) : m_Item(item) {}
        Item* m_Item;
    };

    NPT_List() : m_ItemCount(0), m_Head(nullptr), m_Tail(nullptr) {}
    NPT_List(const NPT_List<T>& other) : m_ItemCount(0), m_Head(nullptr), m_Tail(nullptr)
    {
        *this = other;
    }
    NPT_List(NPT_List<T>&& other) noexcept
        : m_ItemCount(other.m_ItemCount), m_Head(other.m_Head), m_Tail(other.m_Tail)
    {
        other.m_ItemCount = 0;
        other.m_Head = other.m_Tail = nullptr;
    }
    ~NPT_List() { Clear(); }

    // Clears this list, then appends a copy of every item of other.
    NPT_List<T>& operator=(const NPT_List<T>& other)
    {
        if (this == &other) return *this;
        Clear();
        for (Item* item = other.m_Head; item; item = item->m_Next) Add(item->m_Data);
        return *this;
    }
    NPT_List<T>& operator=(NPT_List<T>&& other) noexcept
    {
        if (this == &other) return *this;
        Clear();
        m_ItemCount = other.m_ItemCount;
        m_Head = other.m_Head;
        m_Tail = other.m_Tail;
        other.m_ItemCount = 0;
        other.m_Head = other.m_Tail = nullptr;
        return *this;
    }

    // Appends a copy of data at the tail. Always NPT_SUCCESS.
    NPT_Result Add(const T& data) { Link(new Item(data)); return NPT_SUCCESS; }
    NPT_Result Add(T&& data) { Link(new Item(std::move(data))); return NPT_SUCCESS; }

    // Frees every item and its value; the count becomes 0. Always NPT_SUCCESS.
    NPT_Result Clear()
    {
        Item* item = m_Head;
        while (item) {
            Item* next = item->m_Next;
            delete item;
            item = next;
        }
        m_Head = m_Tail = nullptr;
        m_ItemCount = 0;
        return NPT_SUCCESS;
    }

    NPT_Size GetItemCount() const { return m_ItemCount; }

    // First item, or a null iterator for an empty list.
    Iterator GetFirstItem() const { return Iterator(m_Head); }
    // Last item, or a null iterator for an empty list.
    Iterator GetLastItem() const { return Iterator(m_Tail); }
    // Item at index (0 = first), or a null iterator when index >= count.
    Iterator GetItem(NPT_Size index) const
    {
        if (index >= m_ItemCount) return Iterator();
        Item* item = m_Head;
        while (index--) item = item->m_Next;
        return Iterator(item);
    }

    Iterator begin() const { return Iterator(m_Head); }
    Iterator end() const { return Iterator(); }

private:
    void Link(Item* item)
    {
        item->m_Prev = m_Tail;
        if (m_Tail) {
            m_Tail->m_Next = item;
        } else {
            m_Head = item;
        }
        m_Tail = item;
        ++m_ItemCount;
    }

    NPT_Size m_ItemCount;
    Item*    m_Head;
    Item*    m_Tail;
};

#endif // NPT_LIST_H
