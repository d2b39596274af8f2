// System V objects shared by the inspection daemon and its clients.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace vornagent {

constexpr key_t kSemaphoreKey = 14610;
constexpr key_t kCmdAgntKey = 13668;
constexpr key_t kRulAgntKey = 13666;
constexpr key_t kRptAgntKey = 13671;
constexpr key_t kRawPolicyKey = 13682;
constexpr key_t kSectionsKey = 13672;
constexpr std::size_t kRawPolicySize = 819200;

// Creates a segment that must not exist yet. A segment left behind by a process that is gone (no
// attachment) is removed first, so a daemon can start again after a crash; a segment that a live
// process holds makes the call fail. Returns the id or -1.
int create_segment(key_t key, std::size_t size);

// Gets an existing segment (size 0 accepts any). Returns the id or -1.
int find_segment(key_t key, std::size_t size = 0);

// Attaches a segment by key; nullptr when it does not exist or cannot be attached.
void *attach_segment(key_t key, std::size_t size = 0);
void detach_segment(void *address);

// Marks a segment for removal; it goes when its last attachment does. False when absent.
bool remove_segment(key_t key);

}  // namespace vornagent
