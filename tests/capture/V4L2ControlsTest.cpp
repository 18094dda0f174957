// The picture properties over V4L2 controls without a device: the exposure scale, the choice of
// the automatic exposure mode, and V4L2Controls against a driver's control table (a typical UVC
// microscope camera: exposure menu with manual and aperture priority only, automatic white
// balance, gain without autogain). The same mapping runs against vivid in tests/vm/VividTest.cpp.

#include "capture/v4l2/V4L2Controls.h"

#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "capture/v4l2/ExposureScale.h"

namespace {

// The controls of one device as its driver keeps them. A control with a master is inactive
// while the master is not at its manual value; when the master is switched to manual, the
// control takes the value the automatic loop had reached, as V4L2 auto clusters do.
class FakeDriver {
public:
    struct Control {
        std::string name;
        long min = 0, max = 0, step = 1, def = 0, value = 0;
        uint32_t menuItems = 0;  // a menu: the items offered, bit 1 << item
        uint32_t master = 0;
        long masterManual = 0;
        long autoValue = 0;  // taken on the switch from automatic to manual
        int failWith = 0;    // errno of every G_CTRL and S_CTRL
    };

    std::map<uint32_t, Control> controls;
    std::vector<std::pair<uint32_t, long>> writes;  // successful VIDIOC_S_CTRL calls, in order

    V4L2Controls::Ioctl ioctl() {
        return [this](unsigned long request, void* arg) { return handle(request, arg); };
    }
    bool inactive(const Control& c) const {
        return c.master && controls.at(c.master).value != c.masterManual;
    }

private:
    int fail(int error) {
        errno = error;
        return -1;
    }

    int handle(unsigned long request, void* arg) {
        if (request == VIDIOC_QUERYCTRL) {
            auto* q = static_cast<v4l2_queryctrl*>(arg);
            const auto it = controls.find(q->id);
            if (it == controls.end()) {
                return fail(EINVAL);
            }
            const Control& c = it->second;
            q->type = c.menuItems ? V4L2_CTRL_TYPE_MENU : V4L2_CTRL_TYPE_INTEGER;
            std::memcpy(q->name, c.name.data(), std::min(c.name.size(), sizeof q->name - 1));
            q->minimum = int32_t(c.min);
            q->maximum = int32_t(c.max);
            q->step = int32_t(c.step);
            q->default_value = int32_t(c.def);
            q->flags = inactive(c) ? V4L2_CTRL_FLAG_INACTIVE : 0;
            return 0;
        }
        if (request == VIDIOC_QUERYMENU) {
            auto* m = static_cast<v4l2_querymenu*>(arg);
            const auto it = controls.find(m->id);
            return it != controls.end() && m->index < 32 && (it->second.menuItems >> m->index & 1)
                       ? 0
                       : fail(EINVAL);
        }
        auto* ctrl = static_cast<v4l2_control*>(arg);
        const auto it = controls.find(ctrl->id);
        if (it == controls.end()) {
            return fail(EINVAL);
        }
        Control& c = it->second;
        if (c.failWith) {
            return fail(c.failWith);
        }
        if (request == VIDIOC_G_CTRL) {
            ctrl->value = int32_t(c.value);
            return 0;
        }
        // VIDIOC_S_CTRL: like UVC, refuse what is out of range or not offered.
        if (ctrl->value < c.min || ctrl->value > c.max ||
            (c.menuItems && !(c.menuItems >> ctrl->value & 1))) {
            return fail(ERANGE);
        }
        for (auto& [id, slave] : controls) {
            if (slave.master == it->first && inactive(slave) && ctrl->value == slave.masterManual) {
                slave.value = slave.autoValue;
            }
        }
        c.value = ctrl->value;
        writes.emplace_back(it->first, c.value);
        return 0;
    }
};

// A UVC microscope camera's controls.
FakeDriver uvcCamera() {
    FakeDriver d;
    d.controls[V4L2_CID_BRIGHTNESS] = {"Brightness", -64, 64, 1, 0, 0};
    d.controls[V4L2_CID_GAIN] = {"Gain", 0, 100, 1, 0, 0};
    d.controls[V4L2_CID_AUTO_WHITE_BALANCE] = {"White Balance, Automatic", 0, 1, 1, 1, 1};
    d.controls[V4L2_CID_WHITE_BALANCE_TEMPERATURE] = {
        "White Balance Temperature", 2800, 6500, 10, 4600, 4600, 0,
        V4L2_CID_AUTO_WHITE_BALANCE, 0,    5200};
    d.controls[V4L2_CID_EXPOSURE_AUTO] = {
        "Auto Exposure",
        0,
        3,
        1,
        3,
        3,
        1u << V4L2_EXPOSURE_MANUAL | 1u << V4L2_EXPOSURE_APERTURE_PRIORITY};
    d.controls[V4L2_CID_EXPOSURE_ABSOLUTE] = {
        "Exposure Time, Absolute", 3,  2047, 1, 156, 156, 0, V4L2_CID_EXPOSURE_AUTO,
        V4L2_EXPOSURE_MANUAL,      600};
    return d;
}

struct Failure {
    std::string what;
    int error;
};

}  // namespace

TEST(V4L2ExposureScale, ConvertsToTheNearestStepBothWays) {
    EXPECT_EQ(ExposureScale::unitsOf(-7), 78);  // 1/128 s = 78.125 units
    EXPECT_EQ(ExposureScale::unitsOf(0), 10000);
    EXPECT_EQ(ExposureScale::unitsOf(3), 80000);
    EXPECT_EQ(ExposureScale::unitsOf(-13), 1);
    EXPECT_EQ(ExposureScale::log2Of(100), -7);  // 1/100 s is nearest to 1/128 s
    EXPECT_EQ(ExposureScale::log2Of(333), -5);  // 1/30 s
    // e and e+1 part at 2^(e + 1/2): 110 units still read -7, 111 read -6.
    EXPECT_EQ(ExposureScale::log2Of(110), -7);
    EXPECT_EQ(ExposureScale::log2Of(111), -6);
    // Zero, negative and huge values neither overflow nor leave the scale.
    EXPECT_EQ(ExposureScale::log2Of(0), -13);
    EXPECT_EQ(ExposureScale::log2Of(-5), -13);
    EXPECT_EQ(ExposureScale::log2Of(INT32_MAX), ExposureScale::kHighest);
    EXPECT_LE(ExposureScale::unitsOf(1000), INT32_MAX);
    for (long e = ExposureScale::kLowest; e <= ExposureScale::kHighest; ++e) {
        EXPECT_EQ(ExposureScale::log2Of(ExposureScale::unitsOf(e)), e) << e;
    }
}

TEST(V4L2ExposureScale, RangeDefaultAndValuesStayInsideTheControl) {
    // 3 .. 2047 units (0.3 ms .. 0.2 s): -12 would be 2 units, -2 would be 2500.
    const ExposureScale uvc(3, 2047);
    EXPECT_EQ(uvc.min(), -11);
    EXPECT_EQ(uvc.max(), -3);
    for (long e = uvc.min(); e <= uvc.max(); ++e) {
        EXPECT_GE(uvc.toUnits(e), 3) << e;
        EXPECT_LE(uvc.toUnits(e), 2047) << e;
    }
    EXPECT_EQ(uvc.toUnits(-40), ExposureScale::unitsOf(-11));
    EXPECT_EQ(uvc.toUnits(30), ExposureScale::unitsOf(-3));
    // What the camera reports (its default, a value its own loop chose) reads inside the range.
    EXPECT_EQ(uvc.toLog2(3), -11);
    EXPECT_EQ(uvc.toLog2(2047), -3);
    EXPECT_EQ(uvc.toLog2(156), -6);
    // A range with no power of two inside shows the one value nearest to it.
    const ExposureScale narrow(3, 4);
    EXPECT_EQ(narrow.min(), narrow.max());
    EXPECT_EQ(narrow.toLog2(4), narrow.min());
}

TEST(V4L2ExposureMode, AutomaticIsFullAutoElseAperturePriorityElseShutterPriority) {
    auto items = [](std::initializer_list<int> list) {
        uint32_t bits = 0;
        for (int item : list) {
            bits |= 1u << item;
        }
        return bits;
    };
    EXPECT_EQ(ChooseExposureAutoMode(
                  items({V4L2_EXPOSURE_AUTO, V4L2_EXPOSURE_MANUAL, V4L2_EXPOSURE_SHUTTER_PRIORITY,
                         V4L2_EXPOSURE_APERTURE_PRIORITY})),
              V4L2_EXPOSURE_AUTO);
    EXPECT_EQ(ChooseExposureAutoMode(items({V4L2_EXPOSURE_MANUAL, V4L2_EXPOSURE_SHUTTER_PRIORITY,
                                            V4L2_EXPOSURE_APERTURE_PRIORITY})),
              V4L2_EXPOSURE_APERTURE_PRIORITY);
    EXPECT_EQ(ChooseExposureAutoMode(items({V4L2_EXPOSURE_MANUAL, V4L2_EXPOSURE_SHUTTER_PRIORITY})),
              V4L2_EXPOSURE_SHUTTER_PRIORITY);
    EXPECT_EQ(ChooseExposureAutoMode(items({V4L2_EXPOSURE_MANUAL})), std::nullopt);
}

TEST(V4L2ControlValues, ClampedIntoTheRangeAndSnappedToTheStep) {
    EXPECT_EQ(ClampToControl(500, -64, 64, 1), 64);
    EXPECT_EQ(ClampToControl(-500, -64, 64, 1), -64);
    EXPECT_EQ(ClampToControl(4604, 2800, 6500, 10), 4600);
    EXPECT_EQ(ClampToControl(4605, 2800, 6500, 10), 4610);
    EXPECT_EQ(ClampToControl(99, 0, 99, 10), 90) << "max off the step grid";
    EXPECT_EQ(ClampToControl(7, 0, 10, 0), 7) << "a step of 0 counts as 1";
}

class V4L2ControlsTest : public ::testing::Test {
protected:
    void SetUp() override { controls.attach(driver.ioctl()); }

    long value(uint32_t id) const { return driver.controls.at(id).value; }

    FakeDriver driver = uvcCamera();
    std::vector<Failure> failures;
    V4L2Controls controls{[this](const char* what, int error) {
        failures.push_back({what, error});
    }};
};

TEST_F(V4L2ControlsTest, ExposureWithOnlyManualAndAperturePriority) {
    PropertyRange range;
    ASSERT_TRUE(controls.getPropertyRange(CameraProperty::Exposure, &range));
    EXPECT_EQ(range.min, -11);
    EXPECT_EQ(range.max, -3);
    EXPECT_EQ(range.def, -6);
    EXPECT_EQ(range.flags, kPropertyFlagsAuto | kPropertyFlagsManual);

    // Automatic is aperture priority; the exposure time is not written while the camera's
    // own loop runs it.
    ASSERT_TRUE(controls.setProperty(CameraProperty::Exposure, -7, kPropertyFlagsAuto));
    EXPECT_EQ(driver.writes,
              (decltype(driver.writes){{V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_APERTURE_PRIORITY}}));
    long v = 0, flags = 0;
    ASSERT_TRUE(controls.getProperty(CameraProperty::Exposure, &v, &flags));
    EXPECT_EQ(flags, kPropertyFlagsAuto);
    EXPECT_EQ(v, -6);  // the camera's own 156 units

    // Manual: the menu goes to manual first, then the kept value is replaced by the new one.
    driver.writes.clear();
    ASSERT_TRUE(controls.setProperty(CameraProperty::Exposure, -5, kPropertyFlagsManual));
    EXPECT_EQ(driver.writes,
              (decltype(driver.writes){{V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_MANUAL},
                                       {V4L2_CID_EXPOSURE_ABSOLUTE, 313}}));
    ASSERT_TRUE(controls.getProperty(CameraProperty::Exposure, &v, &flags));
    EXPECT_EQ(v, -5);
    EXPECT_EQ(flags, kPropertyFlagsManual);

    // A value outside the range goes in as the range's end.
    ASSERT_TRUE(controls.setProperty(CameraProperty::Exposure, 0, kPropertyFlagsManual));
    EXPECT_EQ(value(V4L2_CID_EXPOSURE_ABSOLUTE), ExposureScale::unitsOf(-3));
    EXPECT_TRUE(failures.empty());
}

TEST_F(V4L2ControlsTest, ValueSetWhileAutomaticArrivesWhenAutomaticIsSwitchedOff) {
    ASSERT_TRUE(controls.setProperty(CameraProperty::WhiteBalance, 3000, kPropertyFlagsAuto));
    EXPECT_EQ(value(V4L2_CID_WHITE_BALANCE_TEMPERATURE), 4600) << "written while inactive";
    // Switching automatic off makes the driver take its loop's value (5200); the kept value
    // must land after that, not before.
    ASSERT_TRUE(controls.setProperty(CameraProperty::WhiteBalance, 3004, kPropertyFlagsManual));
    EXPECT_EQ(value(V4L2_CID_AUTO_WHITE_BALANCE), 0);
    EXPECT_EQ(value(V4L2_CID_WHITE_BALANCE_TEMPERATURE), 3000) << "snapped to the step of 10";

    // Out-of-range values are clamped before they are written (the driver refuses them).
    ASSERT_TRUE(controls.setProperty(CameraProperty::Brightness, 1000, kPropertyFlagsManual));
    EXPECT_EQ(value(V4L2_CID_BRIGHTNESS), 64);
    EXPECT_TRUE(failures.empty());
}

TEST_F(V4L2ControlsTest, GainWithoutAutogainRemembersItsFlag) {
    PropertyRange range;
    ASSERT_TRUE(controls.getPropertyRange(CameraProperty::Gain, &range));
    EXPECT_EQ(range.flags, kPropertyFlagsManual);
    ASSERT_TRUE(controls.setProperty(CameraProperty::Gain, 30, kPropertyFlagsAuto));
    EXPECT_EQ(driver.writes, (decltype(driver.writes){{V4L2_CID_GAIN, 30}}))
        << "the exposure mode is not gain's to switch";
    long v = 0, flags = 0;
    ASSERT_TRUE(controls.getProperty(CameraProperty::Gain, &v, &flags));
    EXPECT_EQ(v, 30);
    EXPECT_EQ(flags, kPropertyFlagsAuto);
    ASSERT_TRUE(controls.setProperty(CameraProperty::Gain, 30, kPropertyFlagsManual));
    ASSERT_TRUE(controls.getProperty(CameraProperty::Gain, &v, &flags));
    EXPECT_EQ(flags, kPropertyFlagsManual);
}

TEST_F(V4L2ControlsTest, FailingControlReportsItselfAndLeavesTheOthersWorking) {
    for (int error : {EBUSY, EIO, EINVAL}) {
        SCOPED_TRACE(error);
        failures.clear();
        driver.controls[V4L2_CID_GAIN].failWith = error;
        long v = 0, flags = 0;
        EXPECT_FALSE(controls.setProperty(CameraProperty::Gain, 10, kPropertyFlagsManual));
        EXPECT_FALSE(controls.getProperty(CameraProperty::Gain, &v, &flags));
        ASSERT_EQ(failures.size(), 2u);
        EXPECT_EQ(failures[0].what, "VIDIOC_S_CTRL Gain");
        EXPECT_EQ(failures[0].error, error);
        EXPECT_EQ(failures[1].what, "VIDIOC_G_CTRL Gain");

        EXPECT_TRUE(controls.setProperty(CameraProperty::Brightness, 5, kPropertyFlagsManual));
        EXPECT_TRUE(controls.getProperty(CameraProperty::Brightness, &v, &flags));
        EXPECT_EQ(v, 5);
        EXPECT_EQ(failures.size(), 2u);
    }
    // A failed value is not kept for later calls to write again.
    driver.controls[V4L2_CID_GAIN].failWith = 0;
    driver.writes.clear();
    EXPECT_TRUE(controls.setProperty(CameraProperty::Brightness, 6, kPropertyFlagsManual));
    EXPECT_EQ(driver.writes, (decltype(driver.writes){{V4L2_CID_BRIGHTNESS, 6}}));

    controls.detach();
    EXPECT_FALSE(controls.hasProperty(CameraProperty::Brightness));
}
