#include "loader/options.h"

#include <gtest/gtest.h>

namespace vorin::loader {
namespace {

bool Parse(std::vector<std::string> args, Options* o, std::string* error) {
    return ParseOptions(args, o, error);
}

TEST(Options, NoneMeansTheDialogueAsWritten) {
    Options o;
    std::string error;
    ASSERT_TRUE(Parse({}, &o, &error));
    EXPECT_EQ(o.port, 0);
    EXPECT_TRUE(o.waitForKey);
    EXPECT_TRUE(o.imagePath.empty());
}

TEST(Options, PortNumbersAndNames) {
    for (const auto& [text, port] : std::vector<std::pair<std::string, int>>{
             {"5", 5}, {"COM7", 7}, {"com255", 255}, {"1", 1}}) {
        Options o;
        std::string error;
        ASSERT_TRUE(Parse({"--port", text}, &o, &error)) << text << ": " << error;
        EXPECT_EQ(o.port, port) << text;
    }
    Options o;
    std::string error;
    ASSERT_TRUE(Parse({"--port=12", "--no-wait", "--image=x.bin"}, &o, &error)) << error;
    EXPECT_EQ(o.port, 12);
    EXPECT_FALSE(o.waitForKey);
    EXPECT_EQ(o.imagePath, "x.bin");
}

TEST(Options, RejectsWhatCannotWork) {
    for (const auto& args : std::vector<std::vector<std::string>>{{"--port"},
                                                                  {"--port", "0"},
                                                                  {"--port", "256"},
                                                                  {"--port", "COM0"},
                                                                  {"--port", "no-such-device-here"},
                                                                  {"--image"},
                                                                  {"--image="},
                                                                  {"--frobnicate"},
                                                                  {"--no-wait=yes"},
                                                                  {"3"}}) {
        Options o;
        std::string error;
        EXPECT_FALSE(Parse(args, &o, &error)) << args[0];
        EXPECT_FALSE(error.empty());
    }
}

}  // namespace
}  // namespace vorin::loader
