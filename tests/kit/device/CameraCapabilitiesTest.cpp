// The capability gate's rule and what it tells the log: which commands may go out to a camera
// before and after its DeviceInfo, and each refusal told once. (That a refused command never
// reaches the wire is the session engine's test.)
#include "kit/device/CameraCapabilities.h"
#include "support/Datasets.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace pexil {
namespace {

using testing::DeviceInfoSpec;

std::optional<CameraCapabilities> capabilitiesOf(const std::optional<DeviceInfoSpec>& spec) {
    if (!spec) return std::nullopt;
    const auto info = DeviceInfo::parse(testing::deviceInfo(*spec));
    EXPECT_TRUE(info);
    return CameraCapabilities(*info);
}

TEST(CameraCapabilities, RefusalsBeforeAndAfterDeviceInfoAreToldOnceEach) {
    const DeviceInfoSpec nikon1{.model = QStringLiteral("J5"),
                                .operations = {0x1001, 0x1014, 0x90C7, 0x90C1},
                                .properties = {0x5001, 0x5007}};
    const DeviceInfoSpec d850{.operations = {0x1001}};
    struct Step {
        const char* name;
        std::optional<DeviceInfoSpec> camera;  // none: before DeviceInfo
        PTP::Op op;
        std::vector<std::uint32_t> params;
        std::uint16_t refusedWith;  // 0: allowed
        const char* told;           // "" nothing (allowed, or told already)
    };
    const Step steps[] = {
        {"vendor command before DeviceInfo", std::nullopt, PTP::Op::nikonCheckEvent, {}, 0x2005,
         "送らなかった 0x90C7: DeviceInfo を読む前の独自命令"},
        {"told once", std::nullopt, PTP::Op::nikonCheckEvent, {}, 0x2005, ""},
        {"another vendor command", std::nullopt, PTP::Op::nikonDeviceReady, {}, 0x2005,
         "送らなかった 0x90C8: DeviceInfo を読む前の独自命令"},
        {"vendor property before DeviceInfo", std::nullopt, PTP::Op::getDevicePropDesc,
         {0xD1B1}, 0x200A, "送らなかった 0x1014(0xD1B1): DeviceInfo を読む前の独自プロパティ"},
        {"standard property before DeviceInfo", std::nullopt, PTP::Op::getDevicePropDesc,
         {0x5007}, 0, ""},
        {"Nikon 1: announced, still unsafe", nikon1, PTP::Op::nikonCheckEvent, {}, 0x2005,
         "送らなかった 0x90C7: Nikon 1 で通信が壊れる命令"},
        {"Nikon 1: not announced", nikon1, PTP::Op::nikonDeviceReady, {}, 0x2005,
         "送らなかった 0x90C8: カメラが名乗っていない命令"},
        {"Nikon 1: property not announced", nikon1, PTP::Op::getDevicePropValue, {0xD100},
         0x200A, "送らなかった 0x1015(0xD100): カメラが名乗っていないプロパティ"},
        {"told once per property", nikon1, PTP::Op::getDevicePropValue, {0xD100}, 0x200A, ""},
        {"another property", nikon1, PTP::Op::getDevicePropValue, {0xD1B1}, 0x200A,
         "送らなかった 0x1015(0xD1B1): カメラが名乗っていないプロパティ"},
        {"Nikon 1: the unannounced F0xx properties", nikon1, PTP::Op::getDevicePropValue,
         {0xF00F}, 0, ""},
        {"Nikon 1: announced vendor command", nikon1, PTP::Op::nikonAfDrive, {}, 0, ""},
        {"standard commands are never gated", nikon1, PTP::Op::getObjectHandles, {0xFFFFFFFF}, 0,
         ""},
        {"other cameras: nothing after DeviceInfo", d850, PTP::Op::nikonGetVendorPropCodes, {}, 0,
         ""},
    };
    RefusalNotes notes;  // one per camera session
    QString session;
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        if (const QString camera = s.camera ? s.camera->model : QString(); camera != session) {
            notes = RefusalNotes();
            session = camera;
        }
        const auto capabilities = capabilitiesOf(s.camera);
        const auto refusal = capabilities
                                 ? capabilities->refusal(s.op, s.params)
                                 : CameraCapabilities::refusalBeforeDeviceInfo(s.op, s.params);
        EXPECT_EQ(refusal ? refusal->code : 0, s.refusedWith);
        const auto told = refusal ? notes.note(PTP::code(s.op), s.params, *refusal) : std::nullopt;
        EXPECT_EQ(told.value_or(QString()), QString::fromUtf8(s.told));
    }
}

TEST(CameraCapabilities, ANikon1DoesNotGetCheckEventEvenUnannounced) {
    const auto v3 = capabilitiesOf(DeviceInfoSpec{.model = QStringLiteral("V3")});
    ASSERT_TRUE(v3);
    EXPECT_TRUE(v3->isNikon1);
    const auto refusal = v3->refusal(PTP::Op::nikonCheckEvent, {});
    ASSERT_TRUE(refusal);
    EXPECT_EQ(refusal->code, 0x2005);
}

}  // namespace
}  // namespace pexil
