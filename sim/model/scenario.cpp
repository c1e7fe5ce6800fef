#include "sim/model/scenario.h"

#include <limits>
#include <vector>

namespace model {
namespace {

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
constexpr std::uint64_t kMaxRate = kNanosPerSecond;  // a byte per nanosecond

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

// Decimal digits only, no sign; fails on overflow.
std::optional<std::uint64_t> ParseNumber(std::string_view text) {
    if (text.empty()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (kMax - digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 + digit;
    }
    return value;
}

std::optional<std::uint64_t> ParseTime(std::string_view text) {
    struct Unit {
        std::string_view suffix;
        std::uint64_t nanos;
    };
    // Longest suffixes first, so "ms" is not read as "s".
    static constexpr Unit kUnits[] = {
        {"ns", 1}, {"us", 1'000}, {"ms", kNanosPerMilli}, {"s", kNanosPerSecond}};
    std::uint64_t scale = kNanosPerMilli;
    for (const Unit& unit : kUnits) {
        if (text.size() > unit.suffix.size() && text.ends_with(unit.suffix)) {
            text.remove_suffix(unit.suffix.size());
            scale = unit.nanos;
            break;
        }
    }
    std::optional<std::uint64_t> value = ParseNumber(text);
    if (!value || *value > kMax / scale) {
        return std::nullopt;
    }
    return *value * scale;
}

std::optional<int> ParseCount(std::string_view text) {
    std::optional<std::uint64_t> value = ParseNumber(text);
    if (!value || *value > static_cast<std::uint64_t>(std::numeric_limits<int>::max())) {
        return std::nullopt;
    }
    return static_cast<int>(*value);
}

std::optional<std::size_t> ParseIndex(std::string_view text) {
    std::optional<std::uint64_t> value = ParseNumber(text);
    if (!value || *value > std::numeric_limits<std::size_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(*value);
}

bool Fail(std::string* error, std::string_view item, std::string_view why) {
    if (error != nullptr) {
        *error = std::string(why) + ": \"" + std::string(item) + "\"";
    }
    return false;
}

bool Apply(Scenario& s, std::string_view item, std::string* error) {
    std::size_t eq = item.find('=');
    std::string_view key = Trim(item.substr(0, eq));
    bool hasValue = eq != std::string_view::npos;
    std::string_view value = hasValue ? Trim(item.substr(eq + 1)) : std::string_view();

    auto flag = [&](bool& target) {
        if (hasValue) {
            return Fail(error, item, "takes no value");
        }
        target = true;
        return true;
    };
    auto text = [&](std::string& target) {
        if (!hasValue || value.empty()) {
            return Fail(error, item, "needs a name");
        }
        target = std::string(value);
        return true;
    };
    auto count = [&](int& target) {
        std::optional<int> n = ParseCount(value);
        if (!n) {
            return Fail(error, item, "needs a count");
        }
        target = *n;
        return true;
    };
    auto index = [&](std::optional<std::size_t>& target) {
        std::optional<std::size_t> n = ParseIndex(value);
        if (!n) {
            return Fail(error, item, "needs a message index");
        }
        target = n;
        return true;
    };

    if (key == "name") {
        return text(s.portName);
    }
    if (key == "second") {
        return text(s.secondPortName);
    }
    if (key == "secondfirst") {
        return flag(s.secondFirst);
    }
    if (key == "never") {
        return flag(s.neverBack);
    }
    if (key == "refuseswitch") {
        return flag(s.refuseSwitch);
    }
    if (key == "boot") {
        std::optional<std::uint64_t> t = ParseTime(value);
        if (!t) {
            return Fail(error, item, "needs a time");
        }
        s.bootNs = *t;
        return true;
    }
    if (key == "busy") {
        return count(s.busyOpens);
    }
    if (key == "busyupd") {
        return count(s.busyUpdateOpens);
    }
    if (key == "stall") {
        return index(s.stallAt);
    }
    if (key == "refuse") {
        return index(s.refuseAt);
    }
    if (key == "vanish") {
        return index(s.vanishAt);
    }
    if (key == "rate") {
        if (value == "instant") {
            s.bytesPerSecond = 0;
            return true;
        }
        std::optional<std::uint64_t> rate = ParseNumber(value);
        if (!rate || *rate > kMaxRate) {
            return Fail(error, item, "needs bytes per second or \"instant\"");
        }
        s.bytesPerSecond = *rate;
        return true;
    }
    return Fail(error, item, "unknown setting");
}

}  // namespace

std::uint64_t Scenario::TransferNs(std::size_t length) const {
    if (bytesPerSecond == 0) {
        return 0;
    }
    // Rounded up, so any message on a finite link takes some time. The rate is at most kMaxRate, so
    // the remainder term cannot overflow; the whole seconds saturate.
    std::uint64_t rate = bytesPerSecond < kMaxRate ? bytesPerSecond : kMaxRate;
    std::uint64_t whole = length / rate;
    std::uint64_t rest = length % rate;
    if (whole > kMax / kNanosPerSecond - 1) {
        return kMax;
    }
    return whole * kNanosPerSecond + (rest * kNanosPerSecond + rate - 1) / rate;
}

std::optional<Scenario> ParseScenario(std::string_view text, std::string* error) {
    Scenario scenario;
    while (!text.empty()) {
        std::size_t comma = text.find(',');
        std::string_view item = Trim(text.substr(0, comma));
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
        if (item.empty()) {
            continue;
        }
        if (!Apply(scenario, item, error)) {
            return std::nullopt;
        }
    }
    return scenario;
}

}  // namespace model
