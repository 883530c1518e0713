// The reference-counted path string, the file source and the in-memory source.
#include "decode/source.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decode/decoder.h"
#include "decode/memory_source.h"
#include "test_support.h"

namespace br {
namespace {

// ---- WideString --------------------------------------------------------------------------

TEST(WideStringTest, EmptyStringsShareOneUncountedBlock) {
    WideString a;
    WideString b(nullptr);
    WideString c(u"");
    EXPECT_EQ(a.c_str(), b.c_str());
    EXPECT_EQ(a.c_str(), c.c_str());
    EXPECT_EQ(a.RefCount(), -1);
    EXPECT_EQ(a.Length(), 0);
    EXPECT_EQ(a.Capacity(), 0);
    EXPECT_EQ(a.c_str()[0], 0);
    a.Assign(u"abc", 0);  // nothing to copy: stays on the shared block
    EXPECT_EQ(a.c_str(), b.c_str());
    WideString copy(a);
    EXPECT_EQ(copy.RefCount(), -1);
}

TEST(WideStringTest, AssignKeepsAPrivateBlockThatIsLargeEnough) {
    WideString s(u"12345678");
    const char16_t* block = s.c_str();
    EXPECT_EQ(s.Capacity(), 8);
    EXPECT_EQ(s.RefCount(), 1);

    s.Assign(u"hello");
    EXPECT_EQ(s.c_str(), block);
    EXPECT_EQ(s.Capacity(), 8);
    EXPECT_EQ(s.Length(), 5);
    EXPECT_EQ(std::u16string(s.c_str()), u"hello");

    s.Assign(u"123456789");
    EXPECT_EQ(s.Capacity(), 9);
    EXPECT_EQ(s.Length(), 9);
    EXPECT_EQ(std::u16string(s.c_str()), u"123456789");

    s.Assign(u"", 0);  // a private block stays, now holding nothing
    EXPECT_EQ(s.Length(), 0);
    EXPECT_EQ(s.RefCount(), 1);
    EXPECT_EQ(s.c_str()[0], 0);

    // A null text counts as empty: the block stays and nothing is read from the null pointer.
    s.Assign(u"xy");
    s.Assign(nullptr);
    EXPECT_EQ(s.Length(), 0);
    EXPECT_EQ(s.Capacity(), 9);
    EXPECT_EQ(s.c_str()[0], 0);
}

TEST(WideStringTest, AssignToASharedBlockLeavesTheOtherHolderAlone) {
    WideString a(u"picture.gif");
    WideString b(a);
    EXPECT_EQ(a.c_str(), b.c_str());
    EXPECT_EQ(a.RefCount(), 2);

    b.Assign(u"x");  // shared: b gets its own block although the old one is large enough
    EXPECT_NE(a.c_str(), b.c_str());
    EXPECT_EQ(std::u16string(a.c_str()), u"picture.gif");
    EXPECT_EQ(std::u16string(b.c_str()), u"x");
    EXPECT_EQ(a.RefCount(), 1);
    EXPECT_EQ(b.Capacity(), 1);

    WideString c(a);
    c.Release();
    EXPECT_EQ(c.RefCount(), -1);
    EXPECT_EQ(a.RefCount(), 1);
}

TEST(WideStringTest, AssigningPartOfItsOwnTextWorks) {
    WideString s(u"abcdef");
    s.Assign(s.c_str() + 2);
    EXPECT_EQ(std::u16string(s.c_str()), u"cdef");
    WideString t(u"ab");
    WideString u(t);
    t.Assign(t.c_str(), 2);  // shared block: the new block is copied from the old one
    EXPECT_EQ(std::u16string(t.c_str()), u"ab");
}

// ---- Memory source -----------------------------------------------------------------------

TEST(MemorySourceTest, ReadsStopAtTheEndAndAtTheChunkLimit) {
    const std::vector<std::uint8_t> bytes = {1, 2, 3, 4, 5, 6, 7};
    MemorySource source(bytes, 3);
    EXPECT_EQ(source.size, 7u);
    std::uint8_t buffer[8] = {};
    EXPECT_EQ(source.Read(buffer, 8), 3u);  // the chunk limit
    EXPECT_EQ(source.Tell(), 3);
    source.Seek(5, 0);
    EXPECT_EQ(source.Read(buffer, 8), 2u);  // across the end
    EXPECT_EQ(buffer[0], 6);
    EXPECT_EQ(buffer[1], 7);
    EXPECT_EQ(source.Read(buffer, 8), 0u);
}

TEST(MemorySourceTest, SeeksLikeAFileStream) {
    const std::vector<std::uint8_t> bytes(10, 0);
    MemorySource source(bytes);
    source.Seek(4, 0);
    source.Seek(3, 1);
    EXPECT_EQ(source.Tell(), 7);
    source.Seek(-1, 2);
    EXPECT_EQ(source.Tell(), 9);
    source.Seek(0, 3);  // unknown origin
    EXPECT_EQ(source.Tell(), 9);
    source.Seek(-20, 1);  // before the start: refused
    EXPECT_EQ(source.Tell(), 9);
    source.Seek(15, 0);  // past the end: allowed, nothing to read
    std::uint8_t byte = 0;
    EXPECT_EQ(source.Read(&byte, 1), 0u);
}

// ---- File source -------------------------------------------------------------------------

class FileSourceTest : public ::testing::Test {
  protected:
    test::DeviceFiles files;
};

TEST_F(FileSourceTest, OpenWithoutAPathFailsAndNamesNothing) {
    CDataDrmFile source;
    EXPECT_EQ(source.Open(nullptr), 0);
    EXPECT_EQ(source.Open(u""), 0);
    EXPECT_EQ(source.GetName()[0], 0);
    EXPECT_EQ(source.size, 0u);
}

TEST_F(FileSourceTest, AMissingFileLeavesNoSource) {
    CDataDrmFile source;
    EXPECT_EQ(source.Open(u"\\missing.gif"), 0);
    EXPECT_EQ(source.size, 0u);
    EXPECT_EQ(std::u16string(source.GetName()), u"\\missing.gif");  // the path is kept

    CDataSource2* out = reinterpret_cast<CDataSource2*>(&source);  // must be overwritten
    EXPECT_EQ(CreateFileSource(u"\\missing.gif", &out), 0);
    EXPECT_EQ(out, nullptr);
}

TEST_F(FileSourceTest, ReadsTellsAndSeeksTheFilesBytes) {
    const std::u16string path = files.Write("seven.bin", {10, 11, 12, 13, 14, 15, 16});
    CDataSource2* source = nullptr;
    ASSERT_EQ(CreateFileSource(path.c_str(), &source), 1);
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(source->size, 7u);
    EXPECT_EQ(source->Tell(), 0);
    EXPECT_EQ(std::u16string(source->GetName()), path);

    std::uint8_t buffer[8] = {};
    source->Seek(5, 0);
    EXPECT_EQ(source->Read(buffer, 8), 2u);  // across the end: only what is there
    EXPECT_EQ(buffer[0], 15);
    EXPECT_EQ(buffer[1], 16);
    EXPECT_EQ(source->Read(buffer, 8), 0u);  // at the end

    source->Seek(2, 0);
    source->Seek(1, 1);
    EXPECT_EQ(source->Tell(), 3);
    source->Seek(1, 3);  // unknown origin: nothing changes
    source->Seek(1, -1);
    EXPECT_EQ(source->Tell(), 3);
    source->Seek(0, 2);
    EXPECT_EQ(source->Tell(), 7);
    delete source;
}

TEST_F(FileSourceTest, AnEmptyFileOpensWithSizeZeroAndNoFormat) {
    const std::u16string path = files.Write("empty.gif", {});
    CDataDrmFile source;
    ASSERT_EQ(source.Open(path.c_str()), 1);
    EXPECT_EQ(source.size, 0u);
    EXPECT_EQ(DetectImageFormat(&source), FormatNone);
}

}  // namespace
}  // namespace br
