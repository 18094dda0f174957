// Prepares the virtual camera for a benchmark run of the window: writes its flash file under a
// data folder so that the camera, opened by `tavrel -FACTORYMODE=1 --virtual-camera` with
// XDG_DATA_HOME set to that folder, streams the chosen format with the edge mask and the
// crosshair shown. The window offers no command-line option for its stream format: it takes the
// format from the resolution entry and the list (uncompressed or MJPG) in the camera's default
// parameter block, which is what this writes, over the flash the camera leaves the factory with.
// The crosshair is shown in factory mode only; the mask in both modes.
//
//   tavrel_bench_preset_camera DATA_FOLDER YUYV|MJPG WIDTHxHEIGHT
//
// Prints the flash file written. Exit status 0 done, 1 the file could not be written or does
// not read back as intended, 2 usage error (or a format the virtual camera does not offer).
#include <QRegularExpression>
#include <QString>
#include <cstdio>
#include <optional>

#include "capture/Camera.h"
#include "capture/StreamFormats.h"
#include "capture/virtual/VirtualCamera.h"
#include "capture/virtual/VirtualCameraDevice.h"
#include "contracts/CameraIdentity.h"
#include "contracts/FileFlashController.h"
#include "contracts/FlashImage.h"
#include "flashparams/FlashParameterBlock.h"
#include "flashparams/FlashParameters.h"

namespace {

// Offsets in a parameter block (see FlashParameterBlock).
constexpr uint32_t kResolutionEntry = 0x00;
constexpr uint32_t kMaskShown = 0x08;
constexpr uint32_t kCrossShown = 0x0D;
constexpr uint32_t kMjpgList = 0x20;

int Usage(const char* message) {
    std::fprintf(stderr,
                 "%s\nusage: tavrel_bench_preset_camera DATA_FOLDER YUYV|MJPG WIDTHxHEIGHT\n",
                 message);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        return Usage("three arguments expected");
    }
    const QString dataFolder = QString::fromLocal8Bit(argv[1]);
    const QString format = QString::fromLocal8Bit(argv[2]).toUpper();
    if (dataFolder.isEmpty()) {
        return Usage("the data folder is empty");
    }
    if (format != QLatin1String("YUYV") && format != QLatin1String("MJPG")) {
        return Usage("the format is YUYV or MJPG");
    }
    const bool mjpg = format == QLatin1String("MJPG");
    static const QRegularExpression kSize(QStringLiteral("^(\\d{1,5})x(\\d{1,5})$"));
    const QRegularExpressionMatch size = kSize.match(QString::fromLocal8Bit(argv[3]));
    if (!size.hasMatch()) {
        return Usage("the size is WIDTHxHEIGHT, such as 1920x1080");
    }
    const int width = size.captured(1).toInt();
    const int height = size.captured(2).toInt();

    // The entry of the list the window takes the format from, as the camera reports its formats.
    StreamFormats formats;
    formats.setCapabilities(VirtualCamera::supportedFormats());
    std::optional<int> entry;
    for (const ResolutionEntry& e : formats.list(mjpg)) {
        if (e.format.width == width && e.format.height == height) {
            entry = e.index;
            break;
        }
    }
    if (!entry) {
        return Usage("the virtual camera does not offer this format at this size");
    }

    FlashImage flash = VirtualCameraDevice::factoryFlash();
    const uint32_t block = FlashParameterBlock::kDefaultBlock;
    const uint8_t bytes[][2] = {{uint8_t(kResolutionEntry), uint8_t(*entry)},
                                {uint8_t(kMjpgList), uint8_t(mjpg ? 1 : 0)},
                                {uint8_t(kMaskShown), 1},
                                {uint8_t(kCrossShown), 1}};
    for (const auto& [offset, value] : bytes) {
        flash.write(block + offset, 1, &value);
    }

    const CameraIdentity camera =
        CameraIdentity::usb(VirtualCameraDevice::kVendorId, VirtualCameraDevice::kProductId,
                            QString::fromLatin1(VirtualCameraDevice::kSerial));
    FileFlashController controller(dataFolder, [camera] { return camera; });
    const QString path = controller.flashFilePath(camera);
    if (path.isEmpty() || !flash.save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return 1;
    }

    // Read back as a camera start reads it: the window must find this format and both marks.
    FlashParameters p;
    controller.ALC_Initialize();
    FlashParameterBlock reader(controller);
    const int savedFlag = reader.ReadSavedFlag();
    reader.ReadDefaultBlock(p);
    controller.ALC_UnInitialize();
    formats.m_nResolutionIndex = p.m_nResolutionIndex;
    formats.m_bMjpgSelected = p.m_bMjpgSelected;
    const std::optional<CameraFormat> chosen = formats.selectedFormat();
    if (savedFlag == 1 || !chosen || chosen->width != width || chosen->height != height ||
        chosen->pixelFormat != (mjpg ? PixelFormat::MJPG : PixelFormat::YUYV) ||
        !p.overlay.m_bMaskEnable || !p.overlay.m_bCrossEnable) {
        std::fprintf(stderr, "%s does not read back as %s %dx%d with mask and crosshair\n",
                     qPrintable(path), qPrintable(format), width, height);
        return 1;
    }
    std::printf("%s\n", qPrintable(path));
    return 0;
}
