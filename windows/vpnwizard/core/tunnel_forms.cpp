#include "tunnel_forms.h"

#include <string>

namespace tunmira {
namespace {

bool StaysUnencoded(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
         c == '.' || c == '~';
}

// Collects SetFormField calls and remembers whether any of them could not be carried out.
class FormFiller {
 public:
  explicit FormFiller(std::string &form) : form_(form) {}

  void Set(std::string_view name, std::string_view value) {
    if (SetFormField(name, value, form_) == kFormTooLong) ok_ = false;
  }
  void SetOctets(std::string_view prefix, const Octets &octets, int first = 1) {
    for (int i = first; i <= 4; ++i) {
      Set(std::string(prefix) + std::to_string(i), octets[static_cast<std::size_t>(i - 1)]);
    }
  }
  int Result() const { return ok_ ? 1 : 0; }

 private:
  std::string &form_;
  bool ok_ = true;
};

// The fields that name the remote router by DNS name instead of by address.
void SetRemoteNaming(FormFiller &filler, const RouterSettings &remote, int remoteByName) {
  const char *flag = remoteByName == 1 ? "1" : "0";
  filler.Set("dnsresolve", flag);
  filler.Set("h_dnsresolve", flag);
  filler.Set("remote_dns", remoteByName == 1 ? std::string_view(remote.dnsName) : std::string_view());
}

}  // namespace

std::string EncodeFormValue(std::string_view value) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  encoded.reserve(value.size());
  for (char ch : value) {
    const auto c = static_cast<unsigned char>(ch);
    if (StaysUnencoded(c)) {
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
  const std::string encoded = EncodeFormValue(value);
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
  const RouterSettings &self = plan.Router(local);
  const RouterSettings &remote = plan.Router(OtherRouter(local));
  FormFiller filler(form);
  filler.Set("vt_enable", "enable");
  filler.Set("tunnelname", plan.tunnelName);
  filler.SetOctets("sg_typesel0_ip", remote.wanOctets);
  filler.SetOctets("r_ipsel0_ip", remote.lanOctets);
  filler.SetOctets("r_ipsel1_mask", remote.maskOctets);
  filler.Set("sharedkey", plan.presharedKey);
  filler.Set("net_mask_tmp", remote.subnetMask);
  filler.Set("c4_l_ipsel0_ip", self.lanAddress);
  filler.Set("c4_r_ipsel0_ip", remote.lanAddress);
  filler.Set("c4_r_ipsel1_mask", remote.subnetMask);
  filler.Set("c4_sg_typesel0_ip", remote.wanAddress);
  filler.Set("c4_wan_ip", self.wanAddress);
  SetRemoteNaming(filler, remote, RemoteByName(flags, local));
  filler.SetOctets("l_ipsel0_ip", self.lanOctets);
  filler.Set("h_ike_ex_type", "main");
  filler.SetOctets("l_ipsel1_mask", self.maskOctets, 3);
  return filler.Result();
}

int BuildConnectForm(std::string &form, RouterId local, const TunnelPlan &plan,
                     const AddressingFlags &flags) {
  const RouterSettings &self = plan.Router(local);
  const RouterSettings &remote = plan.Router(OtherRouter(local));
  FormFiller filler(form);
  filler.Set("h_ipsec_select", plan.tunnelName);
  filler.Set("ipsec_select", plan.tunnelName);
  filler.Set("tunnelname", plan.tunnelName);
  filler.SetOctets("l_ipsel0_ip", self.lanOctets);
  filler.SetOctets("l_ipsel1_mask", self.maskOctets, 3);
  filler.SetOctets("sg_typesel0_ip", remote.wanOctets);
  filler.SetOctets("r_ipsel0_ip", remote.lanOctets);
  filler.SetOctets("r_ipsel1_mask", remote.maskOctets);
  filler.Set("sharedkey", plan.presharedKey);
  filler.Set("c4_l_ipsel0_ip", self.lanAddress);
  filler.Set("c4_r_ipsel0_ip", remote.lanAddress);
  filler.Set("c4_r_ipsel1_mask", remote.subnetMask);
  filler.Set("c4_sg_typesel0_ip", remote.wanAddress);
  filler.Set("c4_wan_ip", self.wanAddress);
  filler.Set("tunnel_name", plan.tunnelName);
  SetRemoteNaming(filler, remote, RemoteByName(flags, local));
  return filler.Result();
}

}  // namespace tunmira
