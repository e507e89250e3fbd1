/*****************************************************************
| NptStrings.cpp - NPT_String.
|
| Block layout: [length u32][allocated u32][allocated + 1 bytes]. The
| string's pointer addresses the first character, 8 bytes into the
| block. Operations whose source bytes may lie inside the string's own
| block copy them first whenever the block could be replaced or
| overwritten before they are read.
****************************************************************/
#include "NptStrings.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <functional>
#include <new>

#include "NptUtils.h"

const char NPT_String::EmptyString[1] = {'\0'};

namespace {

const char        NPT_STRINGS_WHITESPACE[] = "\r\n\t ";
const NPT_Size    NPT_STRING_MAX_CAPACITY  = 0xFFFFFFFFu - 9u;
const NPT_Size    NPT_STRING_FORMAT_FIRST_SIZE = 256;
const NPT_Size    NPT_STRING_FORMAT_MAX_SIZE   = 0x80000; // 524,288

// Only a..z fold, by clearing bit 0x20; every other byte stays.
inline signed char Fold(signed char c, bool ignore_case)
{
    if (ignore_case && c >= 'a' && c <= 'z') return static_cast<signed char>(c & ~0x20);
    return c;
}

// Length of a NUL-terminated text that is to go into a string. A text
// longer than any string can hold is treated like a failed allocation,
// not cut to the low 32 bits of its length.
NPT_Size TextLength(const char* s)
{
    std::size_t length = std::strlen(s);
    if (length > NPT_STRING_MAX_CAPACITY) throw std::bad_alloc();
    return static_cast<NPT_Size>(length);
}

// Sum of two sizes of one string; a string cannot exceed 32-bit sizes,
// and a request that would is treated like a failed allocation.
NPT_Size CheckedSum(NPT_Size a, NPT_Size b)
{
    NPT_UInt64 sum = static_cast<NPT_UInt64>(a) + b;
    if (sum > NPT_STRING_MAX_CAPACITY) throw std::bad_alloc();
    return static_cast<NPT_Size>(sum);
}

enum PrefixOutcome { PREFIX_MATCH, PREFIX_NO_MATCH, PREFIX_TEXT_EXHAUSTED };

// Walks text and pattern in step. The pattern reaching its NUL is a
// match; a difference where the text has reached its NUL means no later
// position can match either.
PrefixOutcome PrefixTest(const char* text, const char* pattern, bool ignore_case)
{
    for (;; ++text, ++pattern) {
        signed char p = static_cast<signed char>(*pattern);
        if (p == 0) return PREFIX_MATCH;
        signed char t = static_cast<signed char>(*text);
        if (Fold(t, ignore_case) != Fold(p, ignore_case)) {
            return t == 0 ? PREFIX_TEXT_EXHAUSTED : PREFIX_NO_MATCH;
        }
    }
}

inline bool InSet(char c, const char* chars)
{
    return c != '\0' && chars != nullptr && std::strchr(chars, c) != nullptr;
}

} // namespace

/*----------------------------------------------------------------------
|   block management
+---------------------------------------------------------------------*/
char* NPT_String::Allocate(NPT_Size allocated, NPT_Size length)
{
    if (allocated > NPT_STRING_MAX_CAPACITY) throw std::bad_alloc();
    char* block = new char[static_cast<std::size_t>(allocated) + 9];
    Buffer* header = new (block) Buffer;
    header->m_Length = length;
    header->m_Allocated = allocated;
    char* chars = block + sizeof(Buffer);
    chars[length] = '\0';
    return chars;
}

void NPT_String::Free(char* chars)
{
    if (chars) delete[] (chars - sizeof(Buffer));
}

static_assert(sizeof(NPT_String::Buffer) == 8, "string block header must be 8 bytes");

/*----------------------------------------------------------------------
|   construction and assignment
+---------------------------------------------------------------------*/
NPT_String::NPT_String(const char* s) : m_Chars(nullptr)
{
    if (s == nullptr) return;
    NPT_Size length = TextLength(s);
    m_Chars = Allocate(length, length);
    std::memcpy(m_Chars, s, length);
}

NPT_String::NPT_String(const char* s, NPT_Size length) : m_Chars(nullptr)
{
    if (s == nullptr || length == 0) return;
    m_Chars = Allocate(length, length);
    std::memcpy(m_Chars, s, length);
}

NPT_String::NPT_String(char c, NPT_Size repeat) : m_Chars(nullptr)
{
    if (repeat == 0) return;
    m_Chars = Allocate(repeat, repeat);
    std::memset(m_Chars, c, repeat);
}

NPT_String::NPT_String(const NPT_String& other) : m_Chars(nullptr)
{
    NPT_Size length = other.GetLength();
    if (length == 0) return;
    m_Chars = Allocate(length, length);
    std::memcpy(m_Chars, other.m_Chars, length);
}

NPT_String::~NPT_String()
{
    Free(m_Chars);
}

bool NPT_String::Overlaps(const char* s) const
{
    if (m_Chars == nullptr || s == nullptr) return false;
    std::less_equal<const char*> le;
    const char* block_end = m_Chars + HeaderOf(m_Chars)->m_Allocated + 1;
    return le(m_Chars, s) && !le(block_end, s);
}

void NPT_String::Assign(const char* s, NPT_Size length)
{
    if (s == nullptr || length == 0) {
        Reset();
        return;
    }
    if (Overlaps(s)) {
        // the block may be replaced before the bytes are read
        NPT_String copy(s, length);
        *this = std::move(copy);
        return;
    }
    ReserveDiscarding(length);
    std::memcpy(m_Chars, s, length);
    m_Chars[length] = '\0';
}

NPT_String& NPT_String::operator=(const char* s)
{
    if (s == nullptr || *s == '\0') {
        Reset();
    } else {
        Assign(s, TextLength(s));
    }
    return *this;
}

NPT_String& NPT_String::operator=(const NPT_String& other)
{
    if (this != &other) Assign(other.GetChars(), other.GetLength());
    return *this;
}

NPT_String& NPT_String::operator=(NPT_String&& other) noexcept
{
    if (this != &other) {
        Free(m_Chars);
        m_Chars = other.m_Chars;
        other.m_Chars = nullptr;
    }
    return *this;
}

/*----------------------------------------------------------------------
|   capacity
+---------------------------------------------------------------------*/
void NPT_String::Reserve(NPT_Size allocated)
{
    if (m_Chars && HeaderOf(m_Chars)->m_Allocated >= allocated) return;
    NPT_Size new_capacity = allocated;
    if (m_Chars) {
        NPT_UInt64 doubled = 2 * static_cast<NPT_UInt64>(HeaderOf(m_Chars)->m_Allocated);
        if (doubled > allocated && doubled <= NPT_STRING_MAX_CAPACITY) {
            new_capacity = static_cast<NPT_Size>(doubled);
        }
    }
    NPT_Size length = GetLength();
    char* chars = Allocate(new_capacity, length);
    if (m_Chars) std::memcpy(chars, m_Chars, static_cast<std::size_t>(length) + 1);
    Free(m_Chars);
    m_Chars = chars;
}

void NPT_String::ReserveDiscarding(NPT_Size length)
{
    if (m_Chars && HeaderOf(m_Chars)->m_Allocated >= length) {
        SetLengthField(length);
        return;
    }
    NPT_Size new_capacity = length;
    if (m_Chars) {
        NPT_UInt64 doubled = 2 * static_cast<NPT_UInt64>(HeaderOf(m_Chars)->m_Allocated);
        if (doubled > length && doubled <= NPT_STRING_MAX_CAPACITY) {
            new_capacity = static_cast<NPT_Size>(doubled);
        }
    }
    Free(m_Chars);
    m_Chars = nullptr;
    m_Chars = Allocate(new_capacity, length);
}

void NPT_String::Reset()
{
    Free(m_Chars);
    m_Chars = nullptr;
}

NPT_Result NPT_String::SetLength(NPT_Size length, bool pad)
{
    if (length == 0) {
        Reset();
        return NPT_SUCCESS;
    }
    NPT_Size old_length = GetLength();
    Reserve(length);
    if (pad && length > old_length) {
        std::memset(m_Chars + old_length, ' ', length - old_length);
    }
    SetLengthField(length);
    m_Chars[length] = '\0';
    return NPT_SUCCESS;
}

/*----------------------------------------------------------------------
|   appending
+---------------------------------------------------------------------*/
void NPT_String::Append(const char* s, NPT_Size length)
{
    if (s == nullptr || length == 0) return;
    if (Overlaps(s)) {
        // Reserve may move the block: take the bytes first
        NPT_String copy(s, length);
        Append(copy.m_Chars, length);
        return;
    }
    NPT_Size old_length = GetLength();
    NPT_Size new_length = CheckedSum(old_length, length);
    Reserve(new_length);
    std::memcpy(m_Chars + old_length, s, length);
    m_Chars[new_length] = '\0';
    SetLengthField(new_length);
}

void NPT_String::Append(const char* s)
{
    if (s == nullptr) return;
    Append(s, TextLength(s));
}

NPT_String& NPT_String::operator+=(const char* s)
{
    Append(s);
    return *this;
}

NPT_String& NPT_String::operator+=(const NPT_String& other)
{
    // other may be *this: Append copies bytes of its own block first
    Append(other.GetChars(), other.GetLength());
    return *this;
}

NPT_String& NPT_String::operator+=(char c)
{
    NPT_Size length = GetLength();
    NPT_Size new_length = CheckedSum(length, 1);
    Reserve(new_length);
    m_Chars[length] = c;
    m_Chars[new_length] = '\0';
    SetLengthField(new_length);
    return *this;
}

// Exact-size concatenation of two byte runs; empty when both are empty.
static NPT_String Concatenate(const char* a, NPT_Size a_length, const char* b, NPT_Size b_length)
{
    NPT_String result;
    NPT_Size length = CheckedSum(a_length, b_length);
    if (length == 0) return result;
    result.ReserveDiscarding(length);
    char* chars = result.UseChars();
    if (a_length) std::memcpy(chars, a, a_length);
    if (b_length) std::memcpy(chars + a_length, b, b_length);
    chars[length] = '\0';
    return result;
}

NPT_String operator+(const NPT_String& a, const char* b)
{
    if (b == nullptr) return a;
    return Concatenate(a.GetChars(), a.GetLength(), b, TextLength(b));
}

NPT_String operator+(const char* a, const NPT_String& b)
{
    if (a == nullptr) return b;
    return Concatenate(a, TextLength(a), b.GetChars(), b.GetLength());
}

NPT_String operator+(const NPT_String& a, const NPT_String& b)
{
    return Concatenate(a.GetChars(), a.GetLength(), b.GetChars(), b.GetLength());
}

NPT_String operator+(const NPT_String& a, char c)
{
    return Concatenate(a.GetChars(), a.GetLength(), &c, 1);
}

/*----------------------------------------------------------------------
|   comparison
+---------------------------------------------------------------------*/
int NPT_String::Compare(const char* s, bool ignore_case) const
{
    if (s == nullptr) s = EmptyString;
    const char* t = GetChars();
    for (;; ++t, ++s) {
        signed char a = Fold(static_cast<signed char>(*t), ignore_case);
        signed char b = Fold(static_cast<signed char>(*s), ignore_case);
        if (a != b) return a - b;
        if (a == 0) return 0;
    }
}

int NPT_String::CompareN(const char* s, NPT_Size count, bool ignore_case) const
{
    if (s == nullptr) s = EmptyString;
    const char* t = GetChars();
    for (NPT_Size i = 0; i < count; ++i) {
        signed char a = Fold(static_cast<signed char>(t[i]), ignore_case);
        signed char b = Fold(static_cast<signed char>(s[i]), ignore_case);
        if (a != b) return a - b;
    }
    return 0;
}

bool operator==(const NPT_String& a, const NPT_String& b) { return a.Compare(b.GetChars()) == 0; }
bool operator==(const NPT_String& a, const char* b) { return a.Compare(b) == 0; }
bool operator==(const char* a, const NPT_String& b) { return b.Compare(a) == 0; }
bool operator!=(const NPT_String& a, const NPT_String& b) { return !(a == b); }
bool operator!=(const NPT_String& a, const char* b) { return !(a == b); }
bool operator!=(const char* a, const NPT_String& b) { return !(a == b); }

bool NPT_String::StartsWith(const char* s, bool ignore_case) const
{
    if (s == nullptr) return false;
    return PrefixTest(GetChars(), s, ignore_case) == PREFIX_MATCH;
}

bool NPT_String::EndsWith(const char* s, bool ignore_case) const
{
    if (s == nullptr) return false;
    std::size_t s_length = std::strlen(s);
    NPT_Size length = GetLength();
    if (s_length > length) return false;
    return PrefixTest(GetChars() + (length - s_length), s, ignore_case) == PREFIX_MATCH;
}

/*----------------------------------------------------------------------
|   search
+---------------------------------------------------------------------*/
NPT_Int32 NPT_String::Find(const char* s, NPT_Size start, bool ignore_case) const
{
    if (s == nullptr || m_Chars == nullptr || start >= GetLength()) return -1;
    for (const char* p = m_Chars + start; *p; ++p) {
        PrefixOutcome outcome = PrefixTest(p, s, ignore_case);
        if (outcome == PREFIX_MATCH) return static_cast<NPT_Int32>(p - m_Chars);
        if (outcome == PREFIX_TEXT_EXHAUSTED) return -1;
    }
    return -1;
}

NPT_Int32 NPT_String::Find(char c, NPT_Size start, bool ignore_case) const
{
    if (m_Chars == nullptr || start >= GetLength()) return -1;
    signed char wanted = Fold(static_cast<signed char>(c), ignore_case);
    for (const char* p = m_Chars + start; *p; ++p) {
        if (Fold(static_cast<signed char>(*p), ignore_case) == wanted) {
            return static_cast<NPT_Int32>(p - m_Chars);
        }
    }
    return -1;
}

NPT_Int32 NPT_String::ReverseFind(const char* s, NPT_Size start, bool ignore_case) const
{
    if (s == nullptr || *s == '\0') return -1;
    NPT_Int64 candidate = static_cast<NPT_Int64>(GetLength())
                        - static_cast<NPT_Int64>(std::strlen(s))
                        - static_cast<NPT_Int64>(start);
    const char* chars = GetChars();
    for (; candidate >= 0; --candidate) {
        if (PrefixTest(chars + candidate, s, ignore_case) == PREFIX_MATCH) {
            return static_cast<NPT_Int32>(candidate);
        }
    }
    return -1;
}

NPT_Int32 NPT_String::ReverseFind(char c, NPT_Size start, bool ignore_case) const
{
    NPT_Int64 candidate = static_cast<NPT_Int64>(GetLength()) - static_cast<NPT_Int64>(start) - 1;
    const char* chars = GetChars();
    signed char wanted = Fold(static_cast<signed char>(c), ignore_case);
    for (; candidate >= 0; --candidate) {
        if (Fold(static_cast<signed char>(chars[candidate]), ignore_case) == wanted) {
            return static_cast<NPT_Int32>(candidate);
        }
    }
    return -1;
}

/*----------------------------------------------------------------------
|   editing
+---------------------------------------------------------------------*/
NPT_String NPT_String::SubString(NPT_Size first, NPT_Size count) const
{
    NPT_Size length = GetLength();
    if (first >= length || count == 0) return NPT_String();
    if (count > length - first) count = length - first;
    return NPT_String(m_Chars + first, count);
}

void NPT_String::Insert(const char* s, NPT_Size index)
{
    if (s == nullptr || *s == '\0') return;
    NPT_Size length = GetLength();
    if (index > length) return;
    NPT_Size s_length = TextLength(s);
    NPT_Size new_length = CheckedSum(length, s_length);
    // a new block, so s may safely lie inside the old one
    char* chars = Allocate(new_length, new_length);
    if (index) std::memcpy(chars, m_Chars, index);
    std::memcpy(chars + index, s, s_length);
    if (length > index) std::memcpy(chars + index + s_length, m_Chars + index, length - index);
    Free(m_Chars);
    m_Chars = chars;
}

void NPT_String::Erase(NPT_Size start, NPT_Size count)
{
    NPT_Size length = GetLength();
    if (static_cast<NPT_UInt64>(start) + count > length) {
        if (start >= length) return;
        count = length - start;
    }
    if (count == 0) return;
    std::memmove(m_Chars + start, m_Chars + start + count,
                 static_cast<std::size_t>(length - start - count) + 1);
    SetLengthField(length - count);
}

void NPT_String::Replace(char a, char b)
{
    if (m_Chars == nullptr || a == '\0' || b == '\0') return;
    for (char* p = m_Chars; *p; ++p) {
        if (*p == a) *p = b;
    }
}

void NPT_String::Replace(char a, const char* s)
{
    if (m_Chars == nullptr || *m_Chars == '\0' || a == '\0' || s == nullptr || *s == '\0') return;
    if (s[1] == '\0') {
        Replace(a, s[0]);
        return;
    }
    // s is only read while the string's own block is intact
    NPT_String result;
    result.Reserve(GetLength());
    for (const char* p = m_Chars; *p; ++p) {
        if (*p == a) {
            result.Append(s);
        } else {
            result += *p;
        }
    }
    Assign(result.GetChars(), result.GetLength());
}

void NPT_String::Replace(const char* a, const char* b)
{
    // an empty pattern would match everywhere without consuming anything
    if (a == nullptr || *a == '\0' || m_Chars == nullptr) return;
    if (b == nullptr) b = EmptyString;

    // Occurrences are found left to right in the original text without
    // overlap; the replacement text is never searched, so the result is
    // built in one pass. The patterns may lie inside this string.
    NPT_Int32 p = Find(a, 0, false);
    if (p < 0) return;
    NPT_String pattern(a);
    NPT_String replacement(b);
    NPT_Size   a_length = pattern.GetLength();
    NPT_Size   length = GetLength();
    NPT_String result;
    NPT_Size   done = 0;
    while (p >= 0) {
        NPT_Size at = static_cast<NPT_Size>(p);
        result.Append(m_Chars + done, at - done);
        result.Append(replacement.GetChars(), replacement.GetLength());
        done = at + a_length;
        p = Find(pattern.GetChars(), done, false);
    }
    result.Append(m_Chars + done, length - done);
    if (result.GetLength() == 0) {
        Reset();
    } else {
        // exact size, like the copies elsewhere
        *this = NPT_String(result);
    }
}

void NPT_String::MakeLowercase()
{
    if (m_Chars == nullptr) return;
    for (char* p = m_Chars; *p; ++p) {
        if (*p >= 'A' && *p <= 'Z') *p = static_cast<char>(*p ^ 0x20);
    }
}

void NPT_String::MakeUppercase()
{
    if (m_Chars == nullptr) return;
    for (char* p = m_Chars; *p; ++p) {
        if (*p >= 'a' && *p <= 'z') *p = static_cast<char>(*p & ~0x20);
    }
}

NPT_String NPT_String::ToLowercase() const
{
    NPT_String result(*this);
    result.MakeLowercase();
    return result;
}

NPT_String NPT_String::ToUppercase() const
{
    NPT_String result(*this);
    result.MakeUppercase();
    return result;
}

/*----------------------------------------------------------------------
|   trimming
+---------------------------------------------------------------------*/
void NPT_String::TrimLeft(const char* chars)
{
    if (m_Chars == nullptr) return;
    NPT_Size skipped = 0;
    while (InSet(m_Chars[skipped], chars)) ++skipped;
    if (skipped == 0) return;
    NPT_Size length = GetLength();
    std::memmove(m_Chars, m_Chars + skipped, static_cast<std::size_t>(length - skipped) + 1);
    SetLengthField(length - skipped);
}

void NPT_String::TrimRight(const char* chars)
{
    if (m_Chars == nullptr || m_Chars[0] == '\0') return;
    NPT_Size length = GetLength();
    NPT_Size kept = length; // index of the last kept byte plus one
    while (kept > 0 && InSet(m_Chars[kept - 1], chars)) {
        m_Chars[kept - 1] = '\0';
        --kept;
    }
    SetLengthField(kept);
}

void NPT_String::TrimLeft() { TrimLeft(NPT_STRINGS_WHITESPACE); }
void NPT_String::TrimRight() { TrimRight(NPT_STRINGS_WHITESPACE); }
void NPT_String::Trim() { Trim(NPT_STRINGS_WHITESPACE); }

void NPT_String::TrimLeft(char c)
{
    const char set[2] = {c, '\0'};
    TrimLeft(set);
}

void NPT_String::TrimRight(char c)
{
    const char set[2] = {c, '\0'};
    TrimRight(set);
}

void NPT_String::Trim(char c)
{
    const char set[2] = {c, '\0'};
    Trim(set);
}

void NPT_String::Trim(const char* chars)
{
    TrimLeft(chars);
    TrimRight(chars);
}

/*----------------------------------------------------------------------
|   numbers and formatting
+---------------------------------------------------------------------*/
static NPT_String DecimalText(NPT_UInt64 magnitude, bool negative)
{
    char digits[24]; // 20 digits, a sign, spare
    char* p = digits + sizeof(digits);
    do {
        *--p = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude);
    if (negative) *--p = '-';
    return NPT_String(p, static_cast<NPT_Size>(digits + sizeof(digits) - p));
}

NPT_String NPT_String::FromInteger(NPT_Int64 value)
{
    // the magnitude is taken unsigned so that the most negative value
    // has one too
    NPT_UInt64 magnitude = value < 0 ? 0 - static_cast<NPT_UInt64>(value)
                                     : static_cast<NPT_UInt64>(value);
    return DecimalText(magnitude, value < 0);
}

NPT_String NPT_String::FromUnsignedInteger(NPT_UInt64 value)
{
    return DecimalText(value, false);
}

NPT_String NPT_String::Format(const char* format, ...)
{
    NPT_String result;
    if (format == nullptr) return result;

    // Sizes double from 256 up to 524,288. The formatter reports the
    // length it needed, so sizes known to be too small are skipped; the
    // size finally used is the same as when trying each in turn.
    NPT_Size size = NPT_STRING_FORMAT_FIRST_SIZE;
    va_list args;
    va_start(args, format);
    for (;;) {
        result.Reserve(size);
        va_list attempt;
        va_copy(attempt, args);
        int n = std::vsnprintf(result.m_Chars, size, format, attempt);
        va_end(attempt);
        if (n < 0) {
            // formatting error: no text
            result.Reset();
            break;
        }
        if (static_cast<NPT_UInt64>(n) < size) {
            if (n == 0) {
                result.Reset();
            } else {
                result.SetLengthField(static_cast<NPT_Size>(n));
                result.m_Chars[n] = '\0';
            }
            break;
        }
        while (size <= NPT_STRING_FORMAT_MAX_SIZE && static_cast<NPT_UInt64>(n) >= size) size *= 2;
        if (size > NPT_STRING_FORMAT_MAX_SIZE) {
            // does not fit even the largest size
            result.Reset();
            break;
        }
    }
    va_end(args);
    return result;
}

NPT_Result NPT_String::ToInteger(NPT_Int32& value, bool relaxed) const
{
    return NPT_ParseSigned32(GetChars(), value, relaxed, nullptr);
}

NPT_Result NPT_String::ToInteger(NPT_UInt32& value, bool relaxed) const
{
    return NPT_ParseUnsigned32(GetChars(), value, relaxed, nullptr);
}

NPT_Result NPT_String::ToInteger(NPT_Int64& value, bool relaxed) const
{
    return NPT_ParseSigned64(GetChars(), value, relaxed, nullptr);
}

NPT_Result NPT_String::ToInteger(NPT_UInt64& value, bool relaxed) const
{
    return NPT_ParseUnsigned64(GetChars(), value, relaxed, nullptr);
}

NPT_Result NPT_String::ToFloat(NPT_Float& value, bool relaxed) const
{
    return NPT_ParseFloat32(GetChars(), value, relaxed);
}

/*----------------------------------------------------------------------
|   splitting and joining
+---------------------------------------------------------------------*/
NPT_List<NPT_String> NPT_String::Split(const char* separator) const
{
    NPT_List<NPT_String> items;
    if (separator == nullptr || *separator == '\0') {
        items.Add(*this);
        return items;
    }
    NPT_Size separator_length = static_cast<NPT_Size>(std::strlen(separator));
    NPT_Size length = GetLength();
    NPT_Size p = 0;
    for (;;) {
        NPT_Int32 q = Find(separator, p, false);
        NPT_Size end = q < 0 ? length : static_cast<NPT_Size>(q);
        items.Add(SubString(p, end - p));
        if (q < 0) break;
        p = end + separator_length;
    }
    return items;
}

NPT_String NPT_String::Join(const NPT_List<NPT_String>& list, const char* separator)
{
    NPT_String result;
    for (NPT_List<NPT_String>::Iterator it = list.GetFirstItem(); it; ) {
        result += *it;
        ++it;
        if (it && separator) result.Append(separator);
    }
    return result;
}
