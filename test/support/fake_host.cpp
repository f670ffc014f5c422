#include "fake_host.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace fake_host {

CountingAllocator::CountingAllocator() : services_{this, &Allocate, &Release, nullptr, nullptr} {}

CountingAllocator::~CountingAllocator() {
    for (auto& [block, size] : live_) std::free(block);
}

void CountingAllocator::FailAllocations(bool fail) {
    std::lock_guard<std::mutex> lock(mutex_);
    failAll_ = fail;
}

void CountingAllocator::FailAllocationAt(int n) {
    std::lock_guard<std::mutex> lock(mutex_);
    failCountdown_ = n;
}

int CountingAllocator::allocateCalls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(sizes_.size());
}

int CountingAllocator::failedAllocations() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return failed_;
}

std::vector<uint32_t> CountingAllocator::sizes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sizes_;
}

int CountingAllocator::releaseCalls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return releases_;
}

size_t CountingAllocator::liveBlocks() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return live_.size();
}

int CountingAllocator::badReleases() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return badReleases_;
}

HostServices* CountingAllocator::lastReleaseServices() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastReleaseServices_;
}

void* CountingAllocator::lastReleaseBlock() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastReleaseBlock_;
}

void CountingAllocator::ReleaseOwned(void* block) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = live_.find(block);
    if (found == live_.end()) {
        ++badReleases_;
        return;
    }
    std::free(block);
    live_.erase(found);
}

void* ADDIN_CALL CountingAllocator::Allocate(HostServices* services, uint32_t size) {
    return static_cast<CountingAllocator*>(services->hostWord0)->Take(size);
}

void ADDIN_CALL CountingAllocator::Release(HostServices* services, void* block) {
    static_cast<CountingAllocator*>(services->hostWord0)->Give(services, block);
}

void* CountingAllocator::Take(uint32_t size) {
    std::lock_guard<std::mutex> lock(mutex_);
    sizes_.push_back(size);
    const bool failThis = failAll_ || (failCountdown_ > 0 && --failCountdown_ == 0);
    if (failThis) {
        ++failed_;
        return nullptr;
    }
    void* block = std::malloc(std::max<uint32_t>(size, 1));
    if (block == nullptr) return nullptr;
    // A pattern, so that a reader of bytes never written shows up in the text.
    std::memset(block, 0xCD, size);
    live_[block] = size;
    return block;
}

void CountingAllocator::Give(HostServices* services, void* block) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++releases_;
    lastReleaseServices_ = services;
    lastReleaseBlock_ = block;
    auto found = live_.find(block);
    if (found == live_.end()) {
        ++badReleases_;
        return;
    }
    // Scribble over the block first: a use after release shows as wrong data rather than luck.
    std::memset(block, 0xDD, found->second);
    std::free(block);
    live_.erase(found);
}

ScriptedSource::ScriptedSource(std::string bytes, std::vector<int32_t> script)
    : source_{this, nullptr, nullptr, &Read}, bytes_(std::move(bytes)), script_(std::move(script)) {}

int32_t ADDIN_CALL ScriptedSource::Read(HostSource* record, void* buffer, int32_t capacity) {
    auto* self = static_cast<ScriptedSource*>(record->hostWord0);
    const size_t call = self->capacities_.size();
    self->capacities_.push_back(capacity);
    const size_t remaining = self->bytes_.size() - self->position_;
    int32_t count = static_cast<int32_t>(std::min<size_t>(std::max(capacity, 0), remaining));
    if (call < self->script_.size()) {
        const int32_t scripted = self->script_[call];
        if (scripted < 0 || scripted > capacity) {
            self->results_.push_back(scripted);
            return scripted;
        }
        count = static_cast<int32_t>(std::min<size_t>(scripted, remaining));
    }
    if (count > 0) std::memcpy(buffer, self->bytes_.data() + self->position_, count);
    self->position_ += count;
    self->results_.push_back(count);
    return count;
}

}  // namespace fake_host
