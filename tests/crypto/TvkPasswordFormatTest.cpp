// Known answers of the password format (tests/data/password-format.json),
// computed with an independent implementation: keys of passwords,
// ciphertexts of whole inputs through the password functions, of byte
// ranges at offsets through the streams, and of raw keys at explicit
// expansion factors and offsets beyond 2^32.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "NptDataBuffer.h"
#include "NptMemoryStream.h"
#include "TestJson.h"
#include "TestSha256.h"
#include "TestStreams.h"
#include "TvkBlockCipherFactory.h"
#include "TvkCryptoHelper.h"
#include "TvkDecryptingStream.h"
#include "TvkEncryptingStream.h"

namespace {

using tvk_test::FromHex;
using tvk_test::JsonParser;
using tvk_test::JsonValue;
using tvk_test::Sha256Hex;
using tvk_test::ToHex;
using Bytes = std::vector<NPT_Byte>;

const JsonValue& Data()
{
    static const JsonValue data =
        JsonParser::ParseFile(std::string(TVK_TEST_DATA_DIR) + "/password-format.json");
    return data;
}

Bytes MakeCleartext(const JsonValue& cleartext)
{
    Bytes bytes(cleartext["size"].AsUInt64());
    if (cleartext["kind"].AsString() == "xorshift32") {
        NPT_UInt32 x = 0x2545F491;
        for (auto& b : bytes) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            b = static_cast<NPT_Byte>(x >> 24);
        }
    } else {
        EXPECT_EQ(cleartext["kind"].AsString(), "zero");
    }
    return bytes;
}

// The password bytes of a named entry, or nothing if the file lists none.
std::optional<std::string> PasswordOf(const std::string& name)
{
    const JsonValue& passwords = Data()["passwords"];
    for (size_t i = 0; i < passwords.Size(); ++i) {
        if (passwords[i]["name"].AsString() == name) {
            Bytes bytes = FromHex(passwords[i]["password_hex"].AsString());
            return std::string(bytes.begin(), bytes.end());
        }
    }
    return std::nullopt;
}

Bytes KeyOf(const std::string& password)
{
    NPT_DataBuffer key;
    EXPECT_EQ(TVK_CryptoHelper::GenerateKey(password.c_str(), key), NPT_SUCCESS);
    return Bytes(key.GetData(), key.GetData() + TVK_CryptoHelper::KEY_SIZE);
}

// Compares a ciphertext with a vector's digest, length and edge bytes.
void ExpectCiphertext(const Bytes& ciphertext, const JsonValue& vector)
{
    ASSERT_EQ(ciphertext.size(), vector["length"].AsUInt64());
    EXPECT_EQ(Sha256Hex(ciphertext.data(), ciphertext.size()),
              vector["ciphertext_sha256"].AsString());
    size_t edge = std::min<size_t>(64, ciphertext.size());
    EXPECT_EQ(ToHex(ciphertext.data(), edge), vector["ciphertext_head_hex"].AsString());
    if (!vector["ciphertext_tail_hex"].IsNull()) {
        EXPECT_EQ(ToHex(ciphertext.data() + ciphertext.size() - 64, 64),
                  vector["ciphertext_tail_hex"].AsString());
    }
}

// Reads a stream to its end in requests of the given size.
Bytes ReadToEnd(NPT_InputStream& stream, NPT_Size request)
{
    Bytes out;
    Bytes chunk(request);
    for (;;) {
        NPT_Size got = 0;
        NPT_Result result = stream.Read(chunk.data(), request, &got);
        out.insert(out.end(), chunk.begin(), chunk.begin() + got);
        if (result == NPT_ERROR_END_OF_STREAM) break;
        EXPECT_EQ(result, NPT_SUCCESS);
        if (result != NPT_SUCCESS) break;
    }
    return out;
}

// Both streams over source must give the vector's ciphertext: the
// encrypting stream created with the declared size and start offset given
// (either may be null), read in requests of encrypt_request bytes, and the
// decrypting stream (the same transformation) sought to the start offset,
// read in requests of decrypt_request bytes.
void ExpectStreamsGiveCiphertext(NPT_InputStreamReference& source, const Bytes& key,
                                 NPT_UInt8 factor, const NPT_LargeSize* size,
                                 const NPT_Position* start, NPT_Size encrypt_request,
                                 NPT_Size decrypt_request, const JsonValue& vector)
{
    NPT_InputStreamReference encrypting;
    ASSERT_EQ(TVK_EncryptingStream::Create(source, key.data(), 16,
                                           &TVK_DefaultBlockCipherFactory::Instance,
                                           encrypting, size, start, factor),
              NPT_SUCCESS);
    ExpectCiphertext(ReadToEnd(*encrypting, encrypt_request), vector);

    NPT_InputStreamReference decrypting;
    ASSERT_EQ(TVK_DecryptingStream::Create(source, key.data(), 16,
                                           &TVK_DefaultBlockCipherFactory::Instance,
                                           decrypting, nullptr, factor),
              NPT_SUCCESS);
    ASSERT_EQ(decrypting->Seek(start ? *start : 0), NPT_SUCCESS);
    ExpectCiphertext(ReadToEnd(*decrypting, decrypt_request), vector);
}

// A source that holds its bytes at stream offsets base .. base + size - 1,
// so that ranges beyond 4 GiB can be read without 4 GiB of memory.
class OffsetSource : public NPT_InputStream
{
public:
    OffsetSource(Bytes data, NPT_Position base) : m_Data(std::move(data)), m_Base(base) {}

    NPT_Result Read(void* buffer, NPT_Size bytes_to_read, NPT_Size* bytes_read) override
    {
        if (bytes_read) *bytes_read = 0;
        NPT_Position end = m_Base + m_Data.size();
        if (m_Position < m_Base) return NPT_ERROR_OUT_OF_RANGE;
        if (m_Position >= end) return NPT_ERROR_END_OF_STREAM;
        NPT_Size n = static_cast<NPT_Size>(std::min<NPT_Position>(bytes_to_read, end - m_Position));
        std::memcpy(buffer, m_Data.data() + (m_Position - m_Base), n);
        m_Position += n;
        if (bytes_read) *bytes_read = n;
        return NPT_SUCCESS;
    }
    NPT_Result Seek(NPT_Position position) override { m_Position = position; return NPT_SUCCESS; }
    NPT_Result Tell(NPT_Position& position) override { position = m_Position; return NPT_SUCCESS; }
    NPT_Result GetSize(NPT_LargeSize& size) override { size = m_Base + m_Data.size(); return NPT_SUCCESS; }
    NPT_Result GetAvailable(NPT_LargeSize& available) override
    {
        NPT_LargeSize size = m_Base + m_Data.size();
        available = m_Position < size ? size - m_Position : 0;
        return NPT_SUCCESS;
    }

private:
    Bytes        m_Data;
    NPT_Position m_Base;
    NPT_Position m_Position = 0;
};

TEST(PasswordFormatVectors, CleartextGeneratorsMatchTheData)
{
    const JsonValue& data = Data();
    Bytes first = MakeCleartext(JsonParser::Parse(R"({"kind":"xorshift32","size":16})"));
    EXPECT_EQ(ToHex(first.data(), first.size()), data["generator"]["first16_hex"].AsString());

    for (const char* section : {"vectors", "offset_vectors", "ctr_vectors"}) {
        for (const JsonValue& vector : data[section].items) {
            SCOPED_TRACE(vector["id"].AsString());
            Bytes cleartext = MakeCleartext(vector["cleartext"]);
            EXPECT_EQ(Sha256Hex(cleartext.data(), cleartext.size()),
                      vector["cleartext"]["sha256"].AsString());
        }
    }
}

TEST(PasswordFormatVectors, PasswordKeysAndKeyStreamBlocks)
{
    for (const JsonValue& entry : Data()["passwords"].items) {
        SCOPED_TRACE(entry["name"].AsString());
        Bytes password = FromHex(entry["password_hex"].AsString());
        std::string text(password.begin(), password.end());

        NPT_DataBuffer key;
        ASSERT_EQ(TVK_CryptoHelper::GenerateKey(text.c_str(), key), NPT_SUCCESS);
        EXPECT_EQ(ToHex(key.GetData(), key.GetDataSize()), entry["sha1_hex"].AsString());
        EXPECT_EQ(ToHex(key.GetData(), TVK_CryptoHelper::KEY_SIZE), entry["key_hex"].AsString());

        // Zeros encrypt to the key stream: K(c) opens chunk c.
        Bytes zeros(3 * 1024);
        NPT_DataBuffer stream;
        ASSERT_EQ(TVK_CryptoHelper::EncryptDecryptWithPassword(
                      text.c_str(), NPT_BlockCipher::ENCRYPT, zeros.data(),
                      static_cast<NPT_Size>(zeros.size()), stream),
                  NPT_SUCCESS);
        ASSERT_EQ(stream.GetDataSize(), zeros.size());
        for (size_t c = 0; c < 3; ++c) {
            EXPECT_EQ(ToHex(stream.GetData() + 1024 * c, 16), entry["K_hex"][c].AsString()) << c;
        }
    }
}

TEST(PasswordFormatVectors, WholeInputsThroughTheBufferForm)
{
    for (const JsonValue& vector : Data()["vectors"].items) {
        SCOPED_TRACE(vector["id"].AsString());
        ASSERT_EQ(vector["expansion_factor"].AsUInt64(), TVK_CryptoHelper::EXPANSION_FACTOR);
        ASSERT_EQ(vector["offset"].AsUInt64(), 0u);
        std::optional<std::string> password = PasswordOf(vector["password"].AsString());
        ASSERT_TRUE(password.has_value());
        Bytes cleartext = MakeCleartext(vector["cleartext"]);

        NPT_DataBuffer encrypted;
        ASSERT_EQ(TVK_CryptoHelper::EncryptDecryptWithPassword(
                      password->c_str(), NPT_BlockCipher::ENCRYPT, cleartext.data(),
                      static_cast<NPT_Size>(cleartext.size()), encrypted),
                  NPT_SUCCESS);
        Bytes ciphertext(encrypted.GetData(), encrypted.GetData() + encrypted.GetDataSize());
        ExpectCiphertext(ciphertext, vector);

        NPT_DataBuffer decrypted;
        ASSERT_EQ(TVK_CryptoHelper::EncryptDecryptWithPassword(
                      password->c_str(), NPT_BlockCipher::DECRYPT, ciphertext.data(),
                      static_cast<NPT_Size>(ciphertext.size()), decrypted),
                  NPT_SUCCESS);
        EXPECT_EQ(Bytes(decrypted.GetData(), decrypted.GetData() + decrypted.GetDataSize()),
                  cleartext);
    }
}

// Offset vectors are checked through both streams: the encrypting
// stream started at the offset, and the decrypting stream (the same
// transformation) sought to it. Every password they name is listed.
TEST(PasswordFormatVectors, RangesAtOffsetsThroughTheStreams)
{
    int checked = 0;
    for (const JsonValue& vector : Data()["offset_vectors"].items) {
        SCOPED_TRACE(vector["id"].AsString());
        std::optional<std::string> password = PasswordOf(vector["password"].AsString());
        ASSERT_TRUE(password.has_value()) << "no password_hex for " << vector["password"].AsString();
        ++checked;
        Bytes key = KeyOf(*password);
        Bytes cleartext = MakeCleartext(vector["cleartext"]);
        NPT_Position offset = vector["offset"].AsUInt64();
        NPT_Size length = static_cast<NPT_Size>(vector["length"].AsUInt64());
        EXPECT_EQ(Sha256Hex(cleartext.data() + offset, length),
                  vector["cleartext_range_sha256"].AsString());
        NPT_UInt8 factor = static_cast<NPT_UInt8>(vector["expansion_factor"].AsUInt64());

        NPT_InputStreamReference source(new tvk_test::FakeInputStream(cleartext));
        ASSERT_NO_FATAL_FAILURE(ExpectStreamsGiveCiphertext(source, key, factor, nullptr, &offset,
                                                            1000, 777, vector));
    }
    EXPECT_GT(checked, 0);
}

// Raw keys at expansion factors 0, 6 and 9 (taken as 8), with ranges that
// start near or beyond 2^32, where offsets wrap.
TEST(PasswordFormatVectors, RawKeysAtExplicitFactorsAndOffsets)
{
    for (const JsonValue& vector : Data()["ctr_vectors"].items) {
        SCOPED_TRACE(vector["id"].AsString());
        Bytes key = FromHex(vector["key_hex"].AsString());
        Bytes cleartext = MakeCleartext(vector["cleartext"]);
        NPT_Position offset = vector["offset"].AsUInt64();
        NPT_LargeSize size = offset + cleartext.size();
        NPT_UInt8 factor = static_cast<NPT_UInt8>(vector["expansion_factor"].AsUInt64());

        NPT_InputStreamReference source(new OffsetSource(cleartext, offset));
        ASSERT_NO_FATAL_FAILURE(ExpectStreamsGiveCiphertext(
            source, key, factor, &size, offset ? &offset : nullptr, 4096, 100, vector));
    }
}

} // namespace
