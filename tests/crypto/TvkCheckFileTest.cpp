// The check file: its exact layout (against an independent computation),
// round trips, wrong passwords, every bit flip, cut, extension and
// reordering of the data, damaged, hostile and foreign check files, and
// the mapping of ranges to blocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "NptDataBuffer.h"
#include "NptUtils.h"
#include "TestSha256.h"
#include "TvkCheckFile.h"

using Bytes = std::vector<NPT_UInt8>;

namespace {

// the least a reader accepts: the cost is not under test here
const NPT_UInt32 kIterations = TVK_CheckFile::MIN_ITERATIONS;
const NPT_UInt32 kSmallBlock = TVK_CheckFile::MIN_BLOCK_SIZE;

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes Pattern(size_t size)
{
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<NPT_UInt8>(i * 7 + 1);
    return bytes;
}

// Stands for ciphertext: no two blocks alike (Pattern repeats every 256
// bytes, so its 1 KiB blocks would all be equal).
Bytes Data(size_t size)
{
    std::mt19937 random(static_cast<unsigned>(size));
    Bytes bytes(size);
    for (auto& byte : bytes) byte = static_cast<NPT_UInt8>(random());
    return bytes;
}

Bytes Salt()
{
    Bytes salt(TVK_CheckFile::SALT_SIZE);
    for (size_t i = 0; i < salt.size(); ++i) salt[i] = static_cast<NPT_UInt8>(i);
    return salt;
}

// The writer's check file as bytes; out untouched on failure.
NPT_Result Serialize(const TVK_CheckFileWriter& writer, NPT_UInt64 data_size, Bytes& out)
{
    NPT_DataBuffer file;
    NPT_Result result = writer.Serialize(data_size, file);
    if (result == NPT_SUCCESS) out.assign(file.GetData(), file.GetData() + file.GetDataSize());
    return result;
}

// The check file for data, its blocks added last to first.
Bytes MakeCheckFile(const Bytes& password, const Bytes& data, NPT_UInt32 iterations = kIterations,
                    NPT_UInt32 block_size = kSmallBlock)
{
    TVK_CheckFileWriter writer;
    const Bytes salt = Salt();
    EXPECT_EQ(NPT_SUCCESS, writer.Start(password.data(), static_cast<NPT_Size>(password.size()), salt.data(),
                                        TVK_CheckFile::SALT_SIZE, iterations, block_size));
    const size_t blocks = (data.size() + block_size - 1) / block_size;
    for (size_t i = blocks; i-- > 0;) {
        size_t length = std::min<size_t>(block_size, data.size() - i * block_size);
        EXPECT_EQ(NPT_SUCCESS, writer.AddBlock(i, data.data() + i * block_size, static_cast<NPT_Size>(length)));
    }
    Bytes file;
    EXPECT_EQ(NPT_SUCCESS, Serialize(writer, data.size(), file));
    return file;
}

NPT_Result Parse(TVK_CheckFileReader& reader, const Bytes& file)
{
    return reader.Parse(file.data(), static_cast<NPT_Size>(file.size()));
}

NPT_Result Open(TVK_CheckFileReader& reader, const Bytes& file, const Bytes& password)
{
    NPT_Result result = Parse(reader, file);
    if (result != NPT_SUCCESS) return result;
    return reader.VerifyPassword(password.data(), static_cast<NPT_Size>(password.size()));
}

// First failing block of data, or NPT_SUCCESS with all blocks matching
// and the size right.
NPT_Result VerifyAll(const TVK_CheckFileReader& reader, const Bytes& data)
{
    if (data.size() != reader.ExpectedSize()) return TVK_ERROR_DATA_DAMAGED;
    for (NPT_UInt64 i = 0; i < reader.BlockCount(); ++i) {
        size_t at = static_cast<size_t>(i * reader.BlockSize());
        NPT_Result result = reader.VerifyBlock(i, data.data() + at, static_cast<NPT_Size>(reader.BlockLength(i)));
        if (result != NPT_SUCCESS) return result;
    }
    return NPT_SUCCESS;
}

// Recomputes the trailing unkeyed checksum, as someone who edits the
// file on purpose would.
void Reseal(Bytes& file)
{
    tvk_test::Sha256 sha;
    sha.Update(file.data(), file.size() - 32);
    Bytes checksum = sha.Finish();
    std::copy(checksum.begin(), checksum.end(), file.end() - 32);
}

TEST(CheckFileTest, LayoutMatchesAnIndependentComputation)
{
    // password "correct horse", salt 00..1f, 1000 iterations, 1 KiB
    // blocks, 2500 bytes of data: computed from the documented layout
    // with Python's hashlib and hmac
    const std::string expected =
        "54564b434845434b01010100000003e8000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f"
        "0000040000000000000009c48bb1c8144fb8dd3b5065dc641af9b98d6c5da9522c30ae833883ba46f12b46c473d39f01"
        "68e2db9aa286181f9d6ec05d936b72125bda7c02d6204fae102b386ef847d7d55c8e61f41b055416c628d95c7e085738"
        "881c2caf6a52955fc00e545eae0de8ba9b8ae9617a65ed2a2131df1f468bf19b83e90d974b55fcb562f2e1398cf94852"
        "acdca263e0b64441a2848235";
    EXPECT_EQ(expected, tvk_test::ToHex(MakeCheckFile(Text("correct horse"), Pattern(2500), 1000)));
}

TEST(CheckFileTest, RoundTripForSizesAroundBlockEdges)
{
    const Bytes password = Text("pass word");
    for (size_t size : {0, 1, 1023, 1024, 1025, 3 * 1024, 5000}) {
        const Bytes data = Data(size);
        TVK_CheckFileReader reader;
        ASSERT_EQ(NPT_SUCCESS, Open(reader, MakeCheckFile(password, data), password)) << size;
        EXPECT_EQ(size, reader.ExpectedSize());
        EXPECT_EQ((size + 1023) / 1024, reader.BlockCount());
        EXPECT_EQ(kIterations, reader.Iterations());
        EXPECT_EQ(NPT_SUCCESS, VerifyAll(reader, data)) << size;
    }
}

// A writer continued from a verified check file re-tags only the blocks
// that changed, and its file equals one made from scratch; the same
// salt, so it is compared byte for byte.
TEST(CheckFileTest, ContinuedWriterRetagsChangedBlocksOnly)
{
    const Bytes password = Text("pass word");
    const Bytes before = Data(5000);
    struct Case { const char* name; size_t changed_at; size_t new_size; };
    for (const Case& c : {Case{"same size, one block changed", 1500, 5000},
                          Case{"grown", 4900, 7000}, Case{"cut inside a block", 0, 2100},
                          Case{"cut to nothing", 0, 0}}) {
        Bytes after = Data(c.new_size + 1);
        after.resize(c.new_size);
        for (size_t i = 0; i < c.new_size && i < c.changed_at; ++i) after[i] = before[i];
        TVK_CheckFileReader reader;
        ASSERT_EQ(NPT_SUCCESS, Open(reader, MakeCheckFile(password, before), password));
        TVK_CheckFileWriter writer;
        ASSERT_EQ(NPT_SUCCESS, writer.StartFrom(reader));
        EXPECT_EQ(NPT_ERROR_INVALID_STATE, writer.StartFrom(reader)) << "started already";
        const size_t blocks = (c.new_size + kSmallBlock - 1) / kSmallBlock;
        writer.KeepBlocks(blocks);
        for (size_t i = c.changed_at / kSmallBlock; i < blocks; ++i) {
            writer.ForgetBlock(i);
            const size_t length = std::min<size_t>(kSmallBlock, c.new_size - i * kSmallBlock);
            ASSERT_EQ(NPT_SUCCESS, writer.AddBlock(i, after.data() + i * kSmallBlock, static_cast<NPT_Size>(length)));
        }
        Bytes file;
        ASSERT_EQ(NPT_SUCCESS, Serialize(writer, c.new_size, file)) << c.name;
        EXPECT_EQ(MakeCheckFile(password, after), file) << c.name;
    }
    TVK_CheckFileReader unverified;
    ASSERT_EQ(NPT_SUCCESS, Parse(unverified, MakeCheckFile(password, before)));
    TVK_CheckFileWriter writer;
    EXPECT_EQ(NPT_ERROR_INVALID_STATE, writer.StartFrom(unverified));
}

TEST(CheckFileTest, BlocksAddedFromTwoThreadsGiveTheSameFile)
{
    const Bytes password = Text("pw"), salt = Salt(), data = Data(40 * 1024 + 7);
    const NPT_UInt64 blocks = (data.size() + kSmallBlock - 1) / kSmallBlock;
    TVK_CheckFileWriter writer;
    ASSERT_EQ(NPT_SUCCESS, writer.Start(password.data(), 2, salt.data(), TVK_CheckFile::SALT_SIZE, kIterations, kSmallBlock));
    auto add = [&](NPT_UInt64 parity) {
        for (NPT_UInt64 i = parity; i < blocks; i += 2) {
            size_t length = std::min<size_t>(kSmallBlock, data.size() - i * kSmallBlock);
            EXPECT_EQ(NPT_SUCCESS, writer.AddBlock(i, data.data() + i * kSmallBlock, static_cast<NPT_Size>(length)));
        }
    };
    std::thread odd(add, 1);
    add(0);
    odd.join();
    Bytes file;
    ASSERT_EQ(NPT_SUCCESS, Serialize(writer, data.size(), file));
    EXPECT_EQ(MakeCheckFile(password, data), file);
}

TEST(CheckFileTest, ManyBlocksAtATimeMatchOneAtATime)
{
    // runs of 1, 2, 3 and 5 blocks (pairs, a pair and a single, ...),
    // the last run ending in the short last block
    const Bytes password = Text("pw"), salt = Salt(), data = Data(11 * 1024 + 300);
    TVK_CheckFileWriter writer;
    ASSERT_EQ(NPT_SUCCESS, writer.Start(password.data(), 2, salt.data(), TVK_CheckFile::SALT_SIZE, kIterations, kSmallBlock));
    NPT_UInt64 index = 0;
    for (NPT_UInt64 run : {1, 2, 3, 5, 1}) {
        size_t at = static_cast<size_t>(index * kSmallBlock);
        size_t size = std::min<size_t>(run * kSmallBlock, data.size() - at);
        ASSERT_EQ(NPT_SUCCESS, writer.AddBlocks(index, data.data() + at, static_cast<NPT_Size>(size))) << index;
        index += run;
    }
    Bytes file;
    ASSERT_EQ(NPT_SUCCESS, Serialize(writer, data.size(), file));
    EXPECT_EQ(MakeCheckFile(password, data), file);

    TVK_CheckFileReader reader;
    ASSERT_EQ(NPT_SUCCESS, Open(reader, file, password));
    for (NPT_UInt64 first = 0; first < reader.BlockCount(); ++first) {
        for (NPT_UInt64 count = 1; first + count <= reader.BlockCount(); ++count) {
            size_t at = static_cast<size_t>(first * kSmallBlock);
            size_t size = std::min<size_t>(count * kSmallBlock, data.size() - at);
            ASSERT_EQ(NPT_SUCCESS, reader.VerifyBlocks(first, data.data() + at, static_cast<NPT_Size>(size)))
                << first << "+" << count;
        }
    }

    // what does not end at a block boundary or at the end of the data,
    // or reaches past it, is not a run of blocks
    struct {
        const char* what;
        NPT_UInt64  first;
        size_t      at, size;
    } bad[] = {
        {"ends inside a block", 0, 0, 2 * 1024 + 1},
        {"ends one byte early", 10, 10 * 1024, 1024 + 299},
        {"one byte past the end", 10, 10 * 1024, 1024 + 301},
        {"starts past the last block", 12, 0, 1024},
        {"empty", 3, 3 * 1024, 0},
    };
    Bytes longer = data;
    longer.push_back(0);
    for (const auto& b : bad) {
        EXPECT_EQ(TVK_ERROR_DATA_DAMAGED, reader.VerifyBlocks(b.first, longer.data() + b.at, static_cast<NPT_Size>(b.size)))
            << b.what;
    }
}

TEST(CheckFileTest, WrongPasswordIsRefused)
{
    const Bytes data = Data(3000);
    const Bytes file = MakeCheckFile(Text("secret"), data);
    for (const char* guess : {"Secret", "secret ", "secre", "", "another password entirely"}) {
        TVK_CheckFileReader reader;
        EXPECT_EQ(TVK_ERROR_WRONG_PASSWORD, Open(reader, file, Text(guess))) << guess;
        // a refused password does not unlock the blocks
        EXPECT_EQ(NPT_ERROR_INVALID_STATE, reader.VerifyBlock(0, data.data(), kSmallBlock)) << guess;
    }
}

TEST(CheckFileTest, EverySingleBitFlipOfTheDataIsFoundInItsBlock)
{
    const Bytes password = Text("pw");
    Bytes data = Data(2 * 1024 + 300);
    TVK_CheckFileReader reader;
    ASSERT_EQ(NPT_SUCCESS, Open(reader, MakeCheckFile(password, data), password));
    for (size_t bit = 0; bit < data.size() * 8; ++bit) {
        const size_t byte = bit / 8, block = byte / kSmallBlock;
        data[byte] ^= static_cast<NPT_UInt8>(1u << (bit % 8));
        for (size_t i = 0; i < reader.BlockCount(); ++i) {
            NPT_Result result = reader.VerifyBlock(i, data.data() + i * kSmallBlock,
                                                    static_cast<NPT_Size>(reader.BlockLength(i)));
            // the changed block fails, the others still pass
            ASSERT_EQ(i == block ? TVK_ERROR_DATA_DAMAGED : NPT_SUCCESS, result) << "bit " << bit << ", block " << i;
        }
        data[byte] ^= static_cast<NPT_UInt8>(1u << (bit % 8));
    }
}

TEST(CheckFileTest, EverySingleBitFlipIsFoundWhenBlocksAreCheckedInPairs)
{
    // both lanes of a pair, and the single block after them
    const Bytes password = Text("pw");
    Bytes data = Data(2 * 1024 + 500);
    TVK_CheckFileReader reader;
    ASSERT_EQ(NPT_SUCCESS, Open(reader, MakeCheckFile(password, data), password));
    ASSERT_EQ(NPT_SUCCESS, reader.VerifyBlocks(0, data.data(), static_cast<NPT_Size>(data.size())));
    for (size_t bit = 0; bit < data.size() * 8; ++bit) {
        data[bit / 8] ^= static_cast<NPT_UInt8>(1u << (bit % 8));
        ASSERT_EQ(TVK_ERROR_DATA_DAMAGED, reader.VerifyBlocks(0, data.data(), static_cast<NPT_Size>(data.size())))
            << "bit " << bit;
        data[bit / 8] ^= static_cast<NPT_UInt8>(1u << (bit % 8));
    }
}

TEST(CheckFileTest, CutExtendedAndReorderedDataIsFound)
{
    const Bytes password = Text("pw");
    const Bytes data = Data(3 * 1024 + 100);
    TVK_CheckFileReader reader;
    ASSERT_EQ(NPT_SUCCESS, Open(reader, MakeCheckFile(password, data), password));
    const NPT_UInt8* block0 = data.data();
    const NPT_UInt8* block1 = data.data() + kSmallBlock;
    const NPT_UInt8* last = data.data() + 3 * kSmallBlock;
    Bytes longer_last(last, last + 100);
    longer_last.push_back(0);

    struct {
        const char*      what;
        NPT_UInt64       index;
        const NPT_UInt8* bytes;
        NPT_Size         size;
    } cases[] = {
        {"last block cut by a byte", 3, last, 99},
        {"last block cut to nothing", 3, last, 0},
        {"last block one byte longer", 3, longer_last.data(), 101},
        {"a block past the end", 4, block0, kSmallBlock},
        {"a full block cut short", 1, block1, kSmallBlock - 1},
        {"block 1 read at index 0", 0, block1, kSmallBlock},
        {"block 0 read at index 1", 1, block0, kSmallBlock},
        {"a full block in place of the last", 3, block0, 100},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TVK_ERROR_DATA_DAMAGED, reader.VerifyBlock(c.index, c.bytes, c.size)) << c.what;
    }
    // the whole-file check catches any change of size
    for (size_t size : {data.size() - 1, data.size() + 1, size_t(3 * 1024), size_t(0)}) {
        Bytes resized = data;
        resized.resize(size, 0);
        EXPECT_EQ(TVK_ERROR_DATA_DAMAGED, VerifyAll(reader, resized)) << size;
    }
}

TEST(CheckFileTest, EveryBitFlipCutAndExtensionOfTheCheckFileIsRefused)
{
    const Bytes password = Text("pw");
    const Bytes file = MakeCheckFile(password, Data(2 * 1024 + 1));
    for (size_t bit = 0; bit < file.size() * 8; ++bit) {
        Bytes damaged = file;
        damaged[bit / 8] ^= static_cast<NPT_UInt8>(1u << (bit % 8));
        TVK_CheckFileReader reader;
        NPT_Result expected = bit < 64 ? TVK_ERROR_NOT_A_CHECK_FILE : bit < 72 ? TVK_ERROR_CHECK_FILE_UNSUPPORTED : TVK_ERROR_CHECK_FILE_DAMAGED;
        ASSERT_EQ(expected, Parse(reader, damaged)) << "bit " << bit;
    }
    for (size_t size = 0; size < file.size(); ++size) {
        TVK_CheckFileReader reader;
        ASSERT_EQ(TVK_ERROR_CHECK_FILE_DAMAGED, Parse(reader, Bytes(file.begin(), file.begin() + size))) << "cut to " << size;
    }
    for (size_t extra : {1, 16, 32}) {
        Bytes longer = file;
        longer.resize(file.size() + extra, 0);
        TVK_CheckFileReader reader;
        EXPECT_EQ(TVK_ERROR_CHECK_FILE_DAMAGED, Parse(reader, longer)) << extra;
    }
}

// Edits made on purpose, with the checksum made to match again: the
// keyed parts must catch them once the password is given.
TEST(CheckFileTest, DeliberateEditsAreCaughtByTheKeyedParts)
{
    const Bytes password = Text("pw");
    const Bytes data = Data(3 * 1024);
    const Bytes file = MakeCheckFile(password, data);
    const size_t tags = 92;

    struct Edit {
        const char*              what;
        std::function<void(Bytes&)> apply;
        NPT_Result              expected;
    };
    const Edit edits[] = {
        {"two block tags swapped",
         [&](Bytes& f) { std::swap_ranges(f.begin() + tags, f.begin() + tags + 16, f.begin() + tags + 16); },
         TVK_ERROR_CHECK_FILE_DAMAGED},
        {"a block tag changed", [&](Bytes& f) { f[tags + 20] ^= 1; }, TVK_ERROR_CHECK_FILE_DAMAGED},
        {"data size lowered by a block and the last tag dropped",
         [&](Bytes& f) {
             NPT_BytesFromInt64Be(&f[52], 2 * 1024);
             f.erase(f.begin() + tags + 32, f.begin() + tags + 48);
         },
         TVK_ERROR_CHECK_FILE_DAMAGED},
        {"data size cut inside the last block", [&](Bytes& f) { NPT_BytesFromInt64Be(&f[52], 3 * 1024 - 1); },
         TVK_ERROR_CHECK_FILE_DAMAGED},
        {"block size doubled, half the tags dropped",
         [&](Bytes& f) {
             NPT_BytesFromInt32Be(&f[48], 2048);
             f.erase(f.begin() + tags + 32, f.begin() + tags + 48);
         },
         TVK_ERROR_CHECK_FILE_DAMAGED},
        {"salt changed", [&](Bytes& f) { f[20] ^= 1; }, TVK_ERROR_WRONG_PASSWORD},
        {"iteration count changed", [&](Bytes& f) { NPT_BytesFromInt32Be(&f[12], kIterations + 1); },
         TVK_ERROR_WRONG_PASSWORD},
        {"verifier changed", [&](Bytes& f) { f[70] ^= 0x80; }, TVK_ERROR_WRONG_PASSWORD},
        {"summary changed", [&](Bytes& f) { f[f.size() - 40] ^= 1; }, TVK_ERROR_CHECK_FILE_DAMAGED},
    };
    for (const Edit& edit : edits) {
        Bytes edited = file;
        edit.apply(edited);
        Reseal(edited);
        TVK_CheckFileReader reader;
        EXPECT_EQ(NPT_SUCCESS, Parse(reader, edited)) << edit.what;
        EXPECT_EQ(edit.expected, reader.VerifyPassword(password.data(), 2)) << edit.what;
    }
}

TEST(CheckFileTest, ForeignUnsupportedAndInconsistentFilesAreToldApart)
{
    const Bytes file = MakeCheckFile(Text("pw"), Data(2048));
    auto edited = [&](size_t at, NPT_UInt8 value) {
        Bytes f = file;
        f[at] = value;
        Reseal(f);
        return f;
    };
    Bytes zero_iterations = file;
    NPT_BytesFromInt32Be(&zero_iterations[12], 0);
    Reseal(zero_iterations);
    Bytes too_few_iterations = file;
    NPT_BytesFromInt32Be(&too_few_iterations[12], TVK_CheckFile::MIN_ITERATIONS - 1);
    Reseal(too_few_iterations);
    Bytes too_many_iterations = file;
    NPT_BytesFromInt32Be(&too_many_iterations[12], TVK_CheckFile::MAX_ITERATIONS + 1);
    Reseal(too_many_iterations);
    Bytes odd_block_size = file;
    NPT_BytesFromInt32Be(&odd_block_size[48], 1500);
    Reseal(odd_block_size);
    Bytes huge_size = file; // claims far more blocks than it has tags
    NPT_BytesFromInt64Be(&huge_size[52], ~NPT_UInt64(0));
    Reseal(huge_size);

    struct {
        const char* what;
        Bytes       bytes;
        NPT_Result expected;
    } cases[] = {
        {"text", Text("just some text that is long enough to be looked at as a whole file"), TVK_ERROR_NOT_A_CHECK_FILE},
        {"a PNG header", Bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 0, 0}, TVK_ERROR_NOT_A_CHECK_FILE},
        {"one foreign byte", Bytes{'x'}, TVK_ERROR_NOT_A_CHECK_FILE},
        {"empty", Bytes(), TVK_ERROR_CHECK_FILE_DAMAGED},
        {"the magic alone", Text("TVKCHECK"), TVK_ERROR_CHECK_FILE_DAMAGED},
        {"version 2", edited(8, 2), TVK_ERROR_CHECK_FILE_UNSUPPORTED},
        {"version 0", edited(8, 0), TVK_ERROR_CHECK_FILE_UNSUPPORTED},
        {"unknown key derivation", edited(9, 2), TVK_ERROR_CHECK_FILE_UNSUPPORTED},
        {"unknown tag algorithm", edited(10, 7), TVK_ERROR_CHECK_FILE_UNSUPPORTED},
        {"reserved byte set", edited(11, 1), TVK_ERROR_CHECK_FILE_UNSUPPORTED},
        {"more iterations than allowed", too_many_iterations, TVK_ERROR_CHECK_FILE_UNSUPPORTED},
        {"fewer iterations than a writer of ours uses", too_few_iterations, TVK_ERROR_CHECK_FILE_UNSUPPORTED},
        {"no iterations", zero_iterations, TVK_ERROR_CHECK_FILE_DAMAGED},
        {"block size not a power of two", odd_block_size, TVK_ERROR_CHECK_FILE_DAMAGED},
        {"size needing more tags than present", huge_size, TVK_ERROR_CHECK_FILE_DAMAGED},
    };
    for (const auto& c : cases) {
        TVK_CheckFileReader reader;
        EXPECT_EQ(c.expected, Parse(reader, c.bytes)) << c.what;
    }
    // a valid start but larger than any check file can be: refused
    // before the checksum is even computed
    Bytes oversized = file;
    oversized.resize(TVK_CheckFile::MAX_FILE_SIZE + 1);
    TVK_CheckFileReader reader;
    EXPECT_EQ(TVK_ERROR_CHECK_FILE_DAMAGED, Parse(reader, oversized));
}

TEST(CheckFileTest, RandomBytesNeverParse)
{
    std::mt19937 random(99);
    const Bytes good = MakeCheckFile(Text("pw"), Data(5000));
    for (int round = 0; round < 2000; ++round) {
        Bytes bytes(random() % 400);
        for (auto& byte : bytes) byte = static_cast<NPT_UInt8>(random());
        if (round % 2 && bytes.size() >= 9) {
            // a valid start, so that the parser goes past the magic
            std::copy(good.begin(), good.begin() + 9, bytes.begin());
        }
        TVK_CheckFileReader reader;
        ASSERT_NE(NPT_SUCCESS, Parse(reader, bytes)) << "round " << round;
    }
}

TEST(CheckFileTest, RangesMapToTheBlocksTheyTouch)
{
    TVK_CheckFileReader reader;
    const Bytes password = Text("pw");
    ASSERT_EQ(NPT_SUCCESS, Parse(reader, MakeCheckFile(password, Data(3 * 1024 + 10))));
    struct {
        NPT_UInt64 offset, length, first, count;
    } cases[] = {
        {0, 1, 0, 1},
        {0, 1024, 0, 1},
        {0, 1025, 0, 2},
        {1023, 2, 0, 2},
        {1024, 1024, 1, 1},
        {1500, 2000, 1, 3},
        {3 * 1024 + 9, 1, 3, 1},
        {0, ~NPT_UInt64(0), 0, 4},        // to the end, without overflow
        {3000, ~NPT_UInt64(0) - 10, 2, 2}, // likewise from inside
        {5, 0, 0, 0},                      // empty range
        {3 * 1024 + 10, 5, 0, 0},          // starts at the end
        {~NPT_UInt64(0), 1, 0, 0},         // far past it
    };
    for (const auto& c : cases) {
        NPT_UInt64 first = 99, count = 99;
        reader.BlocksForRange(c.offset, c.length, first, count);
        EXPECT_EQ(c.count, count) << c.offset << "+" << c.length;
        if (c.count) {
            EXPECT_EQ(c.first, first) << c.offset << "+" << c.length;
        }
    }
}

TEST(CheckFileTest, WriterRefusesMisuse)
{
    const Bytes password = Text("pw"), salt = Salt(), data = Data(2048);
    Bytes out = Text("untouched");
    {
        TVK_CheckFileWriter writer;
        EXPECT_EQ(NPT_ERROR_INVALID_STATE, writer.AddBlock(0, data.data(), 10)) << "not started";
        EXPECT_EQ(NPT_ERROR_INVALID_STATE, writer.AddBlocks(0, data.data(), 10)) << "not started";
        EXPECT_EQ(NPT_ERROR_INVALID_STATE, Serialize(writer, 0, out)) << "not started";
        struct {
            const char* what;
            NPT_Size    salt_size;
            NPT_UInt32  iterations, block_size;
        } bad[] = {
            {"short salt", 16, 1, 1024},       {"no iterations", 32, 0, 1024},
            {"too many iterations", 32, TVK_CheckFile::MAX_ITERATIONS + 1, 1024},
            {"block size below 1 KiB", 32, 1, 512}, {"block size not a power of two", 32, 1, 3000},
        };
        for (const auto& b : bad) {
            EXPECT_EQ(NPT_ERROR_INVALID_PARAMETERS,
                      writer.Start(password.data(), 2, salt.data(), b.salt_size, b.iterations, b.block_size))
                << b.what;
        }
    }
    TVK_CheckFileWriter writer;
    ASSERT_EQ(NPT_SUCCESS, writer.Start(password.data(), 2, salt.data(), TVK_CheckFile::SALT_SIZE, 1, 1024));
    EXPECT_EQ(NPT_ERROR_INVALID_STATE, writer.Start(password.data(), 2, salt.data(), TVK_CheckFile::SALT_SIZE, 1, 1024));
    EXPECT_EQ(NPT_ERROR_INVALID_PARAMETERS, writer.AddBlock(0, data.data(), 1025)) << "longer than a block";
    EXPECT_EQ(NPT_ERROR_INVALID_PARAMETERS, writer.AddBlock(0, data.data(), 0)) << "empty block";
    EXPECT_EQ(NPT_ERROR_OUT_OF_RANGE, writer.AddBlock(TVK_CheckFile::MAX_BLOCKS, data.data(), 1024));
    EXPECT_EQ(NPT_ERROR_OUT_OF_RANGE, writer.AddBlocks(TVK_CheckFile::MAX_BLOCKS - 1, data.data(), 2048));
    ASSERT_EQ(NPT_SUCCESS, writer.AddBlock(1, data.data() + 1024, 1000));
    EXPECT_EQ(NPT_ERROR_INVALID_STATE, Serialize(writer, 2024, out)) << "block 0 missing";
    EXPECT_EQ(NPT_ERROR_INVALID_STATE, writer.AddBlock(1, data.data() + 1024, 1000)) << "added twice";
    ASSERT_EQ(NPT_SUCCESS, writer.AddBlock(0, data.data(), 1024));
    for (NPT_UInt64 size : {2023, 2025, 1024, 0}) {
        EXPECT_EQ(NPT_ERROR_INVALID_STATE, Serialize(writer, size, out)) << "blocks do not fit " << size;
    }
    EXPECT_EQ(NPT_ERROR_OUT_OF_RANGE, Serialize(writer, TVK_CheckFile::MAX_BLOCKS * 1024 + 1, out));
    EXPECT_EQ(Text("untouched"), out);
    EXPECT_EQ(NPT_SUCCESS, Serialize(writer, 2024, out));
}

TEST(CheckFileTest, ReaderRefusesStepsOutOfOrder)
{
    const Bytes file = MakeCheckFile(Text("pw"), Data(100));
    TVK_CheckFileReader reader;
    EXPECT_EQ(NPT_ERROR_INVALID_STATE, reader.VerifyPassword(reinterpret_cast<const NPT_UInt8*>("pw"), 2));
    ASSERT_EQ(NPT_SUCCESS, Parse(reader, file));
    EXPECT_EQ(NPT_ERROR_INVALID_STATE, Parse(reader, file)) << "parsed twice";
    EXPECT_EQ(NPT_ERROR_INVALID_STATE, reader.VerifyBlock(0, Data(100).data(), 100)) << "no password yet";
    EXPECT_EQ(NPT_ERROR_INVALID_STATE, reader.VerifyBlocks(0, Data(100).data(), 100)) << "no password yet";
    EXPECT_EQ(NPT_ERROR_INVALID_PARAMETERS, reader.VerifyPassword(nullptr, 2));
}

TEST(CheckFileTest, BlockSizeGrowsOnlyForDataBeyondTheBlockLimit)
{
    const NPT_UInt64 limit = TVK_CheckFile::MAX_BLOCKS * TVK_CheckFile::DEFAULT_BLOCK_SIZE;
    EXPECT_EQ(TVK_CheckFile::DEFAULT_BLOCK_SIZE, TVK_CheckFile::BlockSizeFor(0));
    EXPECT_EQ(TVK_CheckFile::DEFAULT_BLOCK_SIZE, TVK_CheckFile::BlockSizeFor(limit));
    EXPECT_EQ(2 * TVK_CheckFile::DEFAULT_BLOCK_SIZE, TVK_CheckFile::BlockSizeFor(limit + 1));
    EXPECT_EQ(TVK_CheckFile::MAX_BLOCK_SIZE, TVK_CheckFile::BlockSizeFor(~NPT_UInt64(0)));
}

TEST(CheckFileTest, IterationChoiceScalesAndClamps)
{
    EXPECT_EQ(300000u, TVK_CheckFile::ChooseIterations(1.5e6, 0.2));
    EXPECT_EQ(100000u, TVK_CheckFile::ChooseIterations(1000, 0.2)) << "a slow machine still gets the floor";
    EXPECT_EQ(100000u, TVK_CheckFile::ChooseIterations(0, 0.2)) << "a failed measurement";
    EXPECT_EQ(TVK_CheckFile::MAX_ITERATIONS / 4, TVK_CheckFile::ChooseIterations(1e12, 0.2));
}

} // namespace
