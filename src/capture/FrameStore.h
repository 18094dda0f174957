#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "capture/ImageResize.h"
#include "contracts/Image.h"

// The picture transform the user has chosen, read by frame intake on every frame.
//
// m_fZoom: digital zoom (1.0 = none), the centred region of video size / zoom is scaled back
// to the frame size. m_fViewZoom: pan square scale (1.0 = none), the square's side is the frame
// height divided by it. m_nCenterX, m_nCenterY: pan centre in frame pixels; the row counts
// from the bottom line of the picture, like the frame rows. m_bHMirror / m_bVMirror: left-right
// and upside-down mirror. factoryMode: keep the unprocessed frame as well. m_nVideoWidth /
// m_nVideoHeight: the video size the zoom region is measured against; the first frame sets it,
// afterwards only a format choice does. Zoom factors below 1 (or not a number) count as 1.
struct TransformState {
    float m_fZoom = 1.0f;
    float m_fViewZoom = 1.0f;
    int m_nCenterX = 200;
    int m_nCenterY = 200;
    bool m_bHMirror = false;
    bool m_bVMirror = false;
    bool factoryMode = false;
    int m_nVideoWidth = 640;
    int m_nVideoHeight = 480;
};

// The frame store: every camera frame passes through OnFrame, which applies the pan square,
// the digital zoom and the mirrors and keeps the result as the current image, the one place
// where display, snapshot and recording find the picture. It also keeps the composed image,
// the frame exactly as the window shows it (overlay included), which the display worker
// composes and hands in.
//
// The store alone holds the frame lock: every picture it keeps is reached only through the
// operations below, each of which takes the lock for as long as it needs the picture.
//
// Threads:
//  - capture thread: OnFrame (one at a time); it runs the hooks with the frame lock held.
//  - display worker thread: readCurrentImage and exchangeComposedImage.
//  - GUI thread: the transform setters, DeleteCurrentImage, Free, readComposedImage (the
//    recorder's frame timer), copyCurrentImage (the mask window's live view).
//  - any thread: the transform getters, the other readers (the snapshot runs on the GUI thread).
// The transform is written through setTransform()/updateTransform() and copied once per frame
// under its own small lock, so a frame always sees one consistent set of values and the GUI
// never waits for a frame. No operation of the store may be called with the frame lock held,
// that is from a hook or from a reader passed to the store.
//
// Only 24-bit frames are processed (3 bytes per pixel, rows width * 3 bytes apart, bottom-up);
// frames of another depth, an empty size or without pixels are ignored.
//
// Memory: the buffers are sized on the first frame and reallocated only when the frame size
// changes; frames of an unchanged size allocate nothing, whatever zoom, pan or mirror.
class FrameStore {
public:
    // scalerPath: the code the digital zoom runs (see BilinearScaler24); every path gives the
    // same pictures, so only the tests and the benchmarks choose one.
    explicit FrameStore(ScalerPath scalerPath = bestPath());
    // The path the digital zoom runs, fixed at construction (the one asked for, or the fastest
    // below it that this machine runs).
    ScalerPath scalerPath() const { return m_scaler.path(); }
    ~FrameStore();
    FrameStore(const FrameStore&) = delete;
    FrameStore& operator=(const FrameStore&) = delete;

    // Frames larger than this on either side are ignored.
    static constexpr int kMaxFrameSide = 16384;

    // --- transform state (any thread) ---
    TransformState transform() const;
    // Replaces every value, the video size included; for a partial change use
    // updateTransform(), which cannot undo a video size the first frame has just latched.
    void setTransform(const TransformState& state);
    // Read-modify-write in one step (for example a zoom step). `change` runs under the
    // transform lock: it must be short and must not call back into the store.
    void updateTransform(const std::function<void(TransformState&)>& change);
    // A format choice: sets m_nVideoWidth / m_nVideoHeight.
    void setVideoSize(int width, int height);
    // True once the first frame has set the video size; it never clears.
    bool videoSizeLatched() const;

    // --- frame path (capture thread) ---
    // Processes one frame (pixels: height rows of width * 3 bytes) and publishes it. Returns 0.
    int OnFrame(const uint8_t* pixels, int w, int h, int bpp);

    // Called by PublishFrame for every processed frame, on the capture thread and with the
    // frame lock held: the recorder's per-frame step, given the frame's size (it must not call
    // the store).
    std::function<void(int width, int height)> onRecorderStep;
    // Called right after onRecorderStep, still with the frame lock held: asks the window to
    // show the new frame. It must only post or notify and return at once; it must never block
    // nor call the store. Both hooks are set by the owner before frames arrive.
    std::function<void()> onFramePublished;

    // --- owner (GUI thread) ---
    // A resolution change: the next frame creates the current image at its new size.
    void DeleteCurrentImage();
    // Teardown, after the capture thread has stopped: frees the buffers, the current and the
    // raw image. The composed image stays (only the display worker changes it, see
    // exchangeComposedImage).
    void Free();

    // --- readers (each takes the frame lock) ---
    // Size and depth of the last frame and the size of its digital-zoom region (all 0 before
    // the first frame and after Free), read together.
    struct FrameSizes {
        int width = 0;
        int height = 0;
        int bpp = 0;
        int cropWidth = 0;
        int cropHeight = 0;
    };
    FrameSizes frameSizes() const;
    // Whether a frame has arrived (a current image exists).
    bool hasCurrentImage() const;
    // How often the frame buffers have been (re)allocated.
    int reallocationCount() const;

    // The display worker's fetch: runs `reader` on the last processed frame with the frame
    // lock held, so that whatever it does (copy, blend, a measurement) belongs to this one
    // frame and no frame is processed meanwhile. It must be short and must not call the store.
    // False, without calling it, while there is no current image.
    bool readCurrentImage(const std::function<void(const Image&)>& reader) const;
    // Copies the last processed frame into `out`, reusing its storage. False (out emptied)
    // while there is no current image.
    bool copyCurrentImage(Image& out) const;
    // Copies the last unprocessed frame, kept only in factory mode. False (out emptied) when
    // there is none.
    bool copyRawImage(Image& out) const;

    // The recorder's sampling: runs `reader` on the composed image with the frame lock held,
    // so it can copy the picture straight out without a copy in between. Same rules as
    // readCurrentImage. False, without calling it, while no frame has been composed.
    bool readComposedImage(const std::function<void(const Image&)>& reader) const;
    // The snapshot's copy: copies the composed image into `out`, reusing its storage, but
    // only while a current image exists (a resolution change leaves no picture to save).
    // False (out emptied) otherwise or when no frame has been composed yet.
    bool copyComposedImage(Image& out) const;
    // The display worker's delivery: `work` (the newly composed frame) becomes the composed
    // image and `work` receives the previous one, by exchanging them (no pixels are copied).
    // In the program only the display worker calls it and nothing else writes the composed
    // image, so the worker may rely on whatever it left in an image it gets back.
    void exchangeComposedImage(Image& work);

private:
    // A rectangle of a frame-sized buffer in pixels.
    struct Rect {
        int x = 0, y = 0, w = 0, h = 0;
        bool operator==(const Rect&) const = default;
    };
    // What a frame-sized buffer holds outside the rectangle last written into it: black
    // (known) or anything (unknown, after the scaler wrote the whole buffer).
    struct Placement {
        bool known = true;
        Rect rect;
    };
    // The pan square of one frame: which part of the frame is copied where.
    struct ViewCrop {
        int srcX = 0, srcY = 0;  // first source pixel
        Rect dst;                // where it lands in the work picture (unmirrored)
    };

    static Rect intersect(const Rect& a, const Rect& b);  // empty Rect{} when disjoint
    static ViewCrop computeViewCrop(int w, int h, const TransformState& t);
    // Makes buf black outside `next`, clearing only what the previous placement left.
    static void preparePlacement(std::vector<uint8_t>& buf, int w, Placement& placement,
                                 const Rect& next);
    // Turns the last processed frame into the current image and runs the hooks, under the
    // lock.
    void PublishFrame(int w, int h, int bpp);

    // Guards m_transform and m_bVideoSizeLatched (never held together with m_csFrame).
    mutable std::mutex m_transformLock;
    TransformState m_transform;
    bool m_bVideoSizeLatched = false;

    // The frame lock: guards every member below, that is the frame buffers and their
    // placements, the last frame and zoom-region sizes, and the three pictures: the current,
    // the raw and the composed image. OnFrame holds it while it processes a frame.
    mutable std::mutex m_csFrame;
    std::vector<uint8_t> m_pWorkBuf;  // pan-square picture, w x h x 3
    std::vector<uint8_t> m_pOutBuf;   // the frame being processed, w x h x 3
    // The last processed frame, w x h x 3, for widths whose image rows need padding; for the
    // others the current image holds it (its storage and m_pOutBuf change places every frame)
    // and this stays empty.
    std::vector<uint8_t> m_pPrevOutBuf;
    Placement m_workPlacement;
    Placement m_outPlacement;
    Placement m_prevPlacement;  // of the last processed frame's storage, wherever it is
    // The digital zoom; holds the resize's tables and rows. Its path never changes, so
    // scalerPath() reads it without the lock.
    BilinearScaler24 m_scaler;
    int m_nLastWidth = 0;
    int m_nLastHeight = 0;
    int m_nLastBpp = 0;
    int m_nLastCropWidth = 0;
    int m_nLastCropHeight = 0;
    int m_nReallocations = 0;
    std::unique_ptr<Image> m_pCurImage;
    std::unique_ptr<Image> m_pRawImage;
    // The last composed frame, overlay included, at frame resolution; empty before the first.
    Image m_imgComposed;
};
