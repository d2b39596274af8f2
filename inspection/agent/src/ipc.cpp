#include "ipc.h"

#include <sys/ipc.h>
#include <sys/shm.h>

#include <cerrno>

namespace vornagent {

namespace {

constexpr int kMode = 0666;

bool remove_if_abandoned(key_t key) {
  int id = shmget(key, 0, 0);
  if (id < 0) return false;
  shmid_ds info{};
  if (shmctl(id, IPC_STAT, &info) != 0 || info.shm_nattch != 0) return false;
  return shmctl(id, IPC_RMID, nullptr) == 0;
}

}  // namespace

int create_segment(key_t key, std::size_t size) {
  int id = shmget(key, size, IPC_CREAT | IPC_EXCL | kMode);
  if (id < 0 && errno == EEXIST && remove_if_abandoned(key))
    id = shmget(key, size, IPC_CREAT | IPC_EXCL | kMode);
  return id;
}

int find_segment(key_t key, std::size_t size) {
  return shmget(key, size, 0);
}

void *attach_segment(key_t key, std::size_t size) {
  int id = find_segment(key, size);
  if (id < 0) return nullptr;
  void *address = shmat(id, nullptr, 0);
  return address == reinterpret_cast<void *>(-1) ? nullptr : address;
}

void detach_segment(void *address) {
  if (address) shmdt(address);
}

bool remove_segment(key_t key) {
  int id = find_segment(key);
  return id >= 0 && shmctl(id, IPC_RMID, nullptr) == 0;
}

}  // namespace vornagent
