// The MIDI library's exception: a runtime error carrying one message text.
#pragma once

#include <stdexcept>
#include <string>

class GeneralError : public std::runtime_error {
public:
    explicit GeneralError(const std::string& message) : std::runtime_error(message) {}
};
