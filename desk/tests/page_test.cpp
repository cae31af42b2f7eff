// The site page of visca_calibrate --report: a camera read from the lines
// its run printed, the cameras to look at on top, a row and a picture for
// each, and nothing of a camera's line read as markup.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "page.h"
#include "page_camera.h"

namespace {

size_t count(const std::string &text, const std::string &what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

TEST(Page, ReadsWhatACheckPrinted) {
    const page::Camera c = page::read_printed(
        6, "/dev/pts/3",
        {"camera: vendor 0x0070, model 0x0001, ROM 0x0100 on /dev/pts/3",
         "values in use (site (1).ini): MoveSpeed=100 PanMoveTimePerDegree=690", "calibrated 2026-12-10 16:58 UTC",
         "  pan        +4 deg ->     +3.80, error   5.0 %", "  pan       -40 deg ->    -38.00, error   5.0 %",
         "  predicted median error 0.5 %, worst 1.0 %",
         "pan checked: 2 moves, median 5.0% worst 5.0% (recorded median 0.4% worst 1.0%) drifted",
         "  zoom    +2500 steps ->  +2499.00, error   0.0 % (predicted 0.1 %)",
         "zoom checked: 1 moves, median 0.0% worst 0.0% (predicted median 0.1%)",
         "tilt checked: no move fits the room around the start", "camera time: 12.5 s",
         "verdict camera 6: drifted (pan)"});
    EXPECT_EQ(c.verdict, "drifted (pan)");
    EXPECT_EQ(c.calibrated, "2026-12-10 16:58 UTC");
    EXPECT_EQ(c.values, (std::vector<std::string>{"MoveSpeed=100", "PanMoveTimePerDegree=690"}));
    ASSERT_EQ(c.moves.size(), 3u);
    EXPECT_EQ(c.moves[1].axis, 0);
    EXPECT_DOUBLE_EQ(c.moves[1].requested, -40);
    EXPECT_DOUBLE_EQ(c.moves[1].reached, -38);
    EXPECT_EQ(c.moves[2].axis, 2);
    ASSERT_EQ(c.axes.size(), 3u);
    EXPECT_TRUE(c.axes[0].drifted);
    EXPECT_DOUBLE_EQ(c.axes[0].median, 5.0);
    EXPECT_EQ(c.axes[0].against, "recorded median 0.4% worst 1.0%");
    EXPECT_FALSE(c.axes[1].drifted);
    EXPECT_EQ(c.axes[1].against, "predicted median 0.1%");
    EXPECT_EQ(c.axes[2].moves, 0);
    ASSERT_TRUE(c.camera_time.has_value());
    EXPECT_DOUBLE_EQ(*c.camera_time, 12.5);
}

// Drifted first, then failed, then ok or calibrated, camera order within
// each; every camera its row and section, a picture where moves landed.
TEST(Page, CamerasToLookAtOnTopEachWithItsRow) {
    const verify::VerifiedMove move{0, 4, 3.9, false};
    page::Page p{"Site check", "site.ini", "2026-12-10 17:00 UTC", {}};
    for (const auto &[number, verdict] : std::vector<std::pair<int, std::string>>{
             {1, "ok"}, {2, "failed (no answer)"}, {3, "drifted (tilt)"}, {4, "calibrated"}, {5, ""},
             {6, "drifted (pan, zoom)"}}) {
        page::Camera c;
        c.number = number;
        c.line = "/dev/ttyS" + std::to_string(number) + " <a&b>";
        c.verdict = verdict;
        if (number % 2 == 1) c.moves = {move};
        p.cameras.push_back(c);
    }
    const std::vector<size_t> order = page::page_order(p.cameras);
    EXPECT_EQ(order, (std::vector<size_t>{2, 5, 1, 4, 0, 3}));
    const std::string html = page::page_html(p);
    std::string rows;
    for (size_t at = html.find("<tr class='"); at != std::string::npos; at = html.find("<tr class='", at + 1)) {
        rows += html.substr(at + 11, html.find('\'', at + 11) - at - 11) + " ";
    }
    EXPECT_EQ(rows, "drifted drifted failed failed ok calibrated ");
    EXPECT_LT(html.find("id='row3'"), html.find("id='row6'"));
    EXPECT_LT(html.find("id='row6'"), html.find("id='row2'"));
    EXPECT_LT(html.find("id='row5'"), html.find("id='row1'"));
    EXPECT_EQ(count(html, "<section "), 6u);
    EXPECT_EQ(count(html, "<svg "), 3u);
    EXPECT_EQ(count(html, "No move landed"), 3u);
    EXPECT_NE(html.find("<span class='badge'>failed</span> <span class='why'>(no verdict)</span>"), std::string::npos);
    EXPECT_NE(html.find("<span class='badge'>drifted</span> <span class='why'>(pan, zoom)</span>"), std::string::npos);
    EXPECT_EQ(html.find("<a&b>"), std::string::npos);
    EXPECT_NE(html.find("/dev/ttyS1 &lt;a&amp;b&gt;"), std::string::npos);
    // Self-contained: nothing fetched, no script; the one address is the
    // pictures' namespace.
    for (const char *outside : {"<script", "src=", "<link", "url(", "href='http"}) {
        EXPECT_EQ(html.find(outside), std::string::npos) << outside;
    }
    EXPECT_EQ(count(html, "http"), count(html, "xmlns='http://www.w3.org/2000/svg'"));
}

}  // namespace
