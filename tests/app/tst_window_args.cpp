// Which arguments open the window, and what they ask of it.
#include <gtest/gtest.h>

#include <vector>

#include "app/WindowArgs.h"

namespace {

TWindowArgs Parse(std::vector<const char*> args) {
  args.insert(args.begin(), "ostrelgsm4");
  return ParseWindowArgs(int(args.size()), const_cast<char**>(args.data()));
}

}  // namespace

TEST(WindowArgs, WindowForNoneOrPortOrAdc) {
  EXPECT_TRUE(Parse({}).IsWindow);
  const TWindowArgs port = Parse({"--port", "/dev/pts/3"});
  EXPECT_TRUE(port.IsWindow);
  EXPECT_EQ(port.Port, "/dev/pts/3");
  EXPECT_FALSE(port.Adc);
  const TWindowArgs adc = Parse({"--adc"});
  EXPECT_TRUE(adc.IsWindow);
  EXPECT_TRUE(adc.Adc);
  EXPECT_EQ(adc.Port, "");
  for (const auto& both : {Parse({"--port", "ttyUSB0", "--adc"}), Parse({"--adc", "--port", "ttyUSB0"})}) {
    EXPECT_TRUE(both.IsWindow);
    EXPECT_TRUE(both.Adc);
    EXPECT_EQ(both.Port, "ttyUSB0");
  }
}

TEST(WindowArgs, CommandLineForEverythingElse) {
  for (const auto& args : std::vector<std::vector<const char*>>{{"read", "--port", "p", "--out", "f"},
                                                                 {"ports"},
                                                                 {"--help"},
                                                                 {"--port"},
                                                                 {"--adc", "--adc"},
                                                                 {"--port", "a", "--port", "b"},
                                                                 {"--adc", "read"},
                                                                 {"--quiet", "--adc"}})
    EXPECT_FALSE(Parse(args).IsWindow) << args.size();
}
