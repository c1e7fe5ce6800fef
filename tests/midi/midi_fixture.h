// Common set-up of the port layer tests: a fresh stand-in and the empty device list installed.
#pragma once

#include <gtest/gtest.h>

#include "midi/device_list.h"
#include "platform/host/sim.h"

class MidiFixture : public ::testing::Test {
protected:
    void SetUp() override {
        sim::Reset();
        deviceList = new NullDeviceList();
    }
    void TearDown() override {
        delete deviceList;
        deviceList = nullptr;
    }
};
