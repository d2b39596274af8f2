// The daemon's per-source tree: one node per source address with the number of its events now in
// the report ring. An AVL tree ordered by key; it lives only in the daemon's memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace vornagent {

struct RptAvlT {
  uint32_t key;    // source address as in the log record
  uint32_t count;  // events of that source in the ring
  std::unique_ptr<RptAvlT> left;
  std::unique_ptr<RptAvlT> right;
  int32_t height = 0;  // a leaf is 0
};
using RptAvlTree = std::unique_ptr<RptAvlT>;

// Inserts a node (an equal key leaves the tree unchanged); returns the new root.
RptAvlTree RptAvlTInsert(uint32_t key, uint32_t count, RptAvlTree tree);
// Removes the node with `key` (a missing key is reported); returns the new root.
RptAvlTree RptAvlTDelete(uint32_t key, RptAvlTree tree);
RptAvlT *RptAvlTSrch(uint32_t key, RptAvlT *tree);
int32_t RptAvlTHeight(const RptAvlT *tree);

// The tree with a bound on its size: the ring holds at most 8191 records, so more sources than
// that can only come from a ring that someone else has written into.
class SourceTree {
 public:
  static constexpr std::size_t kCapacity = 8192;

  RptAvlT *find(uint32_t key) { return RptAvlTSrch(key, root_.get()); }
  // Counts one more event of `key`; the node, or nullptr when the tree is full.
  RptAvlT *add(uint32_t key);
  // Counts one event of `key` less, removing the node at 0; the new count, or -1 when absent.
  int64_t remove(uint32_t key);
  void clear() { root_.reset(), size_ = 0; }
  std::size_t size() const { return size_; }
  const RptAvlT *root() const { return root_.get(); }

 private:
  RptAvlTree root_;
  std::size_t size_ = 0;
};

}  // namespace vornagent
