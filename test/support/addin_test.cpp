#include "addin_test.h"

#include <gmock/gmock.h>

GetAddinInterfaceFunction AddinTest::entry_ = nullptr;
std::string AddinTest::error_;
AddinInterface AddinTest::table_ = {};

void AddinTest::SetUpTestSuite() {
    if (entry_ == nullptr && error_.empty()) {
        entry_ = FindTestedAddin(&error_);
        if (entry_ != nullptr) entry_(&table_);
    }
}

void AddinTest::SetUp() {
    ASSERT_NE(entry_, nullptr) << error_;
    tmp = std::make_unique<temp_dir::ScopedTempDir>();
    addin_module::ResetJournal();
    instance = addin().CreateInstance(host.services(), nullptr);
    ASSERT_NE(instance, nullptr) << "CreateInstance over a working allocator";
}

void AddinTest::TearDown() {
    if (instance != nullptr) {
        EXPECT_EQ(addin().DestroyInstance(instance), 1);
    }
    if (tmp == nullptr) return;  // SetUp stopped before anything was made: no add-in to test
    EXPECT_THAT(tmp->Files(), ::testing::IsEmpty()) << "files left in " << tmp->path();
    EXPECT_EQ(host.liveBlocks(), 0u) << "blocks the add-in took and did not give back";
    EXPECT_EQ(host.badReleases(), 0) << "releases of blocks that were not live";
    tmp.reset();
}

QelStandInJournal AddinTest::Journal() {
    QelStandInJournal journal = {};
    if (!addin_module::ReadJournal(&journal)) {
        ADD_FAILURE() << "the loaded conversion library keeps no journal; run with the stand-in";
    }
    return journal;
}
