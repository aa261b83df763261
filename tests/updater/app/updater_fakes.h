#pragma once

#include <string>
#include <vector>

#include "updater/app/quietway_updater_app.h"

// A clock, service manager and process side that only record, for driving the updater's loop.
namespace quietway::testing {

class FakeClock : public TickClock {
public:
    uint32_t now = 1000000;
    uint32_t tick_count() override { return now; }
    void sleep_ms(uint32_t ms) override { now += ms; }
};

class FakeServices : public ServiceManager {
public:
    WatchedState state = WatchedState::running;
    bool start_fails = false;
    // Queries after a successful start that still report it pending.
    int pending_queries = 0;
    int starts = 0;

    WatchedState query_state(const std::string& service) override {
        queried = service;
        if (state == WatchedState::pending && pending_queries-- <= 0) state = WatchedState::running;
        return state;
    }
    bool start(const std::string&, uint32_t& error) override {
        ++starts;
        if (start_fails) {
            error = 1060;
            return false;
        }
        state = WatchedState::pending;
        return true;
    }
    std::string queried;
};

class FakeProcesses : public ProcessSide {
public:
    bool tray = true;
    std::vector<std::string> calls;

    bool tray_running() override { return tray; }
    bool start_tray(const std::string& program) override {
        calls.push_back("tray " + program);
        return true;
    }
    void kill_firewall() override { calls.push_back("kill firewall"); }
    bool start_firewall(const std::string& program) override {
        calls.push_back("firewall " + program);
        return true;
    }
    bool run_installer(const std::string& path) override {
        calls.push_back("install " + path);
        return true;
    }
    void end_engine() override { calls.push_back("end engine"); }
};

struct Fakes {
    FakeClock clock;
    FakeServices services;
    FakeProcesses processes;
    UpdaterSeams seams() { return {&clock, &services, &processes}; }
};

}  // namespace quietway::testing
