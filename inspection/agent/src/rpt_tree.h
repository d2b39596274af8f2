// The daemon's per-source tree: one node per source address with the number of its events now in
// the report ring. An AVL tree ordered by key; it lives only in the daemon's memory. It is changed by
// the report tick in the SIGALRM handler, so its nodes come from a pool allocated beforehand.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace vornagent {

struct RptAvlT {
  uint32_t key;    // source address as in the log record
  uint32_t count;  // events of that source in the ring
  RptAvlT *left;
  RptAvlT *right;
  int32_t height;  // a leaf is 0
};

// A fixed number of nodes, allocated once; taking and giving back nodes never allocates.
class NodePool {
 public:
  explicit NodePool(std::size_t capacity);
  RptAvlT *take();  // nullptr when every node is in use
  void give(RptAvlT *node);
  std::size_t used() const { return used_; }

 private:
  std::unique_ptr<RptAvlT[]> nodes_;
  std::size_t capacity_;
  std::size_t fresh_ = 0;    // nodes never handed out start here
  RptAvlT *free_ = nullptr;  // nodes given back, linked through `right`
  std::size_t used_ = 0;
};

// Inserts a node (an equal key leaves the tree unchanged; an empty pool is reported and leaves the key
// out); returns the new root.
RptAvlT *RptAvlTInsert(uint32_t key, uint32_t count, RptAvlT *tree, NodePool &pool);
// Removes the node with `key` (a missing key is reported); returns the new root.
RptAvlT *RptAvlTDelete(uint32_t key, RptAvlT *tree, NodePool &pool);
RptAvlT *RptAvlTSrch(uint32_t key, RptAvlT *tree);
// The node of the smallest / largest key (leftmost / rightmost); nullptr for an empty tree.
RptAvlT *RptAvlTFindMin(RptAvlT *tree);
RptAvlT *RptAvlTFindMax(RptAvlT *tree);
// Gives every node of the tree back to the pool; returns the empty tree.
RptAvlT *RptAvlTMakeEmpty(RptAvlT *tree, NodePool &pool);
// The element at a node: a node holds its own key and count, so it is the node itself.
RptAvlT *RptAvlTRetrive(RptAvlT *node);
int32_t RptAvlTHeight(const RptAvlT *tree);

// The tree with a bound on its size: the ring holds at most 8191 records, so more sources than
// that can only come from a ring that someone else has written into.
class SourceTree {
 public:
  static constexpr std::size_t kCapacity = 8192;

  SourceTree() : pool_(kCapacity) {}
  RptAvlT *find(uint32_t key) { return RptAvlTSrch(key, root_); }
  // Counts one more event of `key`; the node, or nullptr when the tree is full.
  RptAvlT *add(uint32_t key);
  // Counts one event of `key` less, removing the node at 0; the new count, or -1 when absent.
  int64_t remove(uint32_t key);
  void clear() { root_ = RptAvlTMakeEmpty(root_, pool_); }
  std::size_t size() const { return pool_.used(); }
  const RptAvlT *root() const { return root_; }

 private:
  NodePool pool_;
  RptAvlT *root_ = nullptr;
};

}  // namespace vornagent
