// Which arguments open the window, and what they ask of it.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
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

// The window's program beside the command line (build tree) first, then in
// <prefix>/lib/ostrelgsm4 (installed); a directory or a file that cannot be
// run under that name is not it.
TEST(WindowArgs, FindsTheWindowsProgram) {
  char pattern[] = "/tmp/window-args-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string root = pattern;
  const auto mkdir = [](const std::string& dir) { ::mkdir(dir.c_str(), 0700); };
  const auto touch = [](const std::string& path, mode_t mode) {
    std::FILE* f = std::fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    ::chmod(path.c_str(), mode);
  };
  mkdir(root + "/bin");
  mkdir(root + "/lib");
  mkdir(root + "/lib/ostrelgsm4");
  const std::string program = root + "/bin/ostrelgsm4";
  const std::string beside = root + "/bin/ostrelgsm4-window";
  const std::string installed = root + "/bin/../lib/ostrelgsm4/ostrelgsm4-window";

  EXPECT_EQ(FindWindowProgram(program), "");
  mkdir(installed);  // a directory of that name
  EXPECT_EQ(FindWindowProgram(program), "");
  ::rmdir(installed.c_str());
  touch(installed, 0644);  // not executable
  EXPECT_EQ(FindWindowProgram(program), "");
  ::chmod(installed.c_str(), 0755);
  EXPECT_EQ(FindWindowProgram(program), installed);
  touch(beside, 0755);
  EXPECT_EQ(FindWindowProgram(program), beside);
  EXPECT_EQ(FindWindowProgram(""), "");

  for (const std::string& file : {beside, installed}) ::unlink(file.c_str());
  for (const char* dir : {"/lib/ostrelgsm4", "/lib", "/bin", ""}) ::rmdir((root + dir).c_str());
}
