#include "check_table.h"

#include <algorithm>

namespace site {

namespace {

int rank(const Outcome &o) {
    if (o.verdict.compare(0, 7, "drifted") == 0) return 0;
    return o.verdict == "ok" ? 2 : 1;
}

}  // namespace

std::vector<size_t> check_order(const std::vector<Outcome> &outcomes) {
    std::vector<size_t> order(outcomes.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return rank(outcomes[a]) < rank(outcomes[b]); });
    return order;
}

std::string check_table(const std::vector<Camera> &cameras, const std::vector<Outcome> &outcomes) {
    std::string out;
    for (size_t i : check_order(outcomes)) {
        const std::string verdict = outcomes[i].verdict.empty() ? "failed (no verdict)" : outcomes[i].verdict;
        out += verdict + "  camera " + std::to_string(cameras[i].number) + " on " + cameras[i].port + "\n";
        for (const std::string &l : outcomes[i].checked) out += "    " + l + "\n";
    }
    return out;
}

}  // namespace site
