// A client's read-only attachments of the report data, taken by kaGetRawDataShm.
#pragma once

#include <cstddef>
#include <cstdint>

#include "records.h"

namespace vornagent {

struct ClientAttachments {
  const uint32_t *report = nullptr;
  const RulAgnt *rule = nullptr;
  const uint8_t *sections = nullptr;
  std::size_t sections_size = 0;  // what was really attached: the bound for every section read
};

const ClientAttachments &client_attachments();

}  // namespace vornagent
