// One fake host for every suite: a counting allocator behind a HostServices record and a source
// that serves a document's bytes under a script of Read counts.
#ifndef QELALTF_TEST_FAKE_HOST_H
#define QELALTF_TEST_FAKE_HOST_H

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "addin_interface.h"

namespace fake_host {

// Hands out blocks through HostServices.Allocate and takes them back through Release, keeping
// count. Word 0 of the record points back here, so the allocator is found again from any copy of
// it, the add-in's instance included. Safe to share between threads.
class CountingAllocator {
public:
    CountingAllocator();
    CountingAllocator(const CountingAllocator&) = delete;
    CountingAllocator& operator=(const CountingAllocator&) = delete;
    ~CountingAllocator();

    HostServices* services() { return &services_; }

    // Every Allocate answers null while set.
    void FailAllocations(bool fail);
    // The n-th Allocate from now on (1 for the next) answers null; 0 cancels.
    void FailAllocationAt(int n);

    int allocateCalls() const;
    int failedAllocations() const;
    std::vector<uint32_t> sizes() const;  // of every Allocate call, failed ones included
    int releaseCalls() const;
    size_t liveBlocks() const;
    // Release calls for a block this allocator does not hold: a double or foreign release.
    int badReleases() const;
    // The record and block of the last Release call.
    HostServices* lastReleaseServices() const;
    void* lastReleaseBlock() const;

    // Gives back a block the host owns (a text chunk), as a host would with its own allocator.
    void ReleaseOwned(void* block);

private:
    static void* ADDIN_CALL Allocate(HostServices* services, uint32_t size);
    static void ADDIN_CALL Release(HostServices* services, void* block);
    void* Take(uint32_t size);
    void Give(HostServices* services, void* block);

    HostServices services_;
    mutable std::mutex mutex_;
    std::map<void*, uint32_t> live_;
    std::vector<uint32_t> sizes_;
    bool failAll_ = false;
    int failCountdown_ = 0;
    int failed_ = 0;
    int releases_ = 0;
    int badReleases_ = 0;
    HostServices* lastReleaseServices_ = nullptr;
    void* lastReleaseBlock_ = nullptr;
};

// A source document. Each Read takes the next count of the script, when there is one: a count in
// 0..capacity delivers that many bytes (fewer when the document runs out), and any other count is
// returned as it stands, with nothing written. Past the script, Read delivers what fits.
class ScriptedSource {
public:
    explicit ScriptedSource(std::string bytes, std::vector<int32_t> script = {});
    ScriptedSource(const ScriptedSource&) = delete;
    ScriptedSource& operator=(const ScriptedSource&) = delete;

    HostSource* source() { return &source_; }

    int readCalls() const { return static_cast<int>(capacities_.size()); }
    const std::vector<int32_t>& capacities() const { return capacities_; }
    const std::vector<int32_t>& results() const { return results_; }
    size_t delivered() const { return position_; }

private:
    static int32_t ADDIN_CALL Read(HostSource* source, void* buffer, int32_t capacity);

    HostSource source_;
    std::string bytes_;
    std::vector<int32_t> script_;
    std::vector<int32_t> capacities_;
    std::vector<int32_t> results_;
    size_t position_ = 0;
};

}  // namespace fake_host

#endif
