# KV_E2E_PACKAGE_PORT: the loopback port of the end-to-end tests' package
# server. The host is a build setting compiled into the updater, so every tree
# that builds an updater for those tests (the Linux tree, and the win64 tree
# for the runs under Wine) must take the same port. It comes from a hash of
# the source folder (20000-29999, below the ephemeral range), so two checkouts
# running their tests on one machine do not meet on it.
string(MD5 kv_tree_hash "${PROJECT_SOURCE_DIR}")
string(SUBSTRING "${kv_tree_hash}" 0 4 kv_tree_hash)
math(EXPR kv_tree_port "20000 + 0x${kv_tree_hash} % 10000")
set(KV_E2E_PACKAGE_PORT ${kv_tree_port} CACHE STRING "Loopback port of the end-to-end tests' package server")
