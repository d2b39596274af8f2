#pragma once
// Return codes of the rw* exports (0 is success; a gateway's status number passes through as it is).

namespace dravik {

constexpr int kOk = 0;
constexpr int kIsakmpFailed = -1;
constexpr int kNoValidReply = -5;
constexpr int kNotStatusPage = -6;
constexpr int kIniPathTooLong = -8;
constexpr int kIniUnreadable = -9;
constexpr int kIniEmpty = -10;
constexpr int kReplyMissing = -11;
constexpr int kIpsecConfUnwritable = -12;
constexpr int kIpsecNotStarted = -13;
constexpr int kNameServerFailed = -14;
constexpr int kSearchListFailed = -15;
constexpr int kPasswordReplyMissing = -16;
constexpr int kBadWorkDir = -17;
constexpr int kStatusConfUnwritable = -20;
constexpr int kSubnetConflict = -21;
constexpr int kIniArgTooLong = -31;
constexpr int kLocalIpBad = -32;
constexpr int kGatewayBad = -33;
constexpr int kUserBad = -34;
constexpr int kPasswordBad = -35;
constexpr int kNewPasswordBad = -36;
constexpr int kHttpNotOk = -37;

}  // namespace dravik
