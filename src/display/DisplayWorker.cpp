#include "display/DisplayWorker.h"

#include <QMetaObject>
#include <utility>

#include "capture/FrameStore.h"
#include "display/Overlay.h"
#include "display/PreviewWidget.h"

DisplayWorker::DisplayWorker(FrameStore& frames, Overlay& overlay, PreviewWidget* widget)
    : m_frames(frames),
      m_overlay(overlay),
      m_widget(widget),
      m_handover(std::make_shared<Handover>()) {
    // Every frame the store publishes wakes the worker (the hook only raises a flag).
    m_frames.onFramePublished = [this] { notifyFrame(); };
    if (m_widget != nullptr) {
        m_area = m_widget->pictureArea();
        m_areaConnection = QObject::connect(m_widget, &PreviewWidget::pictureAreaChanged, m_widget,
                                            [this](const QSize& area) { setPictureArea(area); });
    }
    m_thread = std::thread([this] { run(); });
}

DisplayWorker::~DisplayWorker() {
    stop();
}

void DisplayWorker::notifyFrame() {
    {
        std::lock_guard guard(m_mailLock);
        m_framePending = true;
        m_frameSeq = ++m_requestSeq;
    }
    m_wake.notify_one();
}

void DisplayWorker::showPlaceholder() {
    {
        std::lock_guard guard(m_mailLock);
        m_placeholderPending = true;
        m_placeholderSeq = ++m_requestSeq;
    }
    m_wake.notify_one();
}

void DisplayWorker::setSuspended(bool suspended) {
    {
        std::lock_guard guard(m_mailLock);
        if (m_suspended == suspended) {
            return;
        }
        m_suspended = suspended;
        if (!suspended) {
            // The screen missed every picture of the suspension: draw the newest again.
            m_framePending = true;
            m_frameSeq = ++m_requestSeq;
        }
    }
    m_wake.notify_one();
}

void DisplayWorker::setPictureArea(const QSize& area) {
    {
        std::lock_guard guard(m_mailLock);
        if (m_area == area) {
            return;
        }
        m_area = area;
        m_redrawPending = true;
    }
    m_wake.notify_one();
}

void DisplayWorker::stop() {
    QObject::disconnect(m_areaConnection);
    {
        std::lock_guard guard(m_mailLock);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

bool DisplayWorker::waitIdle(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mailLock);
    return m_idle.wait_for(lock, timeout, [this] {
        return m_stopping ||
               (!m_busy && !m_framePending && !(m_placeholderPending && !m_suspended));
    });
}

int DisplayWorker::postedCount() const {
    return m_handover->posts.load();
}
int DisplayWorker::deliveredCount() const {
    return m_handover->deliveries.load();
}

void DisplayWorker::run() {
    std::unique_lock lock(m_mailLock);
    for (;;) {
        m_wake.wait(lock, [this] {
            return m_stopping || m_framePending ||
                   ((m_placeholderPending || m_redrawPending) && !m_suspended);
        });
        if (m_stopping) {
            break;
        }
        const bool placeholder = m_placeholderPending && !m_suspended;
        const bool frame = m_framePending;
        const bool placeholderFirst = placeholder && (!frame || m_placeholderSeq < m_frameSeq);
        const bool show = !m_suspended;
        // A new frame is drawn for the new area anyway; while suspended the request waits.
        const bool redrawWanted = m_redrawPending && show && !frame && !placeholder;
        if (show) {
            m_redrawPending = false;
        }
        const QSize area = m_area;
        if (placeholder) {
            m_placeholderPending = false;
        }
        m_framePending = false;
        m_busy = true;
        lock.unlock();

        if (placeholderFirst) {
            drawPlaceholder(area);
        }
        if (frame) {
            composeFrame(show, area);
        }
        if (redrawWanted) {
            redraw(area);
        }
        if (placeholder && !placeholderFirst) {
            drawPlaceholder(area);
        }

        lock.lock();
        m_busy = false;
        m_idle.notify_all();
    }
    m_busy = false;
    m_idle.notify_all();
}

void DisplayWorker::drawPlaceholder(const QSize& area) {
    const Overlay::View view = m_overlay.current();
    if (!view.prepared || !view.prepared->valid()) {
        return;  // no overlay built yet: nothing to show
    }
    m_showingFrame = false;
    const Image& canvas = view.prepared->canvas();
    if (canvas.GetBpp() != 24) {
        handOver(canvas.ToQImage());
        return;
    }
    QImage& picture = pictureBuffer(
        ScreenPicture::PictureSize(QSize(canvas.GetWidth(), canvas.GetHeight()), area));
    if (m_screen.Draw(canvas, picture)) {
        handOver(picture);
    }
}

void DisplayWorker::composeFrame(bool show, const QSize& area) {
    // Taken before the frame lock: the overlay's lock and the frame lock are never nested.
    const Overlay::View view = m_overlay.current();

    // What the fetch needs and finds. The reader captures only `this` and this struct, so it
    // fits in std::function's own storage: fetching a frame allocates nothing.
    struct Fetch {
        const Overlay::View& view;
        bool wantBlend = false;
        bool haveFrame = false;
        bool blended = false;
    } fetch{view, view.blend && view.prepared};
    m_frames.readCurrentImage([this, &fetch](const Image& current) {
        // With an overlay of the frame's size, copy and blend are one pass (the bytes under
        // the marks are never read, and not written either when m_work still holds this
        // overlay's marks from two frames ago); otherwise copy now and blend after the lock.
        // Both reuse m_work's storage while the size stays.
        const std::shared_ptr<const PreparedOverlay>& prepared = fetch.view.prepared;
        fetch.blended =
            fetch.wantBlend && prepared->ComposeInto(current, m_work, m_workMarks == prepared);
        m_workMarks = fetch.blended ? prepared : nullptr;
        if (!fetch.blended) {
            m_work.Copy(current);
        }
        fetch.haveFrame = m_work.IsValid();
        if (fetch.haveFrame && onFrameTaken) {
            onFrameTaken();
        }
    });
    if (!fetch.haveFrame) {
        if (show) {
            drawPlaceholder(area);
        }
        return;
    }

    const int w = m_work.GetWidth();
    const int h = m_work.GetHeight();
    if (fetch.wantBlend && !fetch.blended) {
        if (const PreparedOverlay* overlay = overlayForFrame(view.prepared, w, h)) {
            overlay->BlendInto(m_work);
        }
    }

    QImage* picture = nullptr;
    if (show && m_widget != nullptr) {
        if (m_work.GetBpp() == 24) {
            picture = &pictureBuffer(ScreenPicture::PictureSize(QSize(w, h), area));
            if (!m_screen.Draw(m_work, *picture)) {
                picture = nullptr;
            }
        } else {
            m_pictures[0] = m_work.ToQImage();
            picture = &m_pictures[0];
        }
    }

    // The exchange leaves the previous composed frame in m_work, whose storage the next
    // frame reuses.
    m_frames.exchangeComposedImage(m_work);
    std::swap(m_workMarks, m_composedMarks);
    ++m_composed;
    if (onComposed) {
        onComposed();
    }

    if (picture != nullptr) {
        m_showingFrame = true;
        handOver(*picture);
    }
}

void DisplayWorker::redraw(const QSize& area) {
    if (m_widget == nullptr) {
        return;
    }
    if (!m_showingFrame) {
        drawPlaceholder(area);
        return;
    }
    QImage* picture = nullptr;
    m_frames.readComposedImage([&](const Image& composed) {
        if (composed.GetBpp() != 24) {
            return;
        }
        const QSize frameSize(composed.GetWidth(), composed.GetHeight());
        picture = &pictureBuffer(ScreenPicture::PictureSize(frameSize, area));
        if (!m_screen.Draw(composed, *picture)) {
            picture = nullptr;
        }
    });
    if (picture != nullptr) {
        handOver(*picture);
    }
}

const PreparedOverlay* DisplayWorker::overlayForFrame(
    const std::shared_ptr<const PreparedOverlay>& prepared, int width, int height) {
    if (prepared->width() == width && prepared->height() == height) {
        return prepared.get();
    }
    // The overlay is built at the video size; a frame of another size (a camera that
    // delivers something else than was chosen) gets the same marks made at its own size, so
    // the mask stays centred on the frame. Kept until the overlay or the frame size changes.
    if (m_resizedSource != prepared || !m_resizedOverlay || m_resizedOverlay->width() != width ||
        m_resizedOverlay->height() != height) {
        m_resizedOverlay = PreparedOverlay::Build(prepared->settings(), width, height);
        m_resizedSource = prepared;
    }
    return m_resizedOverlay->valid() ? m_resizedOverlay.get() : nullptr;
}

QImage& DisplayWorker::pictureBuffer(const QSize& size) {
    // A picture can be refilled once nobody else holds it: the widget has moved on to a newer
    // one and no delivery carries it. The acquire fence pairs with the release of the GUI
    // thread's last reference, so its reads are finished before we write.
    QImage* reusable = nullptr;
    for (QImage& picture : m_pictures) {
        if (picture.isNull() || !picture.isDetached()) {
            continue;
        }
        if (picture.size() == size && picture.format() == QImage::Format_RGB32) {
#if defined(__SANITIZE_THREAD__)
            // ThreadSanitizer does not model fences: it gets a fresh picture every time.
            continue;
#else
            std::atomic_thread_fence(std::memory_order_acquire);
            return picture;
#endif
        }
        reusable = &picture;
    }
    if (reusable == nullptr) {
        for (QImage& picture : m_pictures) {
            if (picture.isNull()) {
                reusable = &picture;
                break;
            }
        }
    }
    if (reusable == nullptr) {
        reusable = &m_pictures[0];  // all held: drop our reference, its holders keep it
    }
    *reusable = QImage(size, QImage::Format_RGB32);
    return *reusable;
}

void DisplayWorker::handOver(const QImage& picture) {
    if (m_widget == nullptr || picture.isNull()) {
        return;
    }
    bool post = false;
    {
        std::lock_guard guard(m_handover->lock);
        m_handover->pending = picture;
        if (!m_handover->posted) {
            m_handover->posted = true;
            post = true;
        }
    }
    if (!post) {
        return;  // the queued delivery will take the newer picture
    }
    ++m_handover->posts;
    std::shared_ptr<Handover> handover = m_handover;
    PreviewWidget* widget = m_widget;
    QMetaObject::invokeMethod(
        widget,
        [handover, widget] {
            QImage newest;
            {
                std::lock_guard guard(handover->lock);
                newest = std::exchange(handover->pending, QImage());
                handover->posted = false;
            }
            ++handover->deliveries;
            widget->setImage(newest);
        },
        Qt::QueuedConnection);
}
