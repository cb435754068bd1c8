// The simulated panel's state file.

#include "tools/PanelState.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

using namespace ostrel::sim;

namespace {

class PanelStateFile : public ::testing::Test
{
protected:
  void SetUp() override
  {
    Dir = std::filesystem::temp_directory_path() / ("ostrel-panelstate-" + std::to_string(::getpid()));
    std::filesystem::create_directories(Dir);
    Path = (Dir / "panel.state").string();
  }
  void TearDown() override { std::filesystem::remove_all(Dir); }

  void Write(const std::string& text)
  {
    std::ofstream out(Path, std::ios::binary);
    out << text;
  }

  std::string Read() const
  {
    std::ifstream in(Path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  std::filesystem::path Dir;
  std::string Path;
};

TEST_F(PanelStateFile, RoundTripKeepsEveryField)
{
  TPanelState state;
  for (int i = 0; i < kEntryCount; ++i) {
    state.Phones[i] = "+7 (916) " + std::to_string(100 + i) + "=x";  // "=" inside a value survives
    state.Flags[i] = i % 2 ? "101" : "01x";
  }
  state.Phones[3].clear();
  state.EntryDelay = 255;
  state.ExitDelay = 1;
  state.FastArming = true;
  state.WaitSend = true;
  for (int i = 0; i < kKeyCount; ++i) state.Keys[i] = "0123456789ABCDE" + std::string(1, "0123456789"[i]);
  state.Keys[5] = "abcdef0123456789";
  state.GsmModule = 2;
  state.Ring = 6;
  state.Adc[0] = {0, {0, 1, 2, 3, 1023}};
  state.Adc[1] = {1023, {10, 20, 30, 40, 50}};

  std::string error;
  ASSERT_TRUE(SavePanelState(state, Path, error)) << error;
  TPanelState loaded;
  ASSERT_TRUE(LoadPanelState(Path, loaded, error)) << error;
  EXPECT_EQ(loaded, state);
  EXPECT_FALSE(std::filesystem::exists(Path + ".tmp"));
}

TEST_F(PanelStateFile, HandWrittenFileWithCommentsAndCrLf)
{
  Write("# my panel\r\n\r\nphone1=123\r\nentry_delay=30\nkey0=0123456789ABCDEF\nadc1_threshold4=1023\n"
        "gsm_module=1\nflags5=110\nwait_send=1\n");
  TPanelState state;
  std::string error;
  ASSERT_TRUE(LoadPanelState(Path, state, error)) << error;
  TPanelState expected;
  expected.Phones[0] = "123";
  expected.EntryDelay = 30;
  expected.Keys[0] = "0123456789ABCDEF";
  expected.Adc[1].Thresholds[4] = 1023;
  expected.GsmModule = 1;
  expected.Flags[4] = "110";
  expected.WaitSend = true;
  EXPECT_EQ(state, expected);
  EXPECT_EQ(state.DelaysRecord(), "1E0001");
}

TEST_F(PanelStateFile, SavedTextIsKeyValueLines)
{
  TPanelState state;
  state.Phones[6] = "555";
  state.Keys[3] = "FFFFFFFFFFFFFFFF";
  std::string error;
  ASSERT_TRUE(SavePanelState(state, Path, error)) << error;
  const std::string text = Read();
  for (const char* line : {"\nphone7=555\n", "\nflags12=000\n", "\nentry_delay=0\n", "\nkey3=FFFFFFFFFFFFFFFF\n",
                           "\nring=1\n", "\nadc0_reading=511\n", "\nadc1_threshold4=900\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line;
  }
}

TEST_F(PanelStateFile, BadFilesAreRefusedAndLeaveTheStateAlone)
{
  const struct
  {
    const char* Name;
    std::string Text;
  } cases[] = {
      {"no_equals", "ring=2\nnokey\n"},
      {"unknown_key", "bogus=1\n"},
      {"ring_range", "ring=7\n"},
      {"delay_range", "entry_delay=256\n"},
      {"delay_not_number", "exit_delay=1e\n"},
      {"short_key", "key0=123\n"},
      {"key_not_hex", "key9=0123456789ABCDEG\n"},
      {"short_flags", "flags1=10\n"},
      {"repeated", "phone1=1\nphone1=2\n"},
      {"negative", "adc0_reading=-1\n"},
      {"adc_range", "adc1_threshold0=1024\n"},
      {"bool_word", "fast_arming=yes\n"},
      {"control_char", std::string("phone2=1\x01\n")},
      {"binary", std::string("\xff\xfe=\x01\0\n", 6)},
  };
  for (const auto& row : cases) {
    Write(row.Text);
    TPanelState state;
    state.Ring = 3;
    std::string error;
    EXPECT_FALSE(LoadPanelState(Path, state, error)) << row.Name;
    EXPECT_NE(error.find(Path + ":"), std::string::npos) << row.Name << ": " << error;
    EXPECT_EQ(state.Ring, 3) << row.Name;
  }
  std::string error;
  TPanelState state;
  EXPECT_FALSE(LoadPanelState((Dir / "missing").string(), state, error));
  EXPECT_FALSE(error.empty());
}

TEST_F(PanelStateFile, SaveIntoMissingFolderFails)
{
  std::string error;
  EXPECT_FALSE(SavePanelState(TPanelState{}, (Dir / "no" / "such").string(), error));
  EXPECT_FALSE(error.empty());
}

TEST(PanelStateRecord, DelaysRecord)
{
  TPanelState state;
  EXPECT_TRUE(state.SetDelaysRecord("ff0011"));
  EXPECT_EQ(state.DelaysRecord(), "FF0011");
  for (const char* bad : {"FF001", "FF00111", "FG0011", "FF0012", "FF00 1"}) {
    EXPECT_FALSE(state.SetDelaysRecord(bad)) << bad;
  }
  EXPECT_EQ(state.DelaysRecord(), "FF0011");
}

}  // namespace
