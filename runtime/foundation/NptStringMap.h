/*****************************************************************
| NptStringMap.h - NPT_StringMap, a small map of string keys to string
| values, and NPT_ParseParameterList, which fills one from a list of
| name=value pairs.
|
| The map keeps its entries in insertion order; keys are unique and
| compared case-sensitively, and lookup walks the entries from the
| first. It is meant for a handful of entries. The map owns its
| entries; copying a map copies every entry. One thread at a time.
****************************************************************/
#ifndef NPT_STRING_MAP_H
#define NPT_STRING_MAP_H

#include "NptTypes.h"
#include "NptResults.h"
#include "NptList.h"
#include "NptStrings.h"

class NPT_EXPORT NPT_StringMap
{
public:
    class Entry
    {
    public:
        explicit Entry(const char* key) : m_Key(key) {}
        const NPT_String& GetKey() const { return m_Key; }
        const NPT_String& GetValue() const { return m_Value; }
        NPT_String&       UseValue() { return m_Value; }

    private:
        NPT_String m_Key;
        NPT_String m_Value;
    };

    // The value slot for key: the existing entry's value, or the empty
    // value of a new entry appended after the last. A null key is the
    // empty key.
    NPT_String& operator[](const char* key);
    NPT_String& operator[](const NPT_String& key) { return (*this)[key.GetChars()]; }

    // The entry whose key equals key, or null when there is none.
    Entry*       Find(const char* key);
    const Entry* Find(const char* key) const;

    NPT_Size GetEntryCount() const { return m_Entries.GetItemCount(); }
    // entries in insertion order
    const NPT_List<Entry>& GetEntries() const { return m_Entries; }
    void Clear() { m_Entries.Clear(); }

private:
    NPT_List<Entry> m_Entries;
};

// Parses "name=value; name2=\"quoted value\"" into map, storing each
// pair with map[name] = value (a repeated name replaces the value and
// keeps its first position). Names end at a space or '='; bare values
// end at ';' or the end of the text; quoted values may hold ';' and
// backslash escapes (the escaped byte is taken as it is). Names and
// values lose trailing whitespace. Carriage returns and line feeds are
// ignored everywhere unless escaped; tabs are allowed only before a
// name; any other byte below 0x20, and every byte 0x80..0xFF, is
// malformed unless escaped inside a quoted value.
//   text null                               NPT_ERROR_INVALID_PARAMETERS
//   malformed list (pairs stored before the error stay in map)
//                                           NPT_ERROR_INVALID_SYNTAX
NPT_EXPORT NPT_Result NPT_ParseParameterList(const char* text, NPT_StringMap& map);

#endif // NPT_STRING_MAP_H
