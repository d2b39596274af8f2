#include "rpt_tree.h"

#include <algorithm>

#include "messages.h"

namespace vornagent {

namespace {

constexpr const char *kSource = "kaRptAgnt";

void update_height(RptAvlT &node) {
  node.height = 1 + std::max(RptAvlTHeight(node.left), RptAvlTHeight(node.right));
}

int32_t balance(const RptAvlT &node) {
  return RptAvlTHeight(node.left) - RptAvlTHeight(node.right);
}

// The left child becomes the root of this subtree.
RptAvlT *RptAvlTSingleRotateLeft(RptAvlT *node) {
  RptAvlT *child = node->left;
  node->left = child->right;
  update_height(*node);
  child->right = node;
  update_height(*child);
  return child;
}

// The right child becomes the root of this subtree.
RptAvlT *RptAvlTSingleRotateRight(RptAvlT *node) {
  RptAvlT *child = node->right;
  node->right = child->left;
  update_height(*node);
  child->left = node;
  update_height(*child);
  return child;
}

RptAvlT *RptAvlTDoubleRotateLeft(RptAvlT *node) {
  node->left = RptAvlTSingleRotateRight(node->left);
  return RptAvlTSingleRotateLeft(node);
}

RptAvlT *RptAvlTDoubleRotateRight(RptAvlT *node) {
  node->right = RptAvlTSingleRotateLeft(node->right);
  return RptAvlTSingleRotateRight(node);
}

// Restores the height rule at one node after an insertion or deletion below it.
RptAvlT *rebalance(RptAvlT *node) {
  update_height(*node);
  int32_t lean = balance(*node);
  if (lean > 1)
    return balance(*node->left) >= 0 ? RptAvlTSingleRotateLeft(node) : RptAvlTDoubleRotateLeft(node);
  if (lean < -1)
    return balance(*node->right) <= 0 ? RptAvlTSingleRotateRight(node) : RptAvlTDoubleRotateRight(node);
  return node;
}

// Takes the smallest node out of a subtree; returns the rest.
RptAvlT *take_min(RptAvlT *tree, RptAvlT *&smallest) {
  if (!tree->left) {
    smallest = tree;
    return tree->right;
  }
  tree->left = take_min(tree->left, smallest);
  return rebalance(tree);
}

}  // namespace

NodePool::NodePool(std::size_t capacity)
    : nodes_(std::make_unique_for_overwrite<RptAvlT[]>(capacity)), capacity_(capacity) {}

RptAvlT *NodePool::take() {
  RptAvlT *node = nullptr;
  if (free_) {
    node = free_;
    free_ = node->right;
  } else if (fresh_ < capacity_) {
    node = &nodes_[fresh_++];
  } else {
    return nullptr;
  }
  ++used_;
  return node;
}

void NodePool::give(RptAvlT *node) {
  node->right = free_;
  free_ = node;
  --used_;
}

int32_t RptAvlTHeight(const RptAvlT *tree) {
  return tree ? tree->height : -1;
}

RptAvlT *RptAvlTInsert(uint32_t key, uint32_t count, RptAvlT *tree, NodePool &pool) {
  if (!tree) {
    RptAvlT *node = pool.take();
    if (!node) {
      print_message(kSource, 131, "Out of Space");
      return nullptr;
    }
    *node = RptAvlT{key, count, nullptr, nullptr, 0};
    return node;
  }
  if (key < tree->key)
    tree->left = RptAvlTInsert(key, count, tree->left, pool);
  else if (key > tree->key)
    tree->right = RptAvlTInsert(key, count, tree->right, pool);
  else
    return tree;
  return rebalance(tree);
}

RptAvlT *RptAvlTDelete(uint32_t key, RptAvlT *tree, NodePool &pool) {
  if (!tree) {
    print_tagged(kSource, 203, " Element not found\n");
    return tree;
  }
  if (key < tree->key) {
    tree->left = RptAvlTDelete(key, tree->left, pool);
  } else if (key > tree->key) {
    tree->right = RptAvlTDelete(key, tree->right, pool);
  } else if (tree->left && tree->right) {
    // The smallest node of the right subtree takes this node's place.
    RptAvlT *successor = nullptr;
    RptAvlT *rest = take_min(tree->right, successor);
    successor->left = tree->left;
    successor->right = rest;
    pool.give(tree);
    tree = successor;
  } else {
    RptAvlT *child = tree->left ? tree->left : tree->right;
    pool.give(tree);
    return child;
  }
  return rebalance(tree);
}

RptAvlT *RptAvlTSrch(uint32_t key, RptAvlT *tree) {
  while (tree && tree->key != key) tree = key < tree->key ? tree->left : tree->right;
  return tree;
}

RptAvlT *RptAvlTFindMin(RptAvlT *tree) {
  while (tree && tree->left) tree = tree->left;
  return tree;
}

RptAvlT *RptAvlTFindMax(RptAvlT *tree) {
  while (tree && tree->right) tree = tree->right;
  return tree;
}

// Recursion is as deep as the tree is high (under 20 levels for the 8192 sources), so it is
// safe in the alarm handler that empties the tree on a reset request.
RptAvlT *RptAvlTMakeEmpty(RptAvlT *tree, NodePool &pool) {
  if (tree) {
    RptAvlTMakeEmpty(tree->left, pool);
    RptAvlTMakeEmpty(tree->right, pool);
    pool.give(tree);
  }
  return nullptr;
}

RptAvlT *RptAvlTRetrive(RptAvlT *node) {
  return node;
}

RptAvlT *SourceTree::add(uint32_t key) {
  if (RptAvlT *node = find(key)) {
    ++node->count;
    return node;
  }
  root_ = RptAvlTInsert(key, 1, root_, pool_);
  return find(key);
}

int64_t SourceTree::remove(uint32_t key) {
  RptAvlT *node = find(key);
  if (!node) return -1;
  uint32_t count = node->count > 0 ? node->count - 1 : 0;
  node->count = count;
  if (count == 0) root_ = RptAvlTDelete(key, root_, pool_);
  return count;
}

}  // namespace vornagent
