// The port index space and the names of its ports.
//
// Index 0 to W - 1 are the WinMM output ports (W = midiOutGetNumDevs), W to W + L - 1 the ports of
// the device list (L = its PortCount). Both counts are taken afresh at every call.
#pragma once

#include <string>

int OutputPortCount();

// The name of port `index`. With fullName false it is the model name of the port, with fullName
// true the port's own cleaned name; withPortNumber false removes a ": Port N", true adds one when
// the name has none. Names of device-list ports come from the list untouched.
std::string OutputPortName(int index, bool fullName = false, bool withPortNumber = false);

// The naming steps behind OutputPortName, open here so that each can be tested on its own.
namespace PortNames {

// ": Port ", the text in front of a port number.
extern const char* const kPortSeparator;

// Chooses the rules by the Windows major version.
std::string SystemPortName(std::string raw, bool fullName, bool withPortNumber);
// The rules of Windows major version 6 and later.
std::string ComposePortName(std::string raw, bool fullName, bool withPortNumber);
std::string ModelName(const std::string& raw);
// The cleaned name; masks the instance number in `raw` with 'x' on the way.
std::string CleanPortName(std::string& raw, const std::string& model);
void EraseMarker(std::string& name, const std::string& marker);
// Cuts the first ": Port N" out of `name` and returns it (empty when there is none).
std::string TakePortSuffix(std::string& name);
void AppendPortNumber(std::string& name, const std::string& masked, const std::string& model);
std::string PortSuffix(const std::string& digits);

}  // namespace PortNames
