// Stands in for the browser add-on: ResetKeywords appends a line to the file that
// PAGINOR_TEST_ADDON_MARKER names.
#include <cstdio>
#include <cstdlib>

extern "C" __attribute__((visibility("default"))) void ResetKeywords() {
    const char* marker = std::getenv("PAGINOR_TEST_ADDON_MARKER");
    if (marker == nullptr) {
        return;
    }
    if (std::FILE* file = std::fopen(marker, "a")) {
        std::fputs("ResetKeywords\n", file);
        std::fclose(file);
    }
}
