#include "addin_test.h"

#include <gmock/gmock.h>

addin_module::Module* AddinTest::module_ = nullptr;

void AddinTest::SetUpTestSuite() {
    if (module_ == nullptr) module_ = new addin_module::Module(addin_module::DefaultPath());
}

void AddinTest::SetUp() {
    ASSERT_TRUE(module_->ok()) << module_->error();
    tmp = std::make_unique<temp_dir::ScopedTempDir>();
    addin_module::ResetJournal();
    instance = addin().CreateInstance(host.services(), nullptr);
    ASSERT_NE(instance, nullptr) << "CreateInstance over a working allocator";
}

void AddinTest::TearDown() {
    if (instance != nullptr) {
        EXPECT_EQ(addin().DestroyInstance(instance), 1);
    }
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
