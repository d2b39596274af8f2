#include "chip_objects.h"

#include "mgmt.h"
#include "swc_api.h"
#include "swc_cpu.h"
#include "swc_qos_state.h"

namespace {

inline constexpr uint32_t kObjRegister = 0, kObjRegisterBlock = 4, kObjChipId = 12, kObjCpuRegistration = 13;
inline constexpr size_t kBlockHeader = 16;  // first address, count, step, mask

bool get_or_set(MgmtObject &object, size_t data_size) {
  if ((object.cmd() == kMgmtCmdGet || object.cmd() == kMgmtCmdSet) && object.has_data(data_size)) return true;
  object.set_res(kMgmtResFail);
  return false;
}

void finish(MgmtObject &object, swc_rc rc) {
  object.set_res(rc < 0 ? kMgmtResFail : kMgmtResOk);
}

void register_object(MgmtObject &object) {
  if (!get_or_set(object, 12)) return;
  const uint32_t address = object.data32(0);
  if (object.cmd() == kMgmtCmdSet)
    return finish(object, swc_register_writemasked(address, object.data32(4), object.data32(8)));
  uint32_t value = 0;
  const swc_rc rc = swc_register_read(address, &value);
  if (rc >= 0) object.set_data32(4, value);
  finish(object, rc);
}

// The count comes from the peer: the values it names must lie inside the object.
void register_block_object(MgmtObject &object) {
  if (!get_or_set(object, kBlockHeader)) return;
  const uint32_t count = object.data32(4);
  if (!object.has_data(kBlockHeader + 4 * static_cast<uint64_t>(count))) {
    object.set_res(kMgmtResFail);
    return;
  }
  uint32_t address = object.data32(0);
  const uint32_t step = object.data32(8);
  const uint32_t mask = object.data32(12);
  for (uint32_t i = 0; i < count; ++i, address += step) {
    const size_t at = kBlockHeader + 4 * size_t{i};
    swc_rc rc;
    if (object.cmd() == kMgmtCmdSet) {
      rc = swc_register_writemasked(address, object.data32(at), mask);
    } else {
      uint32_t value = 0;
      rc = swc_register_read(address, &value);
      if (rc >= 0) object.set_data32(at, value);
    }
    if (rc < 0) return finish(object, rc);
  }
  finish(object, kSwcRcOk);
}

void chip_id_object(MgmtObject &object) {
  if (object.cmd() != kMgmtCmdGet || !object.has_data(8)) {
    object.set_res(kMgmtResFail);
    return;
  }
  SwcChipId id{};
  const swc_rc rc = swc_chipid_get(&id);
  if (rc >= 0) {
    le_store16(object.data(), id.part);
    le_store16(object.data() + 2, 0);
    object.set_data32(4, id.revision);
  }
  finish(object, rc);
}

void cpu_registration_object(MgmtObject &object) {
  if (!get_or_set(object, 4 * kSwcRegistrationFlags)) return;
  SwcCpuRxRegistration registration{};
  if (object.cmd() == kMgmtCmdSet) {
    for (unsigned i = 0; i < kSwcRegistrationFlags; ++i) registration.flag[i] = object.data32(4 * i);
    return finish(object, swc_cpu_rx_registration_set(&registration));
  }
  const swc_rc rc = swc_cpu_rx_registration_get(&registration);
  for (unsigned i = 0; i < kSwcRegistrationFlags; ++i) object.set_data32(4 * i, registration.flag[i]);
  finish(object, rc);
}

}  // namespace

void chip_objects_reg() {
  mgmt_object_reg(kObjRegister, register_object);
  mgmt_object_reg(kObjRegisterBlock, register_block_object);
  mgmt_object_reg(kObjChipId, chip_id_object);
  mgmt_object_reg(kObjCpuRegistration, cpu_registration_object);
}
