#include "firewall_steps.h"

#include "text_checks.h"

namespace tunmira {
namespace {

bool ReadNumber(std::string_view text, unsigned &value) {
  if (text.empty() || text.size() > 4) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  value = ReadDecimalDigits(text);
  return true;
}

}  // namespace

bool ParseVersionOverride(std::string_view text, unsigned &major, unsigned &minor, std::string &servicePack) {
  const std::size_t dot = text.find('.');
  const std::size_t semicolon = text.find(';');
  if (dot == std::string_view::npos || semicolon == std::string_view::npos || semicolon < dot) return false;
  unsigned readMajor = 0;
  unsigned readMinor = 0;
  if (!ReadNumber(text.substr(0, dot), readMajor) ||
      !ReadNumber(text.substr(dot + 1, semicolon - dot - 1), readMinor)) {
    return false;
  }
  major = readMajor;
  minor = readMinor;
  servicePack = std::string(text.substr(semicolon + 1));
  return true;
}

FirewallMemory FirewallAtStart(bool isXpSp2, const FirewallFactory &makeHelper,
                               const std::wstring &imagePath) {
  FirewallMemory memory;
  if (!isXpSp2) return memory;
  std::unique_ptr<FirewallOps> helper = makeHelper();
  helper->Initialize();
  int enabled = 0;
  helper->IsFirewallEnabled(enabled);
  if (enabled == 0) {
    helper->Release();
    return memory;
  }
  int notAllowed = 1;
  // Only a setting actually read as "no exceptions" is switched back at exit: an unreadable one must
  // not end with exceptions forbidden that were allowed before.
  if (helper->GetExceptionsNotAllowed(notAllowed) == kFwOk && notAllowed == 1) {
    memory.exceptionsWereOff = true;
    helper->SetExceptionsNotAllowed(0);
  }
  helper->AddAuthorizedApplication(imagePath.c_str(), kFirewallEntryName);
  memory.askedForEntry = true;
  helper->Release();
  return memory;
}

void FirewallAtExit(const FirewallMemory &memory, const FirewallFactory &makeHelper,
                    const std::wstring &imagePath) {
  if (!memory.askedForEntry) return;
  std::unique_ptr<FirewallOps> helper = makeHelper();
  helper->Initialize();
  helper->RemoveAuthorizedApplication(imagePath.c_str());
  if (memory.exceptionsWereOff) helper->SetExceptionsNotAllowed(1);
  helper->Release();
}

}  // namespace tunmira
