#pragma once
#include "core/Exception.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <stdexcept>
#include <string>

namespace quendle::xmltest {

using namespace quendle::test;

// The exception a statement throws, for checks on its message, code and records.
template <typename E, typename F> E thrown(F&& f) {
    try {
        f();
    } catch (const E& e) {
        return e;
    }
    ADD_FAILURE() << "expected an exception";
    throw std::runtime_error("no exception");
}

} // namespace quendle::xmltest
