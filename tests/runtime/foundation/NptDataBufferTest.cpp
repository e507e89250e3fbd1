#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "NptDataBuffer.h"

namespace {

const NPT_Byte kBytes[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};

// Puts the first data_size bytes of kBytes into buffer (whose capacity
// is at least that).
void
Fill(NPT_DataBuffer& buffer, NPT_Size data_size)
{
    ASSERT_GE(buffer.GetBufferSize(), data_size);
    ASSERT_EQ(NPT_SUCCESS, buffer.SetData(kBytes, data_size));
}

bool
StartsWith(const NPT_DataBuffer& buffer, const NPT_Byte* bytes, NPT_Size size)
{
    return buffer.GetDataSize() >= size && std::memcmp(buffer.GetData(), bytes, size) == 0;
}

TEST(DataBuffer, ConstructorsSetOwnershipCapacityAndDataSize)
{
    NPT_DataBuffer sized(32);
    EXPECT_TRUE(sized.IsOwning());
    EXPECT_EQ(32u, sized.GetBufferSize());
    EXPECT_EQ(0u, sized.GetDataSize());
    EXPECT_EQ(nullptr, NPT_DataBuffer(NPT_Size(0)).GetData());

    NPT_DataBuffer copied(kBytes, 10, true);
    EXPECT_TRUE(copied.IsOwning());
    EXPECT_NE(kBytes, copied.GetData());
    EXPECT_EQ(10u, copied.GetBufferSize());
    EXPECT_TRUE(StartsWith(copied, kBytes, 10));

    NPT_Byte caller[6] = {9, 8, 7, 6, 5, 4};
    NPT_DataBuffer borrowed(caller, 6, false);
    EXPECT_FALSE(borrowed.IsOwning());
    EXPECT_EQ(caller, borrowed.GetData());
    EXPECT_EQ(6u, borrowed.GetBufferSize());
    EXPECT_EQ(6u, borrowed.GetDataSize());
}

TEST(DataBuffer, SetBufferBorrowsWithNoData)
{
    NPT_Byte caller[8];
    NPT_DataBuffer buffer(10);
    Fill(buffer, 10);
    EXPECT_EQ(NPT_SUCCESS, buffer.SetBuffer(caller, sizeof(caller)));
    EXPECT_FALSE(buffer.IsOwning());
    EXPECT_EQ(caller, buffer.UseData());
    EXPECT_EQ(8u, buffer.GetBufferSize());
    EXPECT_EQ(0u, buffer.GetDataSize());
}

struct ReserveCase {
    NPT_Size capacity;
    NPT_Size reserve;
    NPT_Size expected;
};

class DataBufferReserve : public ::testing::TestWithParam<ReserveCase> {};

TEST_P(DataBufferReserve, GrowsGeometricallyAndKeepsData)
{
    const ReserveCase& c = GetParam();
    NPT_Size data_size = c.capacity < 4 ? c.capacity : 4;
    NPT_DataBuffer buffer(c.capacity);
    Fill(buffer, data_size);
    const NPT_Byte* before = buffer.GetData();

    EXPECT_EQ(NPT_SUCCESS, buffer.Reserve(c.reserve));
    EXPECT_EQ(c.expected, buffer.GetBufferSize());
    EXPECT_EQ(data_size, buffer.GetDataSize());
    EXPECT_TRUE(StartsWith(buffer, kBytes, data_size));
    if (c.expected == c.capacity) {
        EXPECT_EQ(before, buffer.GetData());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DataBufferReserve,
    ::testing::Values(ReserveCase{10, 0, 10},   // nothing to do
                      ReserveCase{10, 10, 10},  // already there
                      ReserveCase{10, 3, 10},   // never shrinks
                      ReserveCase{10, 11, 20},  // doubles
                      ReserveCase{10, 25, 25},  // takes the size when larger
                      ReserveCase{0, 7, 7},     // from nothing: exactly the size
                      ReserveCase{1, 2, 2}));

// Records the sizes that reach the virtual SetBufferSize.
class RecordingBuffer : public NPT_DataBuffer
{
public:
    explicit RecordingBuffer(NPT_Size size) : NPT_DataBuffer(size) {}
    NPT_Result SetBufferSize(NPT_Size size) override
    {
        requested.push_back(size);
        return NPT_DataBuffer::SetBufferSize(size);
    }
    std::vector<NPT_Size> requested;
};

TEST(DataBuffer, ReserveGrowsThroughTheVirtualSetBufferSize)
{
    RecordingBuffer buffer(16);
    EXPECT_EQ(NPT_SUCCESS, buffer.Reserve(16));
    EXPECT_EQ(NPT_SUCCESS, buffer.Reserve(17));
    EXPECT_EQ(NPT_SUCCESS, buffer.Reserve(33));
    EXPECT_EQ((std::vector<NPT_Size>{32, 64}), buffer.requested);
}

TEST(DataBuffer, SetDataSizeGrowsExactlyAndKeepsData)
{
    NPT_DataBuffer buffer(10);
    Fill(buffer, 10);
    EXPECT_EQ(NPT_SUCCESS, buffer.SetDataSize(100));
    EXPECT_EQ(100u, buffer.GetBufferSize());
    EXPECT_EQ(100u, buffer.GetDataSize());
    EXPECT_TRUE(StartsWith(buffer, kBytes, 10));

    // shrinking the data keeps the block
    EXPECT_EQ(NPT_SUCCESS, buffer.SetDataSize(3));
    EXPECT_EQ(100u, buffer.GetBufferSize());
    EXPECT_TRUE(StartsWith(buffer, kBytes, 3));
}

TEST(DataBuffer, SetDataGrowsExactlyAndCopies)
{
    NPT_DataBuffer buffer(4);
    EXPECT_EQ(NPT_SUCCESS, buffer.SetData(kBytes, 10));
    EXPECT_EQ(10u, buffer.GetBufferSize());
    EXPECT_TRUE(StartsWith(buffer, kBytes, 10));

    // a null source only sets the size and keeps the bytes
    EXPECT_EQ(NPT_SUCCESS, buffer.SetData(nullptr, 4));
    EXPECT_EQ(4u, buffer.GetDataSize());
    EXPECT_EQ(NPT_SUCCESS, buffer.SetData(nullptr, 12));
    EXPECT_EQ(12u, buffer.GetBufferSize());
    EXPECT_TRUE(StartsWith(buffer, kBytes, 4));

    // a source inside the block itself
    ASSERT_EQ(NPT_SUCCESS, buffer.SetData(kBytes, 10));
    EXPECT_EQ(NPT_SUCCESS, buffer.SetData(buffer.GetData() + 2, 5));
    const NPT_Byte shifted[] = {3, 4, 5, 6, 7};
    EXPECT_TRUE(StartsWith(buffer, shifted, 5));
}

TEST(DataBuffer, SetBufferSizeAlwaysReallocatesAndRefusesToDropData)
{
    NPT_DataBuffer buffer(10);
    Fill(buffer, 6);
    const NPT_Byte* before = buffer.GetData();
    EXPECT_EQ(NPT_SUCCESS, buffer.SetBufferSize(10));
    EXPECT_NE(before, buffer.GetData());
    EXPECT_TRUE(StartsWith(buffer, kBytes, 6));

    EXPECT_EQ(NPT_SUCCESS, buffer.SetBufferSize(6));
    EXPECT_EQ(6u, buffer.GetBufferSize());

    before = buffer.GetData();
    EXPECT_EQ(NPT_ERROR_INVALID_PARAMETERS, buffer.SetBufferSize(5));
    EXPECT_EQ(before, buffer.GetData());
    EXPECT_EQ(6u, buffer.GetBufferSize());
    EXPECT_EQ(6u, buffer.GetDataSize());
    EXPECT_TRUE(StartsWith(buffer, kBytes, 6));
}

TEST(DataBuffer, BorrowedBufferRefusesGrowthAndStaysUnchanged)
{
    NPT_Byte caller[4] = {0xAA, 0xBB, 0xCC, 0xDD};
    NPT_DataBuffer buffer;
    buffer.SetBuffer(caller, sizeof(caller));
    ASSERT_EQ(NPT_SUCCESS, buffer.SetDataSize(2));

    EXPECT_EQ(NPT_ERROR_NOT_SUPPORTED, buffer.SetBufferSize(4));
    EXPECT_EQ(NPT_ERROR_NOT_SUPPORTED, buffer.Reserve(5));
    EXPECT_EQ(NPT_ERROR_NOT_SUPPORTED, buffer.SetDataSize(5));
    EXPECT_EQ(NPT_ERROR_INVALID_STATE, buffer.SetData(kBytes, 5));
    EXPECT_EQ(caller, buffer.GetData());
    EXPECT_EQ(4u, buffer.GetBufferSize());
    EXPECT_EQ(2u, buffer.GetDataSize());
    EXPECT_EQ(0xAA, caller[0]);

    // within the capacity the caller's bytes are used in place
    EXPECT_EQ(NPT_SUCCESS, buffer.Reserve(4));
    EXPECT_EQ(NPT_SUCCESS, buffer.SetData(kBytes, 4));
    EXPECT_EQ(0, std::memcmp(caller, kBytes, 4));
}

TEST(DataBuffer, ClearOnBorrowedKeepsCallersMemoryAndStillRefusesGrowth)
{
    // the caller's block is on the stack: freeing it would be caught
    NPT_Byte caller[4] = {1, 2, 3, 4};
    NPT_DataBuffer buffer(caller, sizeof(caller), false);
    EXPECT_EQ(NPT_SUCCESS, buffer.Clear());
    EXPECT_FALSE(buffer.IsOwning());
    EXPECT_EQ(nullptr, buffer.GetData());
    EXPECT_EQ(0u, buffer.GetBufferSize());
    EXPECT_EQ(NPT_ERROR_NOT_SUPPORTED, buffer.Reserve(1));
    EXPECT_EQ(NPT_ERROR_NOT_SUPPORTED, buffer.SetDataSize(1));
    EXPECT_EQ(NPT_ERROR_INVALID_STATE, buffer.SetData(kBytes, 1));
    EXPECT_EQ(4, caller[3]);
}

TEST(DataBuffer, NullBorrowedBlockHoldsNothing)
{
    NPT_DataBuffer wrapped(nullptr, 16, false);
    EXPECT_EQ(0u, wrapped.GetBufferSize());
    EXPECT_EQ(0u, wrapped.GetDataSize());
    EXPECT_EQ(NPT_ERROR_INVALID_STATE, wrapped.SetData(kBytes, 4));

    NPT_DataBuffer set;
    set.SetBuffer(nullptr, 16);
    EXPECT_EQ(0u, set.GetBufferSize());
    EXPECT_EQ(NPT_ERROR_NOT_SUPPORTED, set.SetDataSize(1));

    // copying from no data gives a block of the size asked for, of zeros
    // rather than whatever the memory held
    NPT_DataBuffer copied(nullptr, 16, true);
    EXPECT_TRUE(copied.IsOwning());
    EXPECT_EQ(16u, copied.GetBufferSize());
    ASSERT_EQ(16u, copied.GetDataSize());
    for (NPT_Size i = 0; i < 16; ++i) EXPECT_EQ(0, copied.GetData()[i]) << i;
}

TEST(DataBuffer, CopyConstructorTakesDataAssignmentTakesCapacity)
{
    NPT_DataBuffer source(10);
    Fill(source, 4);

    NPT_DataBuffer constructed(source);
    EXPECT_TRUE(constructed.IsOwning());
    EXPECT_EQ(4u, constructed.GetBufferSize());
    EXPECT_EQ(4u, constructed.GetDataSize());
    EXPECT_NE(source.GetData(), constructed.GetData());
    EXPECT_TRUE(StartsWith(constructed, kBytes, 4));

    NPT_DataBuffer assigned(3);
    assigned = source;
    EXPECT_TRUE(assigned.IsOwning());
    EXPECT_EQ(10u, assigned.GetBufferSize());
    EXPECT_EQ(4u, assigned.GetDataSize());
    EXPECT_NE(source.GetData(), assigned.GetData());
    EXPECT_TRUE(StartsWith(assigned, kBytes, 4));

    // bytes beyond the data size come along with the capacity
    source.SetDataSize(10);
    assigned.SetDataSize(10);
    EXPECT_TRUE(assigned == source);

    NPT_DataBuffer& same = assigned;
    const NPT_Byte* before = assigned.GetData();
    assigned = same;
    EXPECT_EQ(before, assigned.GetData());
    EXPECT_EQ(10u, assigned.GetBufferSize());

    NPT_DataBuffer empty;
    assigned = empty;
    EXPECT_EQ(0u, assigned.GetBufferSize());
    EXPECT_EQ(nullptr, assigned.GetData());
}

TEST(DataBuffer, CopiesOfBorrowedBuffersOwnTheirBytes)
{
    NPT_Byte caller[4] = {1, 2, 3, 4};
    NPT_DataBuffer borrowed(caller, sizeof(caller), false);

    NPT_DataBuffer constructed(borrowed);
    EXPECT_TRUE(constructed.IsOwning());
    EXPECT_NE(caller, constructed.GetData());

    // assigning into a borrowing buffer must not free the caller's block
    NPT_Byte other[2] = {7, 7};
    NPT_DataBuffer target(other, sizeof(other), false);
    target = borrowed;
    EXPECT_TRUE(target.IsOwning());
    EXPECT_NE(caller, target.GetData());
    EXPECT_EQ(4u, target.GetBufferSize());
    caller[0] = 99;
    EXPECT_EQ(1, target.GetData()[0]);
    EXPECT_EQ(1, constructed.GetData()[0]);
    EXPECT_EQ(7, other[0]);
}

TEST(DataBuffer, EqualityComparesDataOnly)
{
    NPT_Byte caller[4] = {1, 2, 3, 4};
    NPT_DataBuffer borrowed(caller, 4, false);
    NPT_DataBuffer owned(50);
    Fill(owned, 4);
    EXPECT_TRUE(borrowed == owned);
    EXPECT_FALSE(borrowed != owned);

    caller[3] = 0;
    EXPECT_FALSE(borrowed == owned);

    NPT_DataBuffer shorter(4);
    Fill(shorter, 3);
    EXPECT_FALSE(shorter == owned);

    NPT_DataBuffer empty;
    NPT_DataBuffer empty_with_block(100);
    EXPECT_TRUE(empty == empty_with_block);
}

} // namespace
