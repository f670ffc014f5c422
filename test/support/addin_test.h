// The fixture every suite shares: the add-in's table, a fresh counting allocator and instance, and
// a temporary directory of the test's own that must be empty, with every block given back, when
// the test ends.
#ifndef QELALTF_TEST_ADDIN_TEST_H
#define QELALTF_TEST_ADDIN_TEST_H

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "addin_module.h"
#include "fake_host.h"
#include "temp_dir.h"

// Where the add-in comes from. The module suites load it as a host does (loaded_addin.cpp); the
// seam suites link its objects into the program (linked_addin.cpp). Each program links one.
// Returns null, with the reason in `error`, when there is no add-in to test.
GetAddinInterfaceFunction FindTestedAddin(std::string* error);

class AddinTest : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    void SetUp() override;
    void TearDown() override;

    static const AddinInterface& addin() { return table_; }
    static GetAddinInterfaceFunction entry() { return entry_; }

    // What the stand-in conversion library saw; a failure when another library is loaded.
    QelStandInJournal Journal();

    fake_host::CountingAllocator host;
    HostServices* instance = nullptr;
    std::unique_ptr<temp_dir::ScopedTempDir> tmp;

private:
    static GetAddinInterfaceFunction entry_;
    static std::string error_;
    static AddinInterface table_;
};

#endif
