// The digests, HMAC and PBKDF2 against OpenSSL's libcrypto as an
// independent oracle: random messages, keys, salts and output sizes,
// fed to our digests in random pieces. Linked into this program only.
#include <gtest/gtest.h>

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <memory>
#include <random>
#include <vector>

#include "NptDigest.h"
#include "NptPbkdf2.h"
#include "TestHex.h"

using tvk_test::ToHex;
using Bytes = std::vector<NPT_UInt8>;

namespace {

struct Algorithm {
    NPT_Digest::Algorithm ours;
    const EVP_MD* (*theirs)();
};

const Algorithm kAlgorithms[] = {
    {NPT_Digest::SHA256, EVP_sha256},
    {NPT_Digest::SHA1, EVP_sha1},
    {NPT_Digest::MD5, EVP_md5},
};

Bytes RandomBytes(std::mt19937& random, size_t size)
{
    Bytes bytes(size);
    for (auto& byte : bytes) byte = static_cast<NPT_UInt8>(random());
    return bytes;
}

// Feeds message to digest in pieces of random sizes (0 included).
void FeedInPieces(NPT_Digest& digest, const Bytes& message, std::mt19937& random)
{
    size_t at = 0;
    while (at < message.size()) {
        size_t piece = std::min<size_t>(random() % 300, message.size() - at);
        ASSERT_EQ(NPT_SUCCESS, digest.Update(message.data() + at, static_cast<NPT_Size>(piece)));
        at += piece;
    }
}

// Message sizes: mostly short (around the block and padding edges),
// some up to 20 KiB.
size_t RandomSize(std::mt19937& random)
{
    return random() % 4 ? random() % 200 : random() % 20000;
}

TEST(DigestOracleTest, DigestsMatchOpenSsl)
{
    std::mt19937 random(20261208);
    for (const Algorithm& algorithm : kAlgorithms) {
        for (int round = 0; round < 300; ++round) {
            Bytes message = RandomBytes(random, RandomSize(random));
            NPT_Digest* raw = nullptr;
            ASSERT_EQ(NPT_SUCCESS, NPT_Digest::Create(algorithm.ours, raw));
            std::unique_ptr<NPT_Digest> digest(raw);
            FeedInPieces(*digest, message, random);
            NPT_DataBuffer ours;
            ASSERT_EQ(NPT_SUCCESS, digest->GetDigest(ours));

            unsigned char theirs[EVP_MAX_MD_SIZE];
            unsigned int size = 0;
            ASSERT_EQ(1, EVP_Digest(message.data(), message.size(), theirs, &size, algorithm.theirs(), nullptr));
            ASSERT_EQ(ToHex(theirs, size), ToHex(ours.GetData(), ours.GetDataSize()))
                << "algorithm " << algorithm.ours << ", " << message.size() << " bytes";
        }
    }
}

TEST(DigestOracleTest, HmacMatchesOpenSsl)
{
    std::mt19937 random(4231);
    for (const Algorithm& algorithm : kAlgorithms) {
        for (int round = 0; round < 300; ++round) {
            Bytes key = RandomBytes(random, random() % 150); // both sides of the 64-byte block
            Bytes message = RandomBytes(random, RandomSize(random));
            NPT_Digest* raw = nullptr;
            ASSERT_EQ(NPT_SUCCESS, NPT_Hmac::Create(algorithm.ours, key.data(),
                                                    static_cast<NPT_Size>(key.size()), raw));
            std::unique_ptr<NPT_Digest> hmac(raw);
            FeedInPieces(*hmac, message, random);
            NPT_DataBuffer ours;
            ASSERT_EQ(NPT_SUCCESS, hmac->GetDigest(ours));

            unsigned char theirs[EVP_MAX_MD_SIZE];
            unsigned int size = 0;
            // OpenSSL reads a null key as "reuse the previous one"
            static const unsigned char empty = 0;
            ASSERT_NE(nullptr, HMAC(algorithm.theirs(), key.empty() ? &empty : key.data(),
                                    static_cast<int>(key.size()), message.data(), message.size(), theirs,
                                    &size));
            ASSERT_EQ(ToHex(theirs, size), ToHex(ours.GetData(), ours.GetDataSize()))
                << "algorithm " << algorithm.ours << ", key " << key.size() << ", message " << message.size();
        }
    }
}

TEST(DigestOracleTest, Pbkdf2MatchesOpenSsl)
{
    std::mt19937 random(7914);
    for (int round = 0; round < 300; ++round) {
        Bytes password = RandomBytes(random, random() % 150);
        Bytes salt = RandomBytes(random, random() % 100);
        NPT_UInt32 iterations = 1 + random() % 300;
        size_t size = 1 + random() % 130; // one to five output blocks, most ending mid-block
        Bytes ours(size), theirs(size);
        ASSERT_EQ(NPT_SUCCESS, NPT_DeriveKeyPbkdf2Sha256(password.data(), static_cast<NPT_Size>(password.size()),
                                                         salt.data(), static_cast<NPT_Size>(salt.size()),
                                                         iterations, ours.data(), static_cast<NPT_Size>(size)));
        static const unsigned char empty = 0;
        ASSERT_EQ(1, PKCS5_PBKDF2_HMAC(reinterpret_cast<const char*>(password.empty() ? &empty : password.data()),
                                       static_cast<int>(password.size()), salt.empty() ? &empty : salt.data(),
                                       static_cast<int>(salt.size()), static_cast<int>(iterations), EVP_sha256(),
                                       static_cast<int>(size), theirs.data()));
        ASSERT_EQ(ToHex(theirs), ToHex(ours)) << "password " << password.size() << ", salt " << salt.size()
                                              << ", " << iterations << " iterations, " << size << " bytes";
    }
}

} // namespace
