#include "rpt_tree.h"

#include <algorithm>
#include <cstdio>

#include "messages.h"

namespace vornagent {

namespace {

constexpr const char *kSource = "kaRptAgnt";

void updateHeight(RptAvlT &node) {
  node.height = 1 + std::max(RptAvlTHeight(node.left.get()), RptAvlTHeight(node.right.get()));
}

int32_t balance(const RptAvlT &node) { return RptAvlTHeight(node.left.get()) - RptAvlTHeight(node.right.get()); }

// The left child becomes the root of this subtree.
RptAvlTree RptAvlTSingleRotateLeft(RptAvlTree node) {
  RptAvlTree child = std::move(node->left);
  node->left = std::move(child->right);
  updateHeight(*node);
  child->right = std::move(node);
  updateHeight(*child);
  return child;
}

// The right child becomes the root of this subtree.
RptAvlTree RptAvlTSingleRotateRight(RptAvlTree node) {
  RptAvlTree child = std::move(node->right);
  node->right = std::move(child->left);
  updateHeight(*node);
  child->left = std::move(node);
  updateHeight(*child);
  return child;
}

RptAvlTree RptAvlTDoubleRotateLeft(RptAvlTree node) {
  node->left = RptAvlTSingleRotateRight(std::move(node->left));
  return RptAvlTSingleRotateLeft(std::move(node));
}

RptAvlTree RptAvlTDoubleRotateRight(RptAvlTree node) {
  node->right = RptAvlTSingleRotateLeft(std::move(node->right));
  return RptAvlTSingleRotateRight(std::move(node));
}

// Restores the height rule at one node after an insertion or deletion below it.
RptAvlTree rebalance(RptAvlTree node) {
  updateHeight(*node);
  int32_t lean = balance(*node);
  if (lean > 1) {
    return balance(*node->left) >= 0 ? RptAvlTSingleRotateLeft(std::move(node))
                                     : RptAvlTDoubleRotateLeft(std::move(node));
  }
  if (lean < -1) {
    return balance(*node->right) <= 0 ? RptAvlTSingleRotateRight(std::move(node))
                                      : RptAvlTDoubleRotateRight(std::move(node));
  }
  return node;
}

// Takes the smallest node out of a subtree; returns the rest.
RptAvlTree takeMin(RptAvlTree tree, RptAvlTree &smallest) {
  if (!tree->left) {
    RptAvlTree rest = std::move(tree->right);
    smallest = std::move(tree);
    return rest;
  }
  tree->left = takeMin(std::move(tree->left), smallest);
  return rebalance(std::move(tree));
}

}  // namespace

int32_t RptAvlTHeight(const RptAvlT *tree) { return tree ? tree->height : -1; }

RptAvlTree RptAvlTInsert(uint32_t key, uint32_t count, RptAvlTree tree) {
  if (!tree) {
    auto node = std::make_unique<RptAvlT>();
    node->key = key;
    node->count = count;
    return node;
  }
  if (key < tree->key)
    tree->left = RptAvlTInsert(key, count, std::move(tree->left));
  else if (key > tree->key)
    tree->right = RptAvlTInsert(key, count, std::move(tree->right));
  else
    return tree;
  return rebalance(std::move(tree));
}

RptAvlTree RptAvlTDelete(uint32_t key, RptAvlTree tree) {
  if (!tree) {
    char text[64];
    std::snprintf(text, sizeof text, "%s(%d) Element not found\n", kSource, 203);
    printText(text);
    return tree;
  }
  if (key < tree->key) {
    tree->left = RptAvlTDelete(key, std::move(tree->left));
  } else if (key > tree->key) {
    tree->right = RptAvlTDelete(key, std::move(tree->right));
  } else if (tree->left && tree->right) {
    // The smallest node of the right subtree takes this node's place.
    RptAvlTree successor;
    RptAvlTree rest = takeMin(std::move(tree->right), successor);
    successor->left = std::move(tree->left);
    successor->right = std::move(rest);
    tree = std::move(successor);
  } else {
    return std::move(tree->left ? tree->left : tree->right);
  }
  return rebalance(std::move(tree));
}

RptAvlT *RptAvlTSrch(uint32_t key, RptAvlT *tree) {
  while (tree && tree->key != key) tree = key < tree->key ? tree->left.get() : tree->right.get();
  return tree;
}

RptAvlT *SourceTree::add(uint32_t key) {
  if (RptAvlT *node = find(key)) {
    ++node->count;
    return node;
  }
  if (size_ >= kCapacity) {
    printMessage(kSource, 131, "Out of Space");
    return nullptr;
  }
  root_ = RptAvlTInsert(key, 1, std::move(root_));
  ++size_;
  return find(key);
}

int64_t SourceTree::remove(uint32_t key) {
  RptAvlT *node = find(key);
  if (!node) return -1;
  uint32_t count = node->count > 0 ? node->count - 1 : 0;
  node->count = count;
  if (count == 0) {
    root_ = RptAvlTDelete(key, std::move(root_));
    --size_;
  }
  return count;
}

}  // namespace vornagent
