// Fuzz target for the byte containers: NPT_String, NPT_DataBuffer and
// NPT_MemoryStream, each driven by a sequence of operations read from
// the input and compared after every step with a plain standard-library
// model. The first input byte picks the container.
//
// Strings are built without NUL bytes: operations that walk bytes and
// those that use the length then agree, and std::string is the model.
// Operations often take their bytes from the container's own block, to
// catch aliasing mistakes.

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "NptDataBuffer.h"
#include "NptMemoryStream.h"
#include "NptStrings.h"

namespace {

using tvk_fuzz::Reader;
using Bytes = std::vector<NPT_Byte>;

const int kMaxSteps = 64;

/*----------------------------------------------------------------------
|   NPT_String against std::string
+---------------------------------------------------------------------*/
// Text without NUL bytes; a few letters and blanks, so that searches and
// trimming find something.
std::string Text(Reader& input, std::size_t max)
{
    static const char kAlphabet[] = "ab AB\t\r\nxyz.,;=\"\\\x7f\x80\xff";
    std::vector<std::uint8_t> raw = input.Bytes(max);
    std::string text;
    for (std::uint8_t b : raw) {
        char c = (b & 0x80) ? kAlphabet[b % (sizeof(kAlphabet) - 1)] : static_cast<char>(b);
        text.push_back(c ? c : 'a');
    }
    return text;
}

bool Same(const NPT_String& s, const std::string& model)
{
    return s.GetLength() == model.size() && std::memcmp(s.GetChars(), model.data(), model.size()) == 0 &&
           s.GetChars()[model.size()] == '\0' && (model.empty() || s.GetCapacity() >= model.size());
}

int ModelFind(const std::string& model, const std::string& s, std::size_t start)
{
    if (start >= model.size()) return -1;
    std::size_t at = model.find(s, start);
    return at == std::string::npos ? -1 : static_cast<int>(at);
}

int ModelReverseFind(const std::string& model, const std::string& s, std::size_t start)
{
    if (s.empty()) return -1;
    long long first = static_cast<long long>(model.size()) - static_cast<long long>(s.size()) -
                      static_cast<long long>(start);
    if (first < 0) return -1;
    std::size_t at = model.rfind(s, static_cast<std::size_t>(first));
    return at == std::string::npos ? -1 : static_cast<int>(at);
}

void FuzzString(Reader& input)
{
    NPT_String  s;
    std::string model;
    for (int step = 0; step < kMaxSteps && !input.Empty(); ++step) {
        const std::uint8_t op = input.Byte() % 17;
        const std::size_t length = model.size();
        // operations that can double the text stop doing so at 1 KiB
        const bool may_double = length <= 1024;
        switch (op) {
            case 0: {   // assign
                std::string t = Text(input, 40);
                s = t.c_str();
                model = t;
                break;
            }
            case 1: {   // append
                std::string t = Text(input, 40);
                s.Append(t.data(), static_cast<NPT_Size>(t.size()));
                model += t;
                break;
            }
            case 2: {   // append a run of its own bytes
                if (!may_double) break;
                std::size_t from = input.Below(static_cast<std::uint32_t>(length));
                std::size_t count = input.Below(static_cast<std::uint32_t>(length - from));
                s.Append(s.GetChars() + from, static_cast<NPT_Size>(count));
                model += model.substr(from, count);
                break;
            }
            case 3:     // append itself
                if (!may_double) break;
                s += s;
                model += model;
                break;
            case 4: {   // insert, possibly its own tail
                std::size_t index = input.Below(static_cast<std::uint32_t>(length + 2));
                if (input.Bool() && length > 0 && may_double) {
                    std::size_t from = input.Below(static_cast<std::uint32_t>(length - 1));
                    std::string t = model.substr(from);
                    s.Insert(s.GetChars() + from, static_cast<NPT_Size>(index));
                    if (index <= length) model.insert(index, t);
                } else {
                    std::string t = Text(input, 8);
                    s.Insert(t.c_str(), static_cast<NPT_Size>(index));
                    if (!t.empty() && index <= length) model.insert(index, t);
                }
                break;
            }
            case 5: {   // erase
                std::size_t start = input.Below(static_cast<std::uint32_t>(length + 2));
                std::size_t count = input.Below(static_cast<std::uint32_t>(length + 2));
                s.Erase(static_cast<NPT_Size>(start), static_cast<NPT_Size>(count));
                if (count && start < length) model.erase(start, std::min(count, length - start));
                break;
            }
            case 6: {   // sub-string
                std::size_t first = input.Below(static_cast<std::uint32_t>(length + 2));
                std::size_t count = input.Below(static_cast<std::uint32_t>(length + 2));
                NPT_String sub = s.SubString(static_cast<NPT_Size>(first), static_cast<NPT_Size>(count));
                std::string expected = first >= length ? "" : model.substr(first, count);
                FUZZ_CHECK(Same(sub, expected));
                break;
            }
            case 7: {   // searches
                std::string t = Text(input, 4);
                std::size_t start = input.Below(static_cast<std::uint32_t>(length + 2));
                FUZZ_CHECK(s.Find(t.c_str(), static_cast<NPT_Size>(start)) == ModelFind(model, t, start));
                FUZZ_CHECK(s.ReverseFind(t.c_str(), static_cast<NPT_Size>(start)) ==
                           ModelReverseFind(model, t, start));
                if (!t.empty()) {
                    std::string c(1, t[0]);
                    FUZZ_CHECK(s.Find(t[0], static_cast<NPT_Size>(start)) == ModelFind(model, c, start));
                    long long last = static_cast<long long>(length) - static_cast<long long>(start) - 1;
                    int expected = -1;
                    if (last >= 0) {
                        std::size_t at = model.rfind(t[0], static_cast<std::size_t>(last));
                        if (at != std::string::npos) expected = static_cast<int>(at);
                    }
                    FUZZ_CHECK(s.ReverseFind(t[0], static_cast<NPT_Size>(start)) == expected);
                }
                FUZZ_CHECK(s.StartsWith(t.c_str()) == (model.compare(0, t.size(), t) == 0));
                FUZZ_CHECK(s.EndsWith(t.c_str()) ==
                           (t.size() <= length && model.compare(length - t.size(), t.size(), t) == 0));
                break;
            }
            case 8: {   // replace a byte
                std::string t = Text(input, 2);
                if (t.size() == 2) {
                    s.Replace(t[0], t[1]);
                    std::replace(model.begin(), model.end(), t[0], t[1]);
                }
                break;
            }
            case 9: {   // replace a run
                std::string a = Text(input, 3);
                std::string b = Text(input, 4);
                if (a.empty() || (!may_double && b.size() > a.size())) break;
                s.Replace(a.c_str(), b.c_str());
                for (std::size_t p = model.find(a); p != std::string::npos; p = model.find(a, p + b.size())) {
                    model.replace(p, a.size(), b);
                }
                break;
            }
            case 10: {  // trims
                std::string set = input.Bool() ? std::string("\r\n\t ") : Text(input, 3);
                bool left = input.Bool();
                if (left) s.TrimLeft(set.c_str()); else s.TrimRight(set.c_str());
                if (left) {
                    std::size_t first = model.find_first_not_of(set);
                    model.erase(0, first == std::string::npos ? model.size() : first);
                } else {
                    std::size_t last = model.find_last_not_of(set);
                    model.erase(last == std::string::npos ? 0 : last + 1);
                }
                break;
            }
            case 11:    // case
                if (input.Bool()) {
                    s.MakeUppercase();
                    for (char& c : model) if (c >= 'a' && c <= 'z') c = char(c - 32);
                } else {
                    s.MakeLowercase();
                    for (char& c : model) if (c >= 'A' && c <= 'Z') c = char(c + 32);
                }
                break;
            case 12: {  // length: padding with spaces, or shortening
                std::size_t n = input.Below(static_cast<std::uint32_t>(length + 40));
                bool pad = n > length || input.Bool();
                FUZZ_CHECK(s.SetLength(static_cast<NPT_Size>(n), pad) == NPT_SUCCESS);
                model.resize(n, ' ');
                break;
            }
            case 13: {  // split and join again
                std::string separator = Text(input, 2);
                NPT_List<NPT_String> parts = s.Split(separator.c_str());
                if (separator.empty()) FUZZ_CHECK(parts.GetItemCount() == 1);
                NPT_String joined = NPT_String::Join(parts, separator.c_str());
                FUZZ_CHECK(Same(joined, model));
                break;
            }
            case 14: {  // concatenations and copies
                std::string t = Text(input, 10);
                FUZZ_CHECK(Same(s + t.c_str(), model + t));
                FUZZ_CHECK(Same(t.c_str() + s, t + model));
                NPT_String copy(s);
                FUZZ_CHECK(Same(copy, model));
                FUZZ_CHECK(copy == s);
                if (may_double) {
                    s = copy + copy;
                    model += model;
                }
                break;
            }
            case 15: {  // reserve keeps the text
                std::size_t n = input.Below(200);
                s.Reserve(static_cast<NPT_Size>(n));
                FUZZ_CHECK(model.empty() || s.GetCapacity() >= n);
                break;
            }
            case 16: {  // comparison agrees with signed byte order
                std::string t = Text(input, 6);
                int expected = 0;
                for (std::size_t i = 0;; ++i) {
                    signed char a = i < length ? static_cast<signed char>(model[i]) : 0;
                    signed char b = i < t.size() ? static_cast<signed char>(t[i]) : 0;
                    if (a != b) { expected = a < b ? -1 : 1; break; }
                    if (a == 0) break;
                }
                int got = s.Compare(t.c_str());
                FUZZ_CHECK((got < 0 ? -1 : got > 0 ? 1 : 0) == expected);
                break;
            }
        }
        FUZZ_CHECK(Same(s, model));
    }
}

/*----------------------------------------------------------------------
|   NPT_DataBuffer against a byte vector
+---------------------------------------------------------------------*/
bool Same(const NPT_DataBuffer& buffer, const Bytes& model)
{
    return buffer.GetDataSize() == model.size() && buffer.GetBufferSize() >= model.size() &&
           (model.empty() || std::memcmp(buffer.GetData(), model.data(), model.size()) == 0);
}

void FuzzDataBuffer(Reader& input)
{
    // a borrowed block some of the time: it must never grow
    Bytes block(input.Below(64));
    NPT_DataBuffer buffer;
    const bool borrowed = input.Bool();
    if (borrowed) FUZZ_CHECK(buffer.SetBuffer(block.data(), static_cast<NPT_Size>(block.size())) == NPT_SUCCESS);
    Bytes model;
    for (int step = 0; step < kMaxSteps && !input.Empty(); ++step) {
        const std::uint8_t op = input.Byte() % 7;
        const NPT_Size capacity = buffer.GetBufferSize();
        switch (op) {
            case 0: {   // set data, from outside or from its own block
                Bytes bytes = input.Bytes(100);
                const NPT_Byte* from = bytes.data();
                if (input.Bool() && !model.empty()) {
                    std::size_t at = input.Below(static_cast<std::uint32_t>(model.size() - 1));
                    bytes.assign(model.begin() + at, model.end());
                    from = buffer.GetData() + at;
                }
                NPT_Result result = buffer.SetData(from, static_cast<NPT_Size>(bytes.size()));
                if (borrowed && bytes.size() > capacity) {
                    FUZZ_CHECK(result == NPT_ERROR_INVALID_STATE);
                } else {
                    FUZZ_CHECK(result == NPT_SUCCESS);
                    model = bytes;
                }
                break;
            }
            case 1: {   // data size: grown bytes are unspecified, take them
                NPT_Size n = input.Below(150);
                NPT_Result result = buffer.SetDataSize(n);
                if (borrowed && n > capacity) {
                    FUZZ_CHECK(result == NPT_ERROR_NOT_SUPPORTED);
                } else {
                    FUZZ_CHECK(result == NPT_SUCCESS);
                    std::size_t kept = std::min<std::size_t>(n, model.size());
                    model.resize(n);
                    std::copy(buffer.GetData() + kept, buffer.GetData() + n, model.begin() + kept);
                }
                break;
            }
            case 2: {   // reserve
                NPT_Size n = input.Below(300);
                NPT_Result result = buffer.Reserve(n);
                if (n <= capacity) {
                    FUZZ_CHECK(result == NPT_SUCCESS && buffer.GetBufferSize() == capacity);
                } else if (borrowed) {
                    FUZZ_CHECK(result == NPT_ERROR_NOT_SUPPORTED);
                } else {
                    FUZZ_CHECK(result == NPT_SUCCESS);
                    FUZZ_CHECK(buffer.GetBufferSize() == std::max<NPT_Size>(n, 2 * capacity));
                }
                break;
            }
            case 3: {   // buffer size
                NPT_Size n = input.Below(200);
                NPT_Result result = buffer.SetBufferSize(n);
                if (borrowed) {
                    FUZZ_CHECK(result == NPT_ERROR_NOT_SUPPORTED);
                } else if (n < model.size()) {
                    FUZZ_CHECK(result == NPT_ERROR_INVALID_PARAMETERS);
                } else {
                    FUZZ_CHECK(result == NPT_SUCCESS && buffer.GetBufferSize() == n);
                }
                break;
            }
            case 4: {   // copies
                NPT_DataBuffer copy(buffer);
                FUZZ_CHECK(copy.IsOwning() && Same(copy, model) && copy == buffer);
                NPT_DataBuffer assigned;
                assigned = buffer;
                FUZZ_CHECK(Same(assigned, model) && assigned.GetBufferSize() == capacity);
                if (!model.empty()) {
                    copy.UseData()[model.size() - 1] ^= 1;
                    FUZZ_CHECK(copy != buffer);
                }
                break;
            }
            case 5:     // clear
                FUZZ_CHECK(buffer.Clear() == NPT_SUCCESS);
                FUZZ_CHECK(buffer.GetBufferSize() == 0 && buffer.GetData() == nullptr);
                model.clear();
                break;
            case 6:     // write into the data in place
                if (!model.empty()) {
                    std::size_t at = input.Below(static_cast<std::uint32_t>(model.size() - 1));
                    NPT_Byte b = input.Byte();
                    buffer.UseData()[at] = b;
                    model[at] = b;
                }
                break;
        }
        FUZZ_CHECK(Same(buffer, model));
    }
}

/*----------------------------------------------------------------------
|   NPT_MemoryStream against a byte vector and two positions
+---------------------------------------------------------------------*/
void FuzzMemoryStream(Reader& input)
{
    // over an owned buffer, or over a borrowed block that never grows
    Bytes block(input.Below(200));
    NPT_DataBuffer borrowed_buffer;
    const bool borrowed = input.Bool();
    borrowed_buffer.SetBuffer(block.data(), static_cast<NPT_Size>(block.size()));
    Bytes initial = input.Bytes(64);
    NPT_MemoryStream owned(initial.data(), static_cast<NPT_Size>(initial.size()));
    NPT_MemoryStream over_block(borrowed_buffer);
    NPT_MemoryStream& stream = borrowed ? over_block : owned;

    Bytes       model = borrowed ? Bytes() : initial;
    std::size_t read_at = 0;
    std::size_t write_at = 0;
    for (int step = 0; step < kMaxSteps && !input.Empty(); ++step) {
        const std::uint8_t op = input.Byte() % 6;
        switch (op) {
            case 0:
            case 1: {   // write new bytes, or bytes of its own data
                Bytes bytes;
                const NPT_Byte* from;
                if (op == 1 && !model.empty()) {
                    std::size_t at = input.Below(static_cast<std::uint32_t>(model.size() - 1));
                    std::size_t count = input.Below(static_cast<std::uint32_t>(model.size() - at));
                    bytes.assign(model.begin() + at, model.begin() + at + count);
                    from = stream.GetData() + at;
                } else {
                    bytes = input.Bytes(300);
                    from = bytes.data();
                }
                NPT_Size written = 99;
                NPT_Result result = stream.Write(from, static_cast<NPT_Size>(bytes.size()), &written);
                std::size_t end = write_at + bytes.size();
                if (borrowed && end > block.size()) {
                    FUZZ_CHECK(result == NPT_ERROR_NOT_SUPPORTED && written == 0);
                } else {
                    FUZZ_CHECK(result == NPT_SUCCESS && written == bytes.size());
                    if (model.size() < end) model.resize(end);
                    std::copy(bytes.begin(), bytes.end(), model.begin() + write_at);
                    write_at = end;
                }
                break;
            }
            case 2: {   // read
                NPT_Size want = input.Below(300);
                Bytes out(want + 1, 0xEE);
                NPT_Size got = 99;
                NPT_Result result = stream.Read(out.data(), want, &got);
                std::size_t left = model.size() - read_at;
                std::size_t expected = std::min<std::size_t>(want, left);
                if (want > 0 && left == 0) {
                    FUZZ_CHECK(result == NPT_ERROR_END_OF_STREAM && got == 0);
                } else {
                    FUZZ_CHECK(result == NPT_SUCCESS && got == expected);
                    FUZZ_CHECK(std::equal(out.begin(), out.begin() + expected, model.begin() + read_at));
                    FUZZ_CHECK(out[expected] == 0xEE);
                    read_at += expected;
                }
                break;
            }
            case 3:
            case 4: {   // seek either side
                NPT_Position to = input.Below(static_cast<std::uint32_t>(model.size() + 3));
                NPT_Result result = op == 3 ? stream.InputSeek(to) : stream.OutputSeek(to);
                if (to > model.size()) {
                    FUZZ_CHECK(result == NPT_ERROR_OUT_OF_RANGE);
                } else {
                    FUZZ_CHECK(result == NPT_SUCCESS);
                    (op == 3 ? read_at : write_at) = static_cast<std::size_t>(to);
                }
                break;
            }
            case 5: {   // data size; grown bytes are unspecified, take them
                NPT_Size n = input.Below(static_cast<std::uint32_t>(model.size() + 100));
                NPT_Result result = stream.SetDataSize(n);
                if (borrowed && n > block.size()) {
                    FUZZ_CHECK(result == NPT_ERROR_NOT_SUPPORTED);
                } else {
                    FUZZ_CHECK(result == NPT_SUCCESS);
                    std::size_t kept = std::min<std::size_t>(n, model.size());
                    model.resize(n);
                    std::copy(stream.GetData() + kept, stream.GetData() + n, model.begin() + kept);
                    read_at = std::min<std::size_t>(read_at, n);
                    write_at = std::min<std::size_t>(write_at, n);
                }
                break;
            }
        }
        FUZZ_CHECK(stream.GetDataSize() == model.size());
        FUZZ_CHECK(model.empty() || std::memcmp(stream.GetData(), model.data(), model.size()) == 0);
        NPT_Position position = 0;
        FUZZ_CHECK(stream.InputTell(position) == NPT_SUCCESS && position == read_at);
        FUZZ_CHECK(stream.OutputTell(position) == NPT_SUCCESS && position == write_at);
        NPT_LargeSize available = 0;
        FUZZ_CHECK(stream.GetAvailable(available) == NPT_SUCCESS && available == model.size() - read_at);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Reader input(data, size);
    switch (input.Byte() % 3) {
        case 0: FuzzString(input); break;
        case 1: FuzzDataBuffer(input); break;
        case 2: FuzzMemoryStream(input); break;
    }
    return 0;
}
