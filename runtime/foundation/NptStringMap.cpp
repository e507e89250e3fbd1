/*****************************************************************
| NptStringMap.cpp - NPT_StringMap and NPT_ParseParameterList.
****************************************************************/
#include "NptStringMap.h"

/*----------------------------------------------------------------------
|   NPT_StringMap
+---------------------------------------------------------------------*/
NPT_StringMap::Entry* NPT_StringMap::Find(const char* key)
{
    for (NPT_List<Entry>::Iterator it = m_Entries.GetFirstItem(); it; ++it) {
        if (it->GetKey().Compare(key) == 0) return &*it;
    }
    return nullptr;
}

const NPT_StringMap::Entry* NPT_StringMap::Find(const char* key) const
{
    return const_cast<NPT_StringMap*>(this)->Find(key);
}

NPT_String& NPT_StringMap::operator[](const char* key)
{
    Entry* entry = Find(key);
    if (entry) return entry->UseValue();
    m_Entries.Add(Entry(key));
    return m_Entries.GetLastItem()->UseValue();
}

/*----------------------------------------------------------------------
|   NPT_ParseParameterList
+---------------------------------------------------------------------*/
namespace {

enum ParameterListState {
    BEFORE_NAME,        // skipping blanks before a name
    IN_NAME,            // collecting the name
    AFTER_NAME,         // spaces between the name and '='
    AFTER_EQUALS,       // spaces between '=' and the value
    IN_BARE_VALUE,      // collecting an unquoted value up to ';'
    IN_QUOTED_VALUE,    // collecting a value inside double quotes
    AFTER_QUOTED_VALUE  // spaces between the closing quote and ';'
};

void StorePair(NPT_String& name, NPT_String& value, NPT_StringMap& map)
{
    name.TrimRight();
    value.TrimRight();
    map[name] = value;
    name.SetLength(0, false);
    value.SetLength(0, false);
}

} // namespace

NPT_Result NPT_ParseParameterList(const char* text, NPT_StringMap& map)
{
    if (text == nullptr) return NPT_ERROR_INVALID_PARAMETERS;

    NPT_String name;
    NPT_String value;
    name.Reserve(64);
    value.Reserve(64);

    ParameterListState state = BEFORE_NAME;
    bool escape = false;
    for (const char* p = text;; ++p) {
        char c = *p;
        if (!escape && (c == '\r' || c == '\n')) continue;
        // below 0x20 as a signed byte: also the NUL and 0x80..0xFF
        bool control = static_cast<signed char>(c) < 0x20;

        switch (state) {
        case BEFORE_NAME:
            if (c == '\0') return NPT_SUCCESS;
            if (c == ' ' || c == '\t') break;
            if (control) return NPT_ERROR_INVALID_SYNTAX;
            name += c;
            state = IN_NAME;
            break;

        case IN_NAME:
            if (control) return NPT_ERROR_INVALID_SYNTAX;
            if (c == ' ') {
                state = AFTER_NAME;
            } else if (c == '=') {
                state = AFTER_EQUALS;
            } else {
                name += c;
            }
            break;

        case AFTER_NAME:
            if (c == ' ') break;
            if (c == '=') {
                state = AFTER_EQUALS;
                break;
            }
            return NPT_ERROR_INVALID_SYNTAX;

        case AFTER_EQUALS:
            if (c == ' ') break;
            if (c == '"') {
                state = IN_QUOTED_VALUE;
                break;
            }
            if (control) return NPT_ERROR_INVALID_SYNTAX;
            value += c;
            state = IN_BARE_VALUE;
            break;

        case IN_BARE_VALUE:
            if (c == '\0') {
                StorePair(name, value, map);
                return NPT_SUCCESS;
            }
            if (c == ';') {
                StorePair(name, value, map);
                state = BEFORE_NAME;
                break;
            }
            if (control) return NPT_ERROR_INVALID_SYNTAX;
            value += c;
            break;

        case IN_QUOTED_VALUE:
            if (escape) {
                if (c == '\0') return NPT_ERROR_INVALID_SYNTAX;
                value += c;
                escape = false;
                break;
            }
            if (c == '\\') {
                escape = true;
                break;
            }
            if (c == '"') {
                StorePair(name, value, map);
                state = AFTER_QUOTED_VALUE;
                break;
            }
            if (control) return NPT_ERROR_INVALID_SYNTAX;
            value += c;
            break;

        case AFTER_QUOTED_VALUE:
            if (c == '\0') return NPT_SUCCESS;
            if (c == ' ') break;
            if (c == ';') {
                state = BEFORE_NAME;
                break;
            }
            return NPT_ERROR_INVALID_SYNTAX;
        }
    }
}
