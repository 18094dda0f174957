#pragma once

// Reads recordings back the way a player does, for the output tests.

#include <QString>
#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

struct DecodedFile {
    bool opened = false;
    std::string formatName;
    AVCodecID codec = AV_CODEC_ID_NONE;
    int width = 0;
    int height = 0;
    AVRational frameRate{0, 1};
    double durationSeconds = -1;
    // From the first to the last time stamp of the packets, plus one frame: how long a player
    // that follows the time stamps shows the recording.
    double stampedSeconds = -1;
    std::vector<int> keyFrames;             // display indices of intra-coded frames
    std::vector<std::vector<uint8_t>> rgb;  // top-down RGB24 rows of width * 3 bytes
};

// Opens a file with FFmpeg and decodes every frame of its video stream.
DecodedFile decodeFile(const QString& path);
