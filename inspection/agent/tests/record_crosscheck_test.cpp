// The library and the module keep their own definitions of the control device's records; this
// holds the two together: command numbers, sizes and field offsets must agree.
#include <gtest/gtest.h>

#include <cstddef>

#include "records.h"
#include "vorn_records.h"

namespace {

namespace lib = vornagent;

TEST(RecordCrossCheck, CommandNumbersAgree) {
  EXPECT_EQ(lib::kIocGetStatus, vorn::VORN_IOC_GET_STATUS);
  EXPECT_EQ(lib::kIocSetStatus, vorn::VORN_IOC_SET_STATUS);
  EXPECT_EQ(lib::kIocLoadRuleTables, vorn::VORN_IOC_LOAD_RULE_TABLES);
  EXPECT_EQ(lib::kIocGetLogs, vorn::VORN_IOC_GET_LOGS);
  EXPECT_EQ(lib::kIocGetLogsLen, vorn::VORN_IOC_GET_LOGS_LEN);
  EXPECT_EQ(lib::kIocGetP2pAction, vorn::VORN_IOC_GET_P2P_ACTION);
  EXPECT_EQ(lib::kIocSetP2pAction, vorn::VORN_IOC_SET_P2P_ACTION);
  EXPECT_EQ(lib::kIocGetImAction, vorn::VORN_IOC_GET_IM_ACTION);
  EXPECT_EQ(lib::kIocSetImAction, vorn::VORN_IOC_SET_IM_ACTION);
  EXPECT_EQ(lib::kIocGetAnomalyAction, vorn::VORN_IOC_GET_ANOMALY_ACTION);
  EXPECT_EQ(lib::kIocSetAnomalyAction, vorn::VORN_IOC_SET_ANOMALY_ACTION);
  EXPECT_EQ(lib::kIocGetRulePortscan, vorn::VORN_IOC_GET_RULE_PORTSCAN);
  EXPECT_EQ(lib::kIocSetRulePortscan, vorn::VORN_IOC_SET_RULE_PORTSCAN);
  EXPECT_EQ(lib::kIocGetRuleDdos, vorn::VORN_IOC_GET_RULE_DDOS);
  EXPECT_EQ(lib::kIocSetRuleDdos, vorn::VORN_IOC_SET_RULE_DDOS);
}

TEST(RecordCrossCheck, SizesAndOffsetsAgree) {
  EXPECT_EQ(sizeof(lib::ParamtVornStatus), sizeof(vorn::ParamtVornStatus));
  EXPECT_EQ(offsetof(lib::ParamtVornStatus, status), offsetof(vorn::ParamtVornStatus, status));
  EXPECT_EQ(sizeof(lib::ParamtVornPolicyTable), sizeof(vorn::ParamtVornPolicyTable));
  EXPECT_EQ(offsetof(lib::ParamtVornPolicyTable, status), offsetof(vorn::ParamtVornPolicyTable, status));
  EXPECT_EQ(sizeof(lib::IM_P2P_AD_Status), sizeof(vorn::IM_P2P_AD_Status));
  EXPECT_EQ(offsetof(lib::IM_P2P_AD_Status, app_id), offsetof(vorn::IM_P2P_AD_Status, AppID));
  EXPECT_EQ(sizeof(lib::KaAppStatTH), sizeof(vorn::KaAppStatTH));
  EXPECT_EQ(offsetof(lib::KaAppStatTH, rule_id), offsetof(vorn::KaAppStatTH, rule_id));
  EXPECT_EQ(offsetof(lib::KaAppStatTH, threshold), offsetof(vorn::KaAppStatTH, threshold));
  EXPECT_EQ(sizeof(IM_P2P_AD_Info), sizeof(vorn::IM_P2P_AD_Info));
  EXPECT_EQ(offsetof(IM_P2P_AD_Info, app_id), offsetof(vorn::IM_P2P_AD_Info, AppID));
  EXPECT_EQ(offsetof(IM_P2P_AD_Info, name), offsetof(vorn::IM_P2P_AD_Info, name));
  EXPECT_EQ(sizeof(KaAppInfoTH), sizeof(vorn::KaAppInfoTH));
  EXPECT_EQ(offsetof(KaAppInfoTH, rule_id), offsetof(vorn::KaAppInfoTH, rule_id));
  EXPECT_EQ(offsetof(KaAppInfoTH, threshold), offsetof(vorn::KaAppInfoTH, threshold));
  EXPECT_EQ(offsetof(KaAppInfoTH, name), offsetof(vorn::KaAppInfoTH, name));
}

TEST(RecordCrossCheck, TheDownloadSectionStartsWithTheModulesTableHeader) {
  EXPECT_EQ(sizeof(vorn::pParamtVornPolicyTableHeader), 12u);
  EXPECT_EQ(vorn::POLICY_TABLE_ID_KERNEL_MEMORY_BANK_01, 0x20000001u);
}

}  // namespace

// The policy builder writes the module's application and threshold tables into engine images; they
// must land where the module's own image layout puts them.
#include "policy_builder.h"
#include "vorn_image.h"

namespace {

TEST(RecordCrossCheck, BuilderTablesMatchTheModulesImageLayout) {
  vornagent::builder::PolicySpec spec;
  spec.apps = {{0, 7, 3, 1, "MSN"}, {1, 150, 0, 0, "eMule"}, {2, 201, 0, 1, "HTTP"}};
  spec.rules = {{5, 4, 1, 2048, "IP Sweep"}, {17, 0, 0, 60000, "SYN Flood"}};
  std::vector<uint8_t> ours = vornagent::builder::engine_image(spec);

  vorn::EngineImage theirs;
  for (const auto &app : spec.apps)
    theirs.set_app(static_cast<uint8_t>(app.app_id), static_cast<uint8_t>(app.index),
                   static_cast<uint8_t>(app.action), app.name);
  for (const auto &rule : spec.rules)
    theirs.set_threshold_rule(static_cast<uint8_t>(rule.rule_id), static_cast<uint8_t>(rule.index),
                              static_cast<uint8_t>(rule.action), static_cast<uint16_t>(rule.threshold),
                              rule.name);

  auto region = [](const std::vector<uint8_t> &image, std::size_t offset, std::size_t size) {
    return std::vector<uint8_t>(image.begin() + static_cast<std::ptrdiff_t>(offset),
                                image.begin() + static_cast<std::ptrdiff_t>(offset + size));
  };
  const std::vector<uint8_t> &module_image = theirs.bytes();
  std::size_t apps = vorn::kAppEntries * sizeof(vorn::VornAppEntry);
  std::size_t rules = vorn::kThresholdEntries * sizeof(vorn::VornRuleEntry);
  ASSERT_GE(ours.size(), vorn::kThresholdTableOffset + rules);
  EXPECT_EQ(region(ours, vorn::kAppTableOffset, apps), region(module_image, vorn::kAppTableOffset, apps));
  EXPECT_EQ(region(ours, vorn::kThresholdTableOffset, rules),
            region(module_image, vorn::kThresholdTableOffset, rules));
}

// The tick hands the module the report segment's event ring as its log table.
TEST(RecordCrossCheck, TheReportRingIsTheModulesLogTable) {
  EXPECT_EQ(sizeof(lib::VornLogRecord), sizeof(vorn::VornLogRecord));
  EXPECT_EQ(offsetof(lib::VornLogRecord, category), offsetof(vorn::VornLogRecord, category));
  EXPECT_EQ(offsetof(lib::VornLogRecord, time), offsetof(vorn::VornLogRecord, time));
  EXPECT_EQ(lib::kLogTableBytes, sizeof(vorn::ParamtVornLogTable));
  constexpr std::size_t kTable = lib::rpt::kLogTable * 4;
  EXPECT_EQ(lib::rpt::kRingRead * 4 - kTable, offsetof(vorn::ParamtVornLogTable, read_index));
  EXPECT_EQ(lib::rpt::kRingWrite * 4 - kTable, offsetof(vorn::ParamtVornLogTable, write_index));
  EXPECT_EQ(lib::rpt::kRingCount * 4 - kTable, offsetof(vorn::ParamtVornLogTable, count));
  EXPECT_EQ(lib::rpt::kRingStatus * 4 - kTable, offsetof(vorn::ParamtVornLogTable, status));
}

}  // namespace
