// The password encodings of tvkcrypt: samples of every code page against
// Python's codecs, the whole cp1252 table, refusal of characters an
// encoding lacks and of text that is not UTF-8, the UTF-8 decoder's
// boundaries, the names and aliases, buffer limits, and the shared
// vector "cp1252_cafe" (the password as the .NET entry point keys it).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "NptDataBuffer.h"
#include "NptDigest.h"
#include "PasswordEncoding.h"
#include "SystemText.h"
#include "TestHex.h"
#include "TestJson.h"

using namespace tvkcrypt;
using tvk_test::FromHex;
using tvk_test::ToHex;

namespace {

std::string
Unhex(const std::string& hex)
{
    std::vector<std::uint8_t> bytes = FromHex(hex);
    return std::string(bytes.begin(), bytes.end());
}

std::string
Hex(const std::string& bytes)
{
    return ToHex(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

struct Conversion {
    bool        ok = false;
    std::string bytes;
    std::string error;
};

PasswordEncoding
Named(const std::string& name)
{
    PasswordEncoding encoding;
    std::string error;
    EXPECT_TRUE(PasswordEncoding::Find(name, encoding, error)) << name << ": " << error;
    return encoding;
}

Conversion
Convert(const PasswordEncoding& encoding, const std::string& text, std::size_t capacity = 4096)
{
    Conversion result;
    std::vector<char> output(capacity + 1, '\x55');
    std::size_t length = 12345;
    result.ok = encoding.Convert(text.data(), text.size(), output.data(), capacity, length, "the password",
                                 result.error);
    if (!result.ok) {
        EXPECT_EQ(length, 0u);
        // nothing of the password is left behind in the output
        for (std::size_t i = 0; i < capacity; ++i) {
            if (output[i] != '\x55' && output[i] != '\0') {
                ADD_FAILURE() << "byte " << i << " of the output was left written";
                break;
            }
        }
    }
    EXPECT_EQ(output[capacity], '\x55') << "written past the capacity";
    if (result.ok) result.bytes.assign(output.data(), length);
    return result;
}

Conversion
Convert(const std::string& name, const std::string& text, std::size_t capacity = 4096)
{
    return Convert(Named(name), text, capacity);
}

// Every code page on a sample, the UTF-8 input and the expected bytes
// computed with Python's codecs.
struct Sample {
    const char* encoding;
    const char* utf8_hex;
    const char* bytes_hex;
};

const Sample kSamples[] = {
    {"cp1250", "c581c3b364c5ba20c5be6c75c5a56f75c48d6bc3bd", "a3f3649f209e6c759d6f75e86bfd"},  // Łódź žluťoučký
    {"cp1251", "d09fd180d0b8d0b2d0b5d1822c20d0bcd0b8d180", "cff0e8e2e5f22c20ece8f0"},  // Привет, мир
    {"cp1252", "636166c3a920e282ac20e2809c71756f746564e2809d20c59275767265",
     "636166e92080209371756f74656494208c75767265"},  // café € “quoted” Œuvre
    {"cp1253", "cea9cebcceadceb3ceb1", "d9ecdde3e1"},  // Ωμέγα
    {"cp1254", "c4b07374616e62756c20c49fc3bcc59fc3b6c3a7", "dd7374616e62756c20f0fcfef6e7"},  // İstanbul ğüşöç
    {"cp1255", "d7a9d79cd795d79d20e282aa", "f9ece5ed20a4"},  // שלום ₪
    {"cp1256", "d985d8b1d8add8a8d8a7", "e3d1cdc8c7"},  // مرحبا
    {"cp1257", "c484c5be756f6c617320c497", "c0fe756f6c617320eb"},  // Ąžuolas ė
    {"latin1", "c3bf20c39f20c2bf20c280", "ff20df20bf2080"},  // ÿ ß ¿ U+0080
    {"iso-8859-2", "c581c3b364c5ba", "a3f364bc"},  // Łódź
    {"iso-8859-15", "e282ac20c59320c5b8", "a420bd20be"},  // € œ Ÿ
    {"cp437", "e295ac20c38420c3b120c2bd20e28988", "ce208e20a420ab20f7"},  // ╬ Ä ñ ½ ≈
    {"cp850", "c38420c3b120c39820c2a9", "8e20a4209d20b8"},  // Ä ñ Ø ©
    {"cp866", "d09fd180d0b8d0b2d0b5d18220d191", "8fe0a8a2a5e220f1"},  // Привет ё
    {"koi8-r", "d09fd180d0b8d0b2d0b5d18220d191", "f0d2c9d7c5d420a3"},  // Привет ё
    {"utf8", "636166c3a920f09f9880", "636166c3a920f09f9880"},  // café 😀
};

TEST(PasswordEncoding, EachCodePageGivesThePythonCodecsBytes)
{
    for (const Sample& sample : kSamples) {
        Conversion result = Convert(sample.encoding, Unhex(sample.utf8_hex));
        ASSERT_TRUE(result.ok) << sample.encoding << ": " << result.error;
        EXPECT_EQ(Hex(result.bytes), sample.bytes_hex) << sample.encoding;
    }
}

TEST(PasswordEncoding, EveryDefinedCp1252ByteComesBackAndTheUndefinedOnesAreRefused)
{
    // the characters of bytes 0x80-0xFF in order, as Python's cp1252
    // decodes them (0x81, 0x8D, 0x8F, 0x90 and 0x9D are undefined)
    const std::string all = Unhex(
        "e282ace2809ac692e2809ee280a6e280a0e280a1cb86e280b0c5a0e280b9c592c5bde28098e28099e2809ce2809de280"
        "a2e28093e28094cb9ce284a2c5a1e280bac593c5bec5b8c2a0c2a1c2a2c2a3c2a4c2a5c2a6c2a7c2a8c2a9c2aac2abc2"
        "acc2adc2aec2afc2b0c2b1c2b2c2b3c2b4c2b5c2b6c2b7c2b8c2b9c2bac2bbc2bcc2bdc2bec2bfc380c381c382c383c3"
        "84c385c386c387c388c389c38ac38bc38cc38dc38ec38fc390c391c392c393c394c395c396c397c398c399c39ac39bc3"
        "9cc39dc39ec39fc3a0c3a1c3a2c3a3c3a4c3a5c3a6c3a7c3a8c3a9c3aac3abc3acc3adc3aec3afc3b0c3b1c3b2c3b3c3"
        "b4c3b5c3b6c3b7c3b8c3b9c3bac3bbc3bcc3bdc3bec3bf");
    std::string expected;
    for (int byte = 0x80; byte <= 0xFF; ++byte) {
        if (byte != 0x81 && byte != 0x8D && byte != 0x8F && byte != 0x90 && byte != 0x9D) {
            expected += static_cast<char>(byte);
        }
    }
    Conversion result = Convert("cp1252", all);
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(Hex(result.bytes), Hex(expected));

    // Windows itself maps those five bytes to U+0081 ... U+009D; the
    // table keeps them undefined, so those characters are refused
    for (const char* control : {"c281", "c28d", "c28f", "c290", "c29d"}) {
        EXPECT_FALSE(Convert("cp1252", Unhex(control)).ok) << control;
    }
    // ASCII, control characters included, is itself
    std::string ascii;
    for (int c = 1; c < 0x80; ++c) ascii += static_cast<char>(c);
    EXPECT_EQ(Convert("cp1252", ascii).bytes, ascii);
}

TEST(PasswordEncoding, CharactersAnEncodingLacksAreRefusedNamingTheEncoding)
{
    struct Case {
        const char* encoding;
        const char* utf8_hex;
        const char* what;
    } cases[] = {
        {"cp1252", "6161c481", "a with macron: a best fit would give 'a'"},
        {"cp1252", "d096", "a Cyrillic letter"},
        {"cp1252", "f09f9880", "a character beyond the Basic Multilingual Plane"},
        {"latin1", "e282ac", "the euro sign, which latin1 lacks"},
        {"iso-8859-15", "c2a4", "the currency sign that the euro replaced"},
        {"cp1251", "c3a9", "e acute in a Cyrillic code page"},
        {"koi8-r", "3f3fefbfbd", "U+FFFD after literal question marks"},
        {"cp437", "e282ac", "the euro sign in the DOS code page"},
        {"cp1253", "e1bc80", "a polytonic Greek letter that cp1253 leaves out"},
    };
    for (const Case& c : cases) {
        Conversion result = Convert(c.encoding, Unhex(c.utf8_hex));
        EXPECT_FALSE(result.ok) << c.what;
        EXPECT_NE(result.error.find(c.encoding), std::string::npos) << result.error;
        EXPECT_NE(result.error.find("cannot represent"), std::string::npos) << result.error;
        EXPECT_EQ(result.error.rfind("the password", 0), 0u) << "the caller's subject leads: " << result.error;
    }
    // after characters already written, the output is wiped
    Conversion late = Convert("cp1252", "passwor\xc4\x81");
    EXPECT_FALSE(late.ok);
}

TEST(PasswordEncoding, TextThatIsNotUtf8IsRefusedByEveryNamedEncodingButKeptByTheDefault)
{
    const char* invalid[] = {
        "80",        // a continuation byte alone
        "c3",        // a sequence cut short
        "e282",      // the same, three bytes long
        "c328",      // a bad continuation byte
        "c0af",      // overlong '/'
        "e080af",    // overlong, three bytes
        "f08282ac",  // overlong euro sign
        "eda080",    // a surrogate (U+D800)
        "edbfbf",    // a surrogate (U+DFFF)
        "f4908080",  // above U+10FFFF
        "f5808080",  // lead byte beyond F4
        "ff",
        "63616fe9",  // "café" in cp1252 itself
    };
    for (const char* hex : invalid) {
        const std::string text = Unhex(hex);
        for (const char* name : {"utf8", "cp1252", "koi8-r"}) {
            Conversion result = Convert(name, text);
            EXPECT_FALSE(result.ok) << name << " took " << hex;
            EXPECT_NE(result.error.find("not valid UTF-8"), std::string::npos) << result.error;
        }
        // without the option, the bytes as read are the password: data
        // keyed with them before stays readable
        Conversion as_read = Convert(PasswordEncoding(), text);
        ASSERT_TRUE(as_read.ok);
        EXPECT_EQ(as_read.bytes, text);
    }
}

TEST(PasswordEncoding, DecodesUtf8UpToEachBoundaryAndNoFurther)
{
    struct Case {
        const char* hex;
        std::size_t size;
        NPT_UInt32  code_point;
    } cases[] = {
        {"00", 1, 0x0000},       {"7f", 1, 0x007F},      {"c280", 2, 0x0080},     {"dfbf", 2, 0x07FF},
        {"e0a080", 3, 0x0800},   {"ed9fbf", 3, 0xD7FF},  {"ee8080", 3, 0xE000},   {"efbfbf", 3, 0xFFFF},
        {"f0908080", 4, 0x10000}, {"f48fbfbf", 4, 0x10FFFF},
        {"c1bf", 0, 0},          {"e09fbf", 0, 0},       {"f08fbfbf", 0, 0},      {"f4908080", 0, 0},
        {"eda080", 0, 0},        {"c2", 0, 0},           {"e0a0", 0, 0},          {"f09080", 0, 0},
        {"bf", 0, 0},            {"f8888080", 0, 0},
    };
    for (const Case& c : cases) {
        // followed by more text, which must not be read as part of it
        const std::string text = Unhex(c.hex);
        NPT_UInt32 code_point = 0xFFFFFFFF;
        EXPECT_EQ(DecodeUtf8(text.data(), text.size(), code_point), c.size) << c.hex;
        if (c.size != 0) {
            EXPECT_EQ(code_point, c.code_point) << c.hex;
        }
        const std::string longer = text + "A\x80";
        EXPECT_EQ(DecodeUtf8(longer.data(), longer.size(), code_point), c.size) << c.hex << " followed";
    }
    NPT_UInt32 code_point;
    EXPECT_EQ(DecodeUtf8("", 0, code_point), 0u);
}

TEST(PasswordEncoding, NamesAreCaseInsensitiveWithAliasesAndUnknownOnesListTheAccepted)
{
    struct Case {
        const char* typed;
        const char* name;
    } cases[] = {
        {"cp1252", "cp1252"},      {"CP1252", "cp1252"},         {"Windows-1252", "cp1252"},
        {"windows-1250", "cp1250"}, {"WINDOWS-1257", "cp1257"},  {"utf8", "utf8"},
        {"UTF-8", "utf8"},         {"latin1", "latin1"},         {"ISO-8859-1", "latin1"},
        {"latin2", "iso-8859-2"},  {"Latin9", "iso-8859-15"},    {"iso-8859-15", "iso-8859-15"},
        {"KOI8-R", "koi8-r"},      {"cp437", "cp437"},           {"Cp850", "cp850"},
        {"cp866", "cp866"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Named(c.typed).Name(), c.name) << c.typed;
        EXPECT_FALSE(Named(c.typed).IsDefault());
    }
    // the same table behind an alias
    EXPECT_EQ(Convert("windows-1252", "caf\xc3\xa9").bytes, "caf\xe9");
    EXPECT_EQ(Convert("ISO-8859-1", "caf\xc3\xa9").bytes, "caf\xe9");

    for (const char* unknown : {"", "cp1252x", "cp125", "utf16", "utf_8", "windows1252", "cp 1252", "1252"}) {
        PasswordEncoding encoding = Named("cp1252");
        std::string error;
        EXPECT_FALSE(PasswordEncoding::Find(unknown, encoding, error)) << unknown;
        EXPECT_TRUE(encoding.IsDefault()) << "a failed look-up leaves the default";
        EXPECT_NE(error.find(PasswordEncoding::Names()), std::string::npos) << error;
    }
    // every listed name is accepted
    const std::string names = PasswordEncoding::Names() + ", ";
    for (std::size_t start = 0, comma; (comma = names.find(", ", start)) != std::string::npos; start = comma + 2) {
        const std::string name = names.substr(start, comma - start);
        if (name == "ansi") continue;  // depends on the system; below
        PasswordEncoding encoding;
        std::string error;
        EXPECT_TRUE(PasswordEncoding::Find(name, encoding, error)) << name;
    }
}

TEST(PasswordEncoding, AnsiExistsExactlyWhereTheSystemHasAnAnsiCodePage)
{
    PasswordEncoding encoding;
    std::string error;
    const bool found = PasswordEncoding::Find("ANSI", encoding, error);
    if (AnsiCodePage() == 0) {
        EXPECT_FALSE(found);
        EXPECT_NE(error.find("cp1252"), std::string::npos) << "suggests a named code page: " << error;
        std::size_t length = 1;
        char output[4];
        EXPECT_EQ(Utf8ToAnsi("a", 1, output, sizeof(output), length), TEXT_UNAVAILABLE);
        EXPECT_EQ(length, 0u);
    } else {
        ASSERT_TRUE(found) << error;
        EXPECT_EQ(encoding.Name(), "ansi (code page " + std::to_string(AnsiCodePage()) + ")");
        EXPECT_EQ(Convert(encoding, "password").bytes, "password");
    }
}

TEST(PasswordEncoding, TheOutputBufferBoundsTheResult)
{
    // four characters, five UTF-8 bytes, four cp1252 bytes
    EXPECT_EQ(Convert("cp1252", "caf\xc3\xa9", 4).bytes, "caf\xe9");
    Conversion short_table = Convert("cp1252", "caf\xc3\xa9", 3);
    EXPECT_FALSE(short_table.ok);
    EXPECT_NE(short_table.error.find("longer than 3 bytes"), std::string::npos) << short_table.error;
    EXPECT_EQ(Convert("utf8", "caf\xc3\xa9", 5).bytes, "caf\xc3\xa9");
    EXPECT_FALSE(Convert("utf8", "caf\xc3\xa9", 4).ok);
    EXPECT_FALSE(Convert(PasswordEncoding(), "caf\xc3\xa9", 4).ok);
    // an empty password stays empty (the callers decide about it)
    for (const char* name : {"utf8", "cp1252"}) {
        Conversion empty = Convert(name, "", 0);
        EXPECT_TRUE(empty.ok);
        EXPECT_EQ(empty.bytes, "");
    }
}

TEST(PasswordEncoding, CafeTypedAsUtf8KeysLikeTheSharedCp1252Vector)
{
    const tvk_test::JsonValue data =
        tvk_test::JsonParser::ParseFile(std::string(TVK_TEST_DATA_DIR) + "/password-format.json");
    const tvk_test::JsonValue* vector = nullptr;
    for (std::size_t i = 0; i < data["passwords"].Size(); ++i) {
        if (data["passwords"][i]["name"].AsString() == "cp1252_cafe") vector = &data["passwords"][i];
    }
    ASSERT_NE(vector, nullptr) << "password-format.json has no cp1252_cafe";

    Conversion result = Convert("cp1252", "caf\xc3\xa9");
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(Hex(result.bytes), (*vector)["password_hex"].AsString());

    NPT_Digest* digest = nullptr;
    ASSERT_EQ(NPT_Digest::Create(NPT_Digest::SHA1, digest), NPT_SUCCESS);
    std::unique_ptr<NPT_Digest> owner(digest);
    ASSERT_EQ(digest->Update(reinterpret_cast<const NPT_UInt8*>(result.bytes.data()),
                             static_cast<NPT_Size>(result.bytes.size())),
              NPT_SUCCESS);
    NPT_DataBuffer sha1;
    ASSERT_EQ(digest->GetDigest(sha1), NPT_SUCCESS);
    const std::string sha1_hex = ToHex(sha1.GetData(), sha1.GetDataSize());
    EXPECT_EQ(sha1_hex, (*vector)["sha1_hex"].AsString());
    EXPECT_EQ(sha1_hex.substr(0, 32), (*vector)["key_hex"].AsString());

    // the same characters keyed as UTF-8 are another password
    EXPECT_EQ(Hex(Convert("utf8", "caf\xc3\xa9").bytes), "636166c3a9");
}

}  // namespace
