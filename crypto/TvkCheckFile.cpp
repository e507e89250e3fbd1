/*****************************************************************
| TvkCheckFile.cpp - writing, parsing and verifying check files.
****************************************************************/
#include "TvkCheckFile.h"

#include "TvkCheckFileKeys.h"

#include <chrono>
#include <cstring>

#include "NptDataBuffer.h"
#include "NptHmacSha256Key.h"
#include "NptPbkdf2.h"
#include "NptSha256.h"
#include "NptUtils.h"
#include "NptWipe.h"

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

// HMAC-SHA-256 under a 32-byte key of size bytes (a check file's
// parts are far below 4 GiB) into out.
void Mac(const NPT_UInt8* key, const NPT_UInt8* data, std::size_t size, NPT_UInt8* out)
{
    NPT_HmacSha256Key(key, kKeySize).Mac(nullptr, 0, data, static_cast<NPT_Size>(size), out);
}

// What a block's tag covers before its bytes: index and length.
const NPT_Size kBlockHeadSize = 16;

void BlockHead(NPT_UInt64 index, NPT_Size size, NPT_UInt8* head)
{
    NPT_BytesFromInt64Be(head, index);
    NPT_BytesFromInt64Be(head + 8, size);
}

// MAC of one block; the tag is its first TVK_CheckFile::TAG_SIZE bytes.
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

// The MACs of consecutive blocks first, first + 1, ... held one after
// the other in data (whole blocks of block_size, the last of which may
// be shorter), two at a time where they are equally long:
// visit(index, length, mac) for each, until one does not succeed.
template <class Visit>
NPT_Result EachBlockMac(const NPT_HmacSha256Key& key, NPT_UInt32 block_size, NPT_UInt64 first,
                        const NPT_UInt8* data, NPT_Size size, Visit visit)
{
    NPT_UInt64 index = first;
    while (size > 0) {
        NPT_UInt8 mac_a[kMacSize], mac_b[kMacSize];
        if (size >= 2 * block_size) {
            BlockMacPair(key, index, data, block_size, mac_a, mac_b);
            NPT_CHECK(visit(index, block_size, mac_a));
            NPT_CHECK(visit(index + 1, block_size, mac_b));
            index += 2;
            data += 2 * block_size;
            size -= 2 * block_size;
        } else {
            NPT_Size length = size < block_size ? size : block_size;
            BlockMac(key, index, data, length, mac_a);
            NPT_CHECK(visit(index, length, mac_a));
            index += 1;
            data += length;
            size -= length;
        }
    }
    return NPT_SUCCESS;
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
    return block_size >= TVK_CheckFile::MIN_BLOCK_SIZE && block_size <= TVK_CheckFile::MAX_BLOCK_SIZE &&
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

/*----------------------------------------------------------------------
|   TVK_CheckFileWriter
+---------------------------------------------------------------------*/
TVK_CheckFileWriter::TVK_CheckFileWriter()
    : m_Started(false), m_Iterations(0), m_BlockSize(0), m_Salt(), m_VerifierKey(), m_SummaryKey()
{
}

TVK_CheckFileWriter::~TVK_CheckFileWriter()
{
    NPT_WipeMemory(m_VerifierKey, sizeof(m_VerifierKey));
    NPT_WipeMemory(m_SummaryKey, sizeof(m_SummaryKey));
}

NPT_Result
TVK_CheckFileWriter::Start(const NPT_UInt8* password,
                           NPT_Size         password_size,
                           const NPT_UInt8* salt,
                           NPT_Size         salt_size,
                           NPT_UInt32       iterations,
                           NPT_UInt32       block_size)
{
    if (m_Started) return NPT_ERROR_INVALID_STATE;
    if (!ValidBlockSize(block_size)) return NPT_ERROR_INVALID_PARAMETERS;
    TVK_CheckFileKeys keys;
    NPT_CHECK(keys.Derive(password, password_size, salt, salt_size, iterations));
    return Start(keys, block_size);
}

NPT_Result
TVK_CheckFileWriter::Start(const TVK_CheckFileKeys& keys, NPT_UInt32 block_size)
{
    if (m_Started) return NPT_ERROR_INVALID_STATE;
    if (!keys.IsDerived() || !ValidBlockSize(block_size)) return NPT_ERROR_INVALID_PARAMETERS;
    m_BlockKey.reset(new NPT_HmacSha256Key(keys.BlockKey(), kKeySize));
    std::memcpy(m_VerifierKey, keys.VerifierKey(), kKeySize);
    std::memcpy(m_SummaryKey, keys.SummaryKey(), kKeySize);
    std::memcpy(m_Salt, keys.Salt(), TVK_CheckFile::SALT_SIZE);
    m_Iterations = keys.Iterations();
    m_BlockSize = block_size;
    m_Started = true;
    return NPT_SUCCESS;
}

NPT_Result
TVK_CheckFileWriter::AddBlock(NPT_UInt64 index, const NPT_UInt8* data, NPT_Size size)
{
    if (!m_Started) return NPT_ERROR_INVALID_STATE;
    if (data == nullptr || size == 0 || size > m_BlockSize) return NPT_ERROR_INVALID_PARAMETERS;
    if (index >= TVK_CheckFile::MAX_BLOCKS) return NPT_ERROR_OUT_OF_RANGE;

    // the expensive part runs outside the lock
    NPT_UInt8 mac[kMacSize];
    BlockMac(*m_BlockKey, index, data, size, mac);
    return StoreTag(index, size, mac);
}

NPT_Result
TVK_CheckFileWriter::AddBlocks(NPT_UInt64 first_index, const NPT_UInt8* data, NPT_Size size)
{
    if (!m_Started) return NPT_ERROR_INVALID_STATE;
    if (data == nullptr || size == 0) return NPT_ERROR_INVALID_PARAMETERS;
    const NPT_UInt64 count = size / m_BlockSize + (size % m_BlockSize != 0 ? 1 : 0);
    if (first_index >= TVK_CheckFile::MAX_BLOCKS || count > TVK_CheckFile::MAX_BLOCKS - first_index) return NPT_ERROR_OUT_OF_RANGE;

    return EachBlockMac(*m_BlockKey, m_BlockSize, first_index, data, size,
                        [this](NPT_UInt64 index, NPT_Size length, const NPT_UInt8* mac) {
                            return StoreTag(index, length, mac);
                        });
}

NPT_Result
TVK_CheckFileWriter::StartFrom(const TVK_CheckFileReader& reader)
{
    if (m_Started || !reader.m_Verified) return NPT_ERROR_INVALID_STATE;
    const NPT_UInt8* file = reader.m_Bytes.data();
    std::memcpy(m_VerifierKey, reader.m_VerifierKey, sizeof(m_VerifierKey));
    std::memcpy(m_SummaryKey, reader.m_SummaryKey, sizeof(m_SummaryKey));
    m_BlockKey.reset(new NPT_HmacSha256Key(reader.m_BlockKeyBytes, kKeySize));
    std::memcpy(m_Salt, file + kSaltAt, TVK_CheckFile::SALT_SIZE);
    m_Iterations = reader.m_Iterations;
    m_BlockSize = reader.m_BlockSize;
    m_Started = true;
    std::lock_guard<std::mutex> guard(m_Lock);
    const std::size_t count = static_cast<std::size_t>(reader.m_BlockCount);
    m_Tags.assign(file + kTagsAt, file + kTagsAt + count * TVK_CheckFile::TAG_SIZE);
    m_Lengths.resize(count);
    for (std::size_t i = 0; i < count; ++i) m_Lengths[i] = static_cast<NPT_UInt32>(reader.BlockLength(i));
    return NPT_SUCCESS;
}

void
TVK_CheckFileWriter::ForgetBlock(NPT_UInt64 index)
{
    std::lock_guard<std::mutex> guard(m_Lock);
    if (index < m_Lengths.size()) m_Lengths[static_cast<std::size_t>(index)] = 0;
}

void
TVK_CheckFileWriter::KeepBlocks(NPT_UInt64 count)
{
    std::lock_guard<std::mutex> guard(m_Lock);
    if (count >= m_Lengths.size()) return;
    m_Lengths.resize(static_cast<std::size_t>(count));
    m_Tags.resize(m_Lengths.size() * TVK_CheckFile::TAG_SIZE);
}

NPT_Result
TVK_CheckFileWriter::StoreTag(NPT_UInt64 index, NPT_Size size, const NPT_UInt8* mac)
{
    std::lock_guard<std::mutex> guard(m_Lock);
    if (index >= m_Lengths.size()) {
        m_Lengths.resize(static_cast<std::size_t>(index) + 1, 0);
        m_Tags.resize(m_Lengths.size() * TVK_CheckFile::TAG_SIZE, 0);
    }
    if (m_Lengths[index] != 0) return NPT_ERROR_INVALID_STATE;
    m_Lengths[index] = size;
    std::memcpy(&m_Tags[static_cast<std::size_t>(index) * TVK_CheckFile::TAG_SIZE], mac, TVK_CheckFile::TAG_SIZE);
    return NPT_SUCCESS;
}

NPT_Result
TVK_CheckFileWriter::Serialize(NPT_UInt64 data_size, NPT_DataBuffer& out) const
{
    if (!m_Started) return NPT_ERROR_INVALID_STATE;
    const NPT_UInt64 block_count = BlocksFor(data_size, m_BlockSize);
    if (block_count > TVK_CheckFile::MAX_BLOCKS) return NPT_ERROR_OUT_OF_RANGE;

    std::lock_guard<std::mutex> guard(m_Lock);
    if (m_Lengths.size() != block_count) return NPT_ERROR_INVALID_STATE;
    for (NPT_UInt64 i = 0; i < block_count; ++i) {
        NPT_UInt64 expected = i + 1 < block_count ? m_BlockSize : data_size - i * m_BlockSize;
        if (m_Lengths[i] != expected) return NPT_ERROR_INVALID_STATE;
    }

    // below MAX_FILE_SIZE, so within NPT_Size
    const NPT_Size size = static_cast<NPT_Size>(TVK_CheckFile::FIXED_SIZE + m_Tags.size());
    NPT_CHECK(out.SetDataSize(size));
    NPT_UInt8* file = out.UseData();
    std::memset(file, 0, size);
    std::memcpy(file, kMagic, sizeof(kMagic));
    file[kVersionAt] = TVK_CheckFile::VERSION;
    file[kKdfAt] = kKdfPbkdf2Sha256;
    file[kTagAlgorithmAt] = kTagHmacSha256;
    file[kReservedAt] = 0;
    NPT_BytesFromInt32Be(file + kIterationsAt, m_Iterations);
    std::memcpy(file + kSaltAt, m_Salt, TVK_CheckFile::SALT_SIZE);
    NPT_BytesFromInt32Be(file + kBlockSizeAt, m_BlockSize);
    NPT_BytesFromInt64Be(file + kDataSizeAt, data_size);
    Mac(m_VerifierKey, file, kVerifiedPrefix, file + kVerifierAt);
    if (!m_Tags.empty()) std::memcpy(file + kTagsAt, m_Tags.data(), m_Tags.size());
    const std::size_t summary_at = kTagsAt + m_Tags.size();
    Mac(m_SummaryKey, file, summary_at, file + summary_at);
    Sha256(file, summary_at + kMacSize, file + summary_at + kMacSize);
    return NPT_SUCCESS;
}

/*----------------------------------------------------------------------
|   TVK_CheckFileReader
+---------------------------------------------------------------------*/
TVK_CheckFileReader::TVK_CheckFileReader()
    : m_Parsed(false), m_Verified(false), m_Iterations(0), m_BlockSize(0), m_DataSize(0), m_BlockCount(0),
      m_VerifierKey(), m_BlockKeyBytes(), m_SummaryKey()
{
}

TVK_CheckFileReader::~TVK_CheckFileReader()
{
    NPT_WipeMemory(m_VerifierKey, sizeof(m_VerifierKey));
    NPT_WipeMemory(m_BlockKeyBytes, sizeof(m_BlockKeyBytes));
    NPT_WipeMemory(m_SummaryKey, sizeof(m_SummaryKey));
}

NPT_Result
TVK_CheckFileReader::Parse(const NPT_UInt8* bytes, NPT_Size size)
{
    if (m_Parsed) return NPT_ERROR_INVALID_STATE;
    if (bytes == nullptr && size != 0) return NPT_ERROR_INVALID_PARAMETERS;

    // identity first: a foreign file is told apart from a cut one
    const std::size_t magic_part = size < sizeof(kMagic) ? size : sizeof(kMagic);
    if (size > 0 && std::memcmp(bytes, kMagic, magic_part) != 0) return TVK_ERROR_NOT_A_CHECK_FILE;
    if (size <= kVersionAt) return TVK_ERROR_CHECK_FILE_DAMAGED;
    if (bytes[kVersionAt] != TVK_CheckFile::VERSION) return TVK_ERROR_CHECK_FILE_UNSUPPORTED;
    if (size < TVK_CheckFile::FIXED_SIZE || size > TVK_CheckFile::MAX_FILE_SIZE) return TVK_ERROR_CHECK_FILE_DAMAGED;

    NPT_UInt8 checksum[NPT_Sha256Digest::DIGEST_SIZE];
    Sha256(bytes, size - sizeof(checksum), checksum);
    if (!SameBytes(checksum, bytes + size - sizeof(checksum), sizeof(checksum))) return TVK_ERROR_CHECK_FILE_DAMAGED;

    if (bytes[kKdfAt] != kKdfPbkdf2Sha256 || bytes[kTagAlgorithmAt] != kTagHmacSha256 ||
        bytes[kReservedAt] != 0) {
        return TVK_ERROR_CHECK_FILE_UNSUPPORTED;
    }
    const NPT_UInt32 iterations = NPT_Int32FromBytesBe(bytes + kIterationsAt);
    const NPT_UInt32 block_size = NPT_Int32FromBytesBe(bytes + kBlockSizeAt);
    const NPT_UInt64 data_size = NPT_Int64FromBytesBe(bytes + kDataSizeAt);
    if (iterations == 0 || !ValidBlockSize(block_size)) return TVK_ERROR_CHECK_FILE_DAMAGED;
    // a count no writer of ours chooses: a verifier that costs a guesser
    // next to nothing is not taken for a check file's promise
    if (iterations < TVK_CheckFile::MIN_ITERATIONS || iterations > TVK_CheckFile::MAX_ITERATIONS) {
        return TVK_ERROR_CHECK_FILE_UNSUPPORTED;
    }
    const std::size_t tag_bytes = size - TVK_CheckFile::FIXED_SIZE;
    const NPT_UInt64 block_count = BlocksFor(data_size, block_size);
    if (tag_bytes % TVK_CheckFile::TAG_SIZE != 0 || tag_bytes / TVK_CheckFile::TAG_SIZE != block_count) {
        return TVK_ERROR_CHECK_FILE_DAMAGED;
    }

    m_Bytes.assign(bytes, bytes + size);
    m_Iterations = iterations;
    m_BlockSize = block_size;
    m_DataSize = data_size;
    m_BlockCount = block_count;
    m_Parsed = true;
    return NPT_SUCCESS;
}

NPT_Result
TVK_CheckFileReader::VerifyPassword(const NPT_UInt8* password, NPT_Size password_size)
{
    if (!m_Parsed) return NPT_ERROR_INVALID_STATE;
    if (password == nullptr && password_size != 0) return NPT_ERROR_INVALID_PARAMETERS;
    TVK_CheckFileKeys keys;
    NPT_CHECK(keys.Derive(password, password_size, Salt(), TVK_CheckFile::SALT_SIZE, m_Iterations));
    return VerifyPassword(keys);
}

NPT_Result
TVK_CheckFileReader::VerifyPassword(const TVK_CheckFileKeys& keys)
{
    if (!m_Parsed) return NPT_ERROR_INVALID_STATE;
    if (!keys.Fit(Salt(), m_Iterations)) return NPT_ERROR_INVALID_PARAMETERS;

    NPT_UInt8 verifier[kMacSize], summary[kMacSize];
    const NPT_UInt8* file = m_Bytes.data();
    const std::size_t summary_at = kTagsAt + static_cast<std::size_t>(m_BlockCount) * TVK_CheckFile::TAG_SIZE;
    Mac(keys.VerifierKey(), file, kVerifiedPrefix, verifier);
    if (!SameBytes(verifier, file + kVerifierAt, kMacSize)) return TVK_ERROR_WRONG_PASSWORD;
    Mac(keys.SummaryKey(), file, summary_at, summary);
    if (!SameBytes(summary, file + summary_at, kMacSize)) return TVK_ERROR_CHECK_FILE_DAMAGED;
    m_BlockKey.reset(new NPT_HmacSha256Key(keys.BlockKey(), kKeySize));
    std::memcpy(m_VerifierKey, keys.VerifierKey(), sizeof(m_VerifierKey));
    std::memcpy(m_BlockKeyBytes, keys.BlockKey(), sizeof(m_BlockKeyBytes));
    std::memcpy(m_SummaryKey, keys.SummaryKey(), sizeof(m_SummaryKey));
    m_Verified = true;
    return NPT_SUCCESS;
}

const NPT_UInt8*
TVK_CheckFileReader::Salt() const
{
    return m_Parsed ? m_Bytes.data() + kSaltAt : nullptr;
}

NPT_Result
TVK_CheckFileReader::VerifyBlock(NPT_UInt64 index, const NPT_UInt8* data, NPT_Size size) const
{
    if (!m_Verified) return NPT_ERROR_INVALID_STATE;
    if (data == nullptr && size != 0) return NPT_ERROR_INVALID_PARAMETERS;
    if (index >= m_BlockCount || size != BlockLength(index)) return TVK_ERROR_DATA_DAMAGED;

    NPT_UInt8 mac[kMacSize];
    BlockMac(*m_BlockKey, index, data, size, mac);
    return TagMatches(index, mac) ? NPT_SUCCESS : TVK_ERROR_DATA_DAMAGED;
}

NPT_Result
TVK_CheckFileReader::VerifyBlocks(NPT_UInt64 first_index, const NPT_UInt8* data, NPT_Size size) const
{
    if (!m_Verified) return NPT_ERROR_INVALID_STATE;
    if (data == nullptr && size != 0) return NPT_ERROR_INVALID_PARAMETERS;
    if (first_index >= m_BlockCount) return TVK_ERROR_DATA_DAMAGED;
    // the bytes must cover whole blocks up to one that ends them all
    const NPT_UInt64 start = first_index * m_BlockSize;
    if (size == 0 || size > m_DataSize - start) return TVK_ERROR_DATA_DAMAGED;
    if (size % m_BlockSize != 0 && start + size != m_DataSize) return TVK_ERROR_DATA_DAMAGED;

    return EachBlockMac(*m_BlockKey, m_BlockSize, first_index, data, size,
                        [this](NPT_UInt64 index, NPT_Size, const NPT_UInt8* mac) {
                            return TagMatches(index, mac) ? NPT_SUCCESS : TVK_ERROR_DATA_DAMAGED;
                        });
}

bool
TVK_CheckFileReader::TagMatches(NPT_UInt64 index, const NPT_UInt8* mac) const
{
    const NPT_UInt8* stored = m_Bytes.data() + kTagsAt + static_cast<std::size_t>(index) * TVK_CheckFile::TAG_SIZE;
    return SameBytes(mac, stored, TVK_CheckFile::TAG_SIZE);
}

NPT_UInt64
TVK_CheckFileReader::BlockLength(NPT_UInt64 index) const
{
    if (index >= m_BlockCount) return 0;
    if (index + 1 < m_BlockCount) return m_BlockSize;
    return m_DataSize - index * m_BlockSize;
}

void
TVK_CheckFileReader::BlocksForRange(NPT_UInt64 offset, NPT_UInt64 length, NPT_UInt64& first, NPT_UInt64& count) const
{
    first = 0;
    count = 0;
    if (m_BlockSize == 0 || length == 0 || offset >= m_DataSize) return;
    const NPT_UInt64 end = length > m_DataSize - offset ? m_DataSize : offset + length;
    first = offset / m_BlockSize;
    count = (end - 1) / m_BlockSize - first + 1;
}

/*----------------------------------------------------------------------
|   TVK_CheckBlockPieces
+---------------------------------------------------------------------*/
TVK_CheckBlockPieces::TVK_CheckBlockPieces() = default;
TVK_CheckBlockPieces::~TVK_CheckBlockPieces() = default;

NPT_Result
TVK_CheckBlockPieces::StartVerifying(const TVK_CheckFileReader& reader, NPT_UInt64 index)
{
    m_Mac.reset();
    m_Writer = nullptr;
    m_Reader = nullptr;
    if (!reader.m_Verified) return NPT_ERROR_INVALID_STATE;
    if (index >= reader.m_BlockCount) return TVK_ERROR_DATA_DAMAGED;
    m_Reader = &reader;
    Begin(*reader.m_BlockKey, index, static_cast<NPT_UInt32>(reader.BlockLength(index)));
    return NPT_SUCCESS;
}

NPT_Result
TVK_CheckBlockPieces::StartTagging(TVK_CheckFileWriter& writer, NPT_UInt64 index, NPT_UInt32 length)
{
    m_Mac.reset();
    m_Writer = nullptr;
    m_Reader = nullptr;
    if (!writer.m_Started) return NPT_ERROR_INVALID_STATE;
    if (length == 0 || length > writer.m_BlockSize) return NPT_ERROR_INVALID_PARAMETERS;
    if (index >= TVK_CheckFile::MAX_BLOCKS) return NPT_ERROR_OUT_OF_RANGE;
    m_Writer = &writer;
    Begin(*writer.m_BlockKey, index, length);
    return NPT_SUCCESS;
}

// The MAC of a block starts with its index and length.
void
TVK_CheckBlockPieces::Begin(const NPT_HmacSha256Key& key, NPT_UInt64 index, NPT_UInt32 length)
{
    m_Index = index;
    m_Length = length;
    m_Remaining = length;
    m_Mac.reset(new NPT_HmacSha256Key::Message(key));
    NPT_UInt8 head[kBlockHeadSize];
    BlockHead(index, length, head);
    m_Mac->Update(head, kBlockHeadSize);
}

NPT_Result
TVK_CheckBlockPieces::Add(const NPT_UInt8* data, NPT_Size size)
{
    if (!m_Mac) return NPT_ERROR_INVALID_STATE;
    if (data == nullptr && size != 0) return NPT_ERROR_INVALID_PARAMETERS;
    if (size > m_Remaining) return m_Reader != nullptr ? TVK_ERROR_DATA_DAMAGED : NPT_ERROR_INVALID_PARAMETERS;
    m_Mac->Update(data, size);
    m_Remaining -= size;
    return NPT_SUCCESS;
}

NPT_Result
TVK_CheckBlockPieces::Finish()
{
    if (!m_Mac) return NPT_ERROR_INVALID_STATE;
    std::unique_ptr<NPT_HmacSha256Key::Message> mac(std::move(m_Mac));
    if (m_Remaining != 0) return m_Reader != nullptr ? TVK_ERROR_DATA_DAMAGED : NPT_ERROR_INVALID_STATE;
    NPT_UInt8 tag[kMacSize];
    mac->Finish(tag);
    if (m_Reader != nullptr) return m_Reader->TagMatches(m_Index, tag) ? NPT_SUCCESS : TVK_ERROR_DATA_DAMAGED;
    return m_Writer->StoreTag(m_Index, m_Length, tag);
}

/*----------------------------------------------------------------------
|   TVK_CheckFile
+---------------------------------------------------------------------*/
NPT_UInt32
TVK_CheckFile::BlockSizeFor(NPT_UInt64 data_size)
{
    NPT_UInt32 block_size = DEFAULT_BLOCK_SIZE;
    while (block_size < MAX_BLOCK_SIZE && BlocksFor(data_size, block_size) > MAX_BLOCKS) block_size *= 2;
    return block_size;
}

NPT_UInt32
TVK_CheckFile::ChooseIterations(double iterations_per_second, double target_seconds)
{
    const double floor = MIN_ITERATIONS;
    const double ceiling = MAX_ITERATIONS / 4;
    double iterations = iterations_per_second * target_seconds;
    if (!(iterations >= floor)) iterations = floor; // NaN too
    if (iterations > ceiling) iterations = ceiling;
    return static_cast<NPT_UInt32>(iterations);
}

NPT_UInt32
TVK_CheckFile::CalibrateIterations(double target_seconds)
{
    const NPT_UInt32 sample = 10000;
    const NPT_UInt8 salt[SALT_SIZE] = {};
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
    return ChooseIterations(best > 0 ? sample / best : 0, target_seconds);
}
