#pragma once

// A session over the scriptable device, the device kept for scripting; for
// the Qt and the plain session tests.

#include "FakeSerialDevice.h"
#include "PortNames.h"
#include "Velk21Session.h"

#include <memory>
#include <string>

// A device path as the platform writes one; the fake device takes any.
inline std::string fakePort() {
    return resolvePortName("/dev/fake0").empty() ? "\\\\.\\FAKE0" : "/dev/fake0";
}

struct SessionRig {
    FakeSerialDevice* fake = nullptr;
    std::unique_ptr<Velk21Session> session;

    explicit SessionRig(bool openFails = false) {
        auto device = std::make_unique<FakeSerialDevice>();
        fake = device.get();
        if (openFails) {
            fake->setFailing(FakeSerialDevice::Operation::Open, true);
        }
        session = std::make_unique<Velk21Session>(fakePort(), 115200, std::move(device));
    }
};
