// The desk readers take a path: each input is written to a file of this
// process's own, which they then read.
#ifndef FUZZ_FILE_H
#define FUZZ_FILE_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <unistd.h>

#include <string>

#include "fuzz_check.h"

struct FuzzFile {
    std::string path;
    ~FuzzFile() { unlink(path.c_str()); }  // at the end of the run
};

inline std::string fuzz_file(const uint8_t *data, size_t size, const char *suffix) {
    static const FuzzFile file{"/tmp/ptz_fuzz_" + std::to_string(getpid()) + suffix};
    const std::string &path = file.path;
    FILE *f = fopen(path.c_str(), "wb");
    FUZZ_CHECK(f != nullptr, "cannot write %s", path.c_str());
    FUZZ_CHECK(fwrite(data, 1, size, f) == size && fclose(f) == 0, "cannot write %s", path.c_str());
    return path;
}

#endif
