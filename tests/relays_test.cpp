// Auxiliary relays: the six command texts, the interlocks between the relays,
// the belief kept in relay_state, and the timed pulse of relays 1 and 2 on the
// fake host's virtual monotonic clock.
#include <limits.h>
#include <stdint.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/core.h"
#include "fake_host.h"

using ::testing::ElementsAreArray;

namespace {

typedef std::vector<std::string> Lines;

const std::string ON1 = "write 81 01 06 00 A2 FF";
const std::string OFF1 = "write 81 01 06 00 A3 FF";
const std::string ON2 = "write 81 01 06 00 B2 FF";
const std::string OFF2 = "write 81 01 06 00 B3 FF";
const std::string ON3 = "write 81 01 06 00 C2 FF";
const std::string OFF3 = "write 81 01 06 00 C3 FF";

const std::string NOT_RECOGNIZED = "syslog 3 Error: tavrinode[1243]driver_auxiliary(): Command not recognized!";

std::string failed(int relay, const char *state) {
    return "syslog 3 Error: tavrinode[1860]send_relay_cmd(): Failed sending relay command(relay=" +
           std::to_string(relay) + ", state=" + state + ")!";
}

std::string suspended_line(int relay) {
    return "syslog 6 Suspended while activating relay " + std::to_string(relay) + "!";
}

std::string sleep_of(int usec) { return "sleep " + std::to_string(usec); }

class RelayTest : public DriverTest {
protected:
    static void on_times(int relay1, int relay2) {
        fake::set_param(1, "Relay1OnTime", relay1);
        fake::set_param(1, "Relay2OnTime", relay2);
        ASSERT_EQ(driver_param_changed(), 1);
        fake::clear_log();
    }

    // Runs commands that must succeed (pulses disabled by the caller).
    static void run(const std::vector<const char *> &commands) {
        for (const char *c : commands) {
            ASSERT_EQ(driver_auxiliary(c), 1) << c;
        }
        fake::clear_log();
    }

    // The driver's belief about the relays, read back through the frames of
    // the three off commands (each sends its off frame only for a relay it
    // believes on). Leaves every relay off.
    static int believed_state() {
        fake::host().write_result = 1;
        fake::clear_log();
        EXPECT_EQ(driver_auxiliary("relay1:off"), 1);
        EXPECT_EQ(driver_auxiliary("relay2:off"), 1);
        EXPECT_EQ(driver_auxiliary("relay3:off"), 1);
        int state = 0;
        for (const std::string &line : fake::calls()) {
            if (line == OFF1) {
                state |= 1;
            } else if (line == OFF2) {
                state |= 2;
            } else if (line == OFF3) {
                state |= 4;
            } else {
                ADD_FAILURE() << "unexpected while reading the relay state: " << line;
            }
        }
        fake::clear_log();
        return state;
    }

    static void plan_sleep(int number, int64_t advance_us, int64_t extra_ns = 0) {
        fake::SleepPlan plan;
        plan.advance_us = advance_us;
        plan.extra_ns = extra_ns;
        fake::host().sleep_plans[fake::host().sleeps + number] = plan;
    }
};

// ---- commands, interlocks and the belief ----

struct CommandCase {
    std::vector<const char *> before;  // establishes the belief
    const char *command;
    Lines frames;
    int after;  // believed relay_state afterwards
};

TEST_F(RelayTest, SixCommandsWithTheirInterlocksAndEarlyReturns) {
    on_times(0, 0);
    const CommandCase cases[] = {
        {{}, "relay1:on", {ON1}, 1},
        {{"relay2:on"}, "relay1:on", {OFF2, ON1}, 1},
        {{"relay3:on", "relay2:on"}, "relay1:on", {OFF2, ON1}, 5},
        {{"relay3:on"}, "relay1:on", {ON1}, 5},
        {{"relay1:on"}, "relay1:on", {}, 1},
        {{}, "relay1:off", {}, 0},
        {{"relay2:on"}, "relay1:off", {}, 2},
        {{"relay1:on"}, "relay1:off", {OFF1}, 0},
        {{"relay3:on", "relay1:on"}, "relay1:off", {OFF1}, 4},
        {{}, "relay2:on", {ON2}, 2},
        {{"relay1:on"}, "relay2:on", {OFF1, ON2}, 2},
        {{"relay3:on", "relay1:on"}, "relay2:on", {OFF1, ON2}, 6},
        {{"relay2:on"}, "relay2:on", {}, 2},
        {{}, "relay2:off", {}, 0},
        {{"relay1:on"}, "relay2:off", {}, 1},
        {{"relay3:on", "relay2:on"}, "relay2:off", {OFF2}, 4},
        {{}, "relay3:on", {ON3}, 4},
        {{"relay1:on"}, "relay3:on", {OFF1, ON3}, 4},
        {{"relay2:on"}, "relay3:on", {OFF2, ON3}, 4},
        {{"relay3:on"}, "relay3:on", {}, 4},
        {{"relay3:on", "relay1:on"}, "relay3:on", {}, 5},
        {{"relay3:on"}, "relay3:off", {OFF3}, 0},
        {{"relay3:on", "relay1:on"}, "relay3:off", {OFF1, OFF3}, 0},
        {{"relay3:on", "relay2:on"}, "relay3:off", {OFF2, OFF3}, 0},
        {{"relay1:on"}, "relay3:off", {}, 1},
        {{"relay2:on"}, "relay3:off", {}, 2},
        {{}, "relay3:off", {}, 0},
    };
    for (const CommandCase &c : cases) {
        SCOPED_TRACE(std::string(c.command) + " after " + std::to_string(c.before.size()) + " commands");
        run(c.before);
        EXPECT_EQ(driver_auxiliary(c.command), 1);
        // Nothing but the frames: no sleep, no action, no status, no log.
        EXPECT_THAT(fake::calls(), ElementsAreArray(c.frames));
        EXPECT_EQ(believed_state(), c.after);
    }
    EXPECT_STREQ(drivermsg, fake::drivermsg_marker);
}

// Relays 1 and 2 are never both on through commands; the record is set
// directly to see the order of the relay 3 interlock.
TEST_F(RelayTest, RelayThreeSwitchesRelayOneThenRelayTwoOff) {
    on_times(0, 0);
    cam_params[0].relay_state = 3;
    EXPECT_EQ(driver_auxiliary("relay3:on"), 1);
    EXPECT_THAT(fake::calls(), ElementsAreArray(Lines{OFF1, OFF2, ON3}));
    cam_params[0].relay_state = 7;
    fake::clear_log();
    EXPECT_EQ(driver_auxiliary("relay3:off"), 1);
    EXPECT_THAT(fake::calls(), ElementsAreArray(Lines{OFF1, OFF2, OFF3}));
    EXPECT_EQ(believed_state(), 0);
}

// ---- failures ----

struct FailureCase {
    std::vector<const char *> before;
    const char *command;
    int failing;  // 1-based write of the command that fails
    Lines calls;
    int after;
};

TEST_F(RelayTest, AFailedFrameIsLoggedKeepsTheBitAndStopsTheCommand) {
    on_times(1000, 1000);  // a failing on frame must start no pulse
    const FailureCase cases[] = {
        {{}, "relay1:on", 1, {ON1, failed(1, "ON")}, 0},
        {{}, "relay2:on", 1, {ON2, failed(2, "ON")}, 0},
        {{}, "relay3:on", 1, {ON3, failed(3, "ON")}, 0},
        {{"relay1:on"}, "relay1:off", 1, {OFF1, failed(1, "OFF")}, 1},
        {{"relay2:on"}, "relay2:off", 1, {OFF2, failed(2, "OFF")}, 2},
        {{"relay3:on"}, "relay3:off", 1, {OFF3, failed(3, "OFF")}, 4},
        {{"relay3:on"}, "relay2:on", 1, {ON2, failed(2, "ON")}, 4},
        // Interlock written, main frame failed: relay 1 is off all the same.
        {{"relay1:on"}, "relay2:on", 2, {OFF1, ON2, failed(2, "ON")}, 0},
    };
    for (const FailureCase &c : cases) {
        SCOPED_TRACE(c.command);
        on_times(0, 0);
        run(c.before);
        on_times(1000, 1000);
        fake::fail_write(c.failing);
        EXPECT_EQ(driver_auxiliary(c.command), 0);
        EXPECT_THAT(fake::calls(), ElementsAreArray(c.calls));
        EXPECT_EQ(believed_state(), c.after);
    }
}

TEST_F(RelayTest, AFailedOffFrameLeavesTheRelayBelievedOn) {
    on_times(0, 0);
    run({"relay1:on"});
    fake::fail_write(1);
    EXPECT_EQ(driver_auxiliary("relay1:off"), 0);
    EXPECT_THAT(fake::calls(), ElementsAreArray(Lines{OFF1, failed(1, "OFF")}));
    // Believed on: switching on sends nothing, switching off sends again.
    fake::clear_log();
    EXPECT_EQ(driver_auxiliary("relay1:on"), 1);
    EXPECT_THAT(fake::calls(), ElementsAreArray(Lines{}));
    EXPECT_EQ(believed_state(), 1);
}

TEST_F(RelayTest, AFailedInterlockFrameStopsTheCommand) {
    on_times(0, 0);
    run({"relay1:on"});
    fake::fail_write(1);
    EXPECT_EQ(driver_auxiliary("relay2:on"), 0);
    EXPECT_THAT(fake::calls(), ElementsAreArray(Lines{OFF1, failed(1, "OFF")}));
    EXPECT_EQ(believed_state(), 1);

    run({"relay2:on"});
    fake::fail_write(1);
    EXPECT_EQ(driver_auxiliary("relay1:on"), 0);
    EXPECT_THAT(fake::calls(), ElementsAreArray(Lines{OFF2, failed(2, "OFF")}));
    EXPECT_EQ(believed_state(), 2);

    run({"relay3:on", "relay1:on"});
    fake::fail_write(1);
    EXPECT_EQ(driver_auxiliary("relay3:off"), 0);
    EXPECT_THAT(fake::calls(), ElementsAreArray(Lines{OFF1, failed(1, "OFF")}));
    EXPECT_EQ(believed_state(), 5);

    // Relay 1 switched off, relay 2's frame failed: relay 3 is not switched.
    cam_params[0].relay_state = 3;
    fake::fail_write(2);
    EXPECT_EQ(driver_auxiliary("relay3:on"), 0);
    EXPECT_THAT(fake::calls(), ElementsAreArray(Lines{OFF1, OFF2, failed(2, "OFF")}));
    EXPECT_EQ(believed_state(), 2);
}

TEST_F(RelayTest, AFailedOnFrameAfterTheInterlockStartsNoPulse) {
    on_times(0, 0);
    run({"relay2:on"});
    on_times(1000, 1000);
    fake::fail_write(2);
    EXPECT_EQ(driver_auxiliary("relay1:on"), 0);
    EXPECT_THAT(fake::calls(), ElementsAreArray(Lines{OFF2, ON1, failed(1, "ON")}));
    EXPECT_EQ(believed_state(), 0);
}

TEST_F(RelayTest, UnrecognisedTextsAreLoggedAndSendNothing) {
    on_times(0, 0);
    run({"relay3:on", "relay1:on"});
    const char *texts[] = {"Relay1:on",  "relay1:on ", "relay4:on", "",           "relay1",    "RELAY1:ON",
                           " relay1:on", "relay1:onn", "relay1:of", "relay3:off\n", "relay0:on", "relay1: on",
                           nullptr};
    for (const char *text : texts) {
        fake::clear_log();
        EXPECT_EQ(driver_auxiliary(text), 0) << (text ? text : "(null)");
        EXPECT_THAT(fake::calls(), ElementsAreArray(Lines{NOT_RECOGNIZED})) << (text ? text : "(null)");
    }
    EXPECT_EQ(believed_state(), 5);
    EXPECT_STREQ(drivermsg, fake::drivermsg_marker);
}

// ---- the timed pulse ----

// Half-second sleeps while at least one whole second remains, then the rest
// in one sleep; each step measured against the deadline on the clock:
//   t = 1250: 1.25 s left, sleep 0.5 -> 0.75 s left, sleep 750000.
//   t = 2300: 2.3 -> 1.8 -> 1.3 -> 0.8 s left: three half-seconds, then 800000.
//   t = 2500: 2.5 -> 2.0 -> 1.5 -> 1.0 -> 0.5: four half-seconds, then 500000.
struct PulseCase {
    int t;
    std::vector<int> sleeps;
};
const PulseCase pulses[] = {
    {1, {1000}},
    {300, {300000}},
    {999, {999000}},
    {1000, {500000, 500000}},
    {1001, {500000, 501000}},
    {1250, {500000, 750000}},
    {1499, {500000, 999000}},
    {1500, {500000, 500000, 500000}},
    {2300, {500000, 500000, 500000, 800000}},
    {2500, {500000, 500000, 500000, 500000, 500000}},
    {5000, {500000, 500000, 500000, 500000, 500000, 500000, 500000, 500000, 500000, 500000}},
};

Lines pulse_calls(const std::string &on, const std::vector<int> &sleeps, const std::string &off) {
    Lines out = {on};
    for (int s : sleeps) {
        out.push_back(sleep_of(s));
    }
    out.push_back(off);
    return out;
}

TEST_F(RelayTest, PulseOfRelayOneSleepsInHalfSecondsThenTheRest) {
    for (const PulseCase &p : pulses) {
        on_times(p.t, 4321);  // relay 2's time must not be used
        const int64_t start = fake::host().clock_ns;
        EXPECT_EQ(driver_auxiliary("relay1:on"), 1) << p.t;
        EXPECT_THAT(fake::calls(), ElementsAreArray(pulse_calls(ON1, p.sleeps, OFF1))) << p.t;
        EXPECT_EQ(fake::host().clock_ns - start, static_cast<int64_t>(p.t) * 1000000) << p.t;
        EXPECT_EQ(believed_state(), 0) << p.t;
    }
}

TEST_F(RelayTest, PulseOfRelayTwoUsesItsOwnTime) {
    for (const PulseCase &p : pulses) {
        on_times(4321, p.t);
        EXPECT_EQ(driver_auxiliary("relay2:on"), 1) << p.t;
        EXPECT_THAT(fake::calls(), ElementsAreArray(pulse_calls(ON2, p.sleeps, OFF2))) << p.t;
        EXPECT_EQ(believed_state(), 0) << p.t;
    }
}

TEST_F(RelayTest, PulseIsTheSameWhereverTheClockStandsWithinASecond) {
    // Deadline nanoseconds that carry into the seconds, and remaining times
    // whose nanoseconds borrow, give the same sleeps.
    const int64_t base = fake::host().clock_ns;
    for (int64_t phase : {int64_t{1}, int64_t{400000000}, int64_t{900000000}, int64_t{999999999}}) {
        for (const PulseCase &p : pulses) {
            on_times(p.t, 0);
            fake::host().clock_ns = base + phase;
            EXPECT_EQ(driver_auxiliary("relay1:on"), 1);
            EXPECT_THAT(fake::calls(), ElementsAreArray(pulse_calls(ON1, p.sleeps, OFF1)))
                << "t " << p.t << " phase " << phase;
            EXPECT_EQ(believed_state(), 0);
        }
    }
}

TEST_F(RelayTest, PulseComesAfterTheInterlockAndLeavesRelayThreeOn) {
    on_times(0, 0);
    run({"relay2:on"});
    on_times(300, 0);
    EXPECT_EQ(driver_auxiliary("relay1:on"), 1);
    EXPECT_THAT(fake::calls(), ElementsAreArray(Lines{OFF2, ON1, sleep_of(300000), OFF1}));
    EXPECT_EQ(believed_state(), 0);

    on_times(0, 0);
    run({"relay3:on"});
    on_times(0, 300);
    EXPECT_EQ(driver_auxiliary("relay2:on"), 1);
    EXPECT_THAT(fake::calls(), ElementsAreArray(Lines{ON2, sleep_of(300000), OFF2}));
    EXPECT_EQ(believed_state(), 4);
}

TEST_F(RelayTest, NoPulseForZeroOrNegativeTimesNorForRelayThree) {
    for (int t : {0, -1, -1000, INT_MIN}) {
        on_times(t, t);
        EXPECT_EQ(driver_auxiliary("relay1:on"), 1) << t;
        EXPECT_THAT(fake::calls(), ElementsAreArray(Lines{ON1})) << t;
        EXPECT_EQ(believed_state(), 1) << t;
        EXPECT_EQ(driver_auxiliary("relay2:on"), 1) << t;
        EXPECT_THAT(fake::calls(), ElementsAreArray(Lines{ON2})) << t;
        EXPECT_EQ(believed_state(), 2) << t;
    }
    on_times(300, 300);
    EXPECT_EQ(driver_auxiliary("relay3:on"), 1);
    EXPECT_THAT(fake::calls(), ElementsAreArray(Lines{ON3}));
}

TEST_F(RelayTest, SuspensionCutsThePulseShortAndSwitchesTheRelayOff) {
    struct Case {
        const char *command;
        int relay;
        int t;
        int suspended_sleep;
        std::vector<int> sleeps;  // made before the suspension was seen
    };
    const Case cases[] = {
        {"relay2:on", 2, 2500, 1, {500000}},
        {"relay1:on", 1, 2500, 3, {500000, 500000, 500000}},
        {"relay1:on", 1, 2500, 5, {500000, 500000, 500000, 500000, 500000}},  // the final sleep
        {"relay1:on", 1, 1250, 2, {500000, 750000}},
        {"relay2:on", 2, 300, 1, {300000}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.command) + " t " + std::to_string(c.t));
        on_times(c.t, c.t);
        suspended = 0;
        fake::suspend_at_sleep(c.suspended_sleep);
        EXPECT_EQ(driver_auxiliary(c.command), 0);
        Lines expected = {c.relay == 1 ? ON1 : ON2};
        for (int s : c.sleeps) {
            expected.push_back(sleep_of(s));
        }
        expected.push_back(suspended_line(c.relay));
        expected.push_back(c.relay == 1 ? OFF1 : OFF2);
        EXPECT_THAT(fake::calls(), ElementsAreArray(expected));
        EXPECT_EQ(believed_state(), 0);
    }
}

TEST_F(RelayTest, SuspensionWithAFailingOffFrameStillReturnsZeroAndKeepsTheBit) {
    on_times(300, 0);
    fake::suspend_at_sleep(1);
    fake::fail_write(2);
    EXPECT_EQ(driver_auxiliary("relay1:on"), 0);
    EXPECT_THAT(fake::calls(), ElementsAreArray(Lines{ON1, sleep_of(300000), suspended_line(1), OFF1,
                                                      failed(1, "OFF")}));
    EXPECT_EQ(believed_state(), 1);
}

TEST_F(RelayTest, OnlyTheSleepResultCutsThePulseShort) {
    // The host's flag alone, with a sleep that ran its full time, goes unseen.
    on_times(1000, 0);
    fake::suspend_at_sleep(1, 1);
    EXPECT_EQ(driver_auxiliary("relay1:on"), 1);
    EXPECT_THAT(fake::calls(), ElementsAreArray(pulse_calls(ON1, {500000, 500000}, OFF1)));
    EXPECT_EQ(believed_state(), 0);
}

TEST_F(RelayTest, AFailingOffFrameAtTheEndOfThePulseGivesZero) {
    on_times(300, 0);
    fake::fail_write(2);
    EXPECT_EQ(driver_auxiliary("relay1:on"), 0);
    EXPECT_THAT(fake::calls(), ElementsAreArray(Lines{ON1, sleep_of(300000), OFF1, failed(1, "OFF")}));
    // Still believed on: asking for on sends nothing and starts no pulse.
    fake::clear_log();
    EXPECT_EQ(driver_auxiliary("relay1:on"), 1);
    EXPECT_THAT(fake::calls(), ElementsAreArray(Lines{}));
    EXPECT_EQ(believed_state(), 1);
}

// The remaining time is measured on the clock after every half-second sleep,
// so sleeps that overrun or return early are made up for. Once the deadline
// has passed, no final sleep is made and the relay goes off at once.
TEST_F(RelayTest, PulseFollowsTheClockWhenSleepsOverrunOrUnderrun) {
    struct Case {
        int t;
        int sleep_number;
        int64_t advance_us;
        int64_t extra_ns;
        std::vector<int> sleeps;
    };
    const Case cases[] = {
        {1200, 1, 1500000, 0, {500000}},              // deadline passed by 0.3 s
        {3000, 2, 5000000, 0, {500000, 500000}},      // passed during a later step
        {1000, 1, 1000000, 0, {500000}},              // exactly at the deadline
        {1000, 1, 999999, 0, {500000, 1}},            // 1000 ns left: one microsecond
        {1000, 1, 999999, 1, {500000}},               // 999 ns left: no final sleep
        {2500, 1, 2200000, 0, {500000, 300000}},      // 0.3 s left after a long step
        {1000, 1, 100000, 0, {500000, 900000}},       // a short step: 0.9 s left
        {1200, 1, 0, 0, {500000, 500000, 700000}},    // no time passed: 1.2 s left again
    };
    for (const Case &c : cases) {
        SCOPED_TRACE("t " + std::to_string(c.t) + " advance " + std::to_string(c.advance_us));
        on_times(c.t, 0);
        plan_sleep(c.sleep_number, c.advance_us, c.extra_ns);
        EXPECT_EQ(driver_auxiliary("relay1:on"), 1);
        EXPECT_THAT(fake::calls(), ElementsAreArray(pulse_calls(ON1, c.sleeps, OFF1)));
        EXPECT_EQ(believed_state(), 0);
    }
}

TEST_F(RelayTest, EachSlotKeepsItsOwnRelaysAndTimes) {
    driver_teardown();
    fake::reset(2);
    fake::set_param(1, "Relay1OnTime", 0);
    fake::set_param(2, "Relay1OnTime", 300);
    ASSERT_EQ(driver_setup(), 1);
    camindex = 1;
    fake::clear_log();
    EXPECT_EQ(driver_auxiliary("relay3:on"), 1);
    EXPECT_EQ(driver_auxiliary("relay1:on"), 1);
    EXPECT_THAT(fake::calls(), ElementsAreArray(Lines{ON3, ON1, sleep_of(300000), OFF1}));
    camindex = 0;
    fake::clear_log();
    // Slot 0 has no relay on and no pulse.
    EXPECT_EQ(driver_auxiliary("relay3:off"), 1);
    EXPECT_EQ(driver_auxiliary("relay1:on"), 1);
    EXPECT_THAT(fake::calls(), ElementsAreArray(Lines{ON1}));
    camindex = 1;
    EXPECT_EQ(believed_state(), 4);
}

}  // namespace
