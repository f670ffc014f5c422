// The seam sees every platform call the add-in makes, and fails the one it is asked to.
#include <gtest/gtest.h>

#include "addin_test.h"
#include "documents.h"
#include "platform_seam.h"

using platform_seam::Service;

class SeamTest : public AddinTest {
protected:
    void SetUp() override {
        platform_seam::Reset();
        AddinTest::SetUp();
    }
    void TearDown() override {
        AddinTest::TearDown();
        platform_seam::Reset();
    }
};

TEST_F(SeamTest, CountsTheCallsOfOneDocument) {
    fake_host::ScriptedSource source(documents::Make("hello"));
    DocumentState* state = addin().OpenDocument(instance, source.source(), nullptr, nullptr);
    ASSERT_NE(state, nullptr);
    EXPECT_EQ(platform_seam::Calls(Service::GetTempPathA), 1);
    EXPECT_EQ(platform_seam::Calls(Service::GetTempFileNameA), 2);
    EXPECT_EQ(platform_seam::Calls(Service::CreateFileA), 2);
    EXPECT_EQ(platform_seam::Calls(Service::WriteFile), 1);
    EXPECT_EQ(platform_seam::FailedCalls(), 0);
    EXPECT_EQ(addin().CloseDocument(instance, state), 1);
}

TEST_F(SeamTest, AFailedTempPathLeavesAnEmptyState) {
    platform_seam::FailNth(Service::GetTempPathA, 1);
    fake_host::ScriptedSource source(documents::Make("hello"));
    DocumentState* state = addin().OpenDocument(instance, source.source(), nullptr, nullptr);
    ASSERT_NE(state, nullptr);
    EXPECT_EQ(platform_seam::FailedCalls(), 1);
    EXPECT_EQ(platform_seam::TotalCalls(), 1);
    TextChunk chunk = {};
    EXPECT_EQ(addin().ReadText(instance, state, &chunk), 0);
    EXPECT_EQ(addin().CloseDocument(instance, state), 1);
}
