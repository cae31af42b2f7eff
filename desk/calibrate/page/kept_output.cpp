#include "kept_output.h"

namespace page {

ssize_t KeptOutput::copy(void *self, const char *data, size_t size) {
    auto *k = static_cast<KeptOutput *>(self);
    k->text_.append(data, size);
    // The real output's own failure (a closed pipe) is its own: the copy
    // still takes every line.
    fwrite(data, 1, size, k->real_);
    fflush(k->real_);
    return static_cast<ssize_t>(size);
}

bool KeptOutput::start() {
    if (real_ != nullptr) return true;
    fflush(stdout);
    FILE *tee = fopencookie(this, "w", cookie_io_functions_t{nullptr, &KeptOutput::copy, nullptr, nullptr});
    if (tee == nullptr) return false;
    setvbuf(tee, nullptr, _IOLBF, 0);
    real_ = stdout;
    stdout = tee;
    return true;
}

std::string KeptOutput::stop() {
    if (real_ == nullptr) return text_;
    fclose(stdout);
    stdout = real_;
    real_ = nullptr;
    return text_;
}

}  // namespace page
