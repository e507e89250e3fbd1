/*****************************************************************
| NptStrings.h - NPT_String, the owned byte string of the runtime layer.
|
| A string is one pointer wide. A null pointer is the empty string and
| owns nothing; otherwise the pointer addresses the characters of one
| heap block that starts with an 8-byte header (NPT_String::Buffer:
| length, then capacity) followed by capacity + 1 bytes, so the block is
| exactly capacity + 9 bytes. The characters are always NUL-terminated
| at index length, and GetChars never returns null: an empty string
| gives the static EmptyString.
|
| Text is plain bytes; case handling knows only the 26 ASCII letters.
| Byte comparison is signed: bytes 0x80..0xFF order before ASCII and
| even before the terminator.
|
| Every string owns its block exclusively (copies allocate exactly the
| length; there is no sharing). Appends grow the capacity
| geometrically. Bytes passed to an operation may lie inside the
| string's own block (s += s, s.Insert(s.GetChars(), 1)).
|
| Failures: no operation reports an error except SetLength (always
| NPT_SUCCESS) and ToInteger / ToFloat, which return the parser's
| result (NPT_ERROR_INVALID_PARAMETERS for malformed text,
| NPT_ERROR_OVERFLOW for a value out of range) and leave the value 0.
| Out-of-range positions are clipped or ignored, never errors.
|
| Threads: a string is used by one thread at a time; EmptyString is
| read-only and may be read from any thread.
****************************************************************/
#ifndef NPT_STRINGS_H
#define NPT_STRINGS_H

#include "NptTypes.h"
#include "NptResults.h"
#include "NptList.h"

#if defined(__GNUC__)
#define NPT_PRINTF_LIKE(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define NPT_PRINTF_LIKE(fmt, args)
#endif

class NPT_EXPORT NPT_String
{
public:
    // Header of a string's heap block; the characters follow it.
    struct Buffer
    {
        NPT_UInt32 m_Length;    // bytes in the string, terminator excluded
        NPT_UInt32 m_Allocated; // capacity, terminator excluded
    };

    // The one-byte NUL string returned for every empty string.
    static const char EmptyString[1];

    // construction
    NPT_String() : m_Chars(nullptr) {}
    // null s: empty; otherwise a copy of strlen(s) bytes
    NPT_String(const char* s);
    // null s or length 0: empty; otherwise length bytes copied from s
    NPT_String(const char* s, NPT_Size length);
    // repeat 0: empty; otherwise repeat bytes c
    explicit NPT_String(char c, NPT_Size repeat = 1);
    NPT_String(const NPT_String& other);
    NPT_String(NPT_String&& other) noexcept : m_Chars(other.m_Chars) { other.m_Chars = nullptr; }
    ~NPT_String();

    // assignment
    // null s or length 0: Reset; otherwise the length bytes of s
    void        Assign(const char* s, NPT_Size length);
    NPT_String& operator=(const char* s);
    NPT_String& operator=(const NPT_String& other);
    NPT_String& operator=(NPT_String&& other) noexcept;

    // access
    const char* GetChars() const { return m_Chars ? m_Chars : EmptyString; }
    // block start; null for a null string
    const Buffer* GetBuffer() const { return m_Chars ? HeaderOf(m_Chars) : nullptr; }
    NPT_Size    GetLength() const { return m_Chars ? HeaderOf(m_Chars)->m_Length : 0; }
    NPT_Size    GetCapacity() const { return m_Chars ? HeaderOf(m_Chars)->m_Allocated : 0; }
    bool        IsEmpty() const { return GetLength() == 0; }
    // No bounds check. Index 0 of an empty string is the shared
    // terminator, which must never be written.
    char        operator[](NPT_Size index) const { return GetChars()[index]; }
    char&       operator[](NPT_Size index) { return const_cast<char*>(GetChars())[index]; }
    // writable characters; null for a null string
    char*       UseChars() { return m_Chars; }

    // capacity
    // grow the capacity to at least allocated, keeping the content
    void       Reserve(NPT_Size allocated);
    // room for length bytes, content discarded; length becomes length
    void       ReserveDiscarding(NPT_Size length);
    // free the block; the string becomes null
    void       Reset();
    // 0 frees the block; otherwise the length becomes length, bytes gained
    // are spaces when pad (unspecified otherwise). Always NPT_SUCCESS.
    NPT_Result SetLength(NPT_Size length, bool pad = false);

    // appending
    void        Append(const char* s, NPT_Size length);
    void        Append(const char* s);              // s must not be null
    NPT_String& operator+=(const char* s);          // s must not be null
    NPT_String& operator+=(const NPT_String& other);
    NPT_String& operator+=(char c);                 // c = 0 embeds a NUL

    friend NPT_String operator+(const NPT_String& a, const char* b);
    friend NPT_String operator+(const char* a, const NPT_String& b);
    friend NPT_String operator+(const NPT_String& a, const NPT_String& b);
    friend NPT_String operator+(const NPT_String& a, char c);

    // comparison (signed bytes; ignore_case folds a..z to upper case)
    int  Compare(const char* s, bool ignore_case = false) const;
    // exactly count byte pairs, not stopping at a NUL
    int  CompareN(const char* s, NPT_Size count, bool ignore_case = false) const;
    bool StartsWith(const char* s, bool ignore_case = false) const;
    bool EndsWith(const char* s, bool ignore_case = false) const;

    // search: index, or -1 when not found
    NPT_Int32 Find(const char* s, NPT_Size start = 0, bool ignore_case = false) const;
    NPT_Int32 Find(char c, NPT_Size start = 0, bool ignore_case = false) const;
    // last occurrence ending at least start bytes before the end
    NPT_Int32 ReverseFind(const char* s, NPT_Size start = 0, bool ignore_case = false) const;
    // last c at or before length - 1 - start
    NPT_Int32 ReverseFind(char c, NPT_Size start = 0, bool ignore_case = false) const;

    // editing
    NPT_String SubString(NPT_Size first, NPT_Size count) const;
    NPT_String SubString(NPT_Size first) const { return SubString(first, GetLength()); }
    // null or empty s, or index > length: no change
    void Insert(const char* s, NPT_Size index = 0);
    void Erase(NPT_Size start, NPT_Size count = 1);
    // every byte a becomes b; nothing when a or b is 0
    void Replace(char a, char b);
    // every byte a becomes s; nothing when a is 0 or s null/empty
    void Replace(char a, const char* s);
    // every occurrence of a (non-null) becomes b (null = empty), left to
    // right without overlap; an empty a changes nothing
    void Replace(const char* a, const char* b);
    void MakeLowercase();
    void MakeUppercase();
    NPT_String ToLowercase() const;
    NPT_String ToUppercase() const;

    // trimming: with no argument the set is "\r\n\t "
    void TrimLeft();
    void TrimLeft(char c);
    void TrimLeft(const char* chars);
    void TrimRight();
    void TrimRight(char c);
    void TrimRight(const char* chars);
    void Trim();
    void Trim(char c);
    void Trim(const char* chars);

    // numbers and formatting
    static NPT_String FromInteger(NPT_Int64 value);
    static NPT_String FromUnsignedInteger(NPT_UInt64 value);
    // printf-style; text longer than 524,287 bytes gives an empty string
    static NPT_String Format(const char* format, ...) NPT_PRINTF_LIKE(1, 2);
    NPT_Result ToInteger(NPT_Int32& value, bool relaxed = true) const;
    NPT_Result ToInteger(NPT_UInt32& value, bool relaxed = true) const;
    NPT_Result ToInteger(NPT_Int64& value, bool relaxed = true) const;
    NPT_Result ToInteger(NPT_UInt64& value, bool relaxed = true) const;
    NPT_Result ToFloat(NPT_Float& value, bool relaxed = true) const;

    // splitting and joining; separator must not be null
    NPT_List<NPT_String> Split(const char* separator) const;
    static NPT_String    Join(const NPT_List<NPT_String>& list, const char* separator);

private:
    static Buffer*       HeaderOf(char* chars) { return reinterpret_cast<Buffer*>(chars) - 1; }
    static const Buffer* HeaderOf(const char* chars)
    {
        return reinterpret_cast<const Buffer*>(chars) - 1;
    }
    // a block of capacity allocated + 9 bytes with length set; returns
    // its characters
    static char* Allocate(NPT_Size allocated, NPT_Size length);
    static void  Free(char* chars);
    void         SetLengthField(NPT_Size length) { HeaderOf(m_Chars)->m_Length = length; }
    // true when s points into this string's block
    bool         Overlaps(const char* s) const;

    char* m_Chars;
};

NPT_EXPORT bool operator==(const NPT_String& a, const NPT_String& b);
NPT_EXPORT bool operator==(const NPT_String& a, const char* b);
NPT_EXPORT bool operator==(const char* a, const NPT_String& b);
NPT_EXPORT bool operator!=(const NPT_String& a, const NPT_String& b);
NPT_EXPORT bool operator!=(const NPT_String& a, const char* b);
NPT_EXPORT bool operator!=(const char* a, const NPT_String& b);

#endif // NPT_STRINGS_H
