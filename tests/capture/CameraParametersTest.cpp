// The camera parameter set against a fake camera that stores whatever it is given: what reaches
// the camera when the set is written back, what filling and reading back take from it, and the
// exposure switch.
#include <gtest/gtest.h>

#include <vector>

#include "capture/CameraParameters.h"
#include "support/FakeCamera.h"

namespace {

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

TEST(CameraParametersExposure, TwoTogglesReturnCameraAndSetToWhereTheyWereWritingExposureOnly) {
    FakeCamera camera = FullCamera();
    camera.properties[CameraProperty::Gain].flags = kAuto;  // automatic gain of its own
    CameraParameters set;
    set.ReadBack(camera);
    ASSERT_TRUE(set.m_bExposureAuto);

    using W = FakeCamera::Write;
    ASSERT_TRUE(set.ToggleExposureAuto(camera));
    EXPECT_FALSE(set.m_bExposureAuto);
    EXPECT_FALSE(set.m_bGainAuto);
    EXPECT_EQ(camera.writes, std::vector<W>({{CameraProperty::Exposure, -6, kManual}}));

    ASSERT_TRUE(set.ToggleExposureAuto(camera));
    EXPECT_TRUE(set.m_bExposureAuto);
    EXPECT_TRUE(set.m_bGainAuto);
    EXPECT_EQ(camera.writes, std::vector<W>({{CameraProperty::Exposure, -6, kManual},
                                             {CameraProperty::Exposure, -6, kAuto}}));
    EXPECT_EQ(camera.properties[CameraProperty::Gain].flags, kAuto) << "gain is not written";
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
