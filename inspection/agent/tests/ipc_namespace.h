// Puts the calling process into a fresh System V IPC namespace, so that the library's fixed keys
// collide neither with other tests running in parallel nor with anything on the machine.
#pragma once

#include <sched.h>

#include <cerrno>

inline bool enter_fresh_ipc_namespace() {
  if (unshare(CLONE_NEWIPC) == 0) return true;
  // Without root, a user namespace gives the right to make an IPC namespace.
  return errno == EPERM && unshare(CLONE_NEWUSER | CLONE_NEWIPC) == 0;
}
