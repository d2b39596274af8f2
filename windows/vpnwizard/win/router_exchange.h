// The wizard's exchanges with one router: reading a page, posting the tunnel form and posting the
// connect form. Each builds its own client and closes it before returning.
#pragma once

#include <string>
#include <string_view>

#include "router_http_client.h"
#include "tunnel_plan.h"

namespace tunmira {

// Copies the "BIN" resource with the given id out of the program's own module into form. 0 when it
// is missing or would not fit a page buffer.
int LoadFormTemplate(int resource_id, std::string &form);

// GETs "https://" + host + page into buffer (at most kPageCapacity bytes), trying twice; the
// client's result code of the last attempt. A host that is not a plain name or address gives 1
// without any request.
int GetRouterPage(std::string_view host, std::string_view page, int port, std::string_view user,
                  std::string_view password, std::string &buffer, const ClientSeams &seams = {});

// Template 345 filled for the router `local`; 0 (after telling the user when the template is
// missing) when the form cannot be built.
int build_tunnel_form_from_template(std::string &form, RouterId local, const TunnelPlan &plan,
                                    const AddressingFlags &flags, const ClientSeams &seams = {});

// Posts the tunnel form to router `local`: 1 only when the router accepted it.
int post_tunnel_form(RouterId local, const TunnelPlan &plan, const AddressingFlags &flags,
                     const ClientSeams &seams = {});

// Posts the connect form to router `local` and judges its reply: 1 when the tunnel is up. The
// router's reply is left in form.
int PostSetupForm(RouterId local, const TunnelPlan &plan, const AddressingFlags &flags, std::string &form,
                  const ClientSeams &seams = {});

}  // namespace tunmira
