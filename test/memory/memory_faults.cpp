// Every fault the memory checks exist to find, in one object: the checks must report each of
// them, or a clean report of the add-in proves nothing.
#include <cstdlib>
#include <cstring>

namespace {

// 1500 bytes alone, within the default limit, but over it with the entry that calls it.
__attribute__((noinline)) int Checksum(const char* bytes, int count) {
    volatile char copy[1500];
    int sum = 0;
    for (int i = 0; i < count && i < 1500; ++i) copy[i] = bytes[i];
    for (int i = 0; i < count && i < 1500; ++i) sum += copy[i];
    return sum;
}

}  // namespace

int OpenDocument(const char* bytes, int count) {
    volatile char block[1024];
    for (int i = 0; i < count && i < 1024; ++i) block[i] = bytes[i];
    return Checksum(bytes, count) + block[0];
}

// A frame whose size depends on the call.
int ReadText(const char* bytes, int count) {
    char* buffer = static_cast<char*>(__builtin_alloca(static_cast<size_t>(count)));
    std::memcpy(buffer, bytes, static_cast<size_t>(count));
    return Checksum(buffer, count);
}

// Allocations that escape, so that the compiler cannot elide them.
char* Noop(int count) { return static_cast<char*>(std::malloc(static_cast<size_t>(count))); }
void ReleaseBlock(char* block) { std::free(block); }
int* MakeNumber(int value) { return new int(value); }
void DropNumber(int* number) { delete number; }
