#pragma once

// Helpers of the output tests: reading recordings back the way a player does, and running
// code with a full disk.

#include <QString>
#include <cstdint>
#include <functional>
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

// Runs body in a child process whose files may grow to at most `limit` bytes, as on a full
// disk (SIGXFSZ ignored, so writes fail instead of killing it); nothing else of the test run is
// limited. Returns body's result as the child's exit status, or -1 when the child died or could
// not be started. The child ends with exit(), so a leak check runs in it too.
int RunWithFileSizeLimit(long limit, const std::function<int()>& body);
