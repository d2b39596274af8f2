// The language files beside the program: which languages exist, the wizard's message texts, and the
// value reader that reports every missing value.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "skin_host.h"

namespace tunmira {

struct LanguageSlot {
  std::string display_name;
  std::string file_name;
};

constexpr std::size_t kLanguageSlots = 17;
using LanguageSlots = std::array<LanguageSlot, kLanguageSlots>;

// Slots whose file names change how text is shown.
constexpr std::size_t kEnglishSlot = 0;
constexpr std::size_t kTurkishSlot = 9;
constexpr std::size_t kArabicSlot = 11;
constexpr std::size_t kGreekSlot = 12;
constexpr std::size_t kPolishSlot = 13;
constexpr std::size_t kThaiSlot = 14;
constexpr std::size_t kIndonesianSlot = 15;

constexpr std::size_t kMessageTextCount = 25;
using MessageTextArray = std::array<std::string, kMessageTextCount>;

// Indexes of MessageTexts, in the order the keys are read.
enum MessageTextIndex : std::size_t {
  kMsgFileNotFound,
  kMsgAdobeReader,
  kMsgTitle,
  kMsgSameDomain,
  kMsgConfigure1,
  kMsgConfigure2,
  kMsgConfigure3,
  kMsgFindFail1,
  kMsgFindFail2,
  kMsgFindFail3,
  kMsgFindFail4,
  kMsgTunnelName0,
  kMsgTunnelName1,
  kMsgTunnelName2,
  kMsgTunnelName3,
  kMsgAuthoriseFailure,
  kMsgTunnelNameExist,
  kMsgTunnelFull1,
  kMsgTunnelFull2,
  kMsgInvalidUserName,
  kMsgInvalidPassword,
  kMsgInvalidTunnelName,
  kMsgInvalidKey,
  kMsgInvalidAddress,
  kMsgInvalid,
};

// The keys of section "MSG" behind each message text, by index.
extern const std::array<std::string_view, kMessageTextCount> kMessageTextKeys;

// Process-wide tables of the wizard.
inline LanguageSlots LanguageTable;
inline std::string CurrentLanguageFile;
inline MessageTextArray MessageTexts;

// Fixes the file name of every slot (slot 1 stays empty); display names are left as they are.
void fill_language_file_names(LanguageSlots &table);

// The full path of one ini file in the program's folder.
class IniFile {
 public:
  IniFile(SkinHost &host, const std::string &name) : path_(host.program_directory() + name) {}
  const std::string &path() const { return path_; }

 private:
  std::string path_;
};

constexpr std::size_t kIniValueCapacity = 512;

// Copies a non-empty value into `out`; an empty or missing one leaves `out` alone and is reported.
void ReadIniValue(SkinHost &host, const IniFile &ini, const std::string &section, const std::string &key,
                  std::string &out);

// Reads the language names of `table` from `section` of `file`, then checks that the first language's
// file lies in the current directory. False (after the message) when it does not: the caller ends the
// program with exit status 1.
bool SelectLanguageFile(SkinHost &host, LanguageSlots &table, const std::string &section,
                        const std::string &file);

void LoadMessageTexts(SkinHost &host, MessageTextArray &texts, const std::string &file);

// Whether message boxes of this language file read right to left.
bool reads_right_to_left(const std::string &language_file);

// The operating-system test of the start-up: version 5.1 with exactly "Service Pack 2".
bool is_xp_sp2_version(unsigned major, unsigned minor, std::string_view service_pack);

}  // namespace tunmira
