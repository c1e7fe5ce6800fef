#include "midi/port_names.h"

#include <cstring>

#include "midi/device_list.h"
#include "platform/win32.h"

namespace PortNames {

const char* const kPortSeparator = ": Port ";

namespace {

bool Contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

void EraseAll(std::string& text, char c) { std::erase(text, c); }

// A name field of a capability record, up to its terminator and never beyond the field.
template <std::size_t N>
std::string FieldText(const CHAR (&field)[N]) {
    return std::string(field, strnlen(field, N));
}

}  // namespace

std::string ModelName(const std::string& raw) {
    if (Contains(raw, "Quadrilux") && !Contains(raw, "Quadrilux Pro") && !Contains(raw, "Quadrilux MK2") &&
        !Contains(raw, "Quadrilux Mini")) {
        return "Quadrilux";
    }
    return raw;
}

std::string CleanPortName(std::string& raw, const std::string& model) {
    std::string cleaned = raw;
    std::size_t p = raw.find(model);
    if (p != std::string::npos && p >= 3 && raw[p - 1] != '(') {
        // The instance number stands in front of the model name, as the 2 of "2- Quadrilux". A
        // two-digit one keeps both digits in the cleaned name, which then starts with it.
        std::size_t keepFrom = std::string::npos;
        if (p >= 4 && IsDigit(raw[p - 4])) {
            raw[p - 4] = 'x';
            keepFrom = p - 4;
        }
        if (IsDigit(raw[p - 3])) {
            raw[p - 3] = 'x';
            if (keepFrom == std::string::npos) {
                keepFrom = p - 3;
            }
        }
        if (keepFrom != std::string::npos) {
            cleaned.erase(0, keepFrom);
        }
    }
    EraseMarker(cleaned, "MIDIIN");
    EraseMarker(cleaned, "MIDIOUT");
    return cleaned;
}

void EraseMarker(std::string& name, const std::string& marker) {
    std::size_t at = name.find(marker);
    if (at == std::string::npos) {
        return;
    }
    // The marker, a one-digit port number and the blank after it.
    name.erase(at, marker.size() + 2);
    std::size_t open = name.find('(');
    if (open != std::string::npos) {
        name.erase(open, 1);
    }
    std::size_t close = name.find(')');
    if (close != std::string::npos) {
        name.erase(close, 1);
    }
}

std::string TakePortSuffix(std::string& name) {
    std::size_t at = name.find(kPortSeparator);
    if (at == std::string::npos) {
        return {};
    }
    // The separator and one digit; a name that ends with the separator gives the separator alone.
    const std::size_t length = std::strlen(kPortSeparator) + 1;
    std::string suffix = name.substr(at, length);
    name.erase(at, length);
    return suffix;
}

std::string PortSuffix(const std::string& digits) { return kPortSeparator + digits; }

void AppendPortNumber(std::string& name, const std::string& masked, const std::string& model) {
    if (Contains(name, kPortSeparator)) {
        return;
    }
    if (name == masked || masked == "x- " + model || masked == "xx- " + model) {
        name += PortSuffix("1");
        return;
    }
    for (char digit = '1'; digit <= '9'; ++digit) {
        if (masked.find(digit) != std::string::npos) {
            name += PortSuffix(std::string(1, digit));
        }
    }
}

std::string ComposePortName(std::string raw, bool fullName, bool withPortNumber) {
    const std::string model = ModelName(raw);
    const std::string cleaned = CleanPortName(raw, model);  // raw is the masked name from here on
    std::string name = fullName ? cleaned : model;
    if (withPortNumber) {
        AppendPortNumber(name, raw, model);
    } else {
        TakePortSuffix(name);
    }
    EraseAll(name, ')');
    EraseAll(name, '(');
    return name;
}

std::string SystemPortName(std::string raw, bool fullName, bool withPortNumber) {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
    GetVersionExA(&version);
    if (version.dwMajorVersion >= 6) {
        return ComposePortName(std::move(raw), fullName, withPortNumber);
    }
    // Older systems: the full name is the raw name less its first port number.
    std::string modelOnly = ComposePortName(raw, false, false);
    std::string withoutPort = raw;
    std::string suffix = TakePortSuffix(withoutPort);
    std::string name = fullName ? withoutPort : modelOnly;
    if (withPortNumber) {
        name += ' ';
        name += suffix;
    }
    return name;
}

}  // namespace PortNames

// Without a device list the index space holds the WinMM ports alone.
int OutputPortCount() {
    const int systemPorts = static_cast<int>(midiOutGetNumDevs());
    return deviceList != nullptr ? systemPorts + deviceList->PortCount() : systemPorts;
}

std::string OutputPortName(int index, bool fullName, bool withPortNumber) {
    const int systemPorts = static_cast<int>(midiOutGetNumDevs());
    if (index >= systemPorts) {
        if (deviceList == nullptr) {
            return {};
        }
        const int position = index - systemPorts;
        return fullName ? deviceList->FullPortName(position) : deviceList->PortName(position);
    }

    std::string raw;
    MIDIOUTCAPSA caps{};
    if (midiOutGetDevCapsA(static_cast<UINT>(index), &caps, sizeof(caps)) == MMSYSERR_NOERROR) {
        raw = PortNames::FieldText(caps.szPname);
    }

    // A Soravel output port is called by the product name unless two input ports carry the word.
    if (raw.find("Soravel") != std::string::npos) {
        std::string own = std::move(raw);
        raw = "Quenwick Soravel";
        const UINT inputs = midiInGetNumDevs();
        int carrying = 0;
        for (UINT input = 0; input < inputs; ++input) {
            MIDIINCAPSA inCaps{};
            if (midiInGetDevCapsA(input, &inCaps, sizeof(inCaps)) != MMSYSERR_NOERROR) {
                continue;
            }
            if (PortNames::FieldText(inCaps.szPname).find("Soravel") != std::string::npos &&
                ++carrying == 2) {
                raw = std::move(own);
                break;
            }
        }
    }
    return PortNames::SystemPortName(std::move(raw), fullName, withPortNumber);
}
