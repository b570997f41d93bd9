#pragma once

#include "kit/async/VirtualRuntime.h"
#include "kit/ptp/PTPCamera.h"
#include "support/Datasets.h"
#include "support/ScriptedTransport.h"

#include <gtest/gtest.h>

namespace pexil::testing {

// A PTPCamera over a scripted transport on the virtual runtime, with its log collected.
class CameraFixture : public ::testing::Test {
protected:
    CameraFixture()
        : transport(std::make_shared<ScriptedTransport>(&rt.clock())),
          camera(std::make_unique<PTPCamera>(rt, transport,
                                             [this](const QString& line) { log.append(line); })) {}

    // Reads DeviceInfo of the given camera, as the link does right after opening.
    void identify(const DeviceInfoSpec& spec = {}) {
        transport->ok(PTP::Op::getDeviceInfo, deviceInfo(spec));
        ASSERT_TRUE(rt.run(camera->readDeviceInfo()).value().has_value());
    }

    template <class T>
    T run(async::Task<T> task) {
        auto result = rt.run(std::move(task));
        EXPECT_TRUE(result.has_value()) << "the task did not finish";
        return std::move(*result);
    }

    async::VirtualRuntime rt;
    std::shared_ptr<ScriptedTransport> transport;
    QStringList log;
    std::unique_ptr<PTPCamera> camera;
};

}  // namespace pexil::testing
