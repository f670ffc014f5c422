// The module suite's main: GoogleTest's own options, and --addin PATH to test another build of the
// add-in than the one beside this program (the same as setting QELALTF_ADDIN=PATH).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr const char* kUsage =
    "\n"
    "Add-in to test:\n"
    "  --addin PATH, --addin=PATH\n"
    "      Load the add-in module at PATH (a QELALTF.dll or libQELALTF.so of any build) instead of\n"
    "      the one beside this program. The environment variable QELALTF_ADDIN does the same; the\n"
    "      option wins. The add-in needs its conversion library where the loader finds it (beside\n"
    "      the add-in or beside this program). Exit status: 0 when every test passed.\n";

void ChooseAddin(const std::string& path) {
#if defined(_WIN32)
    _putenv(("QELALTF_ADDIN=" + path).c_str());
#else
    setenv("QELALTF_ADDIN", path.c_str(), 1);
#endif
}

}  // namespace

int main(int argc, char** argv) {
    // Takes --addin out of the arguments before GoogleTest reads the rest.
    int kept = 1;
    bool help = false;
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (std::strcmp(argument, "--addin") == 0) {
            if (i + 1 >= argc || argv[i + 1][0] == '\0') {
                std::fprintf(stderr, "%s: --addin needs the path of an add-in module, as in --addin QELALTF.dll\n",
                             argv[0]);
                return 2;
            }
            ChooseAddin(argv[++i]);
        } else if (std::strncmp(argument, "--addin=", 8) == 0) {
            if (argument[8] == '\0') {
                std::fprintf(stderr, "%s: --addin= needs the path of an add-in module, as in --addin=QELALTF.dll\n",
                             argv[0]);
                return 2;
            }
            ChooseAddin(argument + 8);
        } else {
            if (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0 ||
                std::strcmp(argument, "-?") == 0 || std::strcmp(argument, "/?") == 0) {
                help = true;
            }
            argv[kept++] = argv[i];
        }
    }
    argv[kept] = nullptr;
    argc = kept;

    testing::InitGoogleTest(&argc, argv);
    if (help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    return RUN_ALL_TESTS();
}
