// NPT_StringOutputStream: appending to an owned or a caller's string.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "NptStreamCopy.h"
#include "NptStringOutputStream.h"
#include "TestStreams.h"

using tvk_test::FakeInputStream;
using tvk_test::MakePattern;

namespace {

TEST(StringOutputStream, AppendsAndCannotSeek)
{
    NPT_StringOutputStream stream;
    NPT_Size written = 0;
    EXPECT_EQ(NPT_SUCCESS, stream.Write("ab", 2, &written));
    EXPECT_EQ(2u, written);
    EXPECT_EQ(NPT_SUCCESS, stream.Write("cd", 2));
    EXPECT_EQ(NPT_SUCCESS, stream.Write(nullptr, 0));
    // bytes that cannot be read are refused, not counted as written
    written = 99;
    EXPECT_EQ(NPT_ERROR_INVALID_PARAMETERS, stream.Write(nullptr, 3, &written));
    EXPECT_EQ(0u, written);
    EXPECT_TRUE(stream.GetString() == "abcd");
    NPT_Position position = 0;
    EXPECT_EQ(NPT_SUCCESS, stream.Tell(position));
    EXPECT_EQ(4u, position);
    EXPECT_EQ(NPT_ERROR_NOT_SUPPORTED, stream.Seek(0));
    EXPECT_EQ(NPT_ERROR_NOT_SUPPORTED, stream.Seek(4));
    EXPECT_TRUE(stream.GetString() == "abcd");
}

TEST(StringOutputStream, CallersStringKeepsItsTextAndOutlivesTheStream)
{
    NPT_String text("x");
    {
        NPT_StringOutputStream stream(&text);
        EXPECT_EQ(NPT_SUCCESS, stream.WriteLine("ab"));
        NPT_Position position = 0;
        stream.Tell(position);
        EXPECT_EQ(5u, position);   // the length, earlier text included
    }
    EXPECT_TRUE(text == "xab\r\n");

    // no string given: the stream keeps one of its own
    NPT_StringOutputStream own(static_cast<NPT_String*>(nullptr));
    EXPECT_EQ(NPT_SUCCESS, own.WriteString("ok"));
    EXPECT_TRUE(own.GetString() == "ok");
}

TEST(StringOutputStream, CollectsACopyWithEmbeddedZeros)
{
    // the managed entry's path: a handle to the string stream passed as
    // an output stream handle, filled by a copy of binary data
    std::vector<NPT_Byte> data = MakePattern(150000);
    data[10] = 0;
    FakeInputStream source(data);
    NPT_Reference<NPT_StringOutputStream> strings(new NPT_StringOutputStream(4096));
    EXPECT_GE(strings->GetString().GetCapacity(), 4096u);
    NPT_OutputStreamReference sink(strings);
    ASSERT_EQ(NPT_SUCCESS, NPT_StreamToStreamCopy(source, *sink));
    sink = NPT_OutputStreamReference();

    const NPT_String& result = strings->GetString();
    ASSERT_EQ(150000u, result.GetLength());
    EXPECT_EQ(0, std::memcmp(data.data(), result.GetChars(), data.size()));
    EXPECT_EQ('\0', result.GetChars()[150000]);
}

} // namespace
