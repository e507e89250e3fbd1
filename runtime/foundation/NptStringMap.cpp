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

// What one character did: the parse goes on, ends well, or fails.
enum StepResult { STEP_ON, STEP_DONE, STEP_INVALID };

// The parse of one list: one method per group of states.
class ParameterListParser
{
public:
    explicit ParameterListParser(NPT_StringMap& map) : m_Map(map)
    {
        m_Name.Reserve(64);
        m_Value.Reserve(64);
    }

    StepResult Step(char c)
    {
        if (!m_Escape && (c == '\r' || c == '\n')) return STEP_ON;
        // below 0x20 as a signed byte: also the NUL and 0x80..0xFF
        const bool control = static_cast<signed char>(c) < 0x20;
        switch (m_State) {
        case BEFORE_NAME:
        case IN_NAME:
        case AFTER_NAME:
            return StepInName(c, control);
        case IN_QUOTED_VALUE:
            return StepInQuotes(c, control);
        default:
            return StepInValue(c, control);
        }
    }

private:
    StepResult StepInName(char c, bool control)
    {
        if (m_State == BEFORE_NAME) {
            if (c == '\0') return STEP_DONE;
            if (c == ' ' || c == '\t') return STEP_ON;
            if (control) return STEP_INVALID;
            m_Name += c;
            m_State = IN_NAME;
            return STEP_ON;
        }
        if (c == '=') {
            m_State = AFTER_EQUALS;
        } else if (c == ' ') {
            m_State = AFTER_NAME;
        } else if (m_State == AFTER_NAME || control) {
            return STEP_INVALID;
        } else {
            m_Name += c;
        }
        return STEP_ON;
    }

    StepResult StepInValue(char c, bool control)
    {
        switch (m_State) {
        case AFTER_EQUALS:
            if (c == ' ') return STEP_ON;
            if (c == '"') {
                m_State = IN_QUOTED_VALUE;
                return STEP_ON;
            }
            if (control) return STEP_INVALID;
            m_Value += c;
            m_State = IN_BARE_VALUE;
            return STEP_ON;
        case IN_BARE_VALUE:
            if (c == '\0' || c == ';') {
                StorePair(m_Name, m_Value, m_Map);
                m_State = BEFORE_NAME;
                return c == '\0' ? STEP_DONE : STEP_ON;
            }
            if (control) return STEP_INVALID;
            m_Value += c;
            return STEP_ON;
        default:  // AFTER_QUOTED_VALUE
            if (c == '\0') return STEP_DONE;
            if (c == ' ') return STEP_ON;
            if (c == ';') {
                m_State = BEFORE_NAME;
                return STEP_ON;
            }
            return STEP_INVALID;
        }
    }

    StepResult StepInQuotes(char c, bool control)
    {
        if (m_Escape) {
            if (c == '\0') return STEP_INVALID;
            m_Value += c;
            m_Escape = false;
            return STEP_ON;
        }
        if (c == '\\') {
            m_Escape = true;
            return STEP_ON;
        }
        if (c == '"') {
            StorePair(m_Name, m_Value, m_Map);
            m_State = AFTER_QUOTED_VALUE;
            return STEP_ON;
        }
        if (control) return STEP_INVALID;
        m_Value += c;
        return STEP_ON;
    }

    NPT_StringMap&     m_Map;
    NPT_String         m_Name;
    NPT_String         m_Value;
    ParameterListState m_State  = BEFORE_NAME;
    bool               m_Escape = false;
};

} // namespace

NPT_Result NPT_ParseParameterList(const char* text, NPT_StringMap& map)
{
    if (text == nullptr) return NPT_ERROR_INVALID_PARAMETERS;

    ParameterListParser parser(map);
    for (const char* p = text;; ++p) {
        switch (parser.Step(*p)) {
        case STEP_DONE:    return NPT_SUCCESS;
        case STEP_INVALID: return NPT_ERROR_INVALID_SYNTAX;
        case STEP_ON:      break;
        }
    }
}
