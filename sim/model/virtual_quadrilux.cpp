#include "sim/model/virtual_quadrilux.h"

#include <algorithm>
#include <utility>

#include "tools/firmware_format.h"

namespace model {
namespace {

constexpr std::size_t kTypeOffset = 5;
constexpr std::size_t kPayloadOffset = 6;

bool IsHeader(std::span<const std::uint8_t> bytes) {
    return bytes.size() > kTypeOffset && bytes[0] == 0xF0 && bytes[kTypeOffset] == firmware::kTypeHeader &&
           bytes.back() == 0xF7;
}

std::string Hex(unsigned value, int digits) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text = "0x";
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) {
        text += kDigits[(value >> static_cast<unsigned>(shift)) & 0xFu];
    }
    return text;
}

// What the message at `index` of the image must look like.
struct Expected {
    std::uint8_t type;
    std::size_t length;
};
Expected ExpectedAt(std::size_t index) {
    if (index == 0) {
        return {firmware::kTypeHeader, firmware::kHeader.size()};
    }
    if (index < firmware::kBlocks) {
        return {firmware::kTypeBlock, firmware::kBlockLength};
    }
    if (index == firmware::kBlocks) {
        return {firmware::kTypeLastBlock, firmware::kBlockLength};
    }
    return {firmware::kTypeFinal, firmware::kFinalLength};
}

// Empty when the message is framed as the image's messages are; otherwise what is wrong.
std::string FramingFault(std::span<const std::uint8_t> bytes, Expected expected) {
    if (bytes.size() != expected.length) {
        return "length " + std::to_string(bytes.size()) + ", expected " + std::to_string(expected.length);
    }
    if (!std::equal(firmware::kPrefix.begin(), firmware::kPrefix.end(), bytes.begin())) {
        return "does not start with F0 00 20 29 00";
    }
    if (bytes.back() != 0xF7) {
        return "does not end with F7";
    }
    for (std::size_t i = 1; i + 1 < bytes.size(); ++i) {
        if (bytes[i] >= 0x80) {
            return "byte " + std::to_string(i) + " is " + Hex(bytes[i], 2);
        }
    }
    if (bytes[kTypeOffset] != expected.type) {
        return "type " + Hex(bytes[kTypeOffset], 2) + ", expected " + Hex(expected.type, 2);
    }
    return {};
}

}  // namespace

const char* ModeName(VirtualQuadrilux::Mode mode) {
    switch (mode) {
        case VirtualQuadrilux::Mode::Normal:
            return "normal";
        case VirtualQuadrilux::Mode::Rebooting:
            return "rebooting";
        case VirtualQuadrilux::Mode::Update:
            return "update";
        case VirtualQuadrilux::Mode::Gone:
            return "gone";
    }
    return "?";
}

VirtualQuadrilux::VirtualQuadrilux(Scenario scenario) : scenario_(std::move(scenario)) {}

void VirtualQuadrilux::Advance(std::uint64_t nowNs) {
    if (mode_ == Mode::Rebooting && nowNs >= backAtNs_) {
        mode_ = Mode::Update;
        ++incarnation_;
    }
}

bool VirtualQuadrilux::Present(PortRole port) const {
    if (mode_ != Mode::Normal && mode_ != Mode::Update) {
        return false;
    }
    return port == PortRole::Main || !scenario_.secondPortName.empty();
}

std::vector<VirtualQuadrilux::Port> VirtualQuadrilux::Ports(std::uint64_t nowNs) {
    Advance(nowNs);
    std::vector<Port> ports;
    if (!Present(PortRole::Main)) {
        return ports;
    }
    ports.push_back(Port{PortRole::Main, scenario_.portName, incarnation_});
    if (Present(PortRole::Second)) {
        Port second{PortRole::Second, scenario_.secondPortName, incarnation_};
        if (scenario_.secondFirst) {
            ports.insert(ports.begin(), second);
        } else {
            ports.push_back(second);
        }
    }
    return ports;
}

std::optional<std::uint64_t> VirtualQuadrilux::NextChange(std::uint64_t nowNs) const {
    if (mode_ == Mode::Rebooting && backAtNs_ > nowNs) {
        return backAtNs_;
    }
    return std::nullopt;
}

VirtualQuadrilux::OpenResult VirtualQuadrilux::Open(PortRole port, unsigned incarnation,
                                                    std::uint64_t nowNs) {
    Advance(nowNs);
    if (!Present(port) || incarnation != incarnation_) {
        return OpenResult::Gone;
    }
    if (port == PortRole::Main) {
        bool normal = mode_ == Mode::Normal;
        int& attempts = normal ? normalOpens_ : updateOpens_;
        int busy = normal ? scenario_.busyOpens : scenario_.busyUpdateOpens;
        if (attempts < busy) {
            ++attempts;
            ++report_.busyRefusals;
            return OpenResult::Busy;
        }
        ++attempts;
    }
    ++report_.opens;
    return OpenResult::Ok;
}

void VirtualQuadrilux::Close(PortRole /*port*/, std::uint64_t nowNs) { Advance(nowNs); }

VirtualQuadrilux::Transfer VirtualQuadrilux::BeginMessage(PortRole port, std::size_t length,
                                                          std::uint64_t nowNs) {
    Advance(nowNs);
    if (!Present(port)) {
        return Transfer{false, std::nullopt};
    }
    Transfer transfer{true, mode_ == Mode::Update ? scenario_.TransferNs(length) : 0};
    if (port == PortRole::Second) {
        return transfer;
    }
    if (mode_ == Mode::Normal) {
        if (scenario_.refuseSwitch) {
            transfer.accepted = false;
        }
        return transfer;
    }
    std::size_t index = streamBegun_++;
    if (scenario_.vanishAt == index) {
        mode_ = Mode::Gone;  // off the bus for good; the message is lost on the way
        transfer.durationNs = std::nullopt;
    } else if (scenario_.refuseAt == index) {
        transfer.accepted = false;
    } else if (scenario_.stallAt == index) {
        transfer.durationNs = std::nullopt;
    }
    return transfer;
}

void VirtualQuadrilux::MessageDone(PortRole port, std::span<const std::uint8_t> bytes, std::uint64_t nowNs) {
    if (port == PortRole::Second) {
        ++report_.secondPortMessages;
        return;
    }
    if (mode_ == Mode::Normal) {
        TakeNormal(bytes, nowNs);
    } else if (mode_ == Mode::Update) {
        TakeUpdate(bytes);
    }
}

void VirtualQuadrilux::MessageAborted(PortRole port, std::uint64_t /*nowNs*/) {
    ++report_.abortedMessages;
    if (port == PortRole::Main && mode_ == Mode::Update && !report_.complete) {
        Fault(report_.streamMessages, "taken back by a reset before it arrived");
    }
}

void VirtualQuadrilux::TakeNormal(std::span<const std::uint8_t> bytes, std::uint64_t nowNs) {
    if (!IsHeader(bytes)) {
        return;  // ordinary traffic: nothing the model acts on
    }
    ++report_.headersReceived;
    ++report_.switches;
    mode_ = scenario_.neverBack ? Mode::Gone : Mode::Rebooting;
    backAtNs_ = nowNs + scenario_.bootNs;
    streamBegun_ = 0;
    updateOpens_ = 0;
}

void VirtualQuadrilux::TakeUpdate(std::span<const std::uint8_t> bytes) {
    if (IsHeader(bytes)) {
        ++report_.headersReceived;
        if (report_.streamMessages != 0) {
            // The image starts over: what came before no longer counts.
            Report fresh;
            fresh.opens = report_.opens;
            fresh.busyRefusals = report_.busyRefusals;
            fresh.headersReceived = report_.headersReceived;
            fresh.switches = report_.switches;
            fresh.abortedMessages = report_.abortedMessages;
            fresh.secondPortMessages = report_.secondPortMessages;
            report_ = std::move(fresh);
        }
        payloadCrc_ = 0;
    }
    std::size_t index = report_.streamMessages++;
    report_.streamBytes += bytes.size();
    report_.streamCrc = firmware::Crc32(bytes, report_.streamCrc);

    if (report_.complete) {
        Fault(index, "arrived after the final message");
        return;
    }
    Expected expected = ExpectedAt(index);
    std::string fault = FramingFault(bytes, expected);
    if (!fault.empty()) {
        Fault(index, fault);
        return;
    }
    if (expected.type == firmware::kTypeBlock || expected.type == firmware::kTypeLastBlock) {
        payloadCrc_ = firmware::Crc32(bytes.subspan(kPayloadOffset, firmware::kBlockPayload), payloadCrc_);
        return;
    }
    if (expected.type != firmware::kTypeFinal) {
        return;
    }
    report_.complete = true;
    auto carried =
        bytes.subspan<kPayloadOffset + firmware::kFinalPayload - firmware::kCrcBytes, firmware::kCrcBytes>();
    std::uint32_t stated = firmware::DecodeCrc(carried);
    if (stated != payloadCrc_) {
        Fault(index, "CRC " + Hex(payloadCrc_, 8) + " over the blocks, the image states " + Hex(stated, 8));
        return;
    }
    if (!report_.firstBadIndex) {
        report_.verdict = kIntact;
    }
}

void VirtualQuadrilux::Fault(std::size_t index, const std::string& what) {
    if (report_.firstBadIndex) {
        return;
    }
    report_.firstBadIndex = index;
    report_.verdict = "message " + std::to_string(index) + ": " + what;
}

VirtualQuadrilux::Report VirtualQuadrilux::GetReport() const {
    Report report = report_;
    report.mode = mode_;
    if (report.verdict.empty()) {
        report.verdict = report.streamMessages == 0
                             ? std::string("no image received")
                             : "incomplete: " + std::to_string(report.streamMessages) + " of " +
                                   std::to_string(firmware::kMessages) + " messages received";
    }
    return report;
}

}  // namespace model
