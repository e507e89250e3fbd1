// SHA-256 (FIPS 180-4), HMAC-SHA-256 (RFC 4231) and PBKDF2-HMAC-SHA-256
// (RFC 7914) vectors; the accelerated and paired compressions held to
// the portable one; the precomputed HMAC key held to the general HMAC;
// PBKDF2's argument checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iostream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "NptDigest.h"
#include "NptHmacSha256Key.h"
#include "NptPbkdf2.h"
#include "NptSha256.h"
#include "TestHex.h"

using tvk_test::FromHex;
using tvk_test::ToHex;
using Bytes = std::vector<NPT_UInt8>;

namespace {

Bytes Text(const std::string& text) { return tvk_test::TextBytes(text); }
Bytes Pattern(size_t size) { return tvk_test::PatternBytes(size); }

std::string Sha256(const Bytes& message, size_t piece = 0)
{
    NPT_Digest* raw = nullptr;
    EXPECT_EQ(NPT_SUCCESS, NPT_Digest::Create(NPT_Digest::SHA256, raw));
    std::unique_ptr<NPT_Digest> digest(raw);
    if (piece == 0) piece = message.size() ? message.size() : 1;
    for (size_t at = 0; at < message.size(); at += piece) {
        size_t count = std::min(piece, message.size() - at);
        EXPECT_EQ(NPT_SUCCESS, digest->Update(message.data() + at, static_cast<NPT_Size>(count)));
    }
    NPT_DataBuffer out;
    EXPECT_EQ(NPT_SUCCESS, digest->GetDigest(out));
    return ToHex(out.GetData(), out.GetDataSize());
}

struct Sha256Vector {
    Bytes       message;
    const char* digest;
};

// FIPS 180-4 examples (empty, "abc", 448 and 896 bits, a million 'a'),
// then messages around the padding boundary, whose values come from an
// independent implementation (Python hashlib).
const std::vector<Sha256Vector>& Sha256Vectors()
{
    static const std::vector<Sha256Vector> vectors = {
        {Text(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {Text("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {Text("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {Text("abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrs"
              "mnopqrstnopqrstu"),
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {Bytes(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
        {Pattern(55), "16fa57a0a3423a715d594516339f36189d6b5f93754a9714fef202616a9fabfe"},
        {Pattern(56), "c37b44e5f1b18554b36966f4f8e08bfbf3164c4b6c10374d12d89850892073c5"},
        {Pattern(63), "bbba992d2c85af960fb2987a1fd05e0aa82a3db3c740dd8982a9e273b75e36a3"},
        {Pattern(64), "66bd4633ed6f71c4ecfa4763bf7ba1c8ec7612de9aa6c0578a7b675207c71e0b"},
        {Pattern(119), "a3ed307b730fa77c07531300c6e4a282330011d4d4caf6bb7b63ae05950f4b66"},
        {Pattern(1000), "095ecb62e30793ab4b954cd6a0586d0cc91f7ea5b1332694d8da780e98676d78"},
    };
    return vectors;
}

class Sha256VectorTest : public ::testing::TestWithParam<size_t> {};

TEST_P(Sha256VectorTest, MatchesWholeAndSplitAtAnyPieceSize)
{
    const Sha256Vector& v = Sha256Vectors()[GetParam()];
    EXPECT_EQ(v.digest, Sha256(v.message));
    if (v.message.size() > 100000) return; // byte-by-byte on 1 MB adds nothing
    for (size_t piece : {1, 63, 64, 65, 200}) {
        EXPECT_EQ(v.digest, Sha256(v.message, piece)) << "pieces of " << piece;
    }
}

INSTANTIATE_TEST_SUITE_P(Vectors, Sha256VectorTest, ::testing::Range<size_t>(0, Sha256Vectors().size()));

TEST(Sha256Test, AcceleratedCompressionMatchesPortable)
{
    // whatever this processor runs, the two paths must agree on runs of
    // 1 to 9 random blocks from random states
    std::mt19937 random(1);
    for (int round = 0; round < 200; ++round) {
        NPT_UInt32 fast[8], slow[8];
        for (int i = 0; i < 8; ++i) fast[i] = slow[i] = static_cast<NPT_UInt32>(random());
        NPT_Size blocks = 1 + round % 9;
        Bytes data(64 * blocks);
        for (auto& byte : data) byte = static_cast<NPT_UInt8>(random());
        NPT_UInt32 first[8], second[8], second_slow[8];
        for (int i = 0; i < 8; ++i) first[i] = fast[i];
        for (int i = 0; i < 8; ++i) second[i] = second_slow[i] = static_cast<NPT_UInt32>(random());
        NPT_Sha256Digest::Compress(fast, data.data(), blocks);
        NPT_Sha256Digest::CompressPortable(slow, data.data(), blocks);
        ASSERT_EQ(0, std::memcmp(fast, slow, sizeof(fast))) << "round " << round;

        // two lanes at once: each as if alone (the second lane reads the
        // data backwards from a different start so the lanes differ)
        Bytes other(data.rbegin(), data.rend());
        NPT_Sha256Digest::CompressPair(first, data.data(), second, other.data(), blocks);
        NPT_Sha256Digest::CompressPortable(second_slow, other.data(), blocks);
        ASSERT_EQ(0, std::memcmp(first, slow, sizeof(first))) << "pair, first lane, round " << round;
        ASSERT_EQ(0, std::memcmp(second, second_slow, sizeof(second))) << "pair, second lane, round " << round;
    }
    std::cout << "[ info     ] SHA-256 compression: "
              << (NPT_Sha256Digest::HasAcceleratedCompress() ? "SHA extensions" : "portable") << "\n";
}

TEST(Sha256Test, GetDigestReplacesPreviousContentAndRefusesSmallBorrowedBlock)
{
    NPT_Sha256Digest digest;
    NPT_DataBuffer out(Bytes(100, 0xab).data(), 100);
    ASSERT_EQ(NPT_SUCCESS, digest.GetDigest(out));
    EXPECT_EQ(32u, out.GetDataSize());

    NPT_Sha256Digest other;
    Bytes storage(40, 0xee);
    NPT_DataBuffer small;
    small.SetBuffer(storage.data(), 31);
    EXPECT_NE(NPT_SUCCESS, other.GetDigest(small));
    EXPECT_EQ(Bytes(40, 0xee), storage);
}

/*----------------------------------------------------------------------
|   HMAC-SHA-256
+---------------------------------------------------------------------*/
std::string HmacSha256(const Bytes& key, const Bytes& message)
{
    NPT_Digest* raw = nullptr;
    EXPECT_EQ(NPT_SUCCESS,
              NPT_Hmac::Create(NPT_Digest::SHA256, key.data(), static_cast<NPT_Size>(key.size()), raw));
    std::unique_ptr<NPT_Digest> hmac(raw);
    EXPECT_EQ(NPT_SUCCESS, hmac->Update(message.data(), static_cast<NPT_Size>(message.size())));
    NPT_DataBuffer out;
    EXPECT_EQ(NPT_SUCCESS, hmac->GetDigest(out));
    return ToHex(out.GetData(), out.GetDataSize());
}

struct HmacVector {
    Bytes       key;
    Bytes       data;
    const char* mac; // case 5 gives only the first 128 bits
};

const std::vector<HmacVector>& Rfc4231()
{
    static const Bytes long_key(131, 0xaa);
    static const std::vector<HmacVector> cases = {
        {Bytes(20, 0x0b), Text("Hi There"), "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
        {Text("Jefe"), Text("what do ya want for nothing?"),
         "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
        {Bytes(20, 0xaa), Bytes(50, 0xdd), "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe"},
        {FromHex("0102030405060708090a0b0c0d0e0f10111213141516171819"), Bytes(50, 0xcd),
         "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b"},
        {Bytes(20, 0x0c), Text("Test With Truncation"), "a3b6167473100ee06e0c796c2955552b"},
        {long_key, Text("Test Using Larger Than Block-Size Key - Hash Key First"),
         "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
        {long_key,
         Text("This is a test using a larger than block-size key and a larger than block-size data. The key "
              "needs to be hashed before being used by the HMAC algorithm."),
         "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2"},
        // keys of 0, 64 (a full block, not hashed) and 65 bytes (hashed);
        // values from Python's hmac module
        {Bytes(), Text("message"), "eb08c1f56d5ddee07f7bdf80468083da06b64cf4fac64fe3a90883df5feacae4"},
        {Pattern(64), Text("message"), "b257edf5f8067b3999f7728d3671fa10d7f2dbc8b6a679386993260a8451e6f0"},
        {Pattern(65), Text("message"), "dbd31d40e7ffe41f87581b47a3c4444b65d0a707c11f68f18e056d1bd08608ec"},
    };
    return cases;
}

class HmacSha256Test : public ::testing::TestWithParam<size_t> {};

TEST_P(HmacSha256Test, Matches)
{
    const HmacVector& v = Rfc4231()[GetParam()];
    std::string mac = HmacSha256(v.key, v.data);
    EXPECT_EQ(v.mac, mac.substr(0, std::string(v.mac).size()));
}

INSTANTIATE_TEST_SUITE_P(Cases, HmacSha256Test, ::testing::Range<size_t>(0, Rfc4231().size()));

TEST(HmacSha256KeyTest, MatchesTheGeneralHmacOneAndTwoAtATimeAndInPieces)
{
    // keys on both sides of the block size; heads and data whose sizes
    // put the block boundaries everywhere, and a few large data; the
    // message form fed in random pieces
    std::mt19937 random(2104);
    auto bytes = [&](size_t size) {
        Bytes b(size);
        for (auto& byte : b) byte = static_cast<NPT_UInt8>(random());
        return b;
    };
    for (int round = 0; round < 300; ++round) {
        const Bytes key = bytes(random() % 150);
        const size_t head_size = random() % 100;
        const size_t data_size = round % 30 == 0 ? 100000 + random() % 1000 : random() % 400;
        const Bytes head_a = bytes(head_size), head_b = bytes(head_size);
        const Bytes data_a = bytes(data_size), data_b = bytes(data_size);
        Bytes message_a = head_a, message_b = head_b;
        message_a.insert(message_a.end(), data_a.begin(), data_a.end());
        message_b.insert(message_b.end(), data_b.begin(), data_b.end());

        NPT_HmacSha256Key prepared(key.data(), static_cast<NPT_Size>(key.size()));
        NPT_UInt8 one[32], a[32], b[32];
        prepared.Mac(head_a.data(), static_cast<NPT_Size>(head_size), data_a.data(),
                     static_cast<NPT_Size>(data_size), one);
        prepared.MacPair(head_a.data(), data_a.data(), head_b.data(), data_b.data(),
                         static_cast<NPT_Size>(head_size), static_cast<NPT_Size>(data_size), a, b);
        NPT_UInt8 pieces[32];
        {
            NPT_HmacSha256Key::Message message(prepared);
            for (size_t at = 0; at < message_a.size();) {
                size_t piece = std::min<size_t>(message_a.size() - at, random() % 200);
                message.Update(message_a.data() + at, static_cast<NPT_Size>(piece));
                at += piece;
            }
            message.Finish(pieces);
        }
        const std::string expected_a = HmacSha256(key, message_a);
        ASSERT_EQ(expected_a, ToHex(one, 32)) << "round " << round;
        ASSERT_EQ(expected_a, ToHex(pieces, 32)) << "pieces, round " << round;
        ASSERT_EQ(expected_a, ToHex(a, 32)) << "pair, round " << round;
        ASSERT_EQ(HmacSha256(key, message_b), ToHex(b, 32)) << "pair, round " << round;
    }
    // no head, no data: HMAC of the empty message
    NPT_HmacSha256Key empty_key(nullptr, 0);
    NPT_UInt8 mac[32];
    empty_key.Mac(nullptr, 0, nullptr, 0, mac);
    EXPECT_EQ(HmacSha256(Bytes(), Bytes()), ToHex(mac, 32));
}

/*----------------------------------------------------------------------
|   PBKDF2-HMAC-SHA-256
+---------------------------------------------------------------------*/
std::string Pbkdf2(const Bytes& password, const Bytes& salt, NPT_UInt32 iterations, size_t size)
{
    Bytes out(size);
    EXPECT_EQ(NPT_SUCCESS, NPT_DeriveKeyPbkdf2Sha256(password.data(), static_cast<NPT_Size>(password.size()),
                                                     salt.data(), static_cast<NPT_Size>(salt.size()),
                                                     iterations, out.data(), static_cast<NPT_Size>(size)));
    return ToHex(out);
}

struct Pbkdf2Vector {
    Bytes       password;
    Bytes       salt;
    NPT_UInt32  iterations;
    const char* key;
};

// RFC 7914 section 11 (the 80000-iteration case only where it is quick,
// see below), then cases for the edges: an output that ends inside a
// block, a password longer than a block (hashed first), empty password
// and salt, several output blocks. Those values come from Python's
// hashlib.pbkdf2_hmac.
const std::vector<Pbkdf2Vector>& Pbkdf2Vectors()
{
    static const std::vector<Pbkdf2Vector> vectors = {
        {Text("passwd"), Text("salt"), 1,
         "55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc"
         "49ca9cccf179b645991664b39d77ef317c71b845b1e30bd509112041d3a19783"},
        {Text("password"), Text("salt"), 2, "ae4d0c95af6b46d32d0adff928f06dd02a303f8ef3c251dfd6e2d85a95474c43"},
        {Pattern(100), Text(""), 3, "6fddaa108d32732ba7ac315de4576b492676f80d60b5dc096e1fccbfc6b947d5a7"},
        {Text(""), Text("salt"), 1000, "94fb56af3ea22e5d3ed1b054085b136ca301b75d"},
        {Pattern(64), Pattern(70), 5,
         "c7bb84684deb3a7183c2e253c6f2a1936b203d73e0a0d0318679f78a791aac9af88142b0adf65d47e9d75a2ffad97a24"
         "2284ff6876410040c181303f441cdc26bfbdf30660529fb146781f1a115b18a175c879db62dc22ff40dece795f9ab1c7"
         "3c242158"},
#if !defined(__SANITIZE_ADDRESS__)
        // 160,000 compressions: well under a second optimised, slow under
        // the sanitizers, which add nothing to a loop with no memory access
        {Text("Password"), Text("NaCl"), 80000,
         "4ddcd8f60b98be21830cee5ef22701f9641a4418d04c0414aeff08876b34ab56"
         "a1d425a1225833549adb841b51c9b3176a272bdebba1d078478f62b397f33c8d"},
#endif
    };
    return vectors;
}

class Pbkdf2VectorTest : public ::testing::TestWithParam<size_t> {};

TEST_P(Pbkdf2VectorTest, Matches)
{
    const Pbkdf2Vector& v = Pbkdf2Vectors()[GetParam()];
    EXPECT_EQ(v.key, Pbkdf2(v.password, v.salt, v.iterations, std::string(v.key).size() / 2));
}

INSTANTIATE_TEST_SUITE_P(Vectors, Pbkdf2VectorTest, ::testing::Range<size_t>(0, Pbkdf2Vectors().size()));

TEST(Pbkdf2Test, RefusesBadArgumentsAndLeavesOutputAlone)
{
    const Bytes password = Text("pw"), salt = Text("salt");
    Bytes out(16, 0xee);
    struct {
        const char*      what;
        const NPT_UInt8* password;
        NPT_Size         password_size;
        const NPT_UInt8* salt;
        NPT_Size         salt_size;
        NPT_UInt32       iterations;
        NPT_UInt8*       out;
        NPT_Size         out_size;
    } cases[] = {
        {"no iterations", password.data(), 2, salt.data(), 4, 0, out.data(), 16},
        {"no output size", password.data(), 2, salt.data(), 4, 1, out.data(), 0},
        {"null output", password.data(), 2, salt.data(), 4, 1, nullptr, 16},
        {"null password with a size", nullptr, 2, salt.data(), 4, 1, out.data(), 16},
        {"null salt with a size", password.data(), 2, nullptr, 4, 1, out.data(), 16},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NPT_ERROR_INVALID_PARAMETERS,
                  NPT_DeriveKeyPbkdf2Sha256(c.password, c.password_size, c.salt, c.salt_size, c.iterations,
                                            c.out, c.out_size))
            << c.what;
        EXPECT_EQ(Bytes(16, 0xee), out) << c.what;
    }
    // null with size 0 is an empty password or salt
    EXPECT_EQ(NPT_SUCCESS, NPT_DeriveKeyPbkdf2Sha256(nullptr, 0, nullptr, 0, 1, out.data(), 16));
    EXPECT_EQ(Pbkdf2(Bytes(), Bytes(), 1, 16), ToHex(out));
}

} // namespace
