#include "language.h"

#include <gtest/gtest.h>

#include "profile_text.h"
#include "skin_fake_host.h"

namespace tunmira {
namespace {

using testing::FakeSkinHost;

TEST(ProfileText, ReadsLikeThePrivateProfileCall) {
  const char *text =
      "; comment\r\n"
      "[Other]\r\nName=wrong\r\n"
      "  [ msg ]  \r\n"
      "  language_en  =  English  \r\n"
      "Quoted=\"  padded  \"\r\n"
      "Single='x'\r\n"
      "Half=\"open\r\n"
      "Language_EN=second\r\n"
      "Empty=\r\n"
      "[MSG]\nLate=value\n";
  EXPECT_EQ(read_profile_value(text, "MSG", "Language_EN", 512), "English");
  EXPECT_EQ(read_profile_value(text, "MSG", "Quoted", 512), "  padded  ");
  EXPECT_EQ(read_profile_value(text, "MSG", "Single", 512), "x");
  EXPECT_EQ(read_profile_value(text, "MSG", "Half", 512), "\"open");
  EXPECT_EQ(read_profile_value(text, "MSG", "Empty", 512), "");
  EXPECT_EQ(read_profile_value(text, "MSG", "Late", 512), "");  // only the first section of a name counts
  EXPECT_EQ(read_profile_value(text, "Other", "Name", 512), "wrong");
  EXPECT_EQ(read_profile_value(text, "Missing", "Name", 512), "");
  EXPECT_EQ(read_profile_value(text, "MSG", "Name", 512), "");
  // The buffer holds capacity - 1 characters.
  EXPECT_EQ(read_profile_value(text, "MSG", "Language_EN", 4), "Eng");
  EXPECT_EQ(read_profile_value(text, "MSG", "Language_EN", 0), "");
}

TEST(LanguageTable, FileNamesAreFixedAndSlotOneStaysEmpty) {
  LanguageSlots table;
  table[1].file_name = "left over";
  fill_language_file_names(table);
  EXPECT_EQ(table[0].file_name, "English.ini");
  EXPECT_EQ(table[1].file_name, "");
  EXPECT_EQ(table[9].file_name, "Turkish.ini");
  EXPECT_EQ(table[11].file_name, "Arabic.ini");
  EXPECT_EQ(table[13].file_name, "Polish.ini");
  EXPECT_EQ(table[15].file_name, "Indonesian.ini");
  EXPECT_EQ(table[16].file_name, "Russian.ini");
}

TEST(LanguageTable, NamesGoToTheirSlotsAndTheFirstFileMustBeInTheCurrentDirectory) {
  FakeSkinHost host;
  host.put_file("English.ini",
                "[MSG]\nLanguage_EN=English\nLanguage_DE=Deutsch\nLanguage_AR=Arabic\n"
                "Language_TR=Turkce\nLanguage_FR=Francais\nLanguage_DK=Dansk\nLanguage_SV=Svenska\n"
                "Language_ES=Espanol\nLanguage_IT=Italiano\nLanguage_PT=Portugues\n"
                "Language_NL=Nederlands\nLanguage_IN=Indonesia\nLanguage_GR=Ellinika\n"
                "Language_PO=Polski\nLanguage_TH=Thai\nLanguage_RU=Russkij\n");
  LanguageSlots table;
  fill_language_file_names(table);
  host.current_directory.insert("English.ini");
  EXPECT_TRUE(SelectLanguageFile(host, table, "MSG", "English.ini"));
  EXPECT_TRUE(host.messages.empty());
  EXPECT_EQ(table[0].display_name, "English");
  EXPECT_EQ(table[2].display_name, "Deutsch");
  EXPECT_EQ(table[9].display_name, "Turkce");
  EXPECT_EQ(table[11].display_name, "Arabic");
  EXPECT_EQ(table[15].display_name, "Indonesia");
  EXPECT_EQ(table[1].display_name, "");

  // Beside the program but not in the current directory: the wizard must end.
  host.current_directory.clear();
  EXPECT_FALSE(SelectLanguageFile(host, table, "MSG", "English.ini"));
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0], "don't find any *.ini file!");
}

TEST(LanguageTable, MissingSectionReportsEveryKeyInReadOrderAndKeepsOldValues) {
  FakeSkinHost host;
  host.put_file("English.ini", "[Common]\nFontSize=9\n");
  host.current_directory.insert("English.ini");
  LanguageSlots table;
  fill_language_file_names(table);
  table[4].display_name = "kept";
  EXPECT_TRUE(SelectLanguageFile(host, table, "MSG", "English.ini"));
  ASSERT_EQ(host.messages.size(), 16u);
  EXPECT_EQ(host.messages[0], "Load the value of Language_EN in MSG error.");
  EXPECT_EQ(host.messages[1], "Load the value of Language_FR in MSG error.");
  EXPECT_EQ(host.messages[9], "Load the value of Language_IN in MSG error.");
  EXPECT_EQ(host.messages[15], "Load the value of Language_RU in MSG error.");
  EXPECT_EQ(table[4].display_name, "kept");

  MessageTextArray texts;
  texts[2] = "old title";
  LoadMessageTexts(host, texts, "English.ini");
  ASSERT_EQ(host.messages.size(), 41u);
  EXPECT_EQ(host.messages[16], "Load the value of MSG_FILENOTFOUND in MSG error.");
  EXPECT_EQ(host.messages[40], "Load the value of MSG_INVALID in MSG error.");
  EXPECT_EQ(texts[2], "old title");
}

TEST(LanguageTable, MessageTextsFollowTheirIndexes) {
  FakeSkinHost host;
  std::string ini = "[MSG]\n";
  for (std::size_t i = 0; i < kMessageTextCount; ++i)
    ini += std::string(kMessageTextKeys[i]) + "=text " + std::to_string(i) + "\n";
  host.put_file("Greek.ini", ini);
  MessageTextArray texts;
  LoadMessageTexts(host, texts, "Greek.ini");
  EXPECT_TRUE(host.messages.empty());
  EXPECT_EQ(texts[kMsgTitle], "text 2");
  EXPECT_EQ(texts[kMsgAuthoriseFailure], "text 15");
  EXPECT_EQ(texts[kMsgInvalid], "text 24");
  EXPECT_EQ(kMessageTextKeys[kMsgSameDomain], "MSG_SMAEDOMAIN");
  EXPECT_EQ(kMessageTextKeys[kMsgAuthoriseFailure], "MSG_AUTHERISEFAILURE");
}

TEST(LanguageTable, LongValuesAreCutTo511Characters) {
  FakeSkinHost host;
  host.put_file("English.ini", "[MSG]\nMSG_TITLE=" + std::string(700, 'x') + "\n");
  std::string out;
  ReadIniValue(host, IniFile(host, "English.ini"), "MSG", "MSG_TITLE", out);
  EXPECT_EQ(out.size(), 511u);
}

TEST(LanguageTable, OnlyArabicReadsRightToLeft) {
  EXPECT_TRUE(reads_right_to_left("Arabic.ini"));
  EXPECT_FALSE(reads_right_to_left("arabic.ini"));
  EXPECT_FALSE(reads_right_to_left("English.ini"));
  EXPECT_FALSE(reads_right_to_left(""));
}

TEST(OperatingSystem, OnlyVersion51WithExactlyServicePack2) {
  EXPECT_TRUE(is_xp_sp2_version(5, 1, "Service Pack 2"));
  EXPECT_FALSE(is_xp_sp2_version(5, 1, "Service Pack 2a"));
  EXPECT_FALSE(is_xp_sp2_version(5, 1, "service pack 2"));
  EXPECT_FALSE(is_xp_sp2_version(5, 1, "Service Pack 3"));
  EXPECT_FALSE(is_xp_sp2_version(5, 2, "Service Pack 2"));
  EXPECT_FALSE(is_xp_sp2_version(6, 1, "Service Pack 2"));
}

}  // namespace
}  // namespace tunmira
