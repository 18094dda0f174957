#include "output/MpegWriter.h"

#include <libyuv/convert.h>
#include <libyuv/convert_from_argb.h>
#include <libyuv/planar_functions.h>

#include <sys/stat.h>
#include <unistd.h>
#include <QLoggingCategory>
#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

namespace {

Q_LOGGING_CATEGORY(lcMpegWriter, "tavrel.output.mpeg")
Q_LOGGING_CATEGORY(lcFfmpeg, "tavrel.output.ffmpeg", QtWarningMsg)

// FFmpeg's own messages go to the log under tavrel.output.ffmpeg instead of straight to the
// terminal: its errors as warnings, everything else (the muxer's notes on buffer sizes at 4K,
// say, which do not make the file unplayable) only when that category is switched on.
void forwardFfmpegLog(void* context, int level, const char* format, va_list args) {
    if (level > AV_LOG_VERBOSE) {
        return;
    }
    const bool problem = level <= AV_LOG_ERROR;
    if (!problem && !lcFfmpeg().isDebugEnabled()) {
        return;
    }
    char line[1024];
    int prefix = 1;  // per thread, as FFmpeg's own printer keeps it
    av_log_format_line2(context, level, format, args, line, int(sizeof line), &prefix);
    const QString text = QString::fromUtf8(line).trimmed();
    if (problem) {
        qCWarning(lcFfmpeg).noquote() << text;
    } else {
        qCDebug(lcFfmpeg).noquote() << text;
    }
}

void routeFfmpegLog() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_callback(forwardFfmpegLog); });
}

// Pictures are grouped by 18: a key frame every 18 frames (0.75 s at 24 frames per second).
constexpr int kGopSize = 18;

QString avError(int err) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(err, text, sizeof text);
    return QString::fromUtf8(text);
}

// MPEG-1 and MPEG-2 code pictures in macroblocks with 4:2:0 chroma and accept only even sizes.
int evenSize(int n) {
    return std::max(2, n & ~1);
}

// Frees every object of the record without writing anything, and resets its pointers.
void releaseWriter(MpegWriter& w) {
    avcodec_free_context(&w.pCodecContext);
    av_frame_free(&w.pRgbPicture);
    av_frame_free(&w.pYuvPicture);
    sws_freeContext(w.pConvert);
    w.pConvert = nullptr;
    av_packet_free(&w.pPacket);
    if (w.pFormatContext) {
        if (w.pFormatContext->pb == w.pOutput) {
            w.pFormatContext->pb = nullptr;  // the caller's
        } else if (w.pFormatContext->oformat &&
                   !(w.pFormatContext->oformat->flags & AVFMT_NOFILE)) {
            avio_closep(&w.pFormatContext->pb);
        }
        avformat_free_context(w.pFormatContext);
        w.pFormatContext = nullptr;
    }
    w.pVideoStream = nullptr;
    w.pOutputFormat = nullptr;
    w.bOpen = false;
}

bool failOpen(MpegWriter& w, const char* fileName, const char* step, int err = 0) {
    if (err < 0) {
        qCWarning(lcMpegWriter) << "Cannot open" << fileName << "for recording:" << step
                                << "failed:" << avError(err);
    } else {
        qCWarning(lcMpegWriter) << "Cannot open" << fileName << "for recording:" << step
                                << "failed";
    }
    releaseWriter(w);
    return false;
}

// Writes every packet the encoder has ready. Every packet is taken out of the encoder even
// after a failed write, so the encoder never holds on to output. False when a packet could not
// be received or written.
bool writeReadyPackets(MpegWriter& w, AVFormatContext* context, AVStream* stream) {
    bool ok = true;
    for (;;) {
        int ret = avcodec_receive_packet(w.pCodecContext, w.pPacket);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) {
            break;
        }
        if (ret < 0) {
            qCWarning(lcMpegWriter) << "avcodec_receive_packet failed:" << avError(ret);
            return false;
        }
        // The muxer chooses the stream's time base at the header (90 kHz for MPEG system
        // streams), so the encoder's frame numbers are rescaled for every packet.
        av_packet_rescale_ts(w.pPacket, w.pCodecContext->time_base, stream->time_base);
        w.pPacket->stream_index = stream->index;
        ret = av_interleaved_write_frame(context, w.pPacket);
        av_packet_unref(w.pPacket);
        if (ret < 0) {
            if (ok) {
                qCWarning(lcMpegWriter) << "av_interleaved_write_frame failed:" << avError(ret);
            }
            ok = false;
        }
    }
    return ok;
}

}  // namespace

MpegWriter::~MpegWriter() {
    CloseMpegWriter(*this);
}

MpegWriter::MpegWriter(MpegWriter&& other) noexcept {
    *this = std::move(other);
}

MpegWriter& MpegWriter::operator=(MpegWriter&& other) noexcept {
    if (this == &other) {
        return *this;
    }
    CloseMpegWriter(*this);
    nKind = other.nKind;
    nWidth = other.nWidth;
    nHeight = other.nHeight;
    fFrameRate = other.fFrameRate;
    fBitRate = other.fBitRate;
    pRgbPicture = std::exchange(other.pRgbPicture, nullptr);
    pYuvPicture = std::exchange(other.pYuvPicture, nullptr);
    pOutputFormat = std::exchange(other.pOutputFormat, nullptr);
    pFormatContext = std::exchange(other.pFormatContext, nullptr);
    pVideoStream = std::exchange(other.pVideoStream, nullptr);
    pCodecContext = std::exchange(other.pCodecContext, nullptr);
    pConvert = std::exchange(other.pConvert, nullptr);
    pPacket = std::exchange(other.pPacket, nullptr);
    pOutput = std::exchange(other.pOutput, nullptr);
    nextPts = std::exchange(other.nextPts, 0);
    lastPts = std::exchange(other.lastPts, -1);
    bOpen = std::exchange(other.bOpen, false);
    return *this;
}

bool OpenMpegWriter(MpegWriter& w, const char* fileName) {
    routeFfmpegLog();
    CloseMpegWriter(w);
    w.nextPts = 0;
    w.lastPts = -1;
    if (!fileName || !*fileName) {
        return failOpen(w, "(no name)", "file name");
    }

    const AVOutputFormat* format = nullptr;
    switch (w.nKind) {
        case 0:
        case 1:
            format = av_guess_format("vcd", nullptr, nullptr);
            break;
        case 2:
        case 3:
            format = av_guess_format("svcd", nullptr, nullptr);
            break;
        case 4:
        case 5:
            format = av_guess_format("dvd", nullptr, nullptr);
            break;
        default:
            format = av_guess_format(nullptr, fileName, nullptr);
            break;
    }
    if (!format) {
        format = av_guess_format("mpeg", nullptr, nullptr);
    }
    if (!format) {
        return failOpen(w, fileName, "av_guess_format");
    }
    w.pOutputFormat = format;

    int ret = avformat_alloc_output_context2(&w.pFormatContext, format, nullptr, fileName);
    if (ret < 0 || !w.pFormatContext) {
        return failOpen(w, fileName, "avformat_alloc_output_context2", ret);
    }

    // A container without video would give a file without the recording in it.
    if (format->video_codec == AV_CODEC_ID_NONE) {
        return failOpen(w, fileName, "video codec of the format");
    }
    w.pVideoStream = AddVideoStream(format->video_codec, w, w.pFormatContext);
    if (!w.pVideoStream) {
        return failOpen(w, fileName, "AddVideoStream");
    }
    if (!OpenVideoEncoder(w.pVideoStream, w)) {
        return failOpen(w, fileName, "OpenVideoEncoder");
    }

    bool created = false;  // this open made the file, so a failure may take it away again
    if (w.pOutput) {
        w.pFormatContext->pb = w.pOutput;
        w.pFormatContext->flags |= AVFMT_FLAG_CUSTOM_IO;
    } else if (!(format->flags & AVFMT_NOFILE)) {
        struct stat before {};
        created = ::lstat(fileName, &before) != 0 && errno == ENOENT;
        // The "file:" prefix keeps a colon in the name from being taken for a protocol.
        const std::string url = std::string("file:") + fileName;
        ret = avio_open(&w.pFormatContext->pb, url.c_str(), AVIO_FLAG_WRITE);
        if (ret < 0) {
            return failOpen(w, fileName, "avio_open", ret);
        }
    }
    // Without its header the file is not usable, so a header that cannot be written fails the
    // open.
    ret = avformat_write_header(w.pFormatContext, nullptr);
    if (ret < 0) {
        failOpen(w, fileName, "avformat_write_header", ret);
        // What was written of a file made here is of no use to anyone; a file or device that
        // was there before is not this writer's to remove.
        if (created) {
            ::unlink(fileName);
        }
        return false;
    }
    w.bOpen = true;
    return true;
}

AVStream* AddVideoStream(AVCodecID codecId, MpegWriter& w, AVFormatContext* context) {
    if (!context) {
        return nullptr;
    }
    // Settings that cannot become a valid stream (and whose conversion to integers would not
    // even be defined for NaN or huge values).
    if (w.nWidth < 1 || w.nHeight < 1 || !(w.fFrameRate >= 1.0f && w.fFrameRate < 1.0e6f) ||
        !(w.fBitRate >= 0.0f && w.fBitRate < 1.0e12f)) {
        qCWarning(lcMpegWriter) << "Invalid recording settings:" << w.nWidth << "x" << w.nHeight
                                << w.fFrameRate << "fps" << w.fBitRate << "bit/s";
        return nullptr;
    }
    AVStream* stream = avformat_new_stream(context, nullptr);
    if (!stream) {
        return nullptr;
    }
    stream->id = 0;

    avcodec_free_context(&w.pCodecContext);
    // Allocated for the encoder (when there is one) so that its own defaults apply first.
    AVCodecContext* c = avcodec_alloc_context3(avcodec_find_encoder(codecId));
    if (!c) {
        return nullptr;
    }
    w.pCodecContext = c;
    c->codec_id = codecId;
    c->codec_type = AVMEDIA_TYPE_VIDEO;
    c->bit_rate = static_cast<int64_t>(w.fBitRate);
    c->width = evenSize(w.nWidth);
    c->height = evenSize(w.nHeight);
    c->time_base = AVRational{1, static_cast<int>(w.fFrameRate)};
    c->framerate = AVRational{static_cast<int>(w.fFrameRate), 1};
    c->gop_size = kGopSize;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    if (codecId == AV_CODEC_ID_MPEG2VIDEO) {
        c->max_b_frames = 2;
    }
    if (codecId == AV_CODEC_ID_MPEG1VIDEO) {
        c->mb_decision = FF_MB_DECISION_RD;
    }
    const char* name = context->oformat ? context->oformat->name : "";
    if (!std::strcmp(name, "mp4") || !std::strcmp(name, "mov") || !std::strcmp(name, "3gp")) {
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    // Slices of the picture are encoded in parallel (both cores of a small machine); this
    // keeps a frame within the recording's frame interval at full HD.
    c->thread_count = 2;
    c->thread_type = FF_THREAD_SLICE;
    return stream;
}

bool OpenVideoEncoder(AVStream* stream, MpegWriter& w) {
    AVCodecContext* c = w.pCodecContext;
    if (!stream || !c) {
        return false;
    }
    const AVCodec* codec = avcodec_find_encoder(c->codec_id);
    if (!codec) {
        qCWarning(lcMpegWriter) << "No encoder for" << avcodec_get_name(c->codec_id);
        return false;
    }
    int ret = avcodec_open2(c, codec, nullptr);
    if (ret < 0) {
        qCWarning(lcMpegWriter) << "avcodec_open2 failed:" << avError(ret);
        return false;
    }
    ret = avcodec_parameters_from_context(stream->codecpar, c);
    if (ret < 0) {
        qCWarning(lcMpegWriter) << "avcodec_parameters_from_context failed:" << avError(ret);
        return false;
    }
    stream->time_base = c->time_base;
    stream->avg_frame_rate = c->framerate;

    av_frame_free(&w.pYuvPicture);
    av_frame_free(&w.pRgbPicture);
    w.pYuvPicture = AllocPicture(c->pix_fmt, c->width, c->height);
    if (!w.pYuvPicture) {
        return false;
    }
    // The copied picture keeps the caller's size (an odd size included); the conversion takes
    // its even-sized top-left part.
    w.pRgbPicture = AllocPicture(AV_PIX_FMT_RGB24, std::max(w.nWidth, c->width),
                                 std::max(w.nHeight, c->height));
    if (!w.pRgbPicture) {
        return false;
    }
    sws_freeContext(w.pConvert);
    w.pConvert = sws_getContext(c->width, c->height, AV_PIX_FMT_RGB24, c->width, c->height,
                                c->pix_fmt, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (!w.pConvert) {
        qCWarning(lcMpegWriter) << "sws_getContext failed";
        return false;
    }
    av_packet_free(&w.pPacket);
    w.pPacket = av_packet_alloc();
    return w.pPacket != nullptr;
}

AVFrame* AllocPicture(AVPixelFormat format, int width, int height) {
    AVFrame* picture = av_frame_alloc();
    if (!picture) {
        return nullptr;
    }
    picture->format = format;
    picture->width = width;
    picture->height = height;
    if (av_frame_get_buffer(picture, 0) < 0) {
        av_frame_free(&picture);
        return nullptr;
    }
    ptrdiff_t linesizes[4];
    for (int i = 0; i < 4; ++i) {
        linesizes[i] = picture->linesize[i];
    }
    av_image_fill_black(picture->data, linesizes, format, AVCOL_RANGE_MPEG, width, height);
    return picture;
}

void CopyFrameToRgb(int bpp, AVFrame* picture, int width, int height, const uint8_t* bits) {
    if (!bits || !picture || !picture->data[0] || width <= 0 || height <= 0) {
        return;
    }
    if (bpp != 24 && bpp != 32) {
        return;
    }
    // Three bytes per pixel in one plane, or the rows would not hold what is copied.
    if (picture->format != AV_PIX_FMT_RGB24 && picture->format != AV_PIX_FMT_BGR24) {
        return;
    }
    const int64_t stride = (int64_t{bpp} * width + 31) / 32 * 4;
    const int w = std::min(width, picture->width);
    const int h = std::min(height, picture->height);
    if (w <= 0 || h <= 0 || stride > INT32_MAX) {
        return;
    }
    // The last stored row is the picture's top; walking the rows backwards turns the bitmap
    // upright while the pixels change from blue-green-red to red-green-blue.
    const uint8_t* top = bits + (height - 1) * stride;
    const int srcStride = -static_cast<int>(stride);
    if (bpp == 24) {
        libyuv::RAWToRGB24(top, srcStride, picture->data[0], picture->linesize[0], w, h);
    } else {
        libyuv::ARGBToRAW(top, srcStride, picture->data[0], picture->linesize[0], w, h);
    }
}

bool WriteVideoFrame(AVFormatContext* context, AVStream* stream, MpegWriter& w) {
    if (!context || !stream || !w.bOpen || !w.pCodecContext || !w.pConvert || !w.pRgbPicture ||
        !w.pYuvPicture || !w.pPacket) {
        return false;
    }
    AVCodecContext* c = w.pCodecContext;
    // The encoder may still hold the previous frame's buffer as a reference picture.
    int ret = av_frame_make_writable(w.pYuvPicture);
    if (ret < 0) {
        qCWarning(lcMpegWriter) << "av_frame_make_writable failed:" << avError(ret);
        return false;
    }
    if (w.pRgbPicture->format == AV_PIX_FMT_RGB24 && c->pix_fmt == AV_PIX_FMT_YUV420P) {
        // The same BT.601 studio-range conversion as swscale's, through libyuv's vector code:
        // 0.8 ms instead of 6.8 ms for a 1080p frame here, a third of the frame's whole cost.
        libyuv::RAWToI420(w.pRgbPicture->data[0], w.pRgbPicture->linesize[0],
                          w.pYuvPicture->data[0], w.pYuvPicture->linesize[0],
                          w.pYuvPicture->data[1], w.pYuvPicture->linesize[1],
                          w.pYuvPicture->data[2], w.pYuvPicture->linesize[2], c->width, c->height);
    } else {
        sws_scale(w.pConvert, w.pRgbPicture->data, w.pRgbPicture->linesize, 0, c->height,
                  w.pYuvPicture->data, w.pYuvPicture->linesize);
    }

    if (w.nextPts <= w.lastPts) {
        w.nextPts = w.lastPts + 1;
    }
    w.pYuvPicture->pts = w.nextPts;
    ret = avcodec_send_frame(c, w.pYuvPicture);
    if (ret < 0) {
        qCWarning(lcMpegWriter) << "avcodec_send_frame failed:" << avError(ret);
        return false;
    }
    w.lastPts = w.nextPts++;
    return writeReadyPackets(w, context, stream);
}

void CloseMpegWriter(MpegWriter& w) {
    if (w.bOpen) {
        // The encoder may still hold frames (reordering, slice threads): drain them before the
        // trailer, so the file ends with the last frame written.
        int ret = avcodec_send_frame(w.pCodecContext, nullptr);
        if (ret < 0) {
            qCWarning(lcMpegWriter) << "Flushing the encoder failed:" << avError(ret);
        } else {
            writeReadyPackets(w, w.pFormatContext, w.pVideoStream);
        }
        ret = av_write_trailer(w.pFormatContext);
        if (ret < 0) {
            qCWarning(lcMpegWriter) << "av_write_trailer failed:" << avError(ret);
        }
        AVIOContext* pb = w.pFormatContext->pb;
        if (pb && pb == w.pOutput) {
            avio_flush(pb);
        } else if (pb && !(w.pFormatContext->oformat->flags & AVFMT_NOFILE)) {
            ret = avio_closep(&w.pFormatContext->pb);
            if (ret < 0) {
                qCWarning(lcMpegWriter) << "Closing the recording failed:" << avError(ret);
            }
        }
    }
    releaseWriter(w);
}
