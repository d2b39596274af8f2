#include "router_exchange.h"

#include <cstdint>
#include <cstring>

#include "page_readers.h"
#include "tunnel_forms.h"

namespace tunmira {
namespace {

constexpr int kPageAttempts = 2;

std::string router_url(std::string_view host, std::string_view page) {
  std::string url = "https://";
  url.append(host).append(page);
  return url;
}

}  // namespace

int LoadFormTemplate(int resource_id, std::string &form) {
  HRSRC resource = ::FindResourceA(nullptr, MAKEINTRESOURCEA(resource_id), "BIN");
  if (resource == nullptr) return 0;
  const DWORD size = ::SizeofResource(nullptr, resource);
  HGLOBAL loaded = ::LoadResource(nullptr, resource);
  const void *bytes = loaded != nullptr ? ::LockResource(loaded) : nullptr;
  if (bytes == nullptr || size == 0 || size > kPageCapacity - 1) return 0;
  form.assign(static_cast<const char *>(bytes), size);
  return 1;
}

int GetRouterPage(std::string_view host, std::string_view page, int port, std::string_view user,
                  std::string_view password, std::string &buffer, const ClientSeams &seams) {
  if (!is_usable_host(host)) return kHttpNoConnection;
  const std::string url = router_url(host, page);
  RouterHttpClient client(seams);
  int result = kHttpNoConnection;
  for (int attempt = 0; attempt < kPageAttempts; ++attempt) {
    buffer.clear();
    result = client.Get(url, static_cast<std::uint16_t>(port), user, password, &buffer, kPageCapacity);
    if (result == kHttpOk) break;
  }
  client.Close();
  return result;
}

int build_tunnel_form_from_template(std::string &form, RouterId local, const TunnelPlan &plan,
                                    const AddressingFlags &flags, const ClientSeams &seams) {
  form.clear();
  if (!LoadFormTemplate(kTunnelFormTemplate, form)) {
    seams.notify("Load Configure resource failure.");
    return 0;
  }
  return BuildTunnelForm(form, local, plan, flags);
}

int post_tunnel_form(RouterId local, const TunnelPlan &plan, const AddressingFlags &flags,
                     const ClientSeams &seams) {
  std::string form;
  if (!build_tunnel_form_from_template(form, local, plan, flags, seams)) return 0;
  const std::string &host = router_host(plan, flags, local);
  if (!is_usable_host(host)) return 0;
  const RouterSettings &router = plan.router(local);
  RouterHttpClient client(seams);
  const int result = client.Post(router_url(host, "/setup.cgi"), static_cast<std::uint16_t>(router.port),
                                 plan.tunnel_name, form, router.user, router.password, 0);
  client.Close();
  return result == kHttpOk ? 1 : 0;
}

int PostSetupForm(RouterId local, const TunnelPlan &plan, const AddressingFlags &flags, std::string &form,
                  const ClientSeams &seams) {
  const std::string &host = router_host(plan, flags, local);
  form.clear();
  if (!is_usable_host(host) || !LoadFormTemplate(kConnectFormTemplate, form) ||
      !BuildConnectForm(form, local, plan, flags)) {
    return 0;
  }
  const RouterSettings &router = plan.router(local);
  RouterHttpClient client(seams);
  const int result = client.Post(router_url(host, "/setup.cgi"), static_cast<std::uint16_t>(router.port),
                                 plan.tunnel_name, form, router.user, router.password, 1);
  client.Close();
  if (result != kHttpOk) return 0;
  return CheckConnectResult(form) == 1 || CheckStatusUp(form) == 1 ? 1 : 0;
}

}  // namespace tunmira
