// The port prompt's number reading, key by key. The end-to-end tests type the
// same answers through a terminal; these cover the conversion's corners.
#include "loader/number_input.h"

#include <gtest/gtest.h>

#include <string>

namespace vorin::loader {
namespace {

class TypedKeys final : public KeySource {
public:
    explicit TypedKeys(std::string typed) : typed_(std::move(typed)) {}
    int ReadKey() override {
        if (pushed_ >= 0) {
            const int key = pushed_;
            pushed_ = -1;
            return key;
        }
        if (next_ >= typed_.size()) return -1;
        const int key = static_cast<unsigned char>(typed_[next_++]);
        echoed_.push_back(static_cast<char>(key));
        return key;
    }
    void PushBack(int key) override { pushed_ = key; }

    int Pushed() const { return pushed_; }
    const std::string& Echoed() const { return echoed_; }

private:
    std::string typed_;
    std::size_t next_ = 0;
    int pushed_ = -1;
    std::string echoed_;
};

struct Case {
    const char* typed;
    NumberStatus status;
    uint32_t lowByte;  // the port number the caller takes
    int pending;       // key left pushed back, -1 none
};

TEST(ReadInteger, ConvertsLikePercentI) {
    const Case cases[] = {
        {"3\r", NumberStatus::Number, 3, '\r'},
        {"  \t\r\n7\r", NumberStatus::Number, 7, '\r'},
        {"259\r", NumberStatus::Number, 3, '\r'},
        {"256\r", NumberStatus::Number, 0, '\r'},
        {"010\r", NumberStatus::Number, 8, '\r'},
        {"019\r", NumberStatus::Number, 1, '9'},  // 9 is no octal digit
        {"0x3\r", NumberStatus::Number, 3, '\r'},
        {"0XfF\r", NumberStatus::Number, 255, '\r'},
        {"0xg", NumberStatus::Number, 0, 'g'},
        {"+5\r", NumberStatus::Number, 5, '\r'},
        {"-253\r", NumberStatus::Number, 3, '\r'},
        {"3\x7f", NumberStatus::Number, 3, 0x7f},  // no line editing
        {"3\b", NumberStatus::Number, 3, '\b'},
        {"12a", NumberStatus::Number, 12, 'a'},
        {"x", NumberStatus::NoNumber, 0, 'x'},
        {" -x", NumberStatus::NoNumber, 0, 'x'},
        {"", NumberStatus::EndOfInput, 0, -1},
        {"  \r", NumberStatus::EndOfInput, 0, -1},
        {"-", NumberStatus::EndOfInput, 0, -1},
        {"42", NumberStatus::Number, 42, -1},
    };
    for (const Case& c : cases) {
        TypedKeys keys(c.typed);
        const NumberResult r = ReadInteger(keys);
        EXPECT_EQ(r.status, c.status) << c.typed;
        if (c.status == NumberStatus::Number) {
            EXPECT_EQ(r.value & 0xFFu, c.lowByte) << c.typed;
        }
        EXPECT_EQ(keys.Pushed(), c.pending) << c.typed;
    }
}

TEST(ReadInteger, LongNumbersWrapWithoutFault) {
    // 2^32 + 3: the low bits survive the wrap-around.
    TypedKeys keys("4294967299\r");
    const NumberResult r = ReadInteger(keys);
    ASSERT_EQ(r.status, NumberStatus::Number);
    EXPECT_EQ(r.value & 0xFFu, 3u);
}

TEST(ReadInteger, ReadsNothingBeyondTheNumber) {
    TypedKeys keys("5\rabc");
    ReadInteger(keys);
    EXPECT_EQ(keys.Echoed(), "5\r");
}

}  // namespace
}  // namespace vorin::loader
