#include "firewall_steps.h"

#include "text_checks.h"

namespace tunmira {
namespace {

bool read_number(std::string_view text, unsigned &value) {
  if (text.empty() || text.size() > 4) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  value = read_decimal_digits(text);
  return true;
}

}  // namespace

bool parse_version_override(std::string_view text, unsigned &major, unsigned &minor,
                            std::string &service_pack) {
  const std::size_t dot = text.find('.');
  const std::size_t semicolon = text.find(';');
  if (dot == std::string_view::npos || semicolon == std::string_view::npos || semicolon < dot) return false;
  unsigned read_major = 0;
  unsigned read_minor = 0;
  if (!read_number(text.substr(0, dot), read_major) ||
      !read_number(text.substr(dot + 1, semicolon - dot - 1), read_minor)) {
    return false;
  }
  major = read_major;
  minor = read_minor;
  service_pack = std::string(text.substr(semicolon + 1));
  return true;
}

FirewallMemory firewall_at_start(bool is_xp_sp2, const FirewallFactory &make_helper,
                                 const std::wstring &image_path) {
  FirewallMemory memory;
  if (!is_xp_sp2) return memory;
  std::unique_ptr<FirewallOps> helper = make_helper();
  helper->Initialize();
  int enabled = 0;
  helper->IsFirewallEnabled(enabled);
  if (enabled == 0) {
    helper->Release();
    return memory;
  }
  int not_allowed = 1;
  // Only a setting actually read as "no exceptions" is switched back at exit: an unreadable one must
  // not end with exceptions forbidden that were allowed before.
  if (helper->GetExceptionsNotAllowed(not_allowed) == kFwOk && not_allowed == 1) {
    memory.exceptions_were_off = true;
    helper->SetExceptionsNotAllowed(0);
  }
  helper->AddAuthorizedApplication(image_path.c_str(), kFirewallEntryName);
  memory.asked_for_entry = true;
  helper->Release();
  return memory;
}

void firewall_at_exit(const FirewallMemory &memory, const FirewallFactory &make_helper,
                      const std::wstring &image_path) {
  if (!memory.asked_for_entry) return;
  std::unique_ptr<FirewallOps> helper = make_helper();
  helper->Initialize();
  helper->RemoveAuthorizedApplication(image_path.c_str());
  if (memory.exceptions_were_off) helper->SetExceptionsNotAllowed(1);
  helper->Release();
}

}  // namespace tunmira
