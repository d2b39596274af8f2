// The url-encoded forms the wizard posts to a router's "/setup.cgi": a template holding every field
// of the router's tunnel page, filled field by field from the tunnel plan.
#pragma once

#include <string>
#include <string_view>

#include "tunnel_plan.h"

namespace tunmira {

// Resource ids of the two templates (type "BIN").
inline constexpr int kTunnelFormTemplate = 345;   // writes a new tunnel ("todo=save")
inline constexpr int kConnectFormTemplate = 346;  // brings the tunnel up ("todo=tunnel_connect")

// Percent-encodes a form value so that no character of it can end its field or start another:
// letters, digits and "-_.~" stay, a blank becomes "+", every other byte becomes %XX.
std::string encode_form_value(std::string_view value);

// Results of SetFormField.
inline constexpr int kFieldReplaced = 1;
inline constexpr int kFieldAbsent = 0;
inline constexpr int kFormTooLong = -1;

// Replaces the value of every field of form named exactly `name` with the encoded value. The form is
// left untouched when no field has that name, and when the result would not fit a page buffer.
int SetFormField(std::string_view name, std::string_view value, std::string &form);

// Fill a loaded template for the router `local` (the router the form is posted to). Both return 1,
// or 0 when a value would make the form longer than a page buffer (the form is then unusable).
int BuildTunnelForm(std::string &form, RouterId local, const TunnelPlan &plan, const AddressingFlags &flags);
int BuildConnectForm(std::string &form, RouterId local, const TunnelPlan &plan, const AddressingFlags &flags);

}  // namespace tunmira
