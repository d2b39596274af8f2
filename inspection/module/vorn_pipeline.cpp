#include "vorn_pipeline.h"

#include "vorn_checks.h"
#include "vorn_detectors.h"
#include "vorn_log.h"
#include "vorn_tracker.h"

namespace vorn {

namespace {

constexpr uint8_t kPppIpv4 = 0x21;

int finish(sk_buff *skb, int verdict) {
  IPS_CallBack(skb, verdict);
  module().VornLock_PacketInspect = 0;
  return verdict;
}

// 0: the IP header was found (skb->nh set); otherwise the frame is finished with verdict 0.
bool locate_pppoe_ip(sk_buff *skb) {
  const unsigned char *pppoe = skb->data;
  if (skb->len <= 5) {
    TRAFFIC_PRINTK("Not enough data to process a pppoe header\n");
    return false;
  }
  if (pppoe[1] != 0) {
    TRAFFIC_PRINTK("0!=pPPPoE_Header->code\n");
    return false;
  }
  if (skb->len < 7 || ((pppoe[6] & 1) == 0 && skb->len < 8)) {
    TRAFFIC_PRINTK("Not enough data to process a pppoe header\n");
    return false;
  }
  unsigned field = (pppoe[6] & 1) ? 1 : 2;
  uint16_t protocol = field == 1 ? pppoe[6] : be16(pppoe + 6);
  if (protocol != kPppIpv4) return false;
  if (!pskb_may_pull(skb, 6 + field + 20)) {
    TRAFFIC_PRINTK("Not enough data to process a pppoe header\n");
    return false;
  }
  skb->nh = skb->data + 6 + field;
  return true;
}

bool application_check_on(uint8_t entry) {
  return module().tables.app_table[entry].action == 1;
}

// The TCP service checks by destination port: HTTP and Telnet queue a decoded copy and let the packet
// go on to signature matching; FTP and RPC decide themselves.
bool tcp_service_check_drops(sk_buff *skb, const PacketView &packet) {
  int code = 0;
  switch (packet.destination_port()) {
    case 80:
      if (application_check_on(kAnomalyHttp)) kkAnomalyHttpCheck_NonBlocking(skb, packet, &code);
      return false;
    case 23:
      if (application_check_on(kAnomalyTelnet)) kkAnomalyTelnetCheck_NonBlocking(skb, packet, &code);
      return false;
    case 21:
      return application_check_on(kAnomalyFtp) && kkAnomalyFtpCheck(packet) == 1;
    default:
      return application_check_on(kAnomalyRpc) && kkAnomalyRpcCheck(packet) == 1;
  }
}

bool tcp_detectors_drop(sk_buff *skb, const PacketView &packet) {
  if (BKTcpConnTrack(skb, packet) == 1) return true;
  auto *connection = static_cast<TcpConnection *>(skb->conn);
  if ((!connection || connection->packets <= 1) && kkDetectPortScan(skb, packet) == 1) return true;
  if ((packet.tcp_flags() & (kSyn | kAck)) == kSyn) {
    if (module().tables.threshold_table[kRuleIpSweep].action == 1 &&
        kkIpSweepDetect(packet, packet.destination_port()) == 1)
      return true;
    if (kkDetectDdos(packet, kRuleSynFlood) == 1) return true;
  }
  return tcp_service_check_drops(skb, packet);
}

// The detectors and anomaly checks that run before signature matching: true when one drops.
bool detectors_drop(sk_buff *skb, const PacketView &packet) {
  switch (packet.protocol) {
    case kIcmp:
      return kkDetectDdos(packet, kRuleIcmpFlood) == 1;
    case kIgmp:
      return kkDetectDdos(packet, kRuleIgmpFlood) == 1;
    case kUdp:
      if (kkDetectPortScan(skb, packet) == 1) {
        TRAFFIC_PRINTK("Drop by Port Scan UDP\n");
        return true;
      }
      return kkDetectDdos(packet, kRuleUdpFlood) == 1;
    case kTcp:
      return tcp_detectors_drop(skb, packet);
    default:
      return false;
  }
}

}  // namespace

int kkPacketInspect(sk_buff *skb, int *code) {
  module().VornLock_PacketInspect = 1;
  if (!module().pVornRuleSetInfo) {
    *code = kNoRuleSet;
    return finish(skb, 0);
  }
  if (ips_enable_word() != 1) {
    *code = kInspectionOff;
    return finish(skb, 0);
  }
  if (skb->dev && std::strncmp(skb->dev->name, "lo", 2) == 0) return finish(skb, 0);
  uint16_t type = htons_k(skb->protocol);
  if (type == ETH_P_PPP_DISC) return finish(skb, 0);
  if (type != ETH_P_IP && type != ETH_P_PPP_SES) {
    *code = kNotIpv4;
    return finish(skb, 0);
  }
  sk_buff *own = skb_share_check(skb, GFP_ATOMIC);
  if (!own) {
    TRAFFIC_PRINTK("skb_share_check() fail.\n");
    *code = kNoPrivateBuffer;
    return finish(skb, 0);
  }
  skb = own;
  if (type == ETH_P_IP) {
    if (!pskb_may_pull(skb, 20)) {
      TRAFFIC_PRINTK("pskb_may_pull() fail\n");
      *code = kNoPrivateBuffer;
      return finish(skb, 0);
    }
    skb->nh = skb->data;
  } else if (!locate_pppoe_ip(skb)) {
    return finish(skb, 0);
  }
  switch (kkIntegrityCheck(skb)) {
    case kIntegrityFailed:
      return finish(skb, 1);
    case kIntegrityFragment:
      return finish(skb, 0);
    default:
      break;
  }
  PacketView packet;
  if (!locate_ip_packet(skb, &packet)) return finish(skb, 0);  // unreadable: passed without checks
  if (detectors_drop(skb, packet)) return finish(skb, 1);

  int rc = kkSignatureMatch_NonBlocking(skb, packet, 0, code);
  if (rc != 0) netif_rx(skb);
  module().VornLock_PacketInspect = 0;
  return rc;
}

}  // namespace vorn
