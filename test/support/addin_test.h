// The fixture every module suite shares: the add-in loaded as a host loads it, a fresh counting
// allocator and instance, and a temporary directory of the test's own that must be empty, with
// every block given back, when the test ends.
#ifndef QELALTF_TEST_ADDIN_TEST_H
#define QELALTF_TEST_ADDIN_TEST_H

#include <gtest/gtest.h>

#include <memory>

#include "addin_module.h"
#include "fake_host.h"
#include "temp_dir.h"

class AddinTest : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    void SetUp() override;
    void TearDown() override;

    const AddinInterface& addin() const { return module_->table(); }
    static addin_module::Module& module() { return *module_; }

    // What the stand-in conversion library saw; a failure when another library is loaded.
    QelStandInJournal Journal();

    fake_host::CountingAllocator host;
    HostServices* instance = nullptr;
    std::unique_ptr<temp_dir::ScopedTempDir> tmp;

private:
    static addin_module::Module* module_;
};

#endif
