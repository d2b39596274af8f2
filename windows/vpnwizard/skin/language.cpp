#include "language.h"

#include <cstdio>

namespace tunmira {
namespace {

struct SlotName {
  std::size_t slot;
  const char *file;
  const char *key;
};

// Slots by the order their names are read.
constexpr SlotName kReadOrder[] = {
    {0, "English.ini", "Language_EN"}, {4, "French.ini", "Language_FR"},
    {2, "German.ini", "Language_DE"},  {7, "Danish.ini", "Language_DK"},
    {6, "Swedish.ini", "Language_SV"}, {3, "Spanish.ini", "Language_ES"},
    {5, "Italian.ini", "Language_IT"}, {8, "Portuguese.ini", "Language_PT"},
    {10, "Dutch.ini", "Language_NL"},  {15, "Indonesian.ini", "Language_IN"},
    {11, "Arabic.ini", "Language_AR"}, {12, "Greek.ini", "Language_GR"},
    {13, "Polish.ini", "Language_PO"}, {14, "Thai.ini", "Language_TH"},
    {9, "Turkish.ini", "Language_TR"}, {16, "Russian.ini", "Language_RU"},
};

}  // namespace

const std::array<std::string_view, kMessageTextCount> kMessageTextKeys = {
    "MSG_FILENOTFOUND",    "MSG_ADOBEREADER",       "MSG_TITLE",       "MSG_SMAEDOMAIN",
    "MSG_CONFIGURE1",      "MSG_CONFIGURE2",        "MSG_CONFIGURE3",  "MSG_FINDFAIL1",
    "MSG_FINDFAIL2",       "MSG_FINDFAIL3",         "MSG_FINDFAIL4",   "MSG_TUNNELNAME0",
    "MSG_TUNNELNAME1",     "MSG_TUNNELNAME2",       "MSG_TUNNELNAME3", "MSG_AUTHERISEFAILURE",
    "MSG_TUNNELNAMEEXIST", "MSG_TUNNELFULL1",       "MSG_TUNNELFULL2", "MSG_INVALIDUSERNAME",
    "MSG_INVALIDPASSWORD", "MSG_INVALIDTUNNELNAME", "MSG_INVALIDKEY",  "MSG_INVALIDADDRESS",
    "MSG_INVALID",
};

void fill_language_file_names(LanguageSlots &table) {
  table[1].file_name.clear();
  for (const SlotName &slot : kReadOrder) table[slot.slot].file_name = slot.file;
}

void ReadIniValue(SkinHost &host, const IniFile &ini, const std::string &section, const std::string &key,
                  std::string &out) {
  std::string value = host.read_profile_string(ini.path(), section, key, kIniValueCapacity);
  if (!value.empty()) {
    out = value;
    return;
  }
  char text[64 + 2 * kIniValueCapacity];
  std::snprintf(text, sizeof text, "Load the value of %s in %s error.", key.c_str(), section.c_str());
  host.show_plain_message(text);
}

bool SelectLanguageFile(SkinHost &host, LanguageSlots &table, const std::string &section,
                        const std::string &file) {
  IniFile ini(host, file);
  for (const SlotName &slot : kReadOrder)
    ReadIniValue(host, ini, section, slot.key, table[slot.slot].display_name);
  if (host.exists_in_current_directory(table[kEnglishSlot].file_name)) return true;
  host.show_plain_message("don't find any *.ini file!");
  return false;
}

void LoadMessageTexts(SkinHost &host, MessageTextArray &texts, const std::string &file) {
  IniFile ini(host, file);
  for (std::size_t i = 0; i < kMessageTextCount; ++i)
    ReadIniValue(host, ini, "MSG", std::string(kMessageTextKeys[i]), texts[i]);
}

bool reads_right_to_left(const std::string &language_file) {
  return language_file == "Arabic.ini";
}

bool is_xp_sp2_version(unsigned major, unsigned minor, std::string_view service_pack) {
  return major == 5 && minor == 1 && service_pack == "Service Pack 2";
}

}  // namespace tunmira
