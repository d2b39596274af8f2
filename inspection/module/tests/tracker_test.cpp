// The TCP connection tracker: states over real handshakes, closing, ageing, a full table, and probe
// runs that survive freed slots.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

#include "packet_builder.h"
#include "vorn_fixture.h"
#include "vorn_tracker.h"

namespace vorn_test {
namespace {

using namespace vorn;

class Tracker : public VornTest {
 protected:
  void SetUp() override {
    VornTest::SetUp();
    enable_inspection();
  }
  void send(const Packet &packet, const std::string &device = "eth0") {
    kern::receive(frame(packet.bytes(), ETH_P_IP, device));
  }
  // The record of a packet's connection, or null.
  TcpConnection *record_of(const Packet &packet) {
    auto bytes = packet.bytes();
    PacketView view;
    parse_ipv4(bytes.data(), bytes.size(), &view);
    TcpConnection *record = nullptr;
    uint32_t in_use = module().Tcp_currentconn;
    if (BKTcpConnectionFind(view, &record) != kFoundOrCreated || module().Tcp_currentconn != in_use) {
      if (module().Tcp_currentconn != in_use) BKTcpConnectionClose(record, 0);
      return nullptr;
    }
    return record;
  }
  Packet client = Packet().from("10.0.0.1", 41000).to("10.0.0.2", 80).carrying("");
  Packet server = client.reply();
};

TEST_F(Tracker, HandshakeEstablishesAndTheClosingHandshakeFrees) {
  send(client.flags(kSyn));
  EXPECT_EQ(record_of(client)->state, kTcpSynSeen);
  EXPECT_EQ(record_of(client)->server_port, 80);
  send(server.flags(kSyn | kAck));
  EXPECT_EQ(record_of(client)->state, kTcpSynAckSeen);
  send(client.flags(kAck));
  EXPECT_EQ(record_of(client)->state, kTcpEstablished);
  send(client.flags(kPsh | kAck).carrying("data"));
  EXPECT_EQ(record_of(client)->state, kTcpEstablished);
  EXPECT_EQ(module().Tcp_currentconn, 1u);

  send(client.flags(kFin | kAck).carrying(""));
  EXPECT_EQ(record_of(client)->state, kTcpFirstFin);
  send(server.flags(kAck));
  EXPECT_EQ(record_of(client)->state, kTcpFinAcked);
  send(server.flags(kFin | kAck));
  send(client.flags(kAck));
  EXPECT_EQ(module().Tcp_currentconn, 0u);
  EXPECT_EQ(record_of(client), nullptr);
}

TEST_F(Tracker, ResetFreesTheRecord) {
  send(client.flags(kSyn));
  send(server.flags(kSyn | kAck));
  send(client.flags(kAck));
  ASSERT_EQ(module().Tcp_currentconn, 1u);
  send(server.flags(kRst));
  EXPECT_EQ(module().Tcp_currentconn, 0u);
}

TEST_F(Tracker, ReverseDirectionFindsTheSameRecordAndCounts) {
  send(client.flags(kSyn));
  send(server.flags(kSyn | kAck));
  TcpConnection *record = record_of(client);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record, record_of(server));
  EXPECT_EQ(module().Tcp_currentconn, 1u);
  EXPECT_GE(record->packets, 2u);
  EXPECT_EQ(record->hash, BKTcpConnectionHash(record->reverse_key));
}

TEST_F(Tracker, SynAckWithoutSynIsInvalidOnTheLanSide) {
  send(server.flags(kSyn | kAck), "eth0");
  EXPECT_EQ(record_of(server)->state, kTcpInvalid);
}

TEST_F(Tracker, AgeingKeepsAnEstablishedConnectionFor900Seconds) {
  send(client.flags(kSyn));
  send(server.flags(kSyn | kAck));
  send(client.flags(kAck));
  Packet other = Packet().from("10.0.0.7", 5000).to("10.0.0.8", 25).flags(kSyn);
  kern::clock_advance_ms(900 * 1000);
  send(other);  // ages the table on the way
  EXPECT_EQ(module().Tcp_currentconn, 2u);
  kern::clock_advance_ms(31 * 1000);
  send(Packet().from("10.0.0.9", 5000).to("10.0.0.8", 25).flags(kSyn));
  // The established one is now 931 s idle; the half-open one 31 s.
  EXPECT_EQ(module().Tcp_currentconn, 1u);
}

TEST_F(Tracker, AgeingClosesAnEstablishedConnectionAt901Seconds) {
  send(client.flags(kSyn));
  send(server.flags(kSyn | kAck));
  send(client.flags(kAck));
  kern::clock_advance_ms(901 * 1000);
  send(Packet().from("10.0.0.7", 5000).to("10.0.0.8", 25).flags(kSyn));
  EXPECT_EQ(module().Tcp_currentconn, 1u);
  EXPECT_EQ(record_of(client), nullptr);
}

TEST_F(Tracker, FullTableRefusesNewKeysAndForceAgesIdleOnes) {
  for (uint32_t i = 0; i < 24576; ++i) {
    // Twenty servers share the load, so no one of them sees a SYN flood.
    Packet p =
        Packet()
            .from("10.1." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1), 1024 + i % 1000)
            .to("10.0.0." + std::to_string(2 + i % 20), 80)
            .flags(kSyn);
    send(p);
  }
  ASSERT_EQ(module().Tcp_currentconn, 24576u);
  Packet late = Packet().from("10.9.9.9", 7777).to("10.0.0.2", 80).flags(kSyn);
  send(late);
  EXPECT_EQ(module().Tcp_currentconn, 24576u);
  EXPECT_EQ(deliveries.back().fate, kern::Fate::kDelivered);
  kern::clock_advance_ms(11 * 1000);
  send(late);  // still full: this packet passes untracked but the idle records go
  EXPECT_EQ(module().Tcp_currentconn, 0u);
  send(late);
  EXPECT_EQ(module().Tcp_currentconn, 1u);
}

TEST_F(Tracker, FreedSlotInAProbeRunLosesNoConnection) {
  Packet a = Packet().from("10.0.0.1", 41000).to("10.0.0.2", 80);
  Packet b = sharing_slot_with(a, 1).front();  // stored after a
  send(a.flags(kSyn));
  send(b.flags(kSyn));
  TcpConnection *b_record = record_of(b);
  ASSERT_NE(b_record, nullptr);
  b_record->drop = 1;  // as a signature hit on b would
  send(a.flags(kRst));
  ASSERT_EQ(module().Tcp_currentconn, 1u);
  send(b.flags(kAck).carrying("more"));
  EXPECT_EQ(module().Tcp_currentconn, 1u);  // no duplicate record
  EXPECT_EQ(deliveries.back().fate, kern::Fate::kDropped);
  send(b.flags(kRst).carrying(""));  // a marked connection drops even its reset: it stays until aged
  EXPECT_EQ(module().Tcp_currentconn, 1u);
  kern::clock_advance_ms(31 * 1000);
  send(a.flags(kSyn));  // ages b out on the way
  EXPECT_EQ(module().Tcp_currentconn, 1u);
  // With b gone the run is short again: a's new record lands at its hash index.
  EXPECT_EQ(record_of(a) - tcp_table(), static_cast<long>(BKTcpConnectionHash(record_of(a)->key)));
}

// Connections whose ports sum alike share a hash index. However many there are, a look-up walks a
// bounded run: those finding no room within it go untracked as when the table is full, and those
// tracked are still found.
TEST_F(Tracker, ConnectionsSharingAHashIndexStayWithinABoundedRun) {
  Packet first = Packet().from("10.0.0.1", 1000).to("10.0.0.2", 60000).flags(kSyn);
  std::vector<Packet> packets = sharing_slot_with(first, kTcpProbeLimit + 39);
  ASSERT_EQ(packets.size(), kTcpProbeLimit + 39);
  packets.insert(packets.begin(), first);
  for (const Packet &packet : packets) send(packet);
  EXPECT_EQ(module().Tcp_currentconn, kTcpProbeLimit);
  EXPECT_LE(module().BKTcpLongestChain, kTcpProbeLimit);
  EXPECT_NE(record_of(packets.front()), nullptr);
  EXPECT_NE(record_of(packets[kTcpProbeLimit - 1]), nullptr);
  EXPECT_EQ(record_of(packets.back()), nullptr);
  // A closed one frees its slot for the next newcomer.
  send(Packet(packets.front()).flags(kRst));
  send(packets.back());
  EXPECT_NE(record_of(packets.back()), nullptr);
}

// A sender cannot aim its keys at the slots ahead of a connection, so it fills the table only by the
// connection limit however it picks its addresses and ports: all of the aimed ACKs get a record up to
// that limit, within a run far shorter than the bound.
TEST_F(Tracker, AimedFloodFillsTheTableOnlyAtTheConnectionLimit) {
  Packet target = Packet().from("10.77.0.1", 1234).to("10.0.0.2", 80);
  std::vector<Packet> flood = acks_summing_like(target, "10.66.0.1", kTcpMaxConnections + 2);
  for (const Packet &ack : flood) send(ack);
  EXPECT_EQ(module().Tcp_currentconn, kTcpMaxConnections + 1);
  EXPECT_LT(module().BKTcpLongestChain, kTcpProbeLimit / 2);
  RecordProperty("longest_probe_run", static_cast<int>(module().BKTcpLongestChain));
  EXPECT_EQ(record_of(flood[kTcpMaxConnections]) != nullptr, true);
  EXPECT_EQ(record_of(flood.back()), nullptr);
}

// A few hundred packets aimed at one slot, after a drop-marked connection has been idle for more
// than 10 s, must not start the forced ageing that would close the marked record.
TEST_F(Tracker, AimedFloodAfterIdleLeavesADropMarkInPlace) {
  send(client.flags(kSyn));
  send(server.flags(kSyn | kAck));
  send(client.flags(kAck));
  BKTcpConnectionReset(record_of(client));  // as a signature hit does
  kern::clock_advance_ms(11 * 1000);
  Packet target = Packet().from("10.77.0.1", 1234).to("10.0.0.9", 8080);
  for (const Packet &ack : acks_summing_like(target, "10.66.0.1", kTcpProbeLimit + 1)) send(ack);
  send(client.flags(kPsh | kAck).carrying("more"));
  EXPECT_EQ(deliveries.back().fate, kern::Fate::kDropped);
  ASSERT_NE(record_of(client), nullptr);
  EXPECT_EQ(record_of(client)->drop, 1);
}

TEST_F(Tracker, EverInEstablishedStateByServerAddressAndPort) {
  send(client.flags(kSyn));
  uint16_t port_bytes = htons_k(80);
  EXPECT_EQ(BKTcpConnection_Check_EverInEstState(address_as_stored("10.0.0.2"), port_bytes), 1);
  EXPECT_EQ(BKTcpConnection_Check_EverInEstState(address_as_stored("10.0.0.2"), htons_k(81)), 0);
}

// The server look-ups answer from an index kept beside the table; a walk over the whole table must give
// the same answers for every server any slot ever held (closed and aged-out records included) and
// for servers no record leads to, over random traffic, ageing and a full table.
class TrackerServers : public Tracker {
 protected:
  struct Walked {
    int records = 0;
    int half_open = 0;
  };
  using Server = std::pair<uint32_t, uint16_t>;  // address as stored, port bytes read little-endian

  static Server server_of(const TcpConnection &record) {
    return {load32(record.key + 4), load16(record.key + 8)};
  }
  static std::map<Server, Walked> walk_table() {
    std::map<Server, Walked> servers;
    for (uint32_t i = 0; i < kTcpTableRecords; ++i) {
      const TcpConnection &record = tcp_table()[i];
      if (record.in_use != kSlotInUse) continue;
      Walked &walked = servers[server_of(record)];
      ++walked.records;
      walked.half_open += record.state == kTcpSynSeen;
    }
    return servers;
  }
  // Compares the answers for every server of every slot ever used, plus `extra`; returns how many
  // servers were asked about.
  size_t expect_index_matches_walk(const std::vector<Server> &extra = {}) {
    std::map<Server, Walked> walked = walk_table();
    std::set<Server> asked(extra.begin(), extra.end());
    for (uint32_t i = 0; i < kTcpTableRecords; ++i)
      if (tcp_table()[i].in_use != kSlotFree) asked.insert(server_of(tcp_table()[i]));
    size_t mismatches = 0;
    for (const Server &server : asked) {
      auto it = walked.find(server);
      int ever = it != walked.end() && it->second.records > 0;
      int half_open = it != walked.end() && it->second.half_open > 0;
      unsigned char port_bytes[2];
      store16(port_bytes, server.second);
      uint16_t as_in_memory;
      std::memcpy(&as_in_memory, port_bytes, 2);
      mismatches += BKTcpConnection_Check_EverInEstState(server.first, as_in_memory) != ever;
      mismatches += BKTcpConnection_Check_HalfOpen(server.first, server.second) != half_open;
    }
    EXPECT_EQ(mismatches, 0u);
    return asked.size();
  }
};

TEST_F(TrackerServers, IndexAnswersAsAWalkOverRandomTraffic) {
  std::vector<std::string> addresses;
  for (int i = 1; i <= 6; ++i) addresses.push_back("10.0.0." + std::to_string(i));
  for (int i = 1; i <= 10; ++i) addresses.push_back("10.1.0." + std::to_string(i));
  const std::vector<uint16_t> ports = {80, 443, 25, 1024, 1025, 1026, 1027};
  std::vector<Server> everyone;
  for (const auto &address : addresses)
    for (uint16_t port : ports) everyone.push_back({address_as_stored(address), htons_k(port)});

  const uint8_t flag_sets[] = {kSyn, kSyn | kAck, kAck, kAck,       kPsh | kAck,
                               kFin, kFin | kAck, kRst, kRst | kAck};
  for (unsigned seed = 1; seed <= 3; ++seed) {
    std::mt19937 random(seed);
    auto pick = [&random](size_t n) { return static_cast<size_t>(random() % n); };
    size_t asked = 0;
    for (int step = 1; step <= 3000; ++step) {
      if (pick(40) == 0) {
        kern::clock_advance_ms(pick(4) == 0 ? 35000 : 1000 * pick(12));  // ageing on the next packet
      } else {
        Packet packet = Packet()
                            .from(addresses[pick(addresses.size())], ports[pick(ports.size())])
                            .to(addresses[pick(addresses.size())], ports[pick(ports.size())])
                            .flags(flag_sets[pick(sizeof flag_sets)]);
        send(packet, pick(2) ? "eth1" : "eth0");
      }
      if (step % 50 == 0) asked = expect_index_matches_walk(everyone);
    }
    EXPECT_GT(module().bk_tcp_probe_total, 0u);
    EXPECT_GE(asked, everyone.size());
  }
}

TEST_F(TrackerServers, IndexAnswersAsAWalkWithAFullTableAndAfterForcedAgeing) {
  auto client = [](uint32_t i) {
    return "10.1." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1);
  };
  auto server = [](uint32_t i) { return "10.0." + std::to_string(i % 7) + "." + std::to_string(2 + i % 20); };
  // Half the connections lead to a server of their own, so the index holds thousands of servers.
  auto server_port = [](uint32_t i) { return static_cast<uint16_t>(i % 2 ? 80 : 1000 + i); };
  for (uint32_t i = 0; i < kTcpMaxConnections + 1; ++i) {
    Packet syn = Packet().from(client(i), 1024 + i % 1000).to(server(i), server_port(i)).flags(kSyn);
    send(syn, "eth1");
    if (i % 3 == 0) send(Packet(syn).reply().flags(kSyn | kAck), "eth1");  // some leave SYN seen
  }
  ASSERT_EQ(module().Tcp_currentconn, kTcpMaxConnections + 1);
  // A SYN+ACK from a server whose connection is half-open, on a full table: no record, no change.
  send(Packet().from(server(1), 80).to("10.9.9.9", 7777).flags(kSyn | kAck), "eth1");
  expect_index_matches_walk({{address_as_stored("10.9.9.9"), htons_k(7777)}});
  // Resets close a third of them, the rest are still found.
  for (uint32_t i = 1; i < kTcpMaxConnections + 1; i += 3)
    send(Packet().from(client(i), 1024 + i % 1000).to(server(i), server_port(i)).flags(kRst), "eth1");
  ASSERT_EQ(module().Tcp_currentconn, 16384u);
  expect_index_matches_walk();

  // New connections fill the table again.
  for (uint32_t i = 0; i < 8192; ++i)
    send(Packet().from(client(i), 3000 + i % 1000).to(server(i + 3), 8000 + i % 5).flags(kSyn), "eth1");
  ASSERT_EQ(module().Tcp_currentconn, kTcpMaxConnections + 1);
  expect_index_matches_walk();

  // Some connections stay busy while the rest go idle; the next refused newcomer force-ages those.
  kern::clock_advance_ms(6000);
  uint32_t busy = 0;
  for (uint32_t i = 0; i < 3000; i += 2) {
    if (i % 3 == 1) continue;  // reset above
    send(Packet().from(client(i), 1024 + i % 1000).to(server(i), server_port(i)).flags(kAck), "eth1");
    ++busy;
  }
  kern::clock_advance_ms(5000);
  send(Packet().from("10.9.9.9", 7777).to(server(0), 80).flags(kSyn), "eth1");
  ASSERT_EQ(module().Tcp_currentconn, busy);
  expect_index_matches_walk();

  // The freed slots fill again with new connections to the same and to new servers.
  for (uint32_t i = 0; i < 4000; ++i)
    send(Packet().from(client(i), 2024 + i).to(server(i + 3), 8000 + i % 5).flags(kSyn), "eth1");
  EXPECT_EQ(module().Tcp_currentconn, busy + 4000);
  expect_index_matches_walk();
}

TEST_F(Tracker, SynAckAnswersAHalfOpenConnectionOnTheWanSide) {
  // The client's SYN went out on the LAN side; the server's SYN+ACK arrives on the WAN side under its
  // own key and finds the half-open connection by server address and port.
  Packet out = Packet().from("10.0.0.1", 41000).to("192.0.2.9", 443).flags(kSyn);
  send(out, "eth0");
  EXPECT_EQ(BKTcpConnection_Check_HalfOpen(address_as_stored("192.0.2.9"), htons_k(443)), 1);
  Packet answer = Packet().from("192.0.2.9", 443).to("10.0.0.1", 41000).flags(kSyn | kAck);
  send(answer, "eth1");
  EXPECT_EQ(record_of(out)->state, kTcpSynAckSeen);
  // Another port of that server has no half-open connection: its SYN+ACK is unexpected.
  Packet stray = Packet().from("192.0.2.9", 444).to("10.0.0.1", 41001).flags(kSyn | kAck);
  send(stray, "eth1");
  EXPECT_EQ(record_of(stray)->state, kTcpNew);
  EXPECT_EQ(BKTcpConnection_Check_HalfOpen(address_as_stored("192.0.2.9"), htons_k(443)), 0);
}

TEST_F(Tracker, ProcReportCountsConnections) {
  send(client.flags(kSyn));
  send(Packet().from("10.0.0.3", 1).to("10.0.0.4", 2).flags(kSyn));
  EXPECT_NE(proc_report().find("# of Tcp Conn=2,MLT_EST=1800,MLT_ABN=60\n"), std::string::npos);
}

TEST(TrackerHash, IsSymmetric) {
  uint8_t key[12] = {10, 0, 0, 1, 10, 0, 0, 2, 0, 80, 0xa0, 0x28};
  uint8_t reverse[12] = {10, 0, 0, 2, 10, 0, 0, 1, 0xa0, 0x28, 0, 80};
  EXPECT_EQ(BKTcpConnectionHash(key), BKTcpConnectionHash(reverse));
  EXPECT_EQ(BKTcpConnectionHash(key) % 4, 0u);
  EXPECT_LT(BKTcpConnectionHash(key), 65536u);
}

}  // namespace
}  // namespace vorn_test
