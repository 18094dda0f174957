// The frame decoder: MJPG and every uncompressed format, at sizes and strides taken from the
// input's first bytes, over whatever data follows. A frame is either refused or decoded into a
// picture of exactly the stream's size; a refused frame leaves the last picture in place.
#include <cstring>
#include <vector>

#include "FuzzTarget.h"
#include "capture/Camera.h"
#include "capture/FrameDecoder.h"

namespace {

constexpr uint32_t kFormats[] = {
    PixelFormat::MJPG, PixelFormat::YUYV, PixelFormat::UYVY, PixelFormat::NV12,
    PixelFormat::NV21, PixelFormat::YU12, PixelFormat::YV12, PixelFormat::RGB3,
    PixelFormat::BGR3, PixelFormat::RGBP, PixelFormat::GREY,
};
constexpr size_t kFormatCount = sizeof(kFormats) / sizeof(kFormats[0]);

// Reads every output byte, so that a picture smaller than it claims shows as a memory error.
unsigned Touch(const FrameDecoder& decoder) {
    const size_t bytes = size_t(decoder.width()) * size_t(decoder.height()) * 3;
    unsigned sum = 0;
    for (size_t i = 0; i < bytes; ++i) {
        sum += decoder.pixels()[i];
    }
    return sum;
}

}  // namespace

int FuzzOne(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const uint32_t format = kFormats[in.byte() % kFormatCount];
    // Up to 2048 on a side (0 included, which must be refused); strides from 0 (packed) on.
    const int width = in.word() % 2049;
    const int height = in.word() % 2049;
    const size_t stride = in.word() % 8192;
    size_t frameSize = 0;
    const uint8_t* frame = in.rest(&frameSize);
    // An exact copy on the heap, so that a read past the end of the frame is caught.
    std::vector<uint8_t> buffer(frame, frame + frameSize);
    const uint8_t* bytes = buffer.empty() ? nullptr : buffer.data();

    FrameDecoder decoder;
    if (decoder.decode(format, width, height, bytes, frameSize, stride)) {
        FUZZ_CHECK(decoder.width() == width && decoder.height() == height);
        FUZZ_CHECK(width > 0 && height > 0);
        Touch(decoder);
        // A second frame that is refused keeps the first picture.
        const std::vector<uint8_t> first(decoder.pixels(),
                                         decoder.pixels() + size_t(width) * size_t(height) * 3);
        const uint8_t cut = 0;
        if (!decoder.decode(format, width, height, &cut, 1, stride)) {
            FUZZ_CHECK(decoder.width() == width && decoder.height() == height);
            FUZZ_CHECK(std::memcmp(decoder.pixels(), first.data(), first.size()) == 0);
        }
    } else {
        FUZZ_CHECK(!decoder.failure().empty());
    }
    // The same decoder at half the size: buffers kept from the first frame are resized.
    if (width > 1 && height > 1 &&
        decoder.decode(format, width / 2, height / 2, bytes, frameSize, stride)) {
        FUZZ_CHECK(decoder.width() == width / 2 && decoder.height() == height / 2);
        Touch(decoder);
    }
    return 0;
}
