#include "tunnel_forms.h"

#include <string>

namespace tunmira {
namespace {

bool stays_unencoded(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
         c == '.' || c == '~';
}

// Collects SetFormField calls and remembers whether any of them could not be carried out.
class FormFiller {
 public:
  explicit FormFiller(std::string &form) : form_(form) {}

  void set(std::string_view name, std::string_view value) {
    if (SetFormField(name, value, form_) == kFormTooLong) ok_ = false;
  }
  void set_octets(std::string_view prefix, const Octets &octets, int first = 1) {
    for (int i = first; i <= 4; ++i) {
      set(std::string(prefix) + std::to_string(i), octets[static_cast<std::size_t>(i - 1)]);
    }
  }
  int result() const { return ok_ ? 1 : 0; }

 private:
  std::string &form_;
  bool ok_ = true;
};

// The fields that name the remote router by DNS name instead of by address.
void set_remote_naming(FormFiller &filler, const RouterSettings &remote, int remote_by_name) {
  const char *flag = remote_by_name == 1 ? "1" : "0";
  filler.set("dnsresolve", flag);
  filler.set("h_dnsresolve", flag);
  filler.set("remote_dns", remote_by_name == 1 ? std::string_view(remote.dns_name) : std::string_view());
}

}  // namespace

std::string encode_form_value(std::string_view value) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  encoded.reserve(value.size());
  for (char ch : value) {
    const auto c = static_cast<unsigned char>(ch);
    if (stays_unencoded(c)) {
      encoded += ch;
    } else if (c == ' ') {
      encoded += '+';
    } else {
      encoded += '%';
      encoded += kHex[c >> 4];
      encoded += kHex[c & 0x0F];
    }
  }
  return encoded;
}

int SetFormField(std::string_view name, std::string_view value, std::string &form) {
  const std::string encoded = encode_form_value(value);
  std::string result;
  result.reserve(form.size() + encoded.size());
  bool replaced = false;
  std::size_t start = 0;
  while (start <= form.size()) {
    std::size_t end = form.find('&', start);
    if (end == std::string::npos) end = form.size();
    const std::string_view field = std::string_view(form).substr(start, end - start);
    if (field.size() > name.size() && field.starts_with(name) && field[name.size()] == '=') {
      result.append(name).append("=").append(encoded);
      replaced = true;
    } else {
      result.append(field);
    }
    if (end == form.size()) break;
    result += '&';
    start = end + 1;
  }
  if (!replaced) return kFieldAbsent;
  // One byte of the page buffer stays free for the terminating zero the posting code relies on.
  if (result.size() > kPageCapacity - 1) return kFormTooLong;
  form = std::move(result);
  return kFieldReplaced;
}

int BuildTunnelForm(std::string &form, RouterId local, const TunnelPlan &plan, const AddressingFlags &flags) {
  const RouterSettings &self = plan.router(local);
  const RouterSettings &remote = plan.router(other_router(local));
  FormFiller filler(form);
  filler.set("vt_enable", "enable");
  filler.set("tunnelname", plan.tunnel_name);
  filler.set_octets("sg_typesel0_ip", remote.wan_octets);
  filler.set_octets("r_ipsel0_ip", remote.lan_octets);
  filler.set_octets("r_ipsel1_mask", remote.mask_octets);
  filler.set("sharedkey", plan.preshared_key);
  filler.set("net_mask_tmp", remote.subnet_mask);
  filler.set("c4_l_ipsel0_ip", self.lan_address);
  filler.set("c4_r_ipsel0_ip", remote.lan_address);
  filler.set("c4_r_ipsel1_mask", remote.subnet_mask);
  filler.set("c4_sg_typesel0_ip", remote.wan_address);
  filler.set("c4_wan_ip", self.wan_address);
  set_remote_naming(filler, remote, RemoteByName(flags, local));
  filler.set_octets("l_ipsel0_ip", self.lan_octets);
  filler.set("h_ike_ex_type", "main");
  filler.set_octets("l_ipsel1_mask", self.mask_octets, 3);
  return filler.result();
}

int BuildConnectForm(std::string &form, RouterId local, const TunnelPlan &plan,
                     const AddressingFlags &flags) {
  const RouterSettings &self = plan.router(local);
  const RouterSettings &remote = plan.router(other_router(local));
  FormFiller filler(form);
  filler.set("h_ipsec_select", plan.tunnel_name);
  filler.set("ipsec_select", plan.tunnel_name);
  filler.set("tunnelname", plan.tunnel_name);
  filler.set_octets("l_ipsel0_ip", self.lan_octets);
  filler.set_octets("l_ipsel1_mask", self.mask_octets, 3);
  filler.set_octets("sg_typesel0_ip", remote.wan_octets);
  filler.set_octets("r_ipsel0_ip", remote.lan_octets);
  filler.set_octets("r_ipsel1_mask", remote.mask_octets);
  filler.set("sharedkey", plan.preshared_key);
  filler.set("c4_l_ipsel0_ip", self.lan_address);
  filler.set("c4_r_ipsel0_ip", remote.lan_address);
  filler.set("c4_r_ipsel1_mask", remote.subnet_mask);
  filler.set("c4_sg_typesel0_ip", remote.wan_address);
  filler.set("c4_wan_ip", self.wan_address);
  filler.set("tunnel_name", plan.tunnel_name);
  set_remote_naming(filler, remote, RemoteByName(flags, local));
  return filler.result();
}

}  // namespace tunmira
