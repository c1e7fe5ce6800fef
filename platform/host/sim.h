// The control surface of the host stand-in: what tests and the terminal program use to set up and
// observe the simulated Windows platform.
#pragma once

// IWYU pragma: begin_exports
#include "platform/host/sim/boxes.h"
#include "platform/host/sim/devnotify.h"
#include "platform/host/sim/dialogs.h"
#include "platform/host/sim/faults.h"
#include "platform/host/sim/kernel.h"
#include "platform/host/sim/registry.h"
#include "platform/host/sim/user32.h"
#include "platform/host/sim/winmm.h"
// IWYU pragma: end_exports
