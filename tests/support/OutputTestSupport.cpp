#include "support/OutputTestSupport.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QFile>

#include <algorithm>
#include <csignal>
#include <cstdlib>

extern "C" {
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

// Reads a file back with FFmpeg as a player would, decoding every frame.
DecodedFile decodeFile(const QString& path) {
    DecodedFile out;
    AVFormatContext* fmt = nullptr;
    if (avformat_open_input(&fmt, QFile::encodeName(path).constData(), nullptr, nullptr) < 0) {
        return out;
    }
    AVCodecContext* dec = nullptr;
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    AVFrame* pic = av_frame_alloc();
    SwsContext* toRgb = nullptr;
    int index = -1;
    if (avformat_find_stream_info(fmt, nullptr) >= 0) {
        index = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    }
    if (index >= 0) {
        AVStream* st = fmt->streams[index];
        out.opened = true;
        out.formatName = fmt->iformat->name;
        out.codec = st->codecpar->codec_id;
        out.width = st->codecpar->width;
        out.height = st->codecpar->height;
        out.frameRate = st->r_frame_rate;
        if (fmt->duration != AV_NOPTS_VALUE) {
            out.durationSeconds = fmt->duration / 1e6;
        }
        const AVCodec* codec = avcodec_find_decoder(out.codec);
        dec = avcodec_alloc_context3(codec);
        avcodec_parameters_to_context(dec, st->codecpar);
        avcodec_open2(dec, codec, nullptr);
        auto receive = [&] {
            while (avcodec_receive_frame(dec, frame) >= 0) {
                if (frame->pict_type == AV_PICTURE_TYPE_I) {
                    out.keyFrames.push_back(int(out.rgb.size()));
                }
                toRgb = sws_getCachedContext(
                    toRgb, frame->width, frame->height, AVPixelFormat(frame->format), frame->width,
                    frame->height, AV_PIX_FMT_RGB24, SWS_BICUBIC, nullptr, nullptr, nullptr);
                av_frame_unref(pic);
                pic->format = AV_PIX_FMT_RGB24;
                pic->width = frame->width;
                pic->height = frame->height;
                av_frame_get_buffer(pic, 0);
                sws_scale(toRgb, frame->data, frame->linesize, 0, frame->height, pic->data,
                          pic->linesize);
                std::vector<uint8_t> rgb;
                for (int y = 0; y < frame->height; ++y) {
                    const uint8_t* row = pic->data[0] + y * pic->linesize[0];
                    rgb.insert(rgb.end(), row, row + frame->width * 3);
                }
                out.rgb.push_back(std::move(rgb));
                av_frame_unref(frame);
            }
        };
        int64_t firstPts = AV_NOPTS_VALUE;
        int64_t lastPts = AV_NOPTS_VALUE;
        while (av_read_frame(fmt, pkt) >= 0) {
            if (pkt->stream_index == index && pkt->pts != AV_NOPTS_VALUE) {
                if (firstPts == AV_NOPTS_VALUE) {
                    firstPts = pkt->pts;
                }
                lastPts = std::max(lastPts, pkt->pts);
            }
            if (pkt->stream_index == index && avcodec_send_packet(dec, pkt) >= 0) {
                receive();
            }
            av_packet_unref(pkt);
        }
        if (firstPts != AV_NOPTS_VALUE) {
            out.stampedSeconds = (lastPts - firstPts) * av_q2d(st->time_base) + 1.0 / 24;
        }
        avcodec_send_packet(dec, nullptr);
        receive();
    }
    sws_freeContext(toRgb);
    av_frame_free(&pic);
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&dec);
    avformat_close_input(&fmt);
    return out;
}

int RunWithFileSizeLimit(long limit, const std::function<int()>& body) {
    const pid_t child = fork();
    if (child < 0) {
        return -1;
    }
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit fileSize{rlim_t(limit), rlim_t(limit)};
        if (setrlimit(RLIMIT_FSIZE, &fileSize) != 0) {
            std::exit(10);
        }
        std::exit(body());
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}
