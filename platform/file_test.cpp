// The file lock and identity that the description file's appends and the
// exchange copies rely on, on real files; the same on Linux and under Wine.
#include "platform/file.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace vorin::platform {
namespace {

struct Open {
    Open(const std::string& path, FileOpenMode mode)
        : h(FileOpen(path.c_str(), mode, false).handle) {}
    ~Open() {
        if (h >= 0) FileClose(h);
    }
    std::int32_t h;
};

// Two handles of one program exclude each other as two programs do, and the
// lock stops no one's reads of the data (a Windows byte-range lock would).
TEST(FileLock, ExclusiveKeepsOutEveryOtherLockButNoReader) {
    vorin::test::TempDir dir;
    const std::string path = dir.File("ECRTBUF.TXT");
    ASSERT_TRUE(vorin::test::WriteWholeFile(path, "$abc\r\n"));
    Open writer(path, FileOpenMode::ReadWrite);
    Open other(path, FileOpenMode::ReadWrite);
    Open reader(path, FileOpenMode::Read);
    ASSERT_GE(writer.h, 0);
    ASSERT_GE(other.h, 0);
    ASSERT_GE(reader.h, 0);

    ASSERT_TRUE(FileLock(writer.h, true, 0));
    EXPECT_FALSE(FileLock(other.h, true, 50));
    EXPECT_FALSE(FileLock(reader.h, false, 0));
    char bytes[8] = {};
    EXPECT_EQ(FileRead(reader.h, bytes, sizeof bytes), 6);
    ASSERT_TRUE(FileUnlock(writer.h));

    // Shared locks go together and keep the exclusive one out.
    EXPECT_TRUE(FileLock(reader.h, false, 0));
    EXPECT_TRUE(FileLock(other.h, false, 0));
    EXPECT_FALSE(FileLock(writer.h, true, 0));
    EXPECT_TRUE(FileUnlock(other.h));
    EXPECT_TRUE(FileUnlock(reader.h));
    EXPECT_TRUE(FileLock(writer.h, true, 0));
}

TEST(FileIdentity, SameFileWhateverThePath) {
    vorin::test::TempDir dir;
    ASSERT_TRUE(vorin::test::WriteWholeFile(dir.File("a.txt"), "a"));
    ASSERT_TRUE(vorin::test::WriteWholeFile(dir.File("b.txt"), "b"));
    Open a(dir.File("a.txt"), FileOpenMode::Read);
    // Another name for the same file, opened another way.
    Open again(dir.Path() + "/./a.txt", FileOpenMode::Append);
    Open b(dir.File("b.txt"), FileOpenMode::Read);
    FileIdentity ia{}, iagain{}, ib{};
    ASSERT_TRUE(FileGetIdentity(a.h, ia));
    ASSERT_TRUE(FileGetIdentity(again.h, iagain));
    ASSERT_TRUE(FileGetIdentity(b.h, ib));
    EXPECT_TRUE(ia == iagain);
    EXPECT_FALSE(ia == ib);
    EXPECT_EQ(FileSize(a.h), 1);
}

}  // namespace
}  // namespace vorin::platform
