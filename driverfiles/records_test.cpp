#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "driverfiles/records.h"
#include "driverfiles/helper_process.h"
#include "platform/errors.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"
#include "vorin/driver.h"

namespace df = vorin::driverfiles;
using vorin::test::ReadWholeFile;
using vorin::test::TempDir;
using vorin::test::WriteWholeFile;

namespace {

std::vector<std::pair<char, uint32_t>> gNotices;
void RecordNotice(char code, uint32_t count) { gNotices.emplace_back(code, count); }

class RecordsTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto& st = df::TheDriverFileState();
        st.exclusiveOpen = true;
        st.rewrite = false;
        st.linesPeriod = 0;
        st.outlinesPeriod = 0;
        df::ResetDriverFileCounters();
        df::SetLineTerminator("\r\n");
        df::SetLineCountNotice(nullptr);
        gNotices.clear();
    }
    void TearDown() override {
        df::SetLineCountNotice(nullptr);
        df::SetLineTerminator("\r\n");
        df::TheDriverFileState().exclusiveOpen = true;
    }

    // Writes the bytes to a file and opens it for reading.
    int32_t OpenWith(const std::string& bytes, const char* name = "in.txt") {
        std::string path = dir_.File(name);
        WriteWholeFile(path, bytes);
        int32_t h = -1;
        EXPECT_TRUE(OtwartoPlik(&h, path.c_str(), 0));
        handles_.push_back(h);
        return h;
    }
    // All raw lines with their results, until two reads in a row report nothing.
    std::string ReadLine(int32_t h, uint8_t* ok = nullptr) {
        char text[256];
        std::memset(text, 'X', sizeof text);
        uint8_t r = OdczytanoZPlikuLinie(h, text);
        if (ok != nullptr) *ok = r;
        EXPECT_EQ(text[255], '\0');
        return text;
    }
    ~RecordsTest() override {
        for (int32_t& h : handles_) ZamknieciePliku(&h);
    }

    TempDir dir_;
    std::vector<int32_t> handles_;
};

TEST_F(RecordsTest, RawLinesFollowTheTerminatorMatchingRule) {
    int32_t h = OpenWith("abc\r\nab\rcd\r\nx\r\r\ny\r\nlast");
    uint8_t ok = 0;
    EXPECT_EQ(ReadLine(h, &ok), "abc");
    EXPECT_TRUE(ok);
    EXPECT_TRUE(df::TheDriverFileState().lastLineTerminated);
    EXPECT_EQ(ReadLine(h), "ab\rcd");
    // CR CR LF ends no line: the second CR is not tried again as a start.
    EXPECT_EQ(ReadLine(h), std::string("x\r\r\ny"));
    EXPECT_EQ(ReadLine(h, &ok), "last");
    EXPECT_TRUE(ok);
    EXPECT_FALSE(df::TheDriverFileState().lastLineTerminated);
    EXPECT_TRUE(Moje_feof(h));
    EXPECT_EQ(ReadLine(h, &ok), "");
    EXPECT_FALSE(ok);
    EXPECT_FALSE(df::TheDriverFileState().lastLineTerminated);
}

TEST_F(RecordsTest, EndOfFileKeepsTheTerminatedFlagOfTheLastLine) {
    int32_t h = OpenWith("abc\r\n");
    EXPECT_EQ(ReadLine(h), "abc");
    uint8_t ok = 1;
    ReadLine(h, &ok);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(df::TheDriverFileState().lastLineTerminated);
}

TEST_F(RecordsTest, PartialTerminatorAtTheEndBelongsToTheLine) {
    int32_t h = OpenWith("abc\r");
    EXPECT_EQ(ReadLine(h), "abc\r");
    EXPECT_FALSE(df::TheDriverFileState().lastLineTerminated);
}

TEST_F(RecordsTest, ConfiguredTerminatorOfSeveralBytes) {
    ASSERT_TRUE(df::SetLineTerminator("END"));
    int32_t h = OpenWith("oneENDaEENDbENDtwoEN");
    EXPECT_EQ(ReadLine(h), "one");
    EXPECT_EQ(ReadLine(h), "aEENDb");
    EXPECT_EQ(ReadLine(h), "twoEN");
    EXPECT_FALSE(df::SetLineTerminator(""));
    EXPECT_FALSE(df::SetLineTerminator(std::string(256, 'x')));
    EXPECT_EQ(df::LineTerminator(), "END");
}

TEST_F(RecordsTest, LineLengthLimitAndTheUnreadRest) {
    std::string l255(255, 'a');
    std::string l300(256, 'b');
    l300 += std::string(44, 'c');
    int32_t h = OpenWith(l255 + "\r\n" + l300 + "\r\n" + "$next\r\n");
    uint8_t ok = 0;
    EXPECT_EQ(ReadLine(h, &ok), l255);
    EXPECT_TRUE(ok);
    EXPECT_EQ(ReadLine(h, &ok), "");
    EXPECT_FALSE(ok);
    EXPECT_EQ(ReadLine(h), std::string(44, 'c'));  // the rest of the long line stays unread
    char text[256];
    uint8_t fe = 9;
    EXPECT_TRUE(OdczytanoZPlikuLinieDanych(h, text, &fe));
    EXPECT_STREQ(text, "next");
}

TEST_F(RecordsTest, PartialTerminatorCannotPushALineOverTheLimit) {
    int32_t h = OpenWith(std::string(255, 'a') + "\r");
    uint8_t ok = 1;
    EXPECT_EQ(ReadLine(h, &ok), "");
    EXPECT_FALSE(ok);
}

TEST_F(RecordsTest, LongTerminatorWithLongLineStaysInsideTheBuffer) {
    std::string term(255, 'T');
    ASSERT_TRUE(df::SetLineTerminator(term));
    // 255 characters, then 254 bytes of the terminator, then the end.
    int32_t h = OpenWith(std::string(255, 'a') + std::string(254, 'T'));
    uint8_t ok = 1;
    EXPECT_EQ(ReadLine(h, &ok), "");
    EXPECT_FALSE(ok);
    int32_t h2 = OpenWith(std::string(200, 'a') + term + "b", "in2.txt");
    EXPECT_EQ(ReadLine(h2), std::string(200, 'a'));
    EXPECT_EQ(ReadLine(h2), "b");
}

TEST_F(RecordsTest, NulBytesAreDroppedFromTheText) {
    int32_t h = OpenWith(std::string("a\0b\r\n", 5));
    EXPECT_EQ(ReadLine(h), "ab");
}

TEST_F(RecordsTest, RecordReadersSkipCommentsAndStopAtEmptyLinesAndOtherKinds) {
    char text[256];
    uint8_t fe = 9;
    int32_t h = OpenWith(";c1\r\n$\r\n;c2\r\n$a\tb\r\n\r\n$after\r\n");
    EXPECT_TRUE(OdczytanoZPlikuLinieDanych(h, text, &fe));
    EXPECT_STREQ(text, "");
    EXPECT_EQ(fe, 0);
    EXPECT_TRUE(OdczytanoZPlikuLinieDanych(h, text, &fe));
    EXPECT_STREQ(text, "a\tb");
    // An empty line ends the records even though one follows.
    EXPECT_FALSE(OdczytanoZPlikuLinieDanych(h, text, &fe));
    EXPECT_EQ(fe, 0);

    int32_t comments = OpenWith(";only\r\n;comments", "c.txt");
    EXPECT_FALSE(OdczytanoZPlikuLinieDanych(comments, text, &fe));
    EXPECT_EQ(fe, 0);

    int32_t header = OpenWith(";x\r\n#head\r\n$data\r\n", "h.txt");
    EXPECT_FALSE(OdczytanoZPlikuLinieDanych(header, text, &fe));
    EXPECT_EQ(fe, 1);
    EXPECT_STREQ(text, "");
    EXPECT_TRUE(OdczytanoZPlikuLinieDanych(header, text, &fe));
    EXPECT_STREQ(text, "data");

    int32_t other = OpenWith("$d\r\n#h\r\nplain\r\n", "o.txt");
    EXPECT_FALSE(OdczytanoZPlikuLinieNaglowka(other, text, &fe));
    EXPECT_EQ(fe, 1);
    EXPECT_TRUE(OdczytanoZPlikuLinieNaglowka(other, text, &fe));
    EXPECT_STREQ(text, "h");
    EXPECT_FALSE(OdczytanoZPlikuKonkretnaLinie(other, '$', text, &fe));
    EXPECT_EQ(fe, 1);
}

TEST_F(RecordsTest, OpenModes) {
    std::string path = dir_.File("m.txt");
    int32_t h = 77;
    EXPECT_FALSE(OtwartoPlik(&h, path.c_str(), 0));  // missing
    EXPECT_EQ(h, -1);
    EXPECT_FALSE(OtwartoPlik(&h, path.c_str(), 4));
    EXPECT_EQ(h, -1);

    ASSERT_TRUE(OtwartoPlik(&h, path.c_str(), 1));  // created
    EXPECT_TRUE(ZapisanoDoPlikuLinie(h, "first"));
    EXPECT_TRUE(ZamknieciePliku(&h));
    EXPECT_EQ(h, -1);
    EXPECT_EQ(ReadWholeFile(path), "first\r\n");

    ASSERT_TRUE(OtwartoPlik(&h, path.c_str(), 2));  // kept, appended
    EXPECT_TRUE(ZapisanoDoPlikuLinie(h, "second"));
    ASSERT_TRUE(ZamknieciePliku(&h));
    EXPECT_EQ(ReadWholeFile(path), "first\r\nsecond\r\n");

    ASSERT_TRUE(OtwartoPlik(&h, path.c_str(), 3));  // kept, written from the start
    EXPECT_EQ(ReadLine(h), "first");
    EXPECT_FALSE(Moje_feof(h));
    EXPECT_TRUE(ZapisanoDoPlikuLinie(h, "SECOND"));  // right after the line just read
    EXPECT_TRUE(Moje_feof(h));
    ASSERT_TRUE(ZamknieciePliku(&h));
    EXPECT_EQ(ReadWholeFile(path), "first\r\nSECOND\r\n");

    ASSERT_TRUE(OtwartoPlik(&h, path.c_str(), 0));
    EXPECT_FALSE(ZapisanoDoPlikuLinie(h, "read only"));
    ASSERT_TRUE(ZamknieciePliku(&h));

    ASSERT_TRUE(OtwartoPlik(&h, path.c_str(), 1));  // truncated
    ASSERT_TRUE(ZamknieciePliku(&h));
    EXPECT_EQ(ReadWholeFile(path), "");

    std::string fresh = dir_.File("fresh.txt");
    ASSERT_TRUE(OtwartoPlik(&h, fresh.c_str(), 3));  // created
    ASSERT_TRUE(ZamknieciePliku(&h));
    EXPECT_TRUE(MoznaOtworzycPlik(fresh.c_str(), 0));
    EXPECT_FALSE(MoznaOtworzycPlik(dir_.File("none.txt").c_str(), 0));
}

TEST_F(RecordsTest, BytesPassUnchanged) {
    ASSERT_TRUE(df::SetLineTerminator("\n"));
    std::string path = dir_.File("b.txt");
    int32_t h = -1;
    ASSERT_TRUE(OtwartoPlik(&h, path.c_str(), 1));
    EXPECT_TRUE(ZapisanoDoPlikuLinie(h, "a\x1a\xff"));
    ASSERT_TRUE(ZamknieciePliku(&h));
    EXPECT_EQ(ReadWholeFile(path), "a\x1a\xff\n");
}

TEST_F(RecordsTest, ClosingAndEndOfFileOnHandlesThatAreNotOpen) {
    int32_t h = -1;
    EXPECT_FALSE(ZamknieciePliku(&h));
    EXPECT_EQ(h, -1);
    EXPECT_TRUE(Moje_feof(-1));
    h = OpenWith("x");
    int32_t copy = h;
    EXPECT_TRUE(ZamknieciePliku(&h));
    EXPECT_FALSE(ZamknieciePliku(&copy));  // already closed: keeps its value
    EXPECT_EQ(copy, handles_.back());
    EXPECT_TRUE(Moje_feof(copy));
    char text[256];
    EXPECT_FALSE(OdczytanoZPlikuLinie(copy, text));
    handles_.back() = -1;
}

TEST_F(RecordsTest, OverlongTextsAndPathsAreRefusedNotOverflowed) {
    std::string path = dir_.File("w.txt");
    int32_t h = -1;
    ASSERT_TRUE(OtwartoPlik(&h, path.c_str(), 1));
    handles_.push_back(h);
    EXPECT_TRUE(ZapisanoDoPlikuLinie(h, std::string(255, 'a').c_str()));
    EXPECT_TRUE(ZapisanoDoPlikuLinieDanych(h, std::string(254, 'b').c_str()));
    std::string before = ReadWholeFile(path);
    // A data line of 256 characters could never be read back.
    EXPECT_FALSE(ZapisanoDoPlikuLinieDanych(h, std::string(255, 'c').c_str()));
    char unterminated[256];
    std::memset(unterminated, 'd', sizeof unterminated);
    EXPECT_FALSE(ZapisanoDoPlikuLinie(h, unterminated));
    EXPECT_EQ(ReadWholeFile(path), before);

    std::string longPath = dir_.File(std::string(300, 'p'));
    int32_t h2 = 5;
    EXPECT_FALSE(OtwartoPlik(&h2, longPath.c_str(), 1));
    EXPECT_EQ(h2, -1);
}

TEST_F(RecordsTest, HeaderLinesAreWrittenInOrder) {
    ASSERT_TRUE(df::SetHeaderLine(1, "DRV\t1"));
    ASSERT_TRUE(df::SetHeaderLine(2, "second"));
    ASSERT_TRUE(df::SetHeaderLine(3, ""));
    EXPECT_FALSE(df::SetHeaderLine(4, "x"));
    EXPECT_FALSE(df::SetHeaderLine(1, std::string(255, 'x')));
    std::string path = dir_.File("hdr.txt");
    int32_t h = -1;
    ASSERT_TRUE(OtwartoPlik(&h, path.c_str(), 1));
    EXPECT_TRUE(ZapisanoDoPlikuNaglowek(h));
    ASSERT_TRUE(ZamknieciePliku(&h));
    EXPECT_EQ(ReadWholeFile(path), "#DRV\t1\r\n#second\r\n#\r\n");
    EXPECT_FALSE(ZapisanoDoPlikuNaglowek(-1));
}

TEST_F(RecordsTest, DataLinesOfTheDriverFilesAreCountedAndNoticed) {
    auto& st = df::TheDriverFileState();
    std::string outPath = dir_.File("out.txt");
    std::string otherPath = dir_.File("other.txt");
    int32_t out = -1;
    int32_t other = -1;
    ASSERT_TRUE(OtwartoPlik(&out, outPath.c_str(), 1));
    ASSERT_TRUE(OtwartoPlik(&other, otherPath.c_str(), 1));
    handles_.push_back(out);
    handles_.push_back(other);
    st.outputHandle = out;
    st.outlinesPeriod = 10;
    st.rewrite = true;  // no commit per line: a hundred fsyncs add nothing here

    // Channel off (nothing registered): counted, nothing sent.
    for (int i = 0; i < 10; ++i) ASSERT_TRUE(ZapisanoDoPlikuLinieDanych(out, "x"));
    EXPECT_EQ(st.linesWritten, 10u);
    df::SetLineCountNotice(RecordNotice);
    for (int i = 0; i < 15; ++i) ASSERT_TRUE(ZapisanoDoPlikuLinieDanych(out, "x"));
    for (int i = 0; i < 30; ++i) ASSERT_TRUE(ZapisanoDoPlikuLinieDanych(other, "y"));
    ASSERT_TRUE(ZapisanoDoPlikuLinie(out, "$not counted"));
    EXPECT_EQ(st.linesWritten, 25u);
    EXPECT_EQ(gNotices, (std::vector<std::pair<char, uint32_t>>{{'O', 20}}));

    ASSERT_TRUE(ZamknieciePliku(&handles_[handles_.size() - 2]));
    gNotices.clear();
    int32_t in = -1;
    ASSERT_TRUE(OtwartoPlik(&in, outPath.c_str(), 0));
    handles_.push_back(in);
    st.inputHandle = in;
    st.linesPeriod = 4;
    char text[256];
    uint8_t fe = 0;
    int n = 0;
    while (OdczytanoZPlikuLinieDanych(in, text, &fe)) ++n;
    EXPECT_EQ(n, 26);  // the raw "$not counted" line reads back as data
    EXPECT_EQ(st.linesRead, 26u);
    EXPECT_EQ(gNotices, (std::vector<std::pair<char, uint32_t>>{
                            {'L', 4}, {'L', 8}, {'L', 12}, {'L', 16}, {'L', 20}, {'L', 24}}));
    st.outlinesPeriod = 0;
    st.rewrite = false;
}

TEST_F(RecordsTest, ExclusiveOpenDeniesOtherOpensInThisProcess) {
    std::string path = dir_.File("x.txt");
    WriteWholeFile(path, "$a\r\n");
    int32_t a = -1;
    int32_t b = -1;
    ASSERT_TRUE(OtwartoPlik(&a, path.c_str(), 0));
    handles_.push_back(a);
    EXPECT_FALSE(OtwartoPlik(&b, path.c_str(), 0));
    EXPECT_EQ(b, -1);
    // The same reason on both systems: share mode 0 there, the lock here.
    EXPECT_EQ(vorin::platform::LastError(), vorin::platform::kErrSharingViolation);
    EXPECT_FALSE(MoznaOtworzycPlik(path.c_str(), 1));
    ZamknieciePliku(&handles_.back());
    EXPECT_EQ(ReadWholeFile(path), "$a\r\n");  // the refused write open truncated nothing

    df::TheDriverFileState().exclusiveOpen = false;
    ASSERT_TRUE(OtwartoPlik(&a, path.c_str(), 0));
    handles_.push_back(a);
    ASSERT_TRUE(OtwartoPlik(&b, path.c_str(), 2));
    handles_.push_back(b);
    df::TheDriverFileState().exclusiveOpen = true;
    int32_t c = -1;
    EXPECT_FALSE(OtwartoPlik(&c, path.c_str(), 3));  // exclusive while others have it open
}

TEST_F(RecordsTest, SharingHoldsBetweenProcesses) {
    std::string path = dir_.File("shared.txt");
    WriteWholeFile(path, "$a\r\n");
    int32_t h = -1;
    ASSERT_TRUE(OtwartoPlik(&h, path.c_str(), 0));
    handles_.push_back(h);
    EXPECT_EQ(df::test::RunHelper({"open", path, "0", "1"}, dir_), "0");
    EXPECT_EQ(df::test::RunHelper({"open", path, "3", "0"}, dir_), "0");
    EXPECT_EQ(df::test::RunHelper({"read", path}, dir_), "<cannot open>");
    ASSERT_TRUE(ZamknieciePliku(&handles_.back()));
    EXPECT_EQ(df::test::RunHelper({"open", path, "0", "1"}, dir_), "1");

    df::TheDriverFileState().exclusiveOpen = false;
    ASSERT_TRUE(OtwartoPlik(&h, path.c_str(), 0));
    handles_.push_back(h);
    EXPECT_EQ(df::test::RunHelper({"open", path, "3", "0"}, dir_), "1");
    EXPECT_EQ(df::test::RunHelper({"open", path, "0", "1"}, dir_), "0");
    EXPECT_EQ(ReadWholeFile(path), "$a\r\n");
}

TEST_F(RecordsTest, CommittedLinesAndAppendsAreSeenByAnotherProcess) {
    std::string path = dir_.File("log.txt");
    df::TheDriverFileState().exclusiveOpen = false;
    int32_t h = -1;
    ASSERT_TRUE(OtwartoPlik(&h, path.c_str(), 2));
    handles_.push_back(h);
    ASSERT_TRUE(ZapisanoDoPlikuLinieDanych(h, "one"));
    // Still open here: the other process must see the line already.
    EXPECT_EQ(df::test::RunHelper({"read", path}, dir_), "one\n");
    EXPECT_EQ(df::test::RunHelper({"append", path, "two"}, dir_), "1");
    // Our next line lands after the other process's line, not over it.
    ASSERT_TRUE(ZapisanoDoPlikuLinieDanych(h, "three"));
    EXPECT_EQ(df::test::RunHelper({"read", path}, dir_), "one\ntwo\nthree\n");
    EXPECT_EQ(ReadWholeFile(path), "$one\r\n$two\r\n$three\r\n");
}

}  // namespace
