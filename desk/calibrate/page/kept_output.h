// A single camera's --report: its page is read from the lines the run
// prints, as a site's page is read from its cameras' runs. This keeps a
// copy of the standard output while it is still printed as it comes.
#ifndef DESK_CALIBRATE_PAGE_KEPT_OUTPUT_H
#define DESK_CALIBRATE_PAGE_KEPT_OUTPUT_H

#include <stdio.h>

#include <string>

namespace page {

class KeptOutput {
public:
    // From now on stdout goes to the real one and to the copy; false (with
    // stdout as it was) when the copy cannot be made.
    bool start();
    // stdout as it was; what was printed meanwhile.
    std::string stop();
    ~KeptOutput() { stop(); }

private:
    static ssize_t copy(void *self, const char *data, size_t size);
    FILE *real_ = nullptr;
    std::string text_;
};

}  // namespace page

#endif
