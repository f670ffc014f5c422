// The module's export, its table, and the entries that belong to no document.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "addin_test.h"

using ::testing::ElementsAre;

using InstanceTest = AddinTest;

TEST_F(InstanceTest, GetAddinInterfaceFillsAllSevenEntriesAndReturnsItsArgument) {
    AddinInterface first;
    std::memset(&first, 0xA5, sizeof first);
    ASSERT_EQ(entry()(&first), &first);
    void* unwritten;
    std::memset(&unwritten, 0xA5, sizeof unwritten);
    void* const* entries = reinterpret_cast<void* const*>(&first);
    for (int i = 0; i < 7; ++i) {
        EXPECT_NE(entries[i], nullptr) << "entry " << i;
        EXPECT_NE(entries[i], unwritten) << "entry " << i << " was not written";
    }
    for (int i = 0; i < 7; ++i) {
        for (int j = i + 1; j < 7; ++j) EXPECT_NE(entries[i], entries[j]) << "entries " << i << " and " << j;
    }

    AddinInterface second = {};
    ASSERT_EQ(entry()(&second), &second);
    EXPECT_EQ(std::memcmp(&first, &second, sizeof first), 0) << "a second call gives other entries";
}

TEST_F(InstanceTest, GetAddinInterfaceTakesNothingFromTheHost) {
    const int before = host.allocateCalls();
    AddinInterface table = {};
    entry()(&table);
    EXPECT_EQ(host.allocateCalls(), before);
}

TEST_F(InstanceTest, CreateInstanceCopiesAllFiveWordsIntoOneBlock) {
    fake_host::CountingAllocator other;
    HostServices record = *other.services();
    record.hostWord3 = reinterpret_cast<void*>(uintptr_t(0x3333));
    record.hostWord4 = reinterpret_cast<void*>(uintptr_t(0x4444));

    HostServices* copy = addin().CreateInstance(&record, reinterpret_cast<void*>(uintptr_t(0xBAD)));
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, &record);
    EXPECT_THAT(other.sizes(), ElementsAre(sizeof(HostServices)));
    EXPECT_EQ(std::memcmp(copy, &record, sizeof record), 0) << "the instance differs from the record";

    // Later changes to the host's record do not reach the instance.
    record.hostWord3 = nullptr;
    EXPECT_EQ(copy->hostWord3, reinterpret_cast<void*>(uintptr_t(0x3333)));

    EXPECT_EQ(addin().DestroyInstance(copy), 1);
    EXPECT_EQ(other.liveBlocks(), 0u);
}

TEST_F(InstanceTest, CreateInstanceFailsCleanly) {
    EXPECT_EQ(addin().CreateInstance(nullptr, nullptr), nullptr) << "null services";

    fake_host::CountingAllocator refusing;
    refusing.FailAllocations(true);
    EXPECT_EQ(addin().CreateInstance(refusing.services(), nullptr), nullptr) << "allocator answers null";
    EXPECT_EQ(refusing.allocateCalls(), 1);
    EXPECT_EQ(refusing.releaseCalls(), 0);
    EXPECT_EQ(refusing.liveBlocks(), 0u);
}

TEST_F(InstanceTest, DestroyInstanceReleasesTheInstanceThroughItself) {
    fake_host::CountingAllocator other;
    HostServices* copy = addin().CreateInstance(other.services(), nullptr);
    ASSERT_NE(copy, nullptr);

    EXPECT_EQ(addin().DestroyInstance(copy), 1);
    EXPECT_EQ(other.releaseCalls(), 1);
    EXPECT_EQ(other.lastReleaseServices(), copy) << "Release's first argument";
    EXPECT_EQ(other.lastReleaseBlock(), copy) << "Release's second argument";
    EXPECT_EQ(other.liveBlocks(), 0u);
}

TEST_F(InstanceTest, DestroyInstanceOfNullCallsNothing) {
    const int releases = host.releaseCalls();
    EXPECT_EQ(addin().DestroyInstance(nullptr), 0);
    EXPECT_EQ(host.releaseCalls(), releases);
}

TEST_F(InstanceTest, NoopAnswersOneForAnyArgument) {
    int something = 0;
    EXPECT_EQ(addin().Noop(nullptr), 1);
    EXPECT_EQ(addin().Noop(&something), 1);
    EXPECT_EQ(addin().Noop(instance), 1);
    EXPECT_EQ(host.allocateCalls(), 1) << "only the fixture's instance";
}
