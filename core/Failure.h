#pragma once
#include "util/strings/MessageFormat.h"

#include <cstdint>
#include <string>

namespace quendle {

// Why a step failed, as data rather than words: a string-table text (by its Msg:: name) with its
// inserts and, when a system call failed, that error's Win32 code. A layer that answers false
// keeps one (os/SystemError::failure makes one of the system's error); the layer that raises
// words it with text(), alone or as the cause under a message of its own.
class Failure {
  public:
    Failure() = default; // nothing failed
    Failure(uint32_t id, MessageArgs args = {}, uint32_t win32Code = 0)
        : id_(id), args_(std::move(args)), win32Code_(win32Code) {}
    // `id` with the worded `cause` as its last insert; the cause's system error is kept.
    Failure(uint32_t id, MessageArgs args, const Failure& cause);

    bool failed() const { return id_ != 0; }
    uint32_t id() const { return id_; }
    const MessageArgs& args() const { return args_; }
    // The Win32 code of the system error behind it; 0 when the system was not involved.
    uint32_t win32Code() const { return win32Code_; }
    // The worded message; empty when nothing failed.
    std::string text() const;

  private:
    uint32_t id_ = 0;
    MessageArgs args_;
    uint32_t win32Code_ = 0;
};

} // namespace quendle
