/*****************************************************************
| TestJson.h - a small JSON reader for the known-answer data files of
| the tests.
|
| Parses a whole document into a tree of JsonValue. Numbers keep their
| text, so 64-bit offsets survive exactly (AsUInt64). Strings decode the
| usual escapes, \uXXXX into UTF-8 (Basic Multilingual Plane only). A
| malformed document throws std::runtime_error with the offending
| offset: in a test that is a failure with a message, which is all a
| data file needs.
|
| Header-only, no state; test code only.
****************************************************************/
#ifndef TVK_TEST_JSON_H
#define TVK_TEST_JSON_H

#include <cstdint>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace tvk_test {

class JsonValue
{
public:
    enum Type { NUL, BOOLEAN, NUMBER, STRING, ARRAY, OBJECT };

    Type type = NUL;
    bool boolean = false;
    std::string text;  // string value, or the number's text
    std::vector<JsonValue> items;
    std::map<std::string, JsonValue> members;

    bool IsNull() const { return type == NUL; }
    bool Has(const std::string& key) const { return members.count(key) != 0; }

    const JsonValue& operator[](const std::string& key) const
    {
        auto it = members.find(key);
        if (type != OBJECT || it == members.end()) {
            throw std::runtime_error("JSON: no member \"" + key + "\"");
        }
        return it->second;
    }
    const JsonValue& operator[](size_t index) const { return items.at(index); }
    size_t Size() const { return type == ARRAY ? items.size() : members.size(); }

    const std::string& AsString() const
    {
        if (type != STRING) throw std::runtime_error("JSON: not a string");
        return text;
    }
    std::uint64_t AsUInt64() const
    {
        if (type != NUMBER || text.empty() || text[0] == '-') {
            throw std::runtime_error("JSON: not an unsigned number: " + text);
        }
        size_t used = 0;
        std::uint64_t value = std::stoull(text, &used, 10);
        if (used != text.size()) throw std::runtime_error("JSON: not an integer: " + text);
        return value;
    }
};

class JsonParser
{
public:
    static JsonValue Parse(const std::string& document)
    {
        JsonParser parser(document);
        JsonValue value = parser.ParseValue();
        parser.SkipSpace();
        if (parser.m_Pos != document.size()) parser.Fail("trailing characters");
        return value;
    }

    static JsonValue ParseFile(const std::string& path)
    {
        std::ifstream file(path, std::ios::binary);
        if (!file) throw std::runtime_error("JSON: cannot open " + path);
        std::ostringstream content;
        content << file.rdbuf();
        return Parse(content.str());
    }

private:
    explicit JsonParser(const std::string& text) : m_Text(text) {}

    [[noreturn]] void Fail(const char* what) const
    {
        throw std::runtime_error(std::string("JSON: ") + what + " at offset " +
                                 std::to_string(m_Pos));
    }

    void SkipSpace()
    {
        while (m_Pos < m_Text.size() &&
               (m_Text[m_Pos] == ' ' || m_Text[m_Pos] == '\t' ||
                m_Text[m_Pos] == '\n' || m_Text[m_Pos] == '\r')) {
            ++m_Pos;
        }
    }

    char Peek()
    {
        SkipSpace();
        if (m_Pos >= m_Text.size()) Fail("unexpected end");
        return m_Text[m_Pos];
    }

    void Expect(char c)
    {
        if (Peek() != c) Fail("unexpected character");
        ++m_Pos;
    }

    bool TakeWord(const char* word)
    {
        std::string w(word);
        if (m_Text.compare(m_Pos, w.size(), w) != 0) return false;
        m_Pos += w.size();
        return true;
    }

    JsonValue ParseValue()
    {
        JsonValue value;
        char c = Peek();
        if (c == '{') {
            value.type = JsonValue::OBJECT;
            ++m_Pos;
            if (Peek() == '}') { ++m_Pos; return value; }
            for (;;) {
                if (Peek() != '"') Fail("expected a member name");
                std::string key = ParseString();
                Expect(':');
                value.members[key] = ParseValue();
                if (Peek() == ',') { ++m_Pos; continue; }
                Expect('}');
                return value;
            }
        }
        if (c == '[') {
            value.type = JsonValue::ARRAY;
            ++m_Pos;
            if (Peek() == ']') { ++m_Pos; return value; }
            for (;;) {
                value.items.push_back(ParseValue());
                if (Peek() == ',') { ++m_Pos; continue; }
                Expect(']');
                return value;
            }
        }
        if (c == '"') {
            value.type = JsonValue::STRING;
            value.text = ParseString();
            return value;
        }
        if (TakeWord("true"))  { value.type = JsonValue::BOOLEAN; value.boolean = true; return value; }
        if (TakeWord("false")) { value.type = JsonValue::BOOLEAN; return value; }
        if (TakeWord("null"))  { return value; }

        size_t start = m_Pos;
        while (m_Pos < m_Text.size() &&
               std::string("+-0123456789.eE").find(m_Text[m_Pos]) != std::string::npos) {
            ++m_Pos;
        }
        if (start == m_Pos) Fail("unexpected character");
        value.type = JsonValue::NUMBER;
        value.text = m_Text.substr(start, m_Pos - start);
        return value;
    }

    unsigned ParseHex4()
    {
        if (m_Pos + 4 > m_Text.size()) Fail("short \\u escape");
        unsigned code = 0;
        for (int i = 0; i < 4; ++i) {
            char h = m_Text[m_Pos++];
            code <<= 4;
            if (h >= '0' && h <= '9')      code |= unsigned(h - '0');
            else if (h >= 'a' && h <= 'f') code |= unsigned(h - 'a' + 10);
            else if (h >= 'A' && h <= 'F') code |= unsigned(h - 'A' + 10);
            else Fail("bad \\u escape");
        }
        return code;
    }

    static void AppendUtf8(std::string& out, unsigned code)
    {
        if (code < 0x80) {
            out += char(code);
        } else if (code < 0x800) {
            out += char(0xC0 | (code >> 6));
            out += char(0x80 | (code & 0x3F));
        } else {
            out += char(0xE0 | (code >> 12));
            out += char(0x80 | ((code >> 6) & 0x3F));
            out += char(0x80 | (code & 0x3F));
        }
    }

    std::string ParseString()
    {
        Expect('"');
        std::string out;
        for (;;) {
            if (m_Pos >= m_Text.size()) Fail("unterminated string");
            char c = m_Text[m_Pos++];
            if (c == '"') return out;
            if (c != '\\') { out += c; continue; }
            if (m_Pos >= m_Text.size()) Fail("unterminated escape");
            char e = m_Text[m_Pos++];
            switch (e) {
                case '"': case '\\': case '/': out += e; break;
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'n': out += '\n'; break;
                case 'r': out += '\r'; break;
                case 't': out += '\t'; break;
                case 'u': AppendUtf8(out, ParseHex4()); break;
                default: Fail("bad escape");
            }
        }
    }

    const std::string& m_Text;
    size_t             m_Pos = 0;
};

} // namespace tvk_test

#endif // TVK_TEST_JSON_H
