#include "platform/stream.h"
#include "support/temp_files.h"

#include <gtest/gtest.h>

namespace {

const Bytes kContent = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};

// The same walk over any stream holding kContent.
void ExpectStreamBehaviour(TStream& stream) {
    EXPECT_EQ(stream.Size(), kContent.size());
    Bytes four(4);
    stream.ReadExact(four);
    EXPECT_EQ(four, Bytes(kContent.begin(), kContent.begin() + 4));
    stream.Seek(8);
    EXPECT_EQ(stream.Read(four), 2u);
    EXPECT_EQ(stream.Position(), 10u);
    stream.Seek(8);
    EXPECT_THROW(stream.ReadExact(four), platform::IoError);
    stream.Seek(100);
    EXPECT_EQ(stream.Read(four), 0u);
    EXPECT_EQ(stream.Position(), 100u);
}

TEST(Stream, FileStream) {
    const TempDir dir;
    auto stream = TFileStream::Open(dir.Write("data.bin", kContent));
    ASSERT_NE(stream, nullptr);
    EXPECT_FALSE(stream->Memory().has_value());
    ExpectStreamBehaviour(*stream);
    EXPECT_EQ(TFileStream::Open(WideName(dir / "missing.bin")), nullptr);
}

TEST(Stream, MemoryStream) {
    TMemoryStream stream(kContent);
    ASSERT_TRUE(stream.Memory().has_value());
    EXPECT_EQ(stream.Memory()->size(), kContent.size());
    ExpectStreamBehaviour(stream);
}

TEST(Stream, TempMemoryStreamBorrowsWithoutCopying) {
    TTempMemoryStream stream;
    EXPECT_EQ(stream.Size(), 0u);
    stream.SetPointer(kContent);
    ASSERT_TRUE(stream.Memory().has_value());
    EXPECT_EQ(stream.Memory()->data(), kContent.data());
    ExpectStreamBehaviour(stream);
    stream.SetPointer(kContent);  // rewinds
    EXPECT_EQ(stream.Position(), 0u);
}

}  // namespace
