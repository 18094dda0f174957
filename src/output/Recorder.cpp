#include "output/Recorder.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <future>
#include <utility>

#include "contracts/Image.h"
#include "output/NewFile.h"
#include "output/Snapshot.h"

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
    // Unlike a snapshot, the recorder does not create the save folder: a missing folder makes
    // the open fail.
    return request(SnapshotBaseName(folder, now) + kExtension, true);
}

bool Recorder::RequestFile(const QString& fileName) {
    return request(fileName, false);
}

bool Recorder::request(const QString& fileName, bool freeName) {
    std::lock_guard<std::mutex> lock(m_stateLock);
    if (m_state != RecordState::Idle) {
        return false;
    }
    m_strRecordFile = fileName;
    m_freeName = freeName;
    m_requestMs = m_nowMs();
    ++m_session;
    m_written = 0;
    m_state = RecordState::Requested;
    return true;
}

void Recorder::Stop() {
    std::thread encoder;
    {
        std::lock_guard<std::mutex> lock(m_stateLock);
        if (m_state == RecordState::Running) {
            std::lock_guard<std::mutex> slotLock(m_slotLock);
            m_accepting = false;
            m_stopRequested = true;
            m_stopMs = m_nowMs();
            m_wakeEncoder.notify_all();
        }
        m_state = RecordState::Idle;
        // Also the thread of a recording that ended by a failed write, if nobody joined it.
        encoder = std::move(m_encoder);
    }
    if (encoder.joinable()) {
        encoder.join();
    }
}

void Recorder::StartPendingRecording(int width, int height) {
    if (width <= 0 || height <= 0) {
        return;
    }
    std::thread finished;
    {
        std::lock_guard<std::mutex> lock(m_stateLock);
        if (m_state != RecordState::Requested) {
            return;
        }
        // A recording that ended by a failed write leaves its (finished) thread behind.
        finished = std::move(m_encoder);
    }
    if (finished.joinable()) {
        finished.join();
    }

    bool opened = false;
    Callbacks callbacks;
    uint64_t session = 0;
    {
        std::lock_guard<std::mutex> lock(m_stateLock);
        if (m_state != RecordState::Requested) {
            return;
        }
        callbacks = m_callbacks;
        session = m_session;
        // Whether the file is ours to remove again when the open fails.
        bool created = false;
        bool named = true;
        if (m_freeName) {
            NewFile file = CreateNewFile(m_strRecordFile.chopped(kExtension.size()), kExtension);
            named = created = file.isOpen();
            if (named) {
                m_strRecordFile = file.name;
            }
        } else {
            created = !QFileInfo(m_strRecordFile).exists();
        }
        const QByteArray name = QFile::encodeName(m_strRecordFile);
        m_writer.nKind = kKind;
        m_writer.nWidth = width;
        m_writer.nHeight = height;
        m_writer.fFrameRate = float(kFrameRate);
        m_writer.fBitRate = kBitRate;
        if (named) {
            m_width = width;
            m_height = height;
            m_lastPts = -1;
            m_lagNoted = false;
            m_written = 0;
            {
                std::lock_guard<std::mutex> slotLock(m_slotLock);
                m_free.clear();
                m_ready.clear();
                const size_t bytes = size_t(Image::effWidth(width, 24)) * height;
                for (int i = 0; i < kSlots; ++i) {
                    m_slots[i].bits.reserve(bytes);
                    m_free.push_back(i);
                }
                m_accepting = false;
                m_stopRequested = false;
                m_encoderBusy = false;
                m_dropped = 0;
            }
            // The encoder thread opens the file itself (see GiveWayToTheLivePicture); the
            // open is waited for here, as if it were done on this thread.
            std::promise<bool> openResult;
            std::future<bool> openDone = openResult.get_future();
            m_encoder = std::thread(&Recorder::encoderLoop, this, session, m_strRecordFile,
                                    std::move(openResult));
            opened = openDone.get();
            if (!opened) {
                m_encoder.join();
            }
        }
        if (!opened) {
            if (created) {
                ::unlink(name.constData());
            }
            m_state = RecordState::Idle;
        } else {
            // Frame 0 begins now that the file is open; the encoder reads this only for samples
            // taken once the state below says Running.
            m_openMs = m_nowMs();
            m_watch.reset(::open(name.constData(), O_RDONLY | O_CLOEXEC));
            m_strRecordStart = StartText(QDateTime::currentDateTime());
            {
                std::lock_guard<std::mutex> slotLock(m_slotLock);
                m_accepting = true;
            }
            m_state = RecordState::Running;
        }
    }
    if (opened) {
        qCInfo(lcRecorder) << "Recording" << width << "x" << height << "into" << fileName();
        if (callbacks.started) {
            callbacks.started(session);
        }
        return;
    }
    qCWarning(lcRecorder) << "Cannot create the recording" << fileName();
    if (callbacks.openFailed) {
        callbacks.openFailed(session);
    }
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

void Recorder::encoderLoop(uint64_t session, QString fileName, std::promise<bool> openResult) {
    GiveWayToTheLivePicture();
    const bool opened = OpenMpegWriter(m_writer, QFile::encodeName(fileName).constData());
    openResult.set_value(opened);
    if (!opened) {
        return;
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
    if (failed) {
        qCWarning(lcRecorder) << "Writing the recording failed after" << m_written.load()
                              << "frames; it ends here";
    }
    // Finishes the file with its trailer, or as far as a full disk allows.
    CloseMpegWriter(m_writer);
    // Not a single frame (stopped before the first sample), or not a single byte on the disk
    // (full at once: the frames never left the output buffer): the file holds no picture and
    // would only be left behind as clutter. Removed before the recorder goes idle, so that no
    // new request can have taken the name meanwhile.
    const QFileInfo file(fileName);
    if (file.exists() && (m_written == 0 || file.size() == 0)) {
        qCInfo(lcRecorder) << "The recording" << fileName << "holds no frame; removed";
        ::unlink(QFile::encodeName(fileName).constData());
    }

    Callbacks callbacks;
    {
        std::lock_guard<std::mutex> lock(m_stateLock);
        if (failed && session == m_session && m_state == RecordState::Running) {
            m_state = RecordState::Idle;
        }
        if (session == m_session) {
            m_watch.reset();
        }
        callbacks = m_callbacks;
    }
    {
        std::lock_guard<std::mutex> lock(m_slotLock);
        m_accepting = false;
        m_encoderBusy = false;
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
