// For unit tests that link the plug-in's objects: the recording host installed
// as the module's host table directly, with the same balanced-ledger check.
#pragma once

#include <gtest/gtest.h>

#include "plugin/host.h"
#include "tests/support/test_host.h"

class LinkedHostTest : public ::testing::Test {
 protected:
  void SetUp() override { SetHostFunctions(host.Table()); }
  void TearDown() override {
    SetHostFunctions(nullptr);
    host.ClosePage();
    EXPECT_EQ(0u, host.LiveAllocations()) << "host memory handed out and never freed";
    EXPECT_EQ(0u, host.LiveObjects()) << "NPObjects still referenced";
    for (const auto& fault : host.Faults()) ADD_FAILURE() << "host fault: " << fault;
  }
  TestHost host;
};
