#include "display/ScreenPicture.h"

#include <libyuv/convert_argb.h>

#include "contracts/Image.h"
#include "display/PreviewWidget.h"

QSize ScreenPicture::PictureSize(const QSize& frameSize, const QSize& areaSize) {
    if (areaSize.isEmpty() || frameSize.isEmpty() ||
        (frameSize.width() <= areaSize.width() && frameSize.height() <= areaSize.height())) {
        return frameSize;
    }
    // The preview places the picture with the same rule, so a picture of this size lands on
    // the screen pixel for pixel.
    return PreviewWidget::PictureRect(frameSize, areaSize).size();
}

bool ScreenPicture::Draw(const Image& frame, QImage& out) {
    const int w = frame.GetWidth();
    const int h = frame.GetHeight();
    if (frame.GetBpp() != 24 || w < 1 || h < 1 || out.format() != QImage::Format_RGB32 ||
        out.width() < 1 || out.height() < 1 || out.width() > w || out.height() > h) {
        return false;
    }
    // libyuv's RGB24 is the frame's byte order (blue, green, red) and its ARGB that of
    // Format_RGB32 (blue, green, red, 255); a negative height reads the rows bottom-up.
    if (out.width() == w && out.height() == h) {
        return libyuv::RGB24ToARGB(frame.GetBits(0), frame.GetEffWidth(), out.bits(),
                                   int(out.bytesPerLine()), w, -h) == 0;
    }
    const int ow = out.width();
    const int oh = out.height();
    m_scaled.resize(size_t(ow) * 3 * oh);
    // The scaler's vertical mirror turns the bottom-up rows top-down in the same pass.
    if (!m_scaler.scale(frame.GetBits(0), frame.GetEffWidth(), w, h, m_scaled.data(), ow * 3, ow,
                        oh, false, true)) {
        return false;
    }
    return libyuv::RGB24ToARGB(m_scaled.data(), ow * 3, out.bits(), int(out.bytesPerLine()), ow,
                               oh) == 0;
}
