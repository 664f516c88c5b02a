#pragma once
#include "util/strings/MessageFormat.h"

#include <cstdint>
#include <functional>

namespace quendle {

// One fault that a check found: its text's id and inserts, so that a report can be written for a
// person (the text) or for a program (the kind, the entry and the block, by id).
struct VerifyProblem {
    uint32_t id;
    MessageArgs args = {};

    std::string text() const { return formatStringId(id, args); }
};

using ProblemSink = std::function<void(const VerifyProblem&)>;

} // namespace quendle
