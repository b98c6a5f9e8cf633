// The setup block: the tree, the download block, checksums and the label editor's rules.
#include "memory/setup_block.h"

#include <gtest/gtest.h>

namespace {

using namespace memory;

TEST(SetupBlockTest, BuildsTheTree) {
  setup_tree tree;
  const build_result r = build_setup_tree("12$PRN!Comm:[9600;19200;1|Speed=1F\xB2]", tree);
  ASSERT_TRUE(r.ok) << r.reason;
}

}  // namespace
