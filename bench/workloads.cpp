#include "workloads.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iomanip>
#include <map>
#include <memory>
#include <sstream>
#include <thread>

#include "addin_module.h"
#include "extract/qeltext.h"
#include "qel_document.h"
#include "temp_dir.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace bench {
namespace {

constexpr char kHeader[] = QEL_MAGIC "\n";
constexpr uint64_t kHeaderLength = sizeof kHeader - 1;
constexpr int32_t kSpoolBlock = 1024;         // what the add-in asks of Read
constexpr uint32_t kChunkRead = ADDIN_MAX_CHUNK - 1;
constexpr uint64_t kReaderTextSize = 16 * kMiB;
constexpr uint64_t kThreadDocumentSize = 16 * kMiB;

// ---- the host: malloc behind the allocator, a source that serves a document without holding it

void* ADDIN_CALL HostAllocate(HostServices*, uint32_t size) { return std::malloc(size); }
void ADDIN_CALL HostRelease(HostServices*, void* block) { std::free(block); }

HostServices hostServices = {nullptr, &HostAllocate, &HostRelease, nullptr, nullptr};

// Tells the compiler that the bytes at `block` are used, so that the floor's allocation and copy
// of a chunk it never reads are not optimised away (GCC removes a malloc, memcpy and free whose
// bytes nobody reads).
inline void KeepBytes(void* block) { asm volatile("" : : "g"(block) : "memory"); }

// The text repeats with this period; a read of up to one chunk from any offset inside the first
// period lies in one piece of the pattern buffer.
constexpr size_t kPatternPeriod = 64 * 1024;

const std::vector<unsigned char>& Pattern(Text text) {
    static const std::vector<unsigned char> patterns[2] = {
        [] {
            std::vector<unsigned char> p(kPatternPeriod + ADDIN_MAX_CHUNK);
            for (size_t i = 0; i < p.size(); ++i) p[i] = (i % 64 == 63) ? '\n' : 'a' + i % 64 % 26;
            return p;
        }(),
        [] {
            std::vector<unsigned char> p(kPatternPeriod + ADDIN_MAX_CHUNK);
            for (size_t i = 0; i < p.size(); ++i) p[i] = (i % 2 == 0) ? 0x88 : 0x9F;  // 亜
            return p;
        }(),
    };
    return patterns[text == Text::kSingleByte ? 0 : 1];
}

// Copies `count` bytes of the text from `offset` to `out`.
void CopyText(Text text, uint64_t offset, unsigned char* out, size_t count) {
    const unsigned char* pattern = Pattern(text).data();
    while (count > 0) {
        const size_t start = static_cast<size_t>(offset % kPatternPeriod);
        const size_t piece = std::min(count, kPatternPeriod + ADDIN_MAX_CHUNK - start);
        std::memcpy(out, pattern + start, piece);
        out += piece;
        offset += piece;
        count -= piece;
    }
}

// A document of `size` bytes: the header line, then the text. Read copies, as a host's would.
struct PatternSource {
    HostSource record;
    uint64_t size;
    Text text;
    uint64_t position = 0;

    PatternSource(uint64_t documentSize, Text documentText)
        : record{this, nullptr, nullptr, &Read}, size(documentSize), text(documentText) {}

    uint64_t textSize() const { return size - kHeaderLength; }

    // Serves up to `capacity` bytes from the current position into `buffer`.
    int32_t Serve(unsigned char* buffer, int32_t capacity) {
        const uint64_t count = std::min<uint64_t>(static_cast<uint64_t>(std::max(capacity, 0)), size - position);
        uint64_t done = 0;
        while (done < count && position + done < kHeaderLength) {
            buffer[done] = static_cast<unsigned char>(kHeader[position + done]);
            ++done;
        }
        if (done < count) CopyText(text, position + done - kHeaderLength, buffer + done, count - done);
        position += count;
        return static_cast<int32_t>(count);
    }

    static int32_t ADDIN_CALL Read(HostSource* source, void* buffer, int32_t capacity) {
        return static_cast<PatternSource*>(source->hostWord0)->Serve(static_cast<unsigned char*>(buffer), capacity);
    }
};

// ---- the floor's file operations: the platform's own calls, nothing around them

#if defined(_WIN32)
using FileHandle = HANDLE;
const FileHandle kNoFile = INVALID_HANDLE_VALUE;

std::string MakeTempFile(const char* prefix) {
    char directory[MAX_PATH];
    char path[MAX_PATH];
    const DWORD length = GetTempPathA(MAX_PATH, directory);
    if (length == 0 || length >= MAX_PATH || GetTempFileNameA(directory, prefix, 0, path) == 0) {
        Fail("floor: GetTempFileNameA failed");
    }
    return path;
}
FileHandle OpenFile(const std::string& path, bool write) {
    return CreateFileA(path.c_str(), write ? GENERIC_WRITE : GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}
bool WriteBytes(FileHandle file, const void* bytes, uint32_t count) {
    DWORD written = 0;
    return WriteFile(file, bytes, count, &written, nullptr) && written == count;
}
bool ReadBytes(FileHandle file, void* bytes, uint32_t capacity, uint32_t* count) {
    DWORD read = 0;
    const bool ok = ReadFile(file, bytes, capacity, &read, nullptr) != 0;
    *count = read;
    return ok;
}
bool CloseFile(FileHandle file) { return CloseHandle(file) != 0; }
void DeleteTempFile(const std::string& path) { DeleteFileA(path.c_str()); }
#else
using FileHandle = int;
const FileHandle kNoFile = -1;

std::string MakeTempFile(const char* prefix) {
    const char* directory = std::getenv("TMPDIR");
    std::string path = std::string(directory != nullptr ? directory : "/tmp") + "/" + prefix + "XXXXXX";
    const int fd = mkstemp(path.data());
    if (fd < 0) Fail("floor: mkstemp failed in " + path);
    close(fd);
    return path;
}
FileHandle OpenFile(const std::string& path, bool write) {
    return open(path.c_str(), (write ? O_WRONLY : O_RDONLY) | O_CLOEXEC);
}
bool WriteBytes(FileHandle file, const void* bytes, uint32_t count) {
    return write(file, bytes, count) == static_cast<ssize_t>(count);
}
bool ReadBytes(FileHandle file, void* bytes, uint32_t capacity, uint32_t* count) {
    // A regular file answers a whole read but at its end, as ReadFile does.
    const ssize_t n = read(file, bytes, capacity);
    *count = n > 0 ? static_cast<uint32_t>(n) : 0;
    return n >= 0;
}
bool CloseFile(FileHandle file) { return close(file) == 0; }
void DeleteTempFile(const std::string& path) { unlink(path.c_str()); }
#endif

// ---- the two modules, loaded once and kept for the life of the program

typedef int32_t(QELTEXT_CALL* ConvertFunction)(const char* documentPath, const char* textPath);

struct Loaded {
    std::unique_ptr<addin_module::Module> addin;
    std::unique_ptr<temp_dir::ScopedTempDir> tmp;
    HostServices* instance = nullptr;
    ConvertFunction convert = nullptr;
};

Loaded& Modules() {
    static Loaded loaded;
    return loaded;
}

const AddinInterface& Addin() { return Modules().addin->table(); }

// The stand-in conversion library beside the add-in, reached the way the add-in reaches it: by
// ordinal on Windows, by the name of ordinal 1 natively.
ConvertFunction LoadConversion(const std::string& addinPath) {
    const std::string directory = addinPath.substr(0, addinPath.find_last_of("\\/") + 1);
#if defined(_WIN32)
    HMODULE library = LoadLibraryA((directory + "QELTEXT.dll").c_str());
    if (library == nullptr) return nullptr;
    return reinterpret_cast<ConvertFunction>(reinterpret_cast<void*>(GetProcAddress(library, MAKEINTRESOURCEA(1))));
#else
    void* library = dlopen((directory + "libQELTEXT.so").c_str(), RTLD_NOW);
    if (library == nullptr) return nullptr;
    return reinterpret_cast<ConvertFunction>(dlsym(library, "QelConvertDocument"));
#endif
}

// ---- the add-in's side

// Reads the document's text to its end, giving each chunk back as a host would. Each chunk but
// the last must be a full read, completed by one byte exactly when the text is CP932.
uint64_t AddinReadAll(DocumentState* state, Text text) {
    const int32_t full = text == Text::kCp932Lead ? ADDIN_MAX_CHUNK : static_cast<int32_t>(kChunkRead);
    TextChunk chunk = {};
    uint64_t total = 0;
    int32_t previous = full;
    for (;;) {
        if (Addin().ReadText(Modules().instance, state, &chunk) != 1) Fail("add-in: ReadText failed");
        if (chunk.length == 0) break;
        if (previous != full) Fail("add-in: a short chunk before the end (is the ANSI code page 932?)");
        previous = chunk.length;
        total += static_cast<uint64_t>(chunk.length);
        HostRelease(nullptr, chunk.data);
    }
    return total;
}

DocumentState* AddinOpen(PatternSource* source) {
    DocumentState* state = Addin().OpenDocument(Modules().instance, &source->record, nullptr, nullptr);
    if (state == nullptr) Fail("add-in: OpenDocument answered null");
    return state;
}

void AddinClose(DocumentState* state) {
    if (Addin().CloseDocument(Modules().instance, state) != 1) Fail("add-in: CloseDocument failed");
}

uint64_t AddinRoad(uint64_t size, Text text) {
    PatternSource source(size, text);
    DocumentState* state = AddinOpen(&source);
    const uint64_t read = AddinReadAll(state, text);
    AddinClose(state);
    if (read != source.textSize()) Fail("add-in: the text came back short");
    return size;
}

// Opens the empty document and closes it again, without reading.
void AddinOpenClose() {
    PatternSource empty(kHeaderLength, Text::kSingleByte);
    AddinClose(AddinOpen(&empty));
}

// ---- the floor's side: the add-in's file operations in a plain loop

// Copies the source into the spool file in blocks of the add-in's size.
void FloorSpool(PatternSource* source, const std::string& spoolPath) {
    const FileHandle spool = OpenFile(spoolPath, true);
    if (spool == kNoFile) Fail("floor: cannot open the spool file");
    unsigned char block[kSpoolBlock];
    for (;;) {
        const int32_t count = PatternSource::Read(&source->record, block, kSpoolBlock);
        if (count > 0 && !WriteBytes(spool, block, static_cast<uint32_t>(count))) Fail("floor: spool write failed");
        if (count < kSpoolBlock) break;
    }
    if (!CloseFile(spool)) Fail("floor: spool close failed");
}

// Reads the text file in reads of the add-in's size, one allocation and one copy per chunk.
uint64_t FloorReadAll(FileHandle text) {
    unsigned char buffer[ADDIN_MAX_CHUNK];
    uint64_t total = 0;
    for (;;) {
        uint32_t count = 0;
        if (!ReadBytes(text, buffer, kChunkRead, &count)) Fail("floor: text read failed");
        if (count == 0) break;
        void* block = HostAllocate(nullptr, count);
        if (block == nullptr) Fail("floor: out of memory");
        std::memcpy(block, buffer, count);
        KeepBytes(block);
        HostRelease(nullptr, block);
        total += count;
    }
    return total;
}

uint64_t FloorRoad(uint64_t size, Text text) {
    PatternSource source(size, text);
    const std::string spoolPath = MakeTempFile("qel");
    const std::string textPath = MakeTempFile("txt");
    FloorSpool(&source, spoolPath);
    DeleteTempFile(textPath);
    const int32_t status = Modules().convert(spoolPath.c_str(), textPath.c_str());
    DeleteTempFile(spoolPath);
    if (status < 0) Fail("floor: conversion failed with status " + std::to_string(status));
    const FileHandle file = OpenFile(textPath, false);
    if (file == kNoFile) Fail("floor: cannot open the text file");
    const uint64_t read = FloorReadAll(file);
    CloseFile(file);
    DeleteTempFile(textPath);
    if (read != source.textSize()) Fail("floor: the text came back short");
    return size;
}

void FloorTwoTempFiles() {
    const std::string first = MakeTempFile("qel");
    const std::string second = MakeTempFile("txt");
    DeleteTempFile(first);
    DeleteTempFile(second);
}

// Documents side by side, one thread each; answers the bytes of all of them.
uint64_t SideBySide(int threads, uint64_t (*road)(uint64_t, Text)) {
    if (threads == 1) return road(kThreadDocumentSize, Text::kSingleByte);
    std::vector<std::thread> running;
    std::vector<uint64_t> done(static_cast<size_t>(threads), 0);
    for (int i = 0; i < threads; ++i) {
        running.emplace_back([i, road, &done] { done[static_cast<size_t>(i)] = road(kThreadDocumentSize, Text::kSingleByte); });
    }
    for (std::thread& t : running) t.join();
    uint64_t total = 0;
    for (uint64_t d : done) total += d;
    return total;
}

// ---- the reader alone: an open document, or a text file for the floor, made before the clock

struct ReaderCase {
    Text text;
    DocumentState* state = nullptr;
    std::string path;
    FileHandle file = kNoFile;

    void OpenAddin() {
        PatternSource source(kReaderTextSize + kHeaderLength, text);
        state = AddinOpen(&source);
    }
    uint64_t ReadAddin() { return AddinReadAll(state, text); }
    void CloseAddin() {
        AddinClose(state);
        state = nullptr;
    }

    // The text file comes from the conversion library, as the add-in's does: a file written
    // another way can read at another speed from the page cache.
    void OpenFloor() {
        PatternSource source(kReaderTextSize + kHeaderLength, text);
        const std::string spoolPath = MakeTempFile("qel");
        path = MakeTempFile("txt");
        FloorSpool(&source, spoolPath);
        DeleteTempFile(path);
        const int32_t status = Modules().convert(spoolPath.c_str(), path.c_str());
        DeleteTempFile(spoolPath);
        if (status < 0) Fail("floor: conversion failed with status " + std::to_string(status));
        file = OpenFile(path, false);
        if (file == kNoFile) Fail("floor: cannot open the text file");
    }
    uint64_t ReadFloor() { return FloorReadAll(file); }
    void CloseFloor() {
        CloseFile(file);
        DeleteTempFile(path);
    }
};

std::vector<uint64_t> ParseSizes(const std::string& list) {
    std::vector<uint64_t> sizes;
    std::istringstream in(list);
    std::string item;
    while (std::getline(in, item, ',')) {
        const uint64_t mib = std::strtoull(item.c_str(), nullptr, 10);
        if (mib == 0) Fail("--sizes takes sizes in MiB, as in --sizes=1,16,256");
        sizes.push_back(mib);
    }
    return sizes;
}

std::string SizeName(uint64_t mib) { return std::to_string(mib) + "MiB"; }

}  // namespace

void Fail(const std::string& what) {
    std::fprintf(stderr, "benchmark: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

Options TakeOptions(int* argc, char** argv) {
    Options options;
    int kept = 1;
    for (int i = 1; i < *argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&arg](const char* flag) { return arg.substr(std::strlen(flag)); };
        if (arg.rfind("--data=", 0) == 0) {
            options.dataPath = value("--data=");
        } else if (arg.rfind("--sizes=", 0) == 0) {
            options.roadSizesMiB = ParseSizes(value("--sizes="));
        } else if (arg.rfind("--repetitions=", 0) == 0) {
            options.repetitions = std::max(1, std::atoi(value("--repetitions=").c_str()));
        } else {
            argv[kept++] = argv[i];
        }
    }
    *argc = kept;
    return options;
}

void Prepare() {
    Loaded& loaded = Modules();
    if (loaded.addin != nullptr) return;
    loaded.addin = std::make_unique<addin_module::Module>(addin_module::DefaultPath());
    if (!loaded.addin->ok()) Fail(loaded.addin->error());
    loaded.convert = LoadConversion(loaded.addin->path());
    if (loaded.convert == nullptr) Fail("the stand-in conversion library is not beside " + loaded.addin->path());
    loaded.tmp = std::make_unique<temp_dir::ScopedTempDir>();
    loaded.instance = Addin().CreateInstance(&hostServices, nullptr);
    if (loaded.instance == nullptr) Fail("add-in: CreateInstance answered null");

    // The empty document must open to an empty text, or the fixed-cost case measures a failure.
    PatternSource empty(kHeaderLength, Text::kSingleByte);
    DocumentState* state = AddinOpen(&empty);
    if (AddinReadAll(state, Text::kSingleByte) != 0) Fail("add-in: the empty document has text");
    AddinClose(state);
    if (!loaded.tmp->Files().empty()) Fail("add-in: files left in " + loaded.tmp->path());
}

std::vector<Case> AllCases(const std::vector<uint64_t>& roadSizesMiB) {
    std::vector<Case> cases;
    const std::function<void()> none;
    for (uint64_t mib : roadSizesMiB) {
        const uint64_t size = mib * kMiB;
        cases.push_back({"road/addin/" + SizeName(mib), size, 1, none,
                         [size] { return AddinRoad(size, Text::kSingleByte); }, none});
        cases.push_back({"road/floor/" + SizeName(mib), size, 1, none,
                         [size] { return FloorRoad(size, Text::kSingleByte); }, none});
    }

    const std::pair<Text, const char*> texts[] = {{Text::kSingleByte, "single-byte"}, {Text::kCp932Lead, "cp932-lead"}};
    for (const auto& [text, name] : texts) {
        auto reader = std::make_shared<ReaderCase>();
        reader->text = text;
        cases.push_back({std::string("reader/addin/") + name, kReaderTextSize, 1, [reader] { reader->OpenAddin(); },
                         [reader] { return reader->ReadAddin(); }, [reader] { reader->CloseAddin(); }});
    }
    auto floorReader = std::make_shared<ReaderCase>();
    floorReader->text = Text::kSingleByte;
    cases.push_back({"reader/floor/single-byte", kReaderTextSize, 1, [floorReader] { floorReader->OpenFloor(); },
                     [floorReader] { return floorReader->ReadFloor(); }, [floorReader] { floorReader->CloseFloor(); }});

    cases.push_back({"open/addin/empty-document", 0, 1, none, [] { AddinOpenClose(); return uint64_t{0}; }, none});
    cases.push_back({"open/floor/empty-document", 0, 1, none,
                     [] { return FloorRoad(kHeaderLength, Text::kSingleByte) - kHeaderLength; }, none});
    cases.push_back({"open/floor/two-temp-files", 0, 1, none, [] { FloorTwoTempFiles(); return uint64_t{0}; }, none});

    for (int threads : {1, 2}) {
        const std::string shape = std::to_string(threads) + "x" + SizeName(kThreadDocumentSize / kMiB);
        cases.push_back({"threads/addin/" + shape, threads * kThreadDocumentSize, threads, none,
                         [threads] { return SideBySide(threads, &AddinRoad); }, none});
        cases.push_back({"threads/floor/" + shape, threads * kThreadDocumentSize, threads, none,
                         [threads] { return SideBySide(threads, &FloorRoad); }, none});
    }
    return cases;
}

namespace {

const Result* Find(const std::vector<Result>& results, const std::string& name) {
    for (const Result& r : results) {
        if (r.name == name) return &r;
    }
    return nullptr;
}

double MBps(const Result& r) { return static_cast<double>(r.bytes) / r.seconds / 1e6; }

std::string Fixed(double value, int digits) {
    std::ostringstream s;
    s << std::fixed << std::setprecision(digits) << value;
    return s.str();
}

}  // namespace

void Report(const std::vector<Result>& results, std::ostream& out, const std::string& dataPath) {
    out << "\nmedians; ratios are speeds (1.000: as fast as the floor), by wall clock [and by processor\n"
           "time]; MB = 10^6 bytes\n";
    std::ofstream data;
    if (!dataPath.empty()) {
        data.open(dataPath);
        data << "# MiB  addin_MBps  floor_MBps  (wall clock, median)\n";
    }
    // The speed of `a` beside `b`, by wall clock and, when both were measured, processor time.
    auto ratio = [](const Result& a, const Result& b) {
        std::string text = Fixed(b.seconds / a.seconds, 3);
        if (a.cpuSeconds > 0 && b.cpuSeconds > 0) text += " [" + Fixed(b.cpuSeconds / a.cpuSeconds, 3) + "]";
        return text;
    };
    // Throughput beside throughput, for runs that move different amounts (by wall clock alone:
    // processor time adds up over threads).
    auto speedRatio = [](const Result& a, const Result& b) {
        auto scaled = [](const Result& r, double seconds) { return static_cast<double>(r.bytes) / seconds; };
        return Fixed(scaled(a, a.seconds) / scaled(b, b.seconds), 3);
    };

    for (const Result& r : results) {
        if (r.name.rfind("road/addin/", 0) != 0) continue;
        const std::string size = r.name.substr(sizeof "road/addin/" - 1);
        const Result* floor = Find(results, "road/floor/" + size);
        if (floor == nullptr) continue;
        out << "road " << std::setw(6) << size << "   add-in " << std::setw(7) << Fixed(MBps(r), 1)
            << " MB/s   floor " << std::setw(7) << Fixed(MBps(*floor), 1) << " MB/s   add-in/floor "
            << ratio(r, *floor) << "\n";
        if (data.is_open()) data << r.bytes / kMiB << " " << MBps(r) << " " << MBps(*floor) << "\n";
    }

    const Result* single = Find(results, "reader/addin/single-byte");
    const Result* cp932 = Find(results, "reader/addin/cp932-lead");
    const Result* floorReader = Find(results, "reader/floor/single-byte");
    if (single != nullptr && floorReader != nullptr) {
        out << "reader single-byte   add-in " << Fixed(MBps(*single), 1) << " MB/s   floor "
            << Fixed(MBps(*floorReader), 1) << " MB/s   add-in/floor " << ratio(*single, *floorReader) << "\n";
    }
    if (single != nullptr && cp932 != nullptr) {
        out << "reader cp932-lead    add-in " << Fixed(MBps(*cp932), 1) << " MB/s   single-byte "
            << Fixed(MBps(*single), 1) << " MB/s   cp932/single " << ratio(*cp932, *single) << "\n";
    }

    const Result* open = Find(results, "open/addin/empty-document");
    for (const char* floorName : {"open/floor/two-temp-files", "open/floor/empty-document"}) {
        const Result* floor = Find(results, floorName);
        if (open == nullptr || floor == nullptr) continue;
        out << "open+close empty     add-in " << Fixed(open->seconds * 1e6, 1) << " us   floor "
            << (floorName + sizeof "open/floor/" - 1) << " " << Fixed(floor->seconds * 1e6, 1)
            << " us   add-in/floor " << ratio(*open, *floor) << "\n";
    }

    for (const char* side : {"addin", "floor"}) {
        const Result* one = Find(results, std::string("threads/") + side + "/1x16MiB");
        const Result* two = Find(results, std::string("threads/") + side + "/2x16MiB");
        if (one == nullptr || two == nullptr) continue;
        out << "threads " << side << "        1 thread " << Fixed(MBps(*one), 1) << " MB/s   2 threads "
            << Fixed(MBps(*two), 1) << " MB/s in all   2/1 " << speedRatio(*two, *one) << "\n";
    }
    const Result* addinTwo = Find(results, "threads/addin/2x16MiB");
    const Result* floorTwo = Find(results, "threads/floor/2x16MiB");
    if (addinTwo != nullptr && floorTwo != nullptr) {
        out << "threads 2x16MiB      add-in/floor " << ratio(*addinTwo, *floorTwo) << "\n";
    }
}

}  // namespace bench
