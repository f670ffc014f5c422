#include "host_services.h"

#include <cstdlib>

namespace qelhost {
namespace {

void* ADDIN_CALL PlainAllocate(HostServices* /*services*/, uint32_t size) {
    return std::malloc(size != 0 ? size : 1);
}

void ADDIN_CALL PlainRelease(HostServices* /*services*/, void* block) { std::free(block); }

// Serves the file in full buffers; a short count, the end of the file or a failed read, is the
// add-in's sign that the document ends.
int32_t ADDIN_CALL ReadFileSource(HostSource* record, void* buffer, int32_t capacity) {
    auto* source = reinterpret_cast<FileSource*>(record);
    ++source->reads;
    if (capacity > source->largestCapacity) source->largestCapacity = capacity;
    if (buffer == nullptr || capacity <= 0 || source->failed) return 0;
    size_t filled = 0;
    while (filled < static_cast<size_t>(capacity)) {
        size_t count = 0;
        if (!source->file.Read(static_cast<unsigned char*>(buffer) + filled,
                               static_cast<size_t>(capacity) - filled, &count, &source->error)) {
            source->failed = true;
            break;
        }
        if (count == 0) break;
        filled += count;
    }
    source->delivered += static_cast<int64_t>(filled);
    if (filled < static_cast<size_t>(capacity)) source->ended = true;
    return static_cast<int32_t>(filled);
}

}  // namespace

HostServices PlainServices() {
    HostServices services = {};
    services.Allocate = PlainAllocate;
    services.Release = PlainRelease;
    return services;
}

void FreeChunk(void* block) { std::free(block); }

FileSource::FileSource() : record{} { record.Read = ReadFileSource; }

// ---- accounting ----

Accounting* Accounting::current_ = nullptr;

Accounting::Accounting() {
    services_.Allocate = Allocate;
    services_.Release = Release;
    // The host's own words, which the instance must carry over unchanged.
    services_.hostWord0 = &services_;
    services_.hostWord3 = reinterpret_cast<void*>(static_cast<uintptr_t>(0x51E1));
    services_.hostWord4 = this;
    current_ = this;
}

Accounting::~Accounting() {
    for (const auto& block : live_) std::free(block.first);
    if (current_ == this) current_ = nullptr;
}

void Accounting::CountRecord(HostServices* services) {
    if (services != &current_->services_ && services != current_->instance) ++current_->foreignRecordCalls;
}

void* ADDIN_CALL Accounting::Allocate(HostServices* services, uint32_t size) {
    Accounting* self = current_;
    CountRecord(services);
    void* block = std::malloc(size != 0 ? size : 1);
    if (block == nullptr) {
        ++self->failedAllocations;
        return nullptr;
    }
    ++self->allocations;
    self->allocatedBytes += size;
    self->live_[block] = size;
    self->handedOver_.erase(block);  // the address of a freed chunk, given out again
    self->taken_.push_back(block);
    return block;
}

void ADDIN_CALL Accounting::Release(HostServices* services, void* block) {
    Accounting* self = current_;
    CountRecord(services);
    if (self->handedOver_.count(block) != 0) {
        ++self->releasedChunks;  // the host's block now: left alone, the host frees it
        return;
    }
    auto found = self->live_.find(block);
    if (found == self->live_.end()) {
        ++self->badReleases;
        return;
    }
    self->live_.erase(found);
    ++self->releasedByAddin;
    std::free(block);
}

uint32_t Accounting::SizeOf(void* block) const {
    auto found = live_.find(block);
    return found != live_.end() ? found->second : 0;
}

bool Accounting::TakeChunk(void* block) {
    auto found = live_.find(block);
    if (found == live_.end()) return false;
    live_.erase(found);
    handedOver_.insert(block);
    ++freedByHost;
    std::free(block);
    return true;
}

int64_t Accounting::LiveBytes() const {
    int64_t bytes = 0;
    for (const auto& block : live_) bytes += block.second;
    return bytes;
}

}  // namespace qelhost
