#include "framework/unit_startup.h"

#include <utility>
#include <vector>

namespace {

struct Unit {
    std::function<void()> start;
    std::function<void()> stop;
};

// Function-local statics: units may register from their own static initialisers.
std::vector<Unit>& Registered() {
    static std::vector<Unit> units;
    return units;
}

std::vector<std::function<void()>>& Started() {
    static std::vector<std::function<void()>> stops;
    return stops;
}

}  // namespace

void RegisterUnitStartup(std::function<void()> start, std::function<void()> stop) {
    Registered().push_back(Unit{std::move(start), std::move(stop)});
}

void RunUnitStartups() {
    try {
        for (Unit& unit : Registered()) {
            if (unit.start) {
                unit.start();
            }
            Started().push_back(unit.stop);
        }
    } catch (...) {
        RunUnitShutdowns();
        throw;
    }
}

void RunUnitShutdowns() {
    auto& started = Started();
    while (!started.empty()) {
        std::function<void()> stop = std::move(started.back());
        started.pop_back();
        if (stop) {
            stop();
        }
    }
}
