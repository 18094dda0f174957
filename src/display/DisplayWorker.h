#pragma once

#include <QImage>
#include <QMetaObject>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "contracts/Image.h"
#include "display/ScreenPicture.h"

class FrameStore;
class Overlay;
class PreparedOverlay;
class PreviewWidget;

// The one thread that puts frames on the screen. For every new frame it takes the newest
// current image from the frame store, lays the overlay (edge mask, crosshair) over it, keeps
// the result as the frame store's composed image (the frame exactly as displayed, at frame
// resolution: the source of snapshots and recordings) and hands a picture of it to the preview
// widget, made for the widget's area (ScreenPicture): a frame larger than the area arrives
// already scaled down, so that the GUI thread only copies it to the screen. When the area
// changes, the last composed frame is drawn again for it, also while no frames arrive.
//
// Frames are never queued. notifyFrame() only raises a flag: frames that arrive while the
// worker is busy collapse into one pending request, and the worker always fetches the newest
// frame when it starts, so the newest frame always reaches the composed image and the screen.
// The handover to the widget is a one-slot mailbox as well: while one delivery is waiting for
// the GUI thread, newer pictures replace the one in the slot instead of queueing events.
//
// Threads: the constructor starts the worker thread; notifyFrame() may be called from any
// thread, also from the frame store's hooks (it never calls the store). showPlaceholder(),
// setSuspended() and stop() belong to the GUI thread. The frame store, the overlay and the
// widget must outlive the running worker: stop() (also run by the destructor) joins it, and
// the owner calls it before freeing the frame store or destroying the widget. Pictures already
// posted to a widget that is destroyed later are dropped by Qt.
//
// The constructor installs the frame store's onFramePublished hook (notifyFrame); the owner stops
// the camera before the worker goes away.
class DisplayWorker {
public:
    // `widget` may be null: frames are then composed but not shown.
    DisplayWorker(FrameStore& frames, Overlay& overlay, PreviewWidget* widget);
    ~DisplayWorker();
    DisplayWorker(const DisplayWorker&) = delete;
    DisplayWorker& operator=(const DisplayWorker&) = delete;

    // A new current image exists. Only raises a flag and wakes the worker.
    void notifyFrame();

    // Shows the overlay canvas (white, with the marks that are on) stretched in the widget:
    // before the first frame and after a format change, until the next frame.
    void showPlaceholder();

    // While suspended (window minimized) nothing is drawn; frames are still composed, so
    // snapshots and recordings stay current. Leaving the suspension redraws the newest frame.
    void setSuspended(bool suspended);

    // The widget's picture area in device pixels (empty: make pictures at the frame's size).
    // Connected to the widget's pictureAreaChanged; any thread.
    void setPictureArea(const QSize& area);

    // Stops and joins the worker thread. Afterwards notifications are ignored. Idempotent.
    void stop();

    // Waits until the worker has nothing pending and is not working. False on timeout.
    bool waitIdle(std::chrono::milliseconds timeout);

    // Measurement hooks (the benchmarks time a frame from capture to composed image with them).
    // Set before frames arrive; both run on the worker thread and must return at once.
    // onFrameTaken: the worker has just copied the current image; runs inside the frame
    // store's readCurrentImage, with the frame lock held, so state kept beside the current
    // image under that lock (by the store's hooks) belongs to this frame. It must not call the
    // store.
    // onComposed: that frame is now the composed image (no lock held).
    std::function<void()> onFrameTaken;
    std::function<void()> onComposed;

    // Counters: frames composed, pictures posted to the GUI thread, pictures the widget got.
    int composedCount() const { return m_composed.load(); }
    int postedCount() const;
    int deliveredCount() const;

private:
    // The GUI side of the handover; shared with the queued calls so that they stay valid
    // whatever the worker's lifetime.
    struct Handover {
        std::mutex lock;      // guards pending and posted
        QImage pending;       // newest picture not yet given to the widget
        bool posted = false;  // a delivery call is queued and has not run yet
        std::atomic<int> posts{0};
        std::atomic<int> deliveries{0};
    };

    void run();
    void drawPlaceholder(const QSize& area);
    void composeFrame(bool show, const QSize& area);
    // Draws the last picture again for a new picture area: the last composed frame, or the
    // placeholder when that is what the widget shows.
    void redraw(const QSize& area);
    const PreparedOverlay* overlayForFrame(const std::shared_ptr<const PreparedOverlay>& prepared,
                                           int width, int height);
    QImage& pictureBuffer(const QSize& size);
    void handOver(const QImage& picture);

    FrameStore& m_frames;
    Overlay& m_overlay;
    PreviewWidget* m_widget;
    std::shared_ptr<Handover> m_handover;

    // Guards the request flags below. Never held while calling the frame store (the capture
    // thread calls notifyFrame() with the frame lock held).
    std::mutex m_mailLock;
    std::condition_variable m_wake;  // a request, a resumption or stop
    std::condition_variable m_idle;  // the worker went idle
    bool m_framePending = false;
    bool m_placeholderPending = false;
    bool m_redrawPending = false;  // the picture area changed
    QSize m_area;                  // the widget's picture area
    // Order of the two requests: each takes the next number, so a placeholder asked for after
    // a frame is drawn after it, and a frame that follows a placeholder replaces it.
    uint64_t m_requestSeq = 0;
    uint64_t m_frameSeq = 0;
    uint64_t m_placeholderSeq = 0;
    bool m_suspended = false;
    bool m_stopping = false;
    bool m_busy = false;

    // Worker thread only: the frame being composed, pictures for the widget, and the overlay
    // re-made at the frame's size when a frame's size differs from the overlay's.
    Image m_work;
    std::array<QImage, 3> m_pictures;
    ScreenPicture m_screen;
    bool m_showingFrame = false;  // the widget's last picture is a frame, not the placeholder
    std::shared_ptr<const PreparedOverlay> m_resizedSource;
    std::shared_ptr<const PreparedOverlay> m_resizedOverlay;

    // The overlay whose marks m_work / the store's composed image hold from their last
    // ComposeInto (null: unknown). Worker thread only; they travel with the images when those
    // are exchanged. Only the worker writes to either image, so the marks stay until it
    // overwrites them.
    std::shared_ptr<const PreparedOverlay> m_workMarks;
    std::shared_ptr<const PreparedOverlay> m_composedMarks;

    std::atomic<int> m_composed{0};
    QMetaObject::Connection m_areaConnection;  // GUI thread
    std::thread m_thread;                      // last: started once every member above exists
};
