// The camera parameter set against a fake camera that stores whatever it is given: what reaches
// the camera when the set is written back, what filling and reading back take from it, and the
// exposure switch.
#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "capture/CameraParameters.h"

namespace {

// A camera with picture properties only. Unlike a driver it does not clamp, so the test sees
// exactly what the set writes.
class FakeCamera final : public Camera {
public:
    struct Property {
        long value = 0;
        long flags = kPropertyFlagsManual;
        PropertyRange range;
    };
    struct Write {
        CameraProperty property;
        long value;
        long flags;
        bool operator==(const Write&) const = default;
    };

    std::map<CameraProperty, Property> properties;
    std::vector<Write> writes;

    void add(CameraProperty property, long value, long flags, long min, long max,
             bool hasAuto = false) {
        Property p;
        p.value = value;
        p.flags = flags;
        p.range = {min, max, 1, (min + max) / 2,
                   hasAuto ? kPropertyFlagsAuto | kPropertyFlagsManual : kPropertyFlagsManual};
        properties[property] = p;
    }

    const CameraId& id() const override { return m_id; }
    bool open() override { return true; }
    void close() override {}
    bool isOpen() const override { return true; }
    std::vector<CameraFormat> formats() const override { return {}; }
    bool setFormat(const CameraFormat&) override { return false; }
    CameraFormat currentFormat() const override { return {}; }
    bool prepare() override { return false; }
    void unprepare() override {}
    bool isPrepared() const override { return false; }
    bool start(FrameSink*) override { return false; }
    void stop() override {}
    bool isStreaming() const override { return false; }
    bool isLost() const override { return false; }
    void setStillSink(StillSink*) override {}
    bool hasProperty(CameraProperty property) const override {
        return properties.count(property) != 0;
    }
    bool getProperty(CameraProperty property, long* value, long* flags) const override {
        auto it = properties.find(property);
        if (it == properties.end()) {
            return false;
        }
        *value = it->second.value;
        *flags = it->second.flags;
        return true;
    }
    bool setProperty(CameraProperty property, long value, long flags) override {
        auto it = properties.find(property);
        if (it == properties.end()) {
            return false;
        }
        it->second.value = value;
        it->second.flags = flags;
        writes.push_back({property, value, flags});
        return true;
    }
    bool getPropertyRange(CameraProperty property, PropertyRange* range) const override {
        auto it = properties.find(property);
        if (it == properties.end()) {
            return false;
        }
        *range = it->second.range;
        return true;
    }
    bool hasPowerLineFrequency() const override { return false; }
    bool getPowerLineFrequency(long*) const override { return false; }
    bool setPowerLineFrequency(long) override { return false; }
    CameraStats stats() const override { return {}; }
    int lastError() const override { return 0; }

private:
    CameraId m_id;
};

constexpr long kAuto = kPropertyFlagsAuto;
constexpr long kManual = kPropertyFlagsManual;

// A UVC camera as the virtual one is: every property, automatic white balance, exposure and
// gain (and hue, which the set never switches to automatic).
FakeCamera FullCamera() {
    FakeCamera camera;
    camera.add(CameraProperty::Brightness, 10, kManual, -64, 64);
    camera.add(CameraProperty::Contrast, 32, kManual, 0, 64);
    camera.add(CameraProperty::Hue, 0, kManual, -40, 40, true);
    camera.add(CameraProperty::Saturation, 64, kManual, 0, 128);
    camera.add(CameraProperty::Sharpness, 6, kManual, 0, 7);
    camera.add(CameraProperty::Gamma, 100, kManual, 72, 500);
    camera.add(CameraProperty::WhiteBalance, 4600, kAuto, 2800, 6500, true);
    camera.add(CameraProperty::Gain, 20, kManual, 0, 100, true);
    camera.add(CameraProperty::Exposure, -6, kAuto, -11, -2, true);
    return camera;
}

}  // namespace

TEST(CameraParametersWrite, EveryValueGoesBackClampedIntoItsRangeWithItsFlags) {
    FakeCamera camera = FullCamera();
    CameraParameters set;  // as from an older camera: several values outside this one's ranges
    set.m_lBrightness = -200;
    set.m_lContrast = 10;
    set.m_lHue = 5;
    set.m_lSaturation = 300;
    set.m_lSharpness = 2;
    set.m_lGamma = 1000;
    set.m_lWhiteBalance = 5000;
    set.m_lGain = 30;
    set.m_lExposure = 0;
    set.m_bWhiteBalanceAuto = false;
    set.SetExposureAuto(true);
    set.WriteToCamera(camera);

    using P = CameraProperty;
    const std::vector<FakeCamera::Write> expected = {
        {P::Brightness, -64, kManual}, {P::Contrast, 10, kManual},
        {P::Saturation, 128, kManual}, {P::Hue, 5, kManual},
        {P::Sharpness, 2, kManual},    {P::Gamma, 500, kManual},
        {P::Gain, 30, kAuto},          {P::WhiteBalance, 5000, kManual},
        {P::Exposure, -2, kAuto},
    };
    EXPECT_EQ(camera.writes, expected);
}

TEST(CameraParametersWrite, ACameraWithoutSomePropertiesGetsTheOthers) {
    FakeCamera camera = FullCamera();
    camera.properties.erase(CameraProperty::Exposure);
    camera.properties.erase(CameraProperty::Gamma);
    CameraParameters set;
    set.m_lGain = 40;
    set.WriteToCamera(camera);
    EXPECT_EQ(camera.writes.size(), 7u);
    EXPECT_EQ(camera.properties[CameraProperty::Gain].value, 40);
}

TEST(CameraParametersRead, FillingKeepsSharpnessAndTakesGainsModeFromExposure) {
    FakeCamera camera = FullCamera();
    // Flags other than exactly "manual" count as automatic.
    camera.properties[CameraProperty::WhiteBalance].flags = kAuto | kManual;
    CameraParameters set;
    set.m_lSharpness = 2;
    set.FillFromCamera(camera);
    EXPECT_EQ(set.m_lBrightness, 10);
    EXPECT_EQ(set.m_lGamma, 100);
    EXPECT_EQ(set.m_lGain, 20);
    EXPECT_EQ(set.m_lExposure, -6);
    EXPECT_EQ(set.m_lSharpness, 2) << "sharpness is not read when the dialog opens";
    EXPECT_TRUE(set.m_bWhiteBalanceAuto);
    EXPECT_TRUE(set.m_bExposureAuto);
    EXPECT_TRUE(set.m_bGainAuto) << "gain is automatic with exposure, whatever its own flag";
    EXPECT_TRUE(camera.writes.empty());

    // Read-back takes sharpness too; exposure still decides both automatic flags.
    camera.properties[CameraProperty::Exposure].flags = kManual;
    camera.properties[CameraProperty::Gain].flags = kAuto;
    set.ReadBack(camera);
    EXPECT_EQ(set.m_lSharpness, 6);
    EXPECT_FALSE(set.m_bExposureAuto);
    EXPECT_FALSE(set.m_bGainAuto);
}

TEST(CameraParametersRead, ACameraWithoutExposureLeavesTheExposureValues) {
    FakeCamera camera = FullCamera();
    camera.properties.erase(CameraProperty::Exposure);
    CameraParameters set;
    set.m_lExposure = -7;
    set.SetExposureAuto(true);
    set.FillFromCamera(camera);
    EXPECT_EQ(set.m_lExposure, -7);
    EXPECT_TRUE(set.m_bExposureAuto);
    EXPECT_TRUE(set.m_bGainAuto);
}

TEST(CameraParametersExposure, TwoTogglesReturnCameraAndSetToWhereTheyWere) {
    FakeCamera camera = FullCamera();
    CameraParameters set;
    set.ReadBack(camera);
    ASSERT_TRUE(set.m_bExposureAuto);

    ASSERT_TRUE(set.ToggleExposureAuto(camera));
    EXPECT_FALSE(set.m_bExposureAuto);
    EXPECT_FALSE(set.m_bGainAuto);
    EXPECT_EQ(camera.properties[CameraProperty::Exposure].flags, kManual);
    EXPECT_EQ(camera.properties[CameraProperty::Exposure].value, -6);
    // Gain follows with the value the camera has.
    EXPECT_EQ(camera.properties[CameraProperty::Gain].flags, kManual);
    EXPECT_EQ(camera.properties[CameraProperty::Gain].value, 20);

    ASSERT_TRUE(set.ToggleExposureAuto(camera));
    EXPECT_TRUE(set.m_bExposureAuto);
    EXPECT_TRUE(set.m_bGainAuto);
    EXPECT_EQ(camera.properties[CameraProperty::Exposure].flags, kAuto);
    EXPECT_EQ(camera.properties[CameraProperty::Gain].flags, kAuto);
}

TEST(CameraParametersExposure, ACameraWithoutExposureIsNotTouched) {
    FakeCamera camera = FullCamera();
    camera.properties.erase(CameraProperty::Exposure);
    CameraParameters set;
    EXPECT_FALSE(set.ToggleExposureAuto(camera));
    EXPECT_FALSE(set.m_bExposureAuto);
    EXPECT_FALSE(set.m_bGainAuto);
    EXPECT_TRUE(camera.writes.empty());
}
