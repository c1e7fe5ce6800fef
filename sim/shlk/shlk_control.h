// The simulated driver library's control exports, for tests and harnesses that load it.
//
// Configuration comes from the environment when the library is first used and again at each
// QlxShlkReset, and can be changed afterwards with QlxShlkSet under the same keys:
//   QLX_SHLK_DEVICES  devices, ';'-separated: "81:io" (product 81, input and output), "5:o",
//                     "81:2/1" (HasInput answers 2, HasOutput 1), "null" (Device(i) gives null),
//                     "81:io:nullinput" (OpenInput gives null).
//                     Default "81:io".
//   QLX_SHLK_VERSION  what SHLKGetVersion answers (default 1)
//   QLX_SHLK_CREATE   "null": SHLKCreate gives null
//   QLX_SHLK_REPLY    how the status request is answered: "thread" (default, on a thread of the
//                     library), "sync" (inside SendBytes, before it returns), "none"
//   QLX_SHLK_STATUS   the status reply as hex bytes (default F0 00 20 29 03 01 7F 20 00 09 05 01 00 F7)
//   QLX_SHLK_LOG      a file to which every call, message sent and reply given is appended
//   QLX_SHLK_NOTIFY_MS  when set, the library calls the devices-changed callback once, this many
//                     milliseconds after its first connection was made, on a thread of its own
// The keys for QlxShlkSet are the names without the prefix, in lower case ("devices", "version", ...).
// The build for the MSVC C++ ABI (shlk_msvc.cpp, used by the Wine tier) reads the same variables once,
// when it is loaded, and has none of the control exports below.
#pragma once

#include <cstdint>

#include "device/driver_connection.h"

extern "C" {
using QlxShlkResetFunction = void(SHLK_CALL*)();
using QlxShlkSetFunction = void(SHLK_CALL*)(const char* key, const char* value);
// Counters by name: "version", "create", "destroy", "connections" (alive), "device_new", "device_delete",
// "product_id", "has_input", "has_output", "open_input", "open_output", "input_delete",
// "output_delete", "inputs" (alive), "outputs" (alive), "set_callback", "sent", "replies".
using QlxShlkCountFunction = std::int32_t(SHLK_CALL*)(const char* name);
// Copies message `index` given to SendBytes; returns its length (or -1 when there is none).
using QlxShlkSentFunction = std::int32_t(SHLK_CALL*)(std::int32_t index, std::uint8_t* out,
                                                     std::int32_t capacity);
// Waits (real time, at most timeoutMs) until no reply is on its way; 1 when idle.
using QlxShlkWaitIdleFunction = std::int32_t(SHLK_CALL*)(std::int32_t timeoutMs);
// Calls the devices-changed callback of the newest live connection, here or on a thread of the
// library; 1 when there was one to call.
using QlxShlkNotifyFunction = std::int32_t(SHLK_CALL*)(std::int32_t onOwnThread);
// Delivers bytes to every live input endpoint with a callback, here; returns how many got them.
using QlxShlkDeliverFunction = std::int32_t(SHLK_CALL*)(const std::uint8_t* bytes, std::int32_t length);
}
