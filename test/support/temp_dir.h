// A temporary directory of a test's own, made the platform's temporary directory for as long as
// it lives (TMPDIR on POSIX, TMP on Windows), so that the files a document leaves can be counted.
#ifndef QELALTF_TEST_TEMP_DIR_H
#define QELALTF_TEST_TEMP_DIR_H

#include <string>
#include <vector>

namespace temp_dir {

class ScopedTempDir {
public:
    ScopedTempDir();
    ScopedTempDir(const ScopedTempDir&) = delete;
    ScopedTempDir& operator=(const ScopedTempDir&) = delete;
    // Removes the directory and all in it, and puts the previous setting back.
    ~ScopedTempDir();

    const std::string& path() const { return path_; }
    // The names of the files in the directory, sorted.
    std::vector<std::string> Files() const;
    // Those whose names start with `prefix`.
    std::vector<std::string> FilesStartingWith(const std::string& prefix) const;
    // Points the temporary-directory setting at `path` (which need not exist) until destruction.
    void PointAt(const std::string& path);
    // Writes a file into the directory, for tests and tools that need one.
    std::string WriteFile(const std::string& name, const std::string& bytes) const;

private:
    std::string path_;
    bool hadPrevious_ = false;
    std::string previous_;
};

// Sets the platform's temporary-directory variable; an empty value with `unset` removes it.
void SetTempVariable(const std::string& value, bool unset = false);
// Its current value, and whether it is set at all.
bool GetTempVariable(std::string* value);

}  // namespace temp_dir

#endif
