/*****************************************************************
| CheckFile.cpp - writing, parsing and verifying check files.
****************************************************************/
#include "CheckFile.h"

#include <chrono>
#include <cstring>

#include "NptDataBuffer.h"
#include "NptHmacSha256Key.h"
#include "NptPbkdf2.h"
#include "NptSha256.h"
#include "NptUtils.h"
#include "NptWipe.h"

namespace tvkcrypt {
namespace {

const NPT_UInt8 kMagic[8] = {'T', 'V', 'K', 'C', 'H', 'E', 'C', 'K'};
const NPT_UInt8 kKdfPbkdf2Sha256 = 1;
const NPT_UInt8 kTagHmacSha256 = 1;
const NPT_Size  kKeySize = 32;
const NPT_Size  kMacSize = 32;

// offsets of the fields
const std::size_t kVersionAt = 8;
const std::size_t kKdfAt = 9;
const std::size_t kTagAlgorithmAt = 10;
const std::size_t kReservedAt = 11;
const std::size_t kIterationsAt = 12;
const std::size_t kSaltAt = 16;
const std::size_t kBlockSizeAt = 48;
const std::size_t kDataSizeAt = 52;
const std::size_t kVerifierAt = 60;
const std::size_t kTagsAt = 92;
const std::size_t kVerifiedPrefix = kBlockSizeAt; // magic .. salt

const char kVerifierLabel[] = "tvkcheck verifier";
const char kBlockLabel[] = "tvkcheck block";
const char kSummaryLabel[] = "tvkcheck summary";

// HMAC-SHA-256 under a 32-byte key of size bytes (a check file's
// parts are far below 4 GiB) into out.
void Mac(const NPT_UInt8* key, const NPT_UInt8* data, std::size_t size, NPT_UInt8* out)
{
    NPT_HmacSha256Key(key, kKeySize).Mac(nullptr, 0, data, static_cast<NPT_Size>(size), out);
}

void MacOfLabel(const NPT_UInt8* key, const char* label, NPT_UInt8* out)
{
    Mac(key, reinterpret_cast<const NPT_UInt8*>(label), std::strlen(label), out);
}

// master = PBKDF2(password, salt); each key = HMAC(master, its label).
NPT_Result DeriveKeys(const NPT_UInt8* password,
                      NPT_Size         password_size,
                      const NPT_UInt8* salt,
                      NPT_UInt32       iterations,
                      NPT_UInt8*       verifier_key,
                      NPT_UInt8*       block_key,
                      NPT_UInt8*       summary_key)
{
    NPT_UInt8 master[kKeySize];
    NPT_Result result = NPT_DeriveKeyPbkdf2Sha256(password, password_size, salt, kCheckSaltSize, iterations,
                                                  master, kKeySize);
    if (NPT_SUCCEEDED(result)) {
        MacOfLabel(master, kVerifierLabel, verifier_key);
        MacOfLabel(master, kBlockLabel, block_key);
        MacOfLabel(master, kSummaryLabel, summary_key);
    }
    NPT_WipeMemory(master, sizeof(master));
    return result;
}

// What a block's tag covers before its bytes: index and length.
const NPT_Size kBlockHeadSize = 16;

void BlockHead(NPT_UInt64 index, NPT_Size size, NPT_UInt8* head)
{
    NPT_BytesFromInt64Be(head, index);
    NPT_BytesFromInt64Be(head + 8, size);
}

// MAC of one block; the tag is its first kCheckBlockTagSize bytes.
void BlockMac(const NPT_HmacSha256Key& key, NPT_UInt64 index, const NPT_UInt8* data, NPT_Size size,
              NPT_UInt8* mac)
{
    NPT_UInt8 head[kBlockHeadSize];
    BlockHead(index, size, head);
    key.Mac(head, kBlockHeadSize, data, size, mac);
}

// MACs of two blocks of equal size, computed together.
void BlockMacPair(const NPT_HmacSha256Key& key, NPT_UInt64 index, const NPT_UInt8* data, NPT_Size size,
                  NPT_UInt8* mac_a, NPT_UInt8* mac_b)
{
    NPT_UInt8 head_a[kBlockHeadSize], head_b[kBlockHeadSize];
    BlockHead(index, size, head_a);
    BlockHead(index + 1, size, head_b);
    key.MacPair(head_a, data, head_b, data + size, kBlockHeadSize, size, mac_a, mac_b);
}

// Compares without an early exit, so the time taken does not tell how
// many leading bytes matched.
bool SameBytes(const NPT_UInt8* a, const NPT_UInt8* b, std::size_t size)
{
    NPT_UInt8 difference = 0;
    for (std::size_t i = 0; i < size; ++i) difference |= static_cast<NPT_UInt8>(a[i] ^ b[i]);
    return difference == 0;
}

bool ValidBlockSize(NPT_UInt32 block_size)
{
    return block_size >= kMinCheckBlockSize && block_size <= kMaxCheckBlockSize &&
           (block_size & (block_size - 1)) == 0;
}

NPT_UInt64 BlocksFor(NPT_UInt64 data_size, NPT_UInt32 block_size)
{
    return data_size / block_size + (data_size % block_size != 0 ? 1 : 0);
}

void Sha256(const NPT_UInt8* data, std::size_t size, NPT_UInt8* out)
{
    NPT_Sha256Digest digest;
    while (size > 0) {
        NPT_Size slice = size > 0x40000000 ? 0x40000000 : static_cast<NPT_Size>(size);
        digest.Update(data, slice);
        data += slice;
        size -= slice;
    }
    NPT_DataBuffer result;
    digest.GetDigest(result);
    std::memcpy(out, result.GetData(), NPT_Sha256Digest::DIGEST_SIZE);
}

}  // namespace

const char*
CheckResultText(CheckResult result)
{
    switch (result) {
        case CHECK_OK: return "ok";
        case CHECK_NOT_A_CHECK_FILE: return "not a check file";
        case CHECK_UNSUPPORTED: return "check file of an unsupported version or with unsupported parameters";
        case CHECK_DAMAGED: return "check file is damaged or was changed";
        case CHECK_WRONG_PASSWORD: return "wrong password";
        case CHECK_DATA_CHANGED: return "data is damaged or was changed";
        case CHECK_INVALID_USE: return "check file used incorrectly";
    }
    return "unknown check result";
}

/*----------------------------------------------------------------------
|   CheckFileWriter
+---------------------------------------------------------------------*/
CheckFileWriter::CheckFileWriter()
    : m_Started(false), m_Iterations(0), m_BlockSize(0), m_Salt(), m_VerifierKey(), m_SummaryKey()
{
}

CheckFileWriter::~CheckFileWriter()
{
    NPT_WipeMemory(m_VerifierKey, sizeof(m_VerifierKey));
    NPT_WipeMemory(m_SummaryKey, sizeof(m_SummaryKey));
}

NPT_Result
CheckFileWriter::Start(const NPT_UInt8* password,
                       NPT_Size         password_size,
                       const NPT_UInt8* salt,
                       NPT_Size         salt_size,
                       NPT_UInt32       iterations,
                       NPT_UInt32       block_size)
{
    if (m_Started) return NPT_ERROR_INVALID_STATE;
    if ((password == nullptr && password_size != 0) || salt == nullptr || salt_size != kCheckSaltSize ||
        iterations == 0 || iterations > kMaxCheckIterations || !ValidBlockSize(block_size)) {
        return NPT_ERROR_INVALID_PARAMETERS;
    }
    NPT_UInt8 block_key[kKeySize];
    NPT_Result result =
        DeriveKeys(password, password_size, salt, iterations, m_VerifierKey, block_key, m_SummaryKey);
    if (NPT_SUCCEEDED(result)) m_BlockKey.reset(new NPT_HmacSha256Key(block_key, kKeySize));
    NPT_WipeMemory(block_key, sizeof(block_key));
    NPT_CHECK(result);
    std::memcpy(m_Salt, salt, kCheckSaltSize);
    m_Iterations = iterations;
    m_BlockSize = block_size;
    m_Started = true;
    return NPT_SUCCESS;
}

NPT_Result
CheckFileWriter::AddBlock(NPT_UInt64 index, const NPT_UInt8* data, NPT_Size size)
{
    if (!m_Started) return NPT_ERROR_INVALID_STATE;
    if (data == nullptr || size == 0 || size > m_BlockSize) return NPT_ERROR_INVALID_PARAMETERS;
    if (index >= kMaxCheckBlocks) return NPT_ERROR_OUT_OF_RANGE;

    // the expensive part runs outside the lock
    NPT_UInt8 mac[kMacSize];
    BlockMac(*m_BlockKey, index, data, size, mac);
    return StoreTag(index, size, mac);
}

NPT_Result
CheckFileWriter::AddBlocks(NPT_UInt64 first_index, const NPT_UInt8* data, NPT_Size size)
{
    if (!m_Started) return NPT_ERROR_INVALID_STATE;
    if (data == nullptr || size == 0) return NPT_ERROR_INVALID_PARAMETERS;
    const NPT_UInt64 count = size / m_BlockSize + (size % m_BlockSize != 0 ? 1 : 0);
    if (first_index >= kMaxCheckBlocks || count > kMaxCheckBlocks - first_index) return NPT_ERROR_OUT_OF_RANGE;

    NPT_UInt64 index = first_index;
    while (size > 0) {
        NPT_UInt8 mac_a[kMacSize], mac_b[kMacSize];
        if (size >= 2 * m_BlockSize) {
            BlockMacPair(*m_BlockKey, index, data, m_BlockSize, mac_a, mac_b);
            NPT_CHECK(StoreTag(index, m_BlockSize, mac_a));
            NPT_CHECK(StoreTag(index + 1, m_BlockSize, mac_b));
            index += 2;
            data += 2 * m_BlockSize;
            size -= 2 * m_BlockSize;
        } else {
            NPT_Size length = size < m_BlockSize ? size : m_BlockSize;
            BlockMac(*m_BlockKey, index, data, length, mac_a);
            NPT_CHECK(StoreTag(index, length, mac_a));
            index += 1;
            data += length;
            size -= length;
        }
    }
    return NPT_SUCCESS;
}

NPT_Result
CheckFileWriter::StoreTag(NPT_UInt64 index, NPT_Size size, const NPT_UInt8* mac)
{
    std::lock_guard<std::mutex> guard(m_Lock);
    if (index >= m_Lengths.size()) {
        m_Lengths.resize(static_cast<std::size_t>(index) + 1, 0);
        m_Tags.resize(m_Lengths.size() * kCheckBlockTagSize, 0);
    }
    if (m_Lengths[index] != 0) return NPT_ERROR_INVALID_STATE;
    m_Lengths[index] = size;
    std::memcpy(&m_Tags[static_cast<std::size_t>(index) * kCheckBlockTagSize], mac, kCheckBlockTagSize);
    return NPT_SUCCESS;
}

NPT_Result
CheckFileWriter::Serialize(NPT_UInt64 data_size, std::vector<NPT_UInt8>& out) const
{
    if (!m_Started) return NPT_ERROR_INVALID_STATE;
    const NPT_UInt64 block_count = BlocksFor(data_size, m_BlockSize);
    if (block_count > kMaxCheckBlocks) return NPT_ERROR_OUT_OF_RANGE;

    std::lock_guard<std::mutex> guard(m_Lock);
    if (m_Lengths.size() != block_count) return NPT_ERROR_INVALID_STATE;
    for (NPT_UInt64 i = 0; i < block_count; ++i) {
        NPT_UInt64 expected = i + 1 < block_count ? m_BlockSize : data_size - i * m_BlockSize;
        if (m_Lengths[i] != expected) return NPT_ERROR_INVALID_STATE;
    }

    std::vector<NPT_UInt8> file(kCheckFileFixedSize + block_count * kCheckBlockTagSize, 0);
    std::memcpy(&file[0], kMagic, sizeof(kMagic));
    file[kVersionAt] = kCheckFileVersion;
    file[kKdfAt] = kKdfPbkdf2Sha256;
    file[kTagAlgorithmAt] = kTagHmacSha256;
    file[kReservedAt] = 0;
    NPT_BytesFromInt32Be(&file[kIterationsAt], m_Iterations);
    std::memcpy(&file[kSaltAt], m_Salt, kCheckSaltSize);
    NPT_BytesFromInt32Be(&file[kBlockSizeAt], m_BlockSize);
    NPT_BytesFromInt64Be(&file[kDataSizeAt], data_size);
    Mac(m_VerifierKey, file.data(), kVerifiedPrefix, &file[kVerifierAt]);
    if (!m_Tags.empty()) std::memcpy(&file[kTagsAt], m_Tags.data(), m_Tags.size());
    const std::size_t summary_at = kTagsAt + m_Tags.size();
    Mac(m_SummaryKey, file.data(), summary_at, &file[summary_at]);
    Sha256(file.data(), summary_at + kMacSize, &file[summary_at + kMacSize]);
    out.swap(file);
    return NPT_SUCCESS;
}

/*----------------------------------------------------------------------
|   CheckFileReader
+---------------------------------------------------------------------*/
CheckFileReader::CheckFileReader()
    : m_Parsed(false), m_Verified(false), m_Iterations(0), m_BlockSize(0), m_DataSize(0), m_BlockCount(0)
{
}

CheckFileReader::~CheckFileReader() = default;

CheckResult
CheckFileReader::Parse(const NPT_UInt8* bytes, std::size_t size)
{
    if (m_Parsed || (bytes == nullptr && size != 0)) return CHECK_INVALID_USE;

    // identity first: a foreign file is told apart from a cut one
    const std::size_t magic_part = size < sizeof(kMagic) ? size : sizeof(kMagic);
    if (size > 0 && std::memcmp(bytes, kMagic, magic_part) != 0) return CHECK_NOT_A_CHECK_FILE;
    if (size <= kVersionAt) return CHECK_DAMAGED;
    if (bytes[kVersionAt] != kCheckFileVersion) return CHECK_UNSUPPORTED;
    if (size < kCheckFileFixedSize || size > kMaxCheckFileSize) return CHECK_DAMAGED;

    NPT_UInt8 checksum[NPT_Sha256Digest::DIGEST_SIZE];
    Sha256(bytes, size - sizeof(checksum), checksum);
    if (!SameBytes(checksum, bytes + size - sizeof(checksum), sizeof(checksum))) return CHECK_DAMAGED;

    if (bytes[kKdfAt] != kKdfPbkdf2Sha256 || bytes[kTagAlgorithmAt] != kTagHmacSha256 ||
        bytes[kReservedAt] != 0) {
        return CHECK_UNSUPPORTED;
    }
    const NPT_UInt32 iterations = NPT_Int32FromBytesBe(bytes + kIterationsAt);
    const NPT_UInt32 block_size = NPT_Int32FromBytesBe(bytes + kBlockSizeAt);
    const NPT_UInt64 data_size = NPT_Int64FromBytesBe(bytes + kDataSizeAt);
    if (iterations > kMaxCheckIterations) return CHECK_UNSUPPORTED;
    if (iterations == 0 || !ValidBlockSize(block_size)) return CHECK_DAMAGED;
    const std::size_t tag_bytes = size - kCheckFileFixedSize;
    const NPT_UInt64 block_count = BlocksFor(data_size, block_size);
    if (tag_bytes % kCheckBlockTagSize != 0 || tag_bytes / kCheckBlockTagSize != block_count) {
        return CHECK_DAMAGED;
    }

    m_Bytes.assign(bytes, bytes + size);
    m_Iterations = iterations;
    m_BlockSize = block_size;
    m_DataSize = data_size;
    m_BlockCount = block_count;
    m_Parsed = true;
    return CHECK_OK;
}

CheckResult
CheckFileReader::VerifyPassword(const NPT_UInt8* password, NPT_Size password_size)
{
    if (!m_Parsed || (password == nullptr && password_size != 0)) return CHECK_INVALID_USE;

    NPT_UInt8 verifier_key[kKeySize], block_key[kKeySize], summary_key[kKeySize];
    NPT_UInt8 verifier[kMacSize], summary[kMacSize];
    const NPT_UInt8* file = m_Bytes.data();
    const std::size_t summary_at = kTagsAt + static_cast<std::size_t>(m_BlockCount) * kCheckBlockTagSize;

    CheckResult outcome = CHECK_INVALID_USE;
    if (NPT_SUCCEEDED(DeriveKeys(password, password_size, file + kSaltAt, m_Iterations, verifier_key, block_key,
                                 summary_key))) {
        Mac(verifier_key, file, kVerifiedPrefix, verifier);
        Mac(summary_key, file, summary_at, summary);
        if (!SameBytes(verifier, file + kVerifierAt, kMacSize)) {
            outcome = CHECK_WRONG_PASSWORD;
        } else if (!SameBytes(summary, file + summary_at, kMacSize)) {
            outcome = CHECK_DAMAGED;
        } else {
            m_BlockKey.reset(new NPT_HmacSha256Key(block_key, kKeySize));
            m_Verified = true;
            outcome = CHECK_OK;
        }
    }
    NPT_WipeMemory(verifier_key, sizeof(verifier_key));
    NPT_WipeMemory(block_key, sizeof(block_key));
    NPT_WipeMemory(summary_key, sizeof(summary_key));
    return outcome;
}

CheckResult
CheckFileReader::VerifyBlock(NPT_UInt64 index, const NPT_UInt8* data, NPT_Size size) const
{
    if (!m_Verified || (data == nullptr && size != 0)) return CHECK_INVALID_USE;
    if (index >= m_BlockCount || size != BlockLength(index)) return CHECK_DATA_CHANGED;

    NPT_UInt8 mac[kMacSize];
    BlockMac(*m_BlockKey, index, data, size, mac);
    return TagMatches(index, mac) ? CHECK_OK : CHECK_DATA_CHANGED;
}

CheckResult
CheckFileReader::VerifyBlocks(NPT_UInt64 first_index, const NPT_UInt8* data, NPT_Size size) const
{
    if (!m_Verified || (data == nullptr && size != 0)) return CHECK_INVALID_USE;
    if (first_index >= m_BlockCount) return CHECK_DATA_CHANGED;
    // the bytes must cover whole blocks up to one that ends them all
    const NPT_UInt64 start = first_index * m_BlockSize;
    if (size == 0 || size > m_DataSize - start) return CHECK_DATA_CHANGED;
    if (size % m_BlockSize != 0 && start + size != m_DataSize) return CHECK_DATA_CHANGED;

    NPT_UInt64 index = first_index;
    bool same = true;
    while (size > 0) {
        NPT_UInt8 mac_a[kMacSize], mac_b[kMacSize];
        if (size >= 2 * m_BlockSize) {
            BlockMacPair(*m_BlockKey, index, data, m_BlockSize, mac_a, mac_b);
            same = TagMatches(index, mac_a) && TagMatches(index + 1, mac_b);
            index += 2;
            data += 2 * m_BlockSize;
            size -= 2 * m_BlockSize;
        } else {
            NPT_Size length = size < m_BlockSize ? size : m_BlockSize;
            BlockMac(*m_BlockKey, index, data, length, mac_a);
            same = TagMatches(index, mac_a);
            index += 1;
            data += length;
            size -= length;
        }
        if (!same) return CHECK_DATA_CHANGED;
    }
    return CHECK_OK;
}

bool
CheckFileReader::TagMatches(NPT_UInt64 index, const NPT_UInt8* mac) const
{
    const NPT_UInt8* stored = m_Bytes.data() + kTagsAt + static_cast<std::size_t>(index) * kCheckBlockTagSize;
    return SameBytes(mac, stored, kCheckBlockTagSize);
}

NPT_UInt64
CheckFileReader::BlockLength(NPT_UInt64 index) const
{
    if (index >= m_BlockCount) return 0;
    if (index + 1 < m_BlockCount) return m_BlockSize;
    return m_DataSize - index * m_BlockSize;
}

void
CheckFileReader::BlocksForRange(NPT_UInt64 offset, NPT_UInt64 length, NPT_UInt64& first, NPT_UInt64& count) const
{
    first = 0;
    count = 0;
    if (m_BlockSize == 0 || length == 0 || offset >= m_DataSize) return;
    const NPT_UInt64 end = length > m_DataSize - offset ? m_DataSize : offset + length;
    first = offset / m_BlockSize;
    count = (end - 1) / m_BlockSize - first + 1;
}

NPT_UInt32
CheckBlockSizeFor(NPT_UInt64 data_size)
{
    NPT_UInt32 block_size = kDefaultCheckBlockSize;
    while (block_size < kMaxCheckBlockSize && BlocksFor(data_size, block_size) > kMaxCheckBlocks) block_size *= 2;
    return block_size;
}

/*----------------------------------------------------------------------
|   iteration count
+---------------------------------------------------------------------*/
NPT_UInt32
ChooseCheckIterations(double iterations_per_second, double target_seconds)
{
    const double floor = 100000;
    const double ceiling = kMaxCheckIterations / 4;
    double iterations = iterations_per_second * target_seconds;
    if (!(iterations >= floor)) iterations = floor; // NaN too
    if (iterations > ceiling) iterations = ceiling;
    return static_cast<NPT_UInt32>(iterations);
}

NPT_UInt32
CalibrateCheckIterations(double target_seconds)
{
    const NPT_UInt32 sample = 10000;
    const NPT_UInt8 salt[kCheckSaltSize] = {};
    NPT_UInt8 key[kKeySize];
    // the best of three: a busy moment only makes a run slower
    double best = 0;
    for (int run = 0; run < 3; ++run) {
        auto start = std::chrono::steady_clock::now();
        NPT_DeriveKeyPbkdf2Sha256(reinterpret_cast<const NPT_UInt8*>("calibration"), 11, salt, sizeof(salt),
                                  sample, key, sizeof(key));
        std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        if (elapsed.count() > 0 && (best == 0 || elapsed.count() < best)) best = elapsed.count();
    }
    NPT_WipeMemory(key, sizeof(key));
    return ChooseCheckIterations(best > 0 ? sample / best : 0, target_seconds);
}

}  // namespace tvkcrypt
