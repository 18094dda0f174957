#include "output/Recorder.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QLoggingCategory>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

#include "contracts/Image.h"
#include "output/Snapshot.h"
#include "platform/NativePath.h"

namespace {

Q_LOGGING_CATEGORY(lcRecorder, "tavrel.output.recorder")

const QString kExtension = QStringLiteral(".mpeg");

// How much the encoder thread gives way to the live picture (added to its nice value).
constexpr int kEncoderNiceness = 5;

// Lowers the calling thread's scheduling priority. The encoder calls it before it opens the
// codec, so the codec's own worker threads, which inherit it, give way as well: a machine that
// cannot encode every picture beside the live path (4K on two cores) keeps the window at its
// full rate and records fewer distinct pictures, each held for its time.
void GiveWayToTheLivePicture() {
    const auto tid = static_cast<id_t>(::gettid());
    errno = 0;
    const int current = ::getpriority(PRIO_PROCESS, tid);
    if (errno == 0) {
        ::setpriority(PRIO_PROCESS, tid, std::min(current + kEncoderNiceness, 19));
    }
}

int64_t steadyNowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

Recorder::Recorder(Clock nowMs) : m_nowMs(nowMs ? std::move(nowMs) : Clock(steadyNowMs)) {}

Recorder::~Recorder() {
    Stop();
}

void Recorder::setCallbacks(Callbacks callbacks) {
    std::lock_guard<std::mutex> lock(m_stateLock);
    m_callbacks = std::move(callbacks);
}

bool Recorder::Request(const QString& folder, const QDateTime& now) {
    return request(SnapshotBaseName(folder, now) + kExtension, true);
}

bool Recorder::RequestFile(const QString& fileName) {
    return request(fileName, false);
}

bool Recorder::request(const QString& fileName, bool freeName) {
    std::thread finished;
    {
        std::lock_guard<std::mutex> lock(m_stateLock);
        if (m_state != RecordState::Idle) {
            return false;
        }
        // A recording that ended by a failed write leaves its (ending) thread behind.
        finished = std::move(m_encoder);
    }
    if (finished.joinable()) {
        finished.join();
    }
    std::lock_guard<std::mutex> lock(m_stateLock);
    if (m_state != RecordState::Idle || m_encoder.joinable()) {
        return false;
    }
    m_strRecordFile = fileName;
    m_freeName = freeName;
    m_requestMs = m_nowMs();
    ++m_session;
    m_written = 0;
    m_error = 0;
    m_stdout = false;
    m_frameWidth = m_frameHeight = 0;
    m_output = std::make_unique<RecorderOutput>();
    {
        std::lock_guard<std::mutex> slotLock(m_slotLock);
        m_accepting = false;
        m_stopRequested = false;
        m_encoderBusy = false;
        m_encoderDone = false;
        m_dropped = 0;
        m_free.clear();
        m_ready.clear();
    }
    m_state = RecordState::Requested;
    m_encoder = std::thread(&Recorder::encoderLoop, this, m_session);
    return true;
}

void Recorder::Stop() {
    std::thread encoder;
    bool opening = false;
    {
        std::lock_guard<std::mutex> lock(m_stateLock);
        opening = m_state == RecordState::Requested;
        if (m_state == RecordState::Running) {
            std::lock_guard<std::mutex> slotLock(m_slotLock);
            m_accepting = false;
            m_stopRequested = true;
            m_stopMs = m_nowMs();
            m_wakeEncoder.notify_all();
        }
        m_state = RecordState::Idle;
        m_wakeOpen.notify_all();
        // Also the thread of a recording that ended by a failed write, if nobody joined it.
        encoder = std::move(m_encoder);
    }
    if (!encoder.joinable()) {
        return;
    }
    // An open that waits (for a FIFO's reader) is given up at once; a stream that takes no
    // bytes gets a grace period to take the rest of the recording first.
    bool done = false;
    if (!opening) {
        std::unique_lock<std::mutex> slotLock(m_slotLock);
        done = m_encoderIdle.wait_for(slotLock, std::chrono::milliseconds(kStopGraceMs),
                                      [this] { return m_encoderDone; });
    }
    if (!done) {
        if (!opening) {
            qCWarning(lcRecorder) << "The recording is not finished" << kStopGraceMs
                                  << "ms after its stop; writes that wait for a stream are "
                                     "given up";
        }
        m_output->cancel();
    }
    encoder.join();
}

void Recorder::StartPendingRecording(int width, int height) {
    if (width <= 0 || height <= 0) {
        return;
    }
    std::lock_guard<std::mutex> lock(m_stateLock);
    if (m_state != RecordState::Requested || m_frameWidth > 0) {
        return;
    }
    m_frameWidth = width;
    m_frameHeight = height;
    m_wakeOpen.notify_all();
}

bool Recorder::SampleFrame(const Image& composed) {
    const int64_t now = m_nowMs();
    if (!composed.IsValid() || composed.GetBpp() != 24) {
        return false;
    }
    int slot = -1;
    {
        std::lock_guard<std::mutex> lock(m_slotLock);
        if (!m_accepting) {
            return false;
        }
        if (m_free.empty()) {
            ++m_dropped;
            return false;
        }
        slot = m_free.front();
        m_free.pop_front();
    }
    // The slot belongs to this call until it is queued; the copy runs without the hand-off
    // lock so that the encoder can go on meanwhile.
    Sample& s = m_slots[slot];
    const uint8_t* bits = composed.GetBits();
    s.bits.assign(bits, bits + composed.GetSize());
    s.width = composed.GetWidth();
    s.height = composed.GetHeight();
    s.stride = composed.GetEffWidth();
    s.tMs = now;
    std::lock_guard<std::mutex> lock(m_slotLock);
    if (!m_accepting) {
        m_free.push_back(slot);
        return false;
    }
    m_ready.push_back(slot);
    m_wakeEncoder.notify_one();
    return true;
}

void Recorder::encoderLoop(uint64_t session) {
    // A reader of a pipe that goes away makes writes fail with EPIPE, here, instead of ending
    // the program; the codec's threads inherit the mask and the priority below.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    GiveWayToTheLivePicture();

    Callbacks callbacks;
    {
        std::lock_guard<std::mutex> lock(m_stateLock);
        callbacks = m_callbacks;
    }
    if (!openRecording(session, callbacks)) {
        std::lock_guard<std::mutex> lock(m_slotLock);
        m_encoderDone = true;
        m_encoderIdle.notify_all();
        return;
    }
    if (callbacks.started) {
        callbacks.started(session);
    }

    bool failed = false;
    for (;;) {
        int slot = -1;
        {
            std::unique_lock<std::mutex> lock(m_slotLock);
            m_encoderBusy = false;
            if (m_ready.empty()) {
                m_encoderIdle.notify_all();
            }
            m_wakeEncoder.wait(lock, [this] { return !m_ready.empty() || m_stopRequested; });
            if (m_ready.empty()) {
                break;  // stopped, and every sample taken before the stop is written
            }
            slot = m_ready.front();
            m_ready.pop_front();
            m_encoderBusy = true;
        }
        const bool ok = encodeSample(m_slots[slot]);
        std::lock_guard<std::mutex> lock(m_slotLock);
        m_free.push_back(slot);
        if (!ok) {
            failed = true;
            m_accepting = false;
            while (!m_ready.empty()) {
                m_free.push_back(m_ready.front());
                m_ready.pop_front();
            }
            break;
        }
    }
    finishRecording(session, failed);
}

bool Recorder::openRecording(uint64_t session, const Callbacks& callbacks) {
    QString name;
    bool freeName = false;
    int width = 0;
    int height = 0;
    {
        std::unique_lock<std::mutex> lock(m_stateLock);
        m_wakeOpen.wait(lock, [&] {
            return session != m_session || m_state != RecordState::Requested || m_frameWidth > 0;
        });
        if (session != m_session || m_state != RecordState::Requested) {
            return false;  // withdrawn before the first frame: nothing was opened
        }
        name = m_strRecordFile;
        freeName = m_freeName;
        width = m_frameWidth;
        height = m_frameHeight;
    }

    // The open, off the frame path: a FIFO waits here for its reader, a slow disk for itself.
    RecorderOutput& output = *m_output;
    int error = output.open(name, freeName);
    bool opened = false;
    if (error == 0) {
        m_writer.nKind = kKind;
        m_writer.nWidth = width;
        m_writer.nHeight = height;
        m_writer.fFrameRate = float(kFrameRate);
        m_writer.fBitRate = kBitRate;
        m_writer.pOutput = output.io();
        opened = OpenMpegWriter(m_writer, NativePath(output.name()).constData());
        error = opened ? 0 : output.error();
    }
    if (opened) {
        const size_t bytes = size_t(Image::effWidth(width, 24)) * height;
        for (Sample& slot : m_slots) {
            slot.bits.reserve(bytes);
        }
    }

    bool inForce = false;
    {
        std::lock_guard<std::mutex> lock(m_stateLock);
        inForce = session == m_session && m_state == RecordState::Requested;
        if (inForce && opened) {
            m_width = width;
            m_height = height;
            m_lastPts = -1;
            m_lagNoted = false;
            m_strRecordFile = output.name();
            m_stdout = output.isStandardOutput();
            m_watch = output.watch();
            m_strRecordStart = StartText(QDateTime::currentDateTime());
            // Frame 0 begins now that the file is open: the first sample taken from now on.
            m_openMs = m_nowMs();
            {
                std::lock_guard<std::mutex> slotLock(m_slotLock);
                m_free.clear();
                m_ready.clear();
                for (int i = 0; i < kSlots; ++i) {
                    m_free.push_back(i);
                }
                m_accepting = true;
            }
            m_state = RecordState::Running;
        } else if (inForce) {
            m_error = error;
            m_state = RecordState::Idle;
        }
    }
    if (inForce && opened) {
        qCInfo(lcRecorder) << "Recording" << width << "x" << height << "into" << output.name();
        return true;
    }
    // Failed, or stopped while the open ran: nothing of it stays.
    CloseMpegWriter(m_writer);
    output.finish(false);
    if (inForce) {
        qCWarning(lcRecorder) << "Cannot create the recording" << name << ":"
                              << (error ? strerror(error) : "the encoder refused it");
        if (callbacks.openFailed) {
            callbacks.openFailed(session, error);
        }
    }
    return false;
}

void Recorder::finishRecording(uint64_t session, bool failed) {
    int64_t stopMs = 0;
    bool stopped = false;
    {
        std::lock_guard<std::mutex> lock(m_slotLock);
        stopMs = m_stopMs;
        stopped = m_stopRequested;
    }
    // The last picture stays on screen until the moment of the stop.
    if (!failed && stopped && m_lastPts >= 0) {
        // Rounded: the file ends within half a frame of the stop.
        const int64_t elapsed = std::max<int64_t>(0, stopMs - m_openMs);
        const int64_t end = (elapsed * kFrameRate + 500) / 1000;
        // Far behind: one frame with the time stamp of the end does it.
        const bool behind = m_nowMs() - stopMs > kMaxLagMs;
        for (int64_t pts = behind ? end - 1 : m_lastPts + 1; pts < end && !failed; ++pts) {
            if (pts > m_lastPts) {
                failed = !writeFrameAt(pts);
            }
        }
    }
    RecorderOutput& output = *m_output;
    const int frames = m_written.load();
    // Finishes the file with its trailer, or as far as a full disk allows.
    CloseMpegWriter(m_writer);
    // Not a single frame (stopped before the first sample), or not a single byte on the disk
    // (full at once: the frames never left the output buffer): the file holds no picture and
    // would only be left behind as clutter. Removed (when it is the recording's own) before
    // the recorder goes idle, so that no new request can have taken the name meanwhile.
    const bool empty = frames == 0 || output.bytesWritten() == 0;
    const RecorderOutput::Kind kind = output.kind();
    const int error = output.finish(!empty);
    const bool removed = empty && kind != RecorderOutput::Kind::Stream;
    if (empty) {
        m_written = 0;
    }
    const QString name = output.name();
    if (failed || error != 0) {
        const char* why = strerror(error ? error : EIO);
        if (removed) {
            qCWarning(lcRecorder) << "Writing the recording" << name << "failed (" << why
                                  << ") before any of it reached the disk; removed";
        } else if (output.bytesWritten() == 0) {
            qCWarning(lcRecorder) << "Writing the recording into" << name << "failed (" << why
                                  << ") before any of it was written";
        } else {
            qCWarning(lcRecorder) << "Writing the recording" << name << "failed (" << why
                                  << ") after" << frames
                                  << "frames had been encoded; it ends with what reached it";
        }
    } else if (removed) {
        qCInfo(lcRecorder) << "The recording" << name << "holds no frame; removed";
    }

    Callbacks callbacks;
    {
        std::lock_guard<std::mutex> lock(m_stateLock);
        if (session == m_session) {
            if (failed && m_state == RecordState::Running) {
                m_state = RecordState::Idle;
            }
            m_error = failed || error != 0 ? (error ? error : EIO) : 0;
            m_strRecordFile = name;
            m_watch.reset();
        }
        callbacks = m_callbacks;
    }
    {
        std::lock_guard<std::mutex> lock(m_slotLock);
        m_accepting = false;
        m_encoderBusy = false;
        m_encoderDone = true;
        m_encoderIdle.notify_all();
    }
    if (failed && callbacks.writeFailed) {
        callbacks.writeFailed(session);
    }
}

int64_t Recorder::frameAt(int64_t tMs) const {
    const int64_t elapsed = tMs - m_openMs;
    return elapsed <= 0 ? 0 : elapsed * kFrameRate / 1000;
}

bool Recorder::encodeSample(const Sample& sample) {
    const int64_t pts = frameAt(sample.tMs);
    if (pts <= m_lastPts) {
        return true;  // the frame of this moment is written already
    }
    if (m_lastPts < 0) {
        // The first picture also stands for the moments before it arrived.
        loadPicture(sample);
        for (int64_t p = 0; p <= pts; ++p) {
            if (!writeFrameAt(p)) {
                return false;
            }
        }
        return true;
    }
    // Moments without a sample of their own keep the previous picture: normally written
    // again, frame by frame; when the encoder is far behind, by the time stamp alone.
    const bool behind = m_nowMs() - sample.tMs > kMaxLagMs;
    if (behind && !m_lagNoted) {
        m_lagNoted = true;
        qCWarning(lcRecorder) << "The encoder is more than" << kMaxLagMs
                              << "ms behind; pictures are held by time stamps, not repeated";
    }
    for (int64_t p = m_lastPts + 1; p < pts && !behind; ++p) {
        if (!writeFrameAt(p)) {
            return false;
        }
    }
    loadPicture(sample);
    return writeFrameAt(pts);
}

void Recorder::loadPicture(const Sample& s) {
    if (s.width == m_width && s.height == m_height) {
        CopyFrameToRgb(24, m_writer.pRgbPicture, s.width, s.height, s.bits.data());
        return;
    }
    // A resolution change while recording: the file keeps its size, the picture is scaled to
    // it (the scaler does not care about the row order, the copy below turns it upright).
    const int stride = Image::effWidth(m_width, 24);
    m_scaled.resize(size_t(stride) * m_height);
    if (m_scaler.scale(s.bits.data(), s.stride, s.width, s.height, m_scaled.data(), stride, m_width,
                       m_height)) {
        CopyFrameToRgb(24, m_writer.pRgbPicture, m_width, m_height, m_scaled.data());
    }
}

bool Recorder::writeFrameAt(int64_t pts) {
    m_writer.nextPts = pts;
    if (!WriteVideoFrame(m_writer.pFormatContext, m_writer.pVideoStream, m_writer)) {
        return false;
    }
    m_lastPts = pts;
    ++m_written;
    return true;
}

bool Recorder::waitIdle(int timeoutMs) {
    std::unique_lock<std::mutex> lock(m_slotLock);
    return m_encoderIdle.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                  [this] { return m_ready.empty() && !m_encoderBusy; });
}

RecordState Recorder::state() const {
    std::lock_guard<std::mutex> lock(m_stateLock);
    return m_state;
}

uint64_t Recorder::recordingNumber() const {
    std::lock_guard<std::mutex> lock(m_stateLock);
    return m_session;
}

bool Recorder::FileLost() const {
    std::lock_guard<std::mutex> lock(m_stateLock);
    // Only a regular file is watched, through a second descriptor of the one being written.
    if (m_state != RecordState::Running || !m_watch.isValid()) {
        return false;
    }
    // Removing the folder removes the file first, so its link count covers both.
    struct stat st {};
    return ::fstat(m_watch.get(), &st) == 0 && st.st_nlink == 0;
}

QString Recorder::fileName() const {
    std::lock_guard<std::mutex> lock(m_stateLock);
    return m_strRecordFile;
}

QString Recorder::startText() const {
    std::lock_guard<std::mutex> lock(m_stateLock);
    return m_strRecordStart;
}

int64_t Recorder::elapsedMs() const {
    std::lock_guard<std::mutex> lock(m_stateLock);
    return m_nowMs() - m_requestMs;
}

int Recorder::width() const {
    std::lock_guard<std::mutex> lock(m_stateLock);
    return m_width;
}

int Recorder::height() const {
    std::lock_guard<std::mutex> lock(m_stateLock);
    return m_height;
}

int Recorder::droppedFrames() const {
    std::lock_guard<std::mutex> lock(m_slotLock);
    return m_dropped;
}

int Recorder::writtenFrames() const {
    return m_written.load();
}

int Recorder::writeError() const {
    std::lock_guard<std::mutex> lock(m_stateLock);
    return m_error;
}

bool Recorder::wroteToStandardOutput() const {
    std::lock_guard<std::mutex> lock(m_stateLock);
    return m_stdout;
}

QString ElapsedText(int64_t elapsedMs) {
    const int64_t s = elapsedMs > 0 ? elapsedMs / 1000 : 0;
    const int64_t hours = s / 3600;
    const int64_t minutes = (s - hours * 3600) / 60;
    const int64_t seconds = s - (hours * 60 + minutes) * 60;
    return QString::asprintf("%02lld:%02lld:%02lld", static_cast<long long>(hours),
                             static_cast<long long>(minutes), static_cast<long long>(seconds));
}

QString StartText(const QDateTime& localTime) {
    const QDate d = localTime.date();
    const QTime t = localTime.time();
    return QString::asprintf("%04d-%02d-%02d %02d:%02d:%02d", d.year(), d.month(), d.day(),
                             t.hour(), t.minute(), t.second());
}

QString RecordingStatus(const QString& startLabel, const QString& start, const QString& lengthLabel,
                        const QString& elapsed) {
    return startLabel + QLatin1Char(':') + start + QStringLiteral("  ") + lengthLabel +
           QLatin1Char(':') + elapsed;
}
