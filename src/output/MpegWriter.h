#pragma once

#include <cstdint>

extern "C" {
#include <libavcodec/codec_id.h>
#include <libavutil/pixfmt.h>
}

struct AVCodecContext;
struct AVFormatContext;
struct AVIOContext;
struct AVFrame;
struct AVOutputFormat;
struct AVPacket;
struct AVStream;
struct SwsContext;

// One MPEG output: a container with one video stream, its encoder and the two pictures a frame
// passes through (the copied RGB picture and the encoder's YUV picture). The caller fills the
// settings, opens it with OpenMpegWriter, feeds frames with CopyFrameToRgb + WriteVideoFrame and
// finishes it with CloseMpegWriter. The functions take no lock: the caller makes sure that open,
// frame writes and close on one record never overlap.
//
// States: closed (after construction, after a failed open, after CloseMpegWriter) and open
// (after a successful OpenMpegWriter; bOpen is true). Every FFmpeg object of an open record is
// owned by it; a failed open releases whatever it had created, and the destructor closes an
// output that is still open, so the file is finished with its trailer and nothing leaks.
// Move-only: a moved-from record is closed.
struct MpegWriter {
    // Output kind: 0, 1 = "vcd"; 2, 3 = "svcd"; 4, 5 = "dvd"; anything else = guessed from the
    // file name. When no format is found, the "mpeg" format (MPEG-1 system stream) is used.
    int nKind = 0;
    // Picture size of the frames the caller copies in. MPEG-1 and MPEG-2 need even sizes, so the
    // stream is encoded at the size rounded down to even (at least 2): the rightmost column and
    // the bottom row of an odd-sized picture are left out, never a failed or corrupt file.
    int nWidth = 352;
    int nHeight = 288;
    // Frames per second; the stream's time base is 1 / trunc(fFrameRate).
    float fFrameRate = 25.0f;
    // Target bits per second, truncated.
    float fBitRate = 800000.0f;

    // Top-down RGB24 picture of nWidth x nHeight that CopyFrameToRgb fills.
    AVFrame* pRgbPicture = nullptr;
    // The encoder's input picture (YUV 4:2:0 at the encoded, even size).
    AVFrame* pYuvPicture = nullptr;
    const AVOutputFormat* pOutputFormat = nullptr;
    AVFormatContext* pFormatContext = nullptr;
    AVStream* pVideoStream = nullptr;
    AVCodecContext* pCodecContext = nullptr;
    // One RGB24 -> YUV conversion for the whole output (same size: it only converts). The
    // usual RGB24 -> YUV 4:2:0 goes through libyuv instead, which is much faster; this one
    // serves any other encoder format.
    SwsContext* pConvert = nullptr;
    // Receives the encoder's packets; reused for every packet.
    AVPacket* pPacket = nullptr;
    // Set by the caller before the open to write into an output of its own (a file it opened,
    // a device, a pipe) instead of a file the writer opens by name: the bytes go there, the
    // name only chooses the format, and the writer flushes it at the close but never closes,
    // removes or frees it. Null: the writer opens the file itself.
    AVIOContext* pOutput = nullptr;

    // Time stamp of the next frame, in frames of the stream's time base (1/fFrameRate): frame n
    // of an output written at one frame per call plays at n / fFrameRate seconds. It starts at 0
    // with every open and goes up by one with every WriteVideoFrame. A caller that paces frames
    // by wall time sets it before writing (skipping numbers leaves the previous picture on screen
    // for longer); a value not above the last written one is raised to the last one + 1.
    int64_t nextPts = 0;
    // Time stamp of the last frame handed to the encoder (-1: none yet).
    int64_t lastPts = -1;
    // The header is written and the output takes frames.
    bool bOpen = false;

    MpegWriter() = default;
    ~MpegWriter();
    MpegWriter(MpegWriter&& other) noexcept;
    MpegWriter& operator=(MpegWriter&& other) noexcept;
    MpegWriter(const MpegWriter&) = delete;
    MpegWriter& operator=(const MpegWriter&) = delete;
};

// Opens fileName for writing with the record's settings: container format by nKind, one video
// stream with its encoder, the file (an existing one is overwritten; pOutput instead when the
// caller set it) and the container header. Returns false at the first failing step, with
// everything created so far released and the record closed; a file that this open created is
// removed again, and nothing else ever is. A record that is still open is closed first.
bool OpenMpegWriter(MpegWriter& writer, const char* fileName);

// Adds the video stream to context and creates its (not yet opened) encoder context in
// writer.pCodecContext with the record's settings. Returns the stream, or null.
AVStream* AddVideoStream(AVCodecID codecId, MpegWriter& writer, AVFormatContext* context);

// Opens the encoder of stream and creates the record's pictures, conversion and packet.
bool OpenVideoEncoder(AVStream* stream, MpegWriter& writer);

// A frame of format and size with its own pixel buffer, cleared to black; null on failure.
// Free it with av_frame_free.
AVFrame* AllocPicture(AVPixelFormat format, int width, int height);

// Copies a bottom-up bitmap in blue-green-red order (bpp 24, or 32 with the fourth byte
// ignored; rows padded to 4 bytes) of width x height into the top-down RGB24 picture: the last
// stored row becomes the picture's top row. Only the part that fits the picture is copied (the
// left columns and the top rows of the bitmap); null bits, a picture that is not 24-bit RGB
// or another bpp copy nothing.
void CopyFrameToRgb(int bpp, AVFrame* picture, int width, int height, const uint8_t* bits);

// Converts writer.pRgbPicture, encodes it with time stamp nextPts and writes the packets the
// encoder gives back. True when the frame was encoded and written or kept by the encoder; false
// when the output is not open, the encoder refuses the frame or a packet cannot be written (a
// full disk): the caller drops the frame and may go on or close.
bool WriteVideoFrame(AVFormatContext* context, AVStream* stream, MpegWriter& writer);

// Finishes an open output (the frames the encoder still holds, then the trailer), closes the
// file and releases every object; the record's pointers are reset and it keeps its settings.
// Write errors at this point are logged, the release happens regardless. Closing a closed
// record does nothing.
void CloseMpegWriter(MpegWriter& writer);
