// The block pipeline: check blocks larger than a worker's buffer are
// tagged and verified in pieces, in every way the output allows, with
// the same tags and the same refusals as whole blocks; and a worker's
// buffer is sized by the data and a cap, not by the check file's block
// size (1 GiB blocks over 11 bytes used to take 1 GiB per worker).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "FileHandle.h"
#include "NptDataBuffer.h"
#include "OutputPlace.h"
#include "TempOutput.h"
#include "TestTempDirectory.h"
#include "TvkCheckFile.h"
#include "TvkTransform.h"

using namespace tvkcrypt;

namespace {

const NPT_UInt32 kCheckBlock = 16 * 1024;
const std::size_t kSmallBuffer = 4096;
const NPT_UInt8 kKey[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

std::string Pattern(std::size_t size)
{
    std::string data(size, '\0');
    for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<char>((i * 131 + i / 977) & 0xff);
    return data;
}

const NPT_UInt8* Bytes(const std::string& text) { return reinterpret_cast<const NPT_UInt8*>(text.data()); }

// The data's check file: blocks of block_size, a fixed salt.
void StartWriter(TVK_CheckFileWriter& writer, NPT_UInt32 block_size)
{
    const NPT_UInt8 salt[TVK_CheckFile::SALT_SIZE] = {9};
    ASSERT_EQ(NPT_SUCCESS, writer.Start(Bytes("pw"), 2, salt, sizeof(salt), TVK_CheckFile::MIN_ITERATIONS,
                                        block_size));
}

std::string Serialized(const TVK_CheckFileWriter& writer, NPT_UInt64 size)
{
    NPT_DataBuffer bytes;
    EXPECT_EQ(NPT_SUCCESS, writer.Serialize(size, bytes));
    return std::string(reinterpret_cast<const char*>(bytes.GetData()), bytes.GetDataSize());
}

// A job over the file at path into a fresh temporary, whose content is
// returned in output.
struct JobRun {
    TransformJob     job;
    TransformOutcome outcome;
    std::string      output;

    void Go(const tvk_test::TempDirectory& dir, const std::string& input)
    {
        tvk_test::WriteFileBytes(dir / "in", input);
        FileHandle in;
        ASSERT_EQ(0, OpenForReading((dir / "in").c_str(), in));
        OutputPlace place;
        ASSERT_EQ(0, place.Locate(dir / "out", false));
        TempOutput temp;
        ASSERT_EQ(0, temp.Create(place));
        NPT_UInt8 key[16], next_key[16];
        std::memcpy(key, kKey, sizeof(key));
        if (job.next_key != nullptr) {
            std::memcpy(next_key, job.next_key, sizeof(next_key));
            job.next_key = next_key;
        }
        job.input = &in;
        job.output = &temp.File();
        job.bounded = job.input_seekable;
        job.length = input.size();
        job.key = key;
        outcome = RunTransform(job);
        output.assign(outcome.bytes_done, '\0');
        std::size_t got = 0;
        EXPECT_EQ(0, ReadAt(temp.File(), &output[0], output.size(), 0, got));
    }
};

// data encrypted from a file into a file and tagged with blocks of
// block_size, buffers of at most limit bytes and two workers; the check
// file in check_file.
JobRun Encrypt(const tvk_test::TempDirectory& dir, const std::string& data, NPT_UInt32 block_size,
               std::size_t limit, std::string& check_file)
{
    JobRun run;
    run.job.input_seekable = true;
    run.job.output_positioned = true;
    run.job.buffer_limit = limit;
    run.job.workers = 2;
    TVK_CheckFileWriter writer;
    StartWriter(writer, block_size);
    run.job.tag = &writer;
    run.Go(dir, data);
    EXPECT_EQ(TransformOutcome::NONE, run.outcome.failure);
    check_file = Serialized(writer, data.size());
    return run;
}

class TransformTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        clear = Pattern(3 * kCheckBlock + 5000);
        // the ciphertext under kKey, and its check file, from whole blocks
        JobRun whole = Encrypt(dir, clear, kCheckBlock, kBufferLimit, check_file);
        ciphertext = whole.output;
        ASSERT_EQ(NPT_SUCCESS, reader.Parse(Bytes(check_file), static_cast<NPT_Size>(check_file.size())));
        ASSERT_EQ(NPT_SUCCESS, reader.VerifyPassword(Bytes("pw"), 2));
    }

    tvk_test::TempDirectory dir;
    std::string             clear, ciphertext, check_file;
    TVK_CheckFileReader     reader;
};

TEST_F(TransformTest, PiecesTagAsWholeBlocksDo)
{
    std::string pieces_check;
    JobRun pieces = Encrypt(dir, clear, kCheckBlock, kSmallBuffer, pieces_check);
    EXPECT_EQ(kSmallBuffer, pieces.outcome.buffer_size);
    EXPECT_TRUE(pieces.output == ciphertext);
    EXPECT_TRUE(pieces_check == check_file);
}

// Each way of verifying: whole blocks (two workers), pieces decrypted as
// they pass into a discarded output, pieces read twice into any other,
// and an input read in order that cannot be read twice.
TEST_F(TransformTest, PiecesVerifyAsWholeBlocksDoAndFindTheSameBlock)
{
    struct Case {
        const char* what;
        std::size_t limit;
        bool        positioned, discarded, seekable;
        bool        supported;
    } cases[] = {
        {"whole blocks", kBufferLimit, true, true, true, true},
        {"pieces into a discarded output", kSmallBuffer, true, true, true, true},
        {"pieces read twice", kSmallBuffer, false, false, true, true},
        {"pieces read in order into a discarded output", kSmallBuffer, false, true, false, true},
        {"pieces read in order into a stream", kSmallBuffer, false, false, false, false},
    };
    const std::size_t flipped = 2 * kCheckBlock + 100;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (bool damaged : {false, true}) {
            std::string input = ciphertext;
            if (damaged) input[flipped] ^= 0x10;
            JobRun run;
            run.job.input_seekable = c.seekable;
            run.job.output_positioned = c.positioned;
            run.job.output_discarded_on_failure = c.discarded;
            run.job.buffer_limit = c.limit;
            run.job.workers = 2;
            run.job.verify = &reader;
            run.Go(dir, input);
            if (!c.supported) {
                EXPECT_EQ(TransformOutcome::CIPHER, run.outcome.failure);
                EXPECT_EQ(NPT_ERROR_NOT_SUPPORTED, run.outcome.result);
            } else if (damaged) {
                EXPECT_EQ(TransformOutcome::DATA_CHANGED, run.outcome.failure);
                EXPECT_EQ(2 * kCheckBlock, run.outcome.damaged_offset);
                // the blocks before the damaged one, and none of it unless discarded
                EXPECT_LE(run.output.size(), c.discarded ? input.size() : 2 * kCheckBlock);
            } else {
                EXPECT_EQ(TransformOutcome::NONE, run.outcome.failure);
                EXPECT_TRUE(run.output == clear);
            }
        }
    }
}

// Going on past damage: every damaged block is listed, its bytes in the
// output are zeros, and the others are decrypted, in order and not.
TEST_F(TransformTest, DamagedBlocksAreListedAndZeroed)
{
    std::string input = ciphertext;
    input[100] ^= 1;                        // block 0
    input[2 * kCheckBlock + 7] ^= 1;        // block 2
    input[3 * kCheckBlock + 4999] ^= 1;     // block 3, the short last one
    std::string expected = clear;
    expected.replace(0, kCheckBlock, kCheckBlock, '\0');
    expected.replace(2 * kCheckBlock, clear.size() - 2 * kCheckBlock, clear.size() - 2 * kCheckBlock, '\0');
    for (bool positioned : {true, false}) {
        SCOPED_TRACE(positioned ? "positioned" : "in order");
        std::vector<NPT_UInt64> damaged;
        JobRun run;
        run.job.input_seekable = true;
        run.job.output_positioned = positioned;
        run.job.workers = 2;
        run.job.buffer_limit = kCheckBlock;  // a step per check block
        run.job.verify = &reader;
        run.job.damaged_blocks = &damaged;
        run.Go(dir, input);
        EXPECT_EQ(TransformOutcome::NONE, run.outcome.failure);
        std::sort(damaged.begin(), damaged.end());
        EXPECT_EQ(damaged, (std::vector<NPT_UInt64>{0, 2, 3}));
        EXPECT_TRUE(run.output == expected);
    }
}

// A second key stream in the same pass: the ciphertext under kKey
// becomes the one under another key, verified against the old tags as
// it is read and tagged anew as it is made.
TEST_F(TransformTest, SecondKeyStreamRekeysInOnePass)
{
    NPT_UInt8 new_key[16] = {42};
    JobRun rekey;
    rekey.job.input_seekable = true;
    rekey.job.output_positioned = true;
    rekey.job.workers = 2;
    rekey.job.next_key = new_key;
    rekey.job.verify = &reader;
    TVK_CheckFileWriter writer;
    StartWriter(writer, kCheckBlock);
    rekey.job.tag = &writer;
    rekey.Go(dir, ciphertext);
    ASSERT_EQ(TransformOutcome::NONE, rekey.outcome.failure);
    // once more through both streams: kKey's ciphertext again, so the
    // output was the clear text under the new key alone
    JobRun back;
    back.job.input_seekable = true;
    back.job.output_positioned = true;
    back.job.next_key = new_key;
    back.Go(dir, rekey.output);
    EXPECT_TRUE(back.output == ciphertext);
    const std::string new_check = Serialized(writer, clear.size());
    TVK_CheckFileReader new_reader;
    ASSERT_EQ(NPT_SUCCESS, new_reader.Parse(Bytes(new_check), static_cast<NPT_Size>(new_check.size())));
    ASSERT_EQ(NPT_SUCCESS, new_reader.VerifyPassword(Bytes("pw"), 2));
    EXPECT_EQ(NPT_SUCCESS, new_reader.VerifyBlocks(0, Bytes(rekey.output), static_cast<NPT_Size>(clear.size())));
}

TEST(TransformPlanTest, BuffersAreSizedByTheDataAndACapNotByTheCheckBlock)
{
    tvk_test::TempDirectory dir;
    struct Case {
        std::size_t size;
        NPT_UInt32  block_size;
        std::size_t buffer;
        unsigned    workers;
    } cases[] = {
        {11, TVK_CheckFile::MAX_BLOCK_SIZE, 11, 1},
        {3 << 20, TVK_CheckFile::MAX_BLOCK_SIZE, 3 << 20, 1},
        {3 << 20, 4 << 20, 3 << 20, 1},
        {kBufferLimit + 1, TVK_CheckFile::MAX_BLOCK_SIZE, kBufferLimit, 1},
        {3 << 20, TVK_CheckFile::DEFAULT_BLOCK_SIZE, kBlockSize, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.size) + " bytes, blocks of " + std::to_string(c.block_size));
        std::string check_file;
        JobRun run = Encrypt(dir, std::string(c.size, 'x'), c.block_size, kBufferLimit, check_file);
        EXPECT_EQ(c.buffer, run.outcome.buffer_size);
        EXPECT_EQ(c.workers, run.outcome.workers);
    }
}

}  // namespace
