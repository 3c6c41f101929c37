// The message of the exception that an action raises, for tests that check what a failure says.
#pragma once

#include <string>

#include "framework/exceptions.h"

// The message of the exception of class E that action raises, or "(no exception)" when it raises
// none; an exception of another class goes on to the test, which then fails.
template <typename E = Exception, typename Action>
std::string MessageOf(Action&& action) {
    try {
        action();
    } catch (const E& error) {
        return error.Message();
    }
    return "(no exception)";
}
