// A recording fake host for the driver tests.
//
// It defines the host globals and services and keeps one ordered log of every
// call the driver makes, as readable lines:
//   "write 81 01 06 01 12 00 02 03 FF"      ptz_write_port (bytes as given)
//   "sleep 690000"                          ptz_usleep
//   "started 1" / "completed 1 2"           action bookkeeping
//   "status 3 0 0 0 0 0 1 0 0 0 0 2 2 2"    ptz_set_status, fourteen values
//   "get_int MoveSpeed 1 1"                 key, mode, camera number
//   "get_bool FlipPan 0 1"
//   "poll 0"
//   "syslog 3 Error: tavrinode[...]..."     priority and formatted text
// It also drives a virtual monotonic clock that each sleep advances, so
// timed operations run instantly and exactly.
#ifndef FAKE_HOST_H
#define FAKE_HOST_H

#include <stdint.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "ptz_host.h"

namespace fake {

// The defaults of the driver's descriptor, written out independently.
const std::map<std::string, int> &default_params();

struct SleepPlan {
    int result = 1;          // what ptz_usleep returns
    bool suspend = false;    // set `suspended` before returning
    int64_t advance_us = -1; // clock advance; -1 = the requested time
    int64_t extra_ns = 0;    // further clock advance, for sub-microsecond remainders
};

struct Host {
    std::vector<std::string> log;

    // Configuration store: values per camera number (1-based) and key.
    std::map<int, std::map<std::string, int>> params;
    // Keys whose getter fails: (camera number, key); camera 0 = every camera.
    std::set<std::pair<int, std::string>> failing_keys;
    // Keys missing from the store fail like failing ones.

    // Write results by 1-based write number; unlisted writes return write_result.
    std::map<int, int> write_results;
    int write_result = 1;
    int writes = 0;

    // Sleep behaviour by 1-based sleep number; unlisted sleeps pass fully.
    std::map<int, SleepPlan> sleep_plans;
    int sleeps = 0;

    int polls = 0;
    int64_t clock_ns = 1000000000LL * 1000;  // virtual CLOCK_MONOTONIC

    std::vector<int> map_storage;
    char message[256] = {};
};

Host &host();

// Fresh host: empty log, `cameras` = slots, every slot configured unless
// `configured` says otherwise, every camera with the default configuration,
// drivermsg filled with a marker, suspended = 0, camindex = 0.
void reset(uint32_t slots = 1, std::vector<int> configured = {});

void set_param(int camera, const std::string &key, int value);
void fail_param(const std::string &key, int camera = 0);
void fail_write(int number);      // the n-th write (1-based) from now on fails
void fail_all_writes();
void suspend_at_sleep(int number, int result = 0);  // 1-based from now on

// Clears the log. The write and sleep counters keep counting; failing
// writes and suspensions are set relative to the current count.
void clear_log();

std::vector<std::string> calls();     // everything
std::vector<std::string> frames();    // only "write ..." lines
std::vector<std::string> syslogs();   // only "syslog ..." lines
std::vector<std::string> without_syslog();

std::string hex(const unsigned char *bytes, int length);

// Marker text that reset() puts into drivermsg, to see it left untouched.
extern const char drivermsg_marker[];

}  // namespace fake


#include <gtest/gtest.h>

// Base fixture: one slot, configured with the defaults, driver set
// up, log cleared. Teardown runs after each test.
class DriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        fake::reset(1);
        ASSERT_EQ(driver_setup(), 1);
        fake::clear_log();
    }
    void TearDown() override { driver_teardown(); }

    static move_request absent() {
        return move_request{32765.0f, 32765.0f, 32765.0f, 32765.0f, 32765.0f};
    }
};

#endif
