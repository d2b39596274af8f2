// Configuration store: numbered blocks in memory, mirrored to "switch.conf" in the work directory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct MgmtObject;

// Header block (id 0) of switch.conf.
inline constexpr uint32_t kConfCookie = 0x56545353;
inline constexpr uint32_t kConfId = 18;
inline constexpr uint16_t kConfMajor = 14;
inline constexpr uint32_t kConfHeaderSize = 32;
// Debug flag word that disables reading and writing the file.
inline constexpr int kConfDebugFileDisabled = 11;

enum ConfActionCode : uint32_t { kConfActionCreate = 0, kConfActionRead = 1 };
struct ConfAction {
  uint32_t action;
  uint32_t keep;
};
using ConfActionFn = void (*)(const ConfAction &action);

// The four top-level module actions, called in this order for defaults and for re-reading.
enum ConfModuleSlot { kConfModulePort, kConfModuleL2, kConfModuleL3, kConfModuleMgmt, kConfModuleCount };
void conf_module_reg(ConfModuleSlot slot, ConfActionFn action);

void conf_init();
// Finds, creates or resizes a block; the data stays valid until the block is resized or removed.
uint8_t *conf_create(uint32_t id, uint32_t size);
uint8_t *conf_open(uint32_t id, uint32_t *size);
// Ends a change: the file is rewritten when the block differs from its record there.
void conf_close(uint32_t id);
int conf_busy();
void conf_make_default(uint32_t keep);
void conf_mgmt(MgmtObject &object);

// Whole-file operations; 0 or -1.
int conf_file_read();
int conf_file_write();
// Checks a file image's header and loads its blocks; 0 or -1.
int conf_load_image(const std::vector<uint8_t> &bytes);
std::string conf_file_path();
// Drops every block and any pending request (tests start from an empty store).
void conf_reset();
