// The host's side of the boundary: the services record over the C runtime's allocator (plain, or
// accounting for every block), and a source that serves a document file through Read.
#ifndef QELHOST_HOST_SERVICES_H
#define QELHOST_HOST_SERVICES_H

#include <stddef.h>
#include <stdint.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "addin_interface.h"
#include "host_platform.h"

namespace qelhost {

// malloc and free behind Allocate and Release. Chunks of text belong to the host once handed
// over; it gives them back with FreeChunk.
HostServices PlainServices();
void FreeChunk(void* block);

// What an accounting run saw of the add-in's use of host memory. One at a time: the callbacks find
// it without reading the record they are given, so that a wrong record is counted, not followed.
class Accounting {
public:
    Accounting();
    Accounting(const Accounting&) = delete;
    Accounting& operator=(const Accounting&) = delete;
    ~Accounting();  // frees whatever the add-in left, after the report has counted it

    HostServices* services() { return &services_; }
    // Blocks taken since the last call of StartCall, in order: what one entry did.
    void StartCall() { taken_.clear(); }
    const std::vector<void*>& TakenInCall() const { return taken_; }
    uint32_t SizeOf(void* block) const;
    bool IsLive(void* block) const { return live_.count(block) != 0; }
    // The host takes a chunk over and frees it itself; false for a block the add-in never took.
    bool TakeChunk(void* block);

    int64_t allocations = 0;
    int64_t allocatedBytes = 0;
    int64_t releasedByAddin = 0;
    int64_t freedByHost = 0;
    int64_t failedAllocations = 0;
    int64_t badReleases = 0;          // blocks the add-in did not take, or gave back twice
    int64_t releasedChunks = 0;       // chunks the add-in released after handing them over
    int64_t foreignRecordCalls = 0;   // callbacks that received a record that is not ours
    HostServices* instance = nullptr; // the instance, once made: a record the callbacks accept

    size_t LiveBlocks() const { return live_.size(); }
    int64_t LiveBytes() const;

private:
    static void* ADDIN_CALL Allocate(HostServices* services, uint32_t size);
    static void ADDIN_CALL Release(HostServices* services, void* block);
    static void CountRecord(HostServices* services);
    static Accounting* current_;

    HostServices services_ = {};
    std::map<void*, uint32_t> live_;
    std::set<void*> handedOver_;  // chunks the host took over and freed
    std::vector<void*> taken_;
};

// One source document: a file served from its first byte through Read, always filling the
// add-in's buffer until the end of the file so that only the last count is short.
struct FileSource {
    HostSource record;  // first, so that Read finds the rest from the record it is given
    InputFile file;
    int64_t delivered = 0;
    int32_t reads = 0;
    int32_t largestCapacity = 0;
    bool ended = false;   // a Read delivered less than asked: the add-in was told the document ends
    bool failed = false;  // the file could not be read; the add-in was given an early end
    std::string error;

    FileSource();
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;
    bool Open(const std::string& path, std::string* openError) { return file.Open(path, openError); }
};

}  // namespace qelhost

#endif
