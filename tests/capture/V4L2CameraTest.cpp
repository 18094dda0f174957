#include "capture/v4l2/V4L2Camera.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/input.h>
#include <unistd.h>

#include <QTemporaryFile>
#include <vector>

#include "capture/v4l2/SnapshotButtonInput.h"
#include "platform/UniqueFd.h"

namespace {

CameraId v4l2Id(const QString& node) {
    CameraId id;
    id.backend = CameraBackend::V4L2;
    id.devNode = node;
    return id;
}

class NullSink : public FrameSink {
public:
    int OnFrame(const uint8_t*, int, int, int) override {
        ++frames;
        return 0;
    }
    int frames = 0;
};

// A camera that failed to open must refuse everything else and close quietly.
void expectUnusable(V4L2Camera& camera) {
    EXPECT_FALSE(camera.isOpen());
    EXPECT_TRUE(camera.formats().empty());
    EXPECT_FALSE(camera.prepare());
    EXPECT_FALSE(camera.isPrepared());
    NullSink sink;
    EXPECT_FALSE(camera.start(&sink));
    EXPECT_FALSE(camera.isStreaming());
    EXPECT_FALSE(camera.setFormat({PixelFormat::YUYV, 640, 480, 30}));
    EXPECT_EQ(camera.currentFormat(), CameraFormat());
    long value = 0;
    long flags = 0;
    EXPECT_FALSE(camera.hasProperty(CameraProperty::Brightness));
    EXPECT_FALSE(camera.getProperty(CameraProperty::Brightness, &value, &flags));
    EXPECT_FALSE(camera.setProperty(CameraProperty::Exposure, -7, kPropertyFlagsManual));
    PropertyRange range;
    EXPECT_FALSE(camera.getPropertyRange(CameraProperty::Gain, &range));
    EXPECT_FALSE(camera.hasPowerLineFrequency());
    EXPECT_FALSE(camera.setPowerLineFrequency(1));
    camera.stop();
    camera.close();
    EXPECT_FALSE(camera.isOpen());
    EXPECT_EQ(sink.frames, 0);
}

void writeEvent(int fd, uint16_t type, uint16_t code, int32_t value) {
    input_event ev{};
    ev.type = type;
    ev.code = code;
    ev.value = value;
    ASSERT_EQ(::write(fd, &ev, sizeof(ev)), ssize_t(sizeof(ev)));
}

}  // namespace

TEST(V4L2CameraOpen, MissingNodeFailsCleanly) {
    V4L2Camera camera(v4l2Id(QStringLiteral("/dev/video-tavrel-does-not-exist")));
    EXPECT_FALSE(camera.open());
    expectUnusable(camera);
    EXPECT_FALSE(camera.isLost());
}

TEST(V4L2CameraOpen, NonVideoFilesFailCleanly) {
    V4L2Camera devNull(v4l2Id(QStringLiteral("/dev/null")));
    EXPECT_FALSE(devNull.open());
    expectUnusable(devNull);

    QTemporaryFile file;
    ASSERT_TRUE(file.open());
    file.write("not a camera");
    file.flush();
    V4L2Camera regular(v4l2Id(file.fileName()));
    EXPECT_FALSE(regular.open());
    expectUnusable(regular);
    // A second attempt behaves the same (nothing left half-open).
    EXPECT_FALSE(regular.open());
    EXPECT_FALSE(regular.isOpen());
}

TEST(SnapshotButton, CountsKeyPressesOfTheCameraKeyOnly) {
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_NONBLOCK | O_CLOEXEC), 0);
    UniqueFd writer(fds[1]);
    SnapshotButtonInput button{UniqueFd(fds[0])};
    ASSERT_TRUE(button.isOpen());
    // A pipe cannot be grabbed; the source is read all the same.
    EXPECT_NE(button.grabErrno(), 0);

    EXPECT_EQ(button.readPresses(), 0);  // nothing pending

    writeEvent(writer.get(), EV_KEY, KEY_CAMERA, 1);  // press
    writeEvent(writer.get(), EV_SYN, SYN_REPORT, 0);
    writeEvent(writer.get(), EV_KEY, KEY_CAMERA, 2);  // auto-repeat while held
    writeEvent(writer.get(), EV_KEY, KEY_CAMERA, 0);  // release
    writeEvent(writer.get(), EV_KEY, KEY_A, 1);       // another key
    EXPECT_EQ(button.readPresses(), 1);

    for (int i = 0; i < 20; ++i) {  // more than one read's worth of events
        writeEvent(writer.get(), EV_KEY, KEY_CAMERA, 1);
        writeEvent(writer.get(), EV_KEY, KEY_CAMERA, 0);
    }
    EXPECT_EQ(button.readPresses(), 20);

    // The device going away ends the source.
    writer.reset();
    EXPECT_EQ(button.readPresses(), -1);
}

TEST(SnapshotButton, CameraWithoutButtonDeviceOpensNothing) {
    SnapshotButtonInput button;
    int error = -1;
    EXPECT_FALSE(
        button.open(QStringLiteral("/dev/video-tavrel-does-not-exist"), QString(), &error));
    EXPECT_EQ(error, 0);
    EXPECT_FALSE(button.isOpen());
    EXPECT_EQ(button.readPresses(), -1);
}
