#pragma once

#include <QDateTime>
#include <QString>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "capture/ImageResize.h"
#include "output/MpegWriter.h"
#include "output/RecorderOutput.h"
#include "platform/UniqueFd.h"

class Image;

// Where a recording stands.
//
//   Idle      --Request()------------------------------------> Requested (encoder thread waits)
//   Requested --StartPendingRecording(): the frame size; the encoder thread opens the file
//   Requested --the open succeeds------------------------------> Running   (started callback)
//   Requested --the open fails---------------------------------> Idle      (openFailed callback)
//   Requested --Stop()-----------------------------------------> Idle      (an open that waits,
//                                                                          for a FIFO's reader,
//                                                                          is given up)
//   Running   --Stop()-----------------------------------------> Idle      (file finished)
//   Running   --a frame cannot be written (full disk, EFBIG, the reader gone)-> Idle
//                                                                          (writeFailed callback)
//   Running   --FileLost() and Stop() (file or folder removed)-> Idle
//
// Every request gets a new number (recordingNumber()); the callbacks carry it, so that a report
// that reaches the GUI thread late can be told from one about the recording in force.
//
// Files (RecorderOutput): a recording into the save folder creates the folder when it is
// missing (one level) and never replaces an existing file: when its time-stamped name is taken,
// the next free name with "-2", "-3", … before ".mpeg" is used. A recording into a named file
// leaves an existing file untouched until the recording holds a frame, then replaces it; a
// device, a FIFO or standard output is written into as it is. No empty files: a recording that
// ends without a frame in it (stopped before the first sample, or a full disk at once) removes
// the file it made, and only that; a failed open leaves no file it created.
//
// Stopping the preview, a resolution change or the loss of the camera do not end a recording:
// it goes on repeating the last composed picture until Record is pressed again.
enum class RecordState { Idle, Requested, Running };

// The video recorder: writes what the main window shows into an MPEG-1 file (24 frames per
// second, 6,000,000 bit/s, at the frame size of the moment it opens) in the save folder.
//
// A recording runs in three places:
//  - the Record command asks for it (Request) and ends it (Stop), on the GUI thread;
//  - frame intake calls StartPendingRecording for every processed frame, on the capture thread
//    with the frame lock held (the frame store's recorder hook); the first call after a
//    request hands the frame size to the encoder thread and returns: the live picture never
//    waits for the disk;
//  - the window's 34 ms frame timer calls SampleFrame with the frame lock held (from the frame
//    store's readComposedImage); it copies the composed picture into a free slot of a small
//    hand-off and returns. An encoder thread (one per request, joined when the recording ends)
//    opens the file, then converts, encodes and writes, so neither the window nor frame intake
//    waits for the file or the encoder. The recording's first frame is the first sample taken
//    once the file is open; pictures before that are neither queued nor waited for. The thread
//    runs, with the codec's threads, at a lower scheduling priority than the live path: where
//    the machine cannot do both at full rate, the window keeps its rate and the recording
//    keeps fewer distinct pictures (see the pacing below), never a shorter duration.
//
// Real time: frame n of the file stands for the interval [n/24 s, (n+1)/24 s) after the open.
// Every sample carries the moment it was taken and becomes the frame of the interval it falls
// in (floor(t x 24)); a later sample in the same interval is skipped, and an interval without
// a sample of its own (a late timer tick, a dropped sample) repeats the previous picture. So
// the file holds one frame per 1/24 s whatever the timer's rate (34 ms ticks would otherwise
// stretch every recording by 22%), and a recording of 60 s plays for 60 s. When it stops, the
// last picture is repeated up to the moment of the stop (within half a frame).
//
// Bounded hand-off: kSlots preallocated frame buffers. When the encoder has fallen behind and
// no slot is free, the sample is dropped and counted (droppedFrames()); the gap is filled by
// the pacing above, so the file keeps its length.
//
// Frame sizes: a composed picture whose size differs from the recording's (a resolution
// change while recording) is scaled to the recording's size; odd sizes are recorded at the
// even size below (MPEG-1 needs even sizes; the writer leaves out the last column or row).
//
// Callbacks (set before the first Request) run on the encoder thread; they must only post to
// the GUI thread (QMetaObject::invokeMethod with a queued call) and return, never block, never
// take the frame lock, never call back into the recorder.
//
// Lock order: frame lock, then the state lock, then the hand-off lock; neither of the last two
// is ever held while a file is opened or written. Stop() and the destructor join the encoder
// thread and must not be called with the frame lock held; they wait at most kStopGraceMs for a
// stream whose reader takes nothing before its writes are given up.
class Recorder {
public:
    // Milliseconds of a steady clock, called from every thread of the recorder; tests inject
    // a fake one.
    using Clock = std::function<int64_t()>;

    // Each gets the number of the recording it reports on (recordingNumber() at its request).
    struct Callbacks {
        // The file is open and the recording runs: start the status and frame timers, show
        // the recording's Record button picture.
        std::function<void(uint64_t recording)> started;
        // The file could not be opened: the request is withdrawn. `error` is the errno of the
        // failing step (0: the encoder refused the picture size); the owner turns it into text.
        std::function<void(uint64_t recording, int error)> openFailed;
        // A frame could not be written (full disk, file-size limit, the reader gone): the
        // recording has ended, the file is finished as far as it could be (or removed when
        // nothing of it reached the disk); writeError() tells why. Stop the timers and say so in
        // the status bar.
        std::function<void(uint64_t recording)> writeFailed;
    };

    static constexpr int kFrameRate = 24;
    static constexpr float kBitRate = 6000000.0f;
    static constexpr int kKind = 7;  // container from the file name: ".mpeg" is MPEG-1 system
    static constexpr int kSlots = 3;
    static constexpr int64_t kMaxLagMs = 1000;
    // How long Stop() lets the encoder finish a stream that takes no bytes before it cuts the
    // writes off (the file then lacks its end, and writeError() is ECANCELED).
    static constexpr int kStopGraceMs = 3000;

    // nowMs: the steady clock (default: std::chrono::steady_clock).
    explicit Recorder(Clock nowMs = {});
    // Finishes a running recording with its trailer (Stop()) and joins the encoder thread.
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // GUI thread, before the first Request.
    void setCallbacks(Callbacks callbacks);

    // --- GUI thread: the Record command ---
    // Idle only: asks for a recording into folder + time stamp + ".mpeg" (local time `now`;
    // the folder is created and the next free name taken at the open) and remembers the moment
    // as the origin of the elapsed time. Nothing is opened yet. False (nothing changed) when a
    // recording is already requested or running.
    bool Request(const QString& folder, const QDateTime& now);
    // The same for a recording into `fileName` as it is named (see RecorderOutput: an existing
    // file is replaced once the recording holds a frame; a device, FIFO or standard output is
    // written into).
    bool RequestFile(const QString& fileName);
    // Ends a requested or running recording: the encoder writes the samples it holds, repeats
    // the last picture up to now, writes the trailer and closes the file; returns when the
    // file is complete (or, for a stream that takes nothing, after kStopGraceMs). A recording
    // without a single frame is removed with its file (writtenFrames() is 0 afterwards). Idle
    // afterwards. Does nothing when idle.
    void Stop();
    // A running recording whose file is gone: removed, or its folder removed with it (the open
    // file has no name left, so whatever is written from now on is lost). The owner checks
    // this once a second and ends the recording as a failed write.
    bool FileLost() const;

    // --- capture thread, frame lock held: every processed frame ---
    // Returns at once. The first call after a request with a frame size hands width x height
    // to the encoder thread, which opens the file and reports started or openFailed. Never
    // takes the frame lock, never waits for the file.
    void StartPendingRecording(int width, int height);

    // --- GUI thread (frame timer), frame lock held ---
    // Hands a copy of the composed picture (24-bit) to the encoder. True when it was taken;
    // false when no recording runs, the picture is empty or of another depth, or no slot is
    // free (then it counts as dropped). Never waits for the encoder.
    bool SampleFrame(const Image& composed);

    // --- any thread ---
    RecordState state() const;
    // Number of the current (or last) request; 0 before the first.
    uint64_t recordingNumber() const;
    // Full name of the current (or last) recording.
    QString fileName() const;
    // Start date and time of the running (or last) recording, "YYYY-MM-DD hh:mm:ss", local
    // time at the open.
    QString startText() const;
    // Milliseconds since the Record command of the current (or last) request.
    int64_t elapsedMs() const;
    // Recording size (the frame size at the open); 0 before the first open.
    int width() const;
    int height() const;
    // Counters of the current (or last) request: samples dropped because the encoder was
    // behind, and frames written into the file (repeats included).
    int droppedFrames() const;
    int writtenFrames() const;
    // Why the current (or last) recording failed: the errno of the failed open or write, or
    // of a trailer that could not be written at the stop; 0 while it ran or ended complete.
    int writeError() const;
    // The last recording went into this process's standard output.
    bool wroteToStandardOutput() const;
    // Waits until the encoder has no sample pending and is not working on one. For tests and
    // diagnostics. False on timeout.
    bool waitIdle(int timeoutMs);

private:
    struct Sample {
        std::vector<uint8_t> bits;  // bottom-up BGR rows, `stride` bytes apart
        int width = 0;
        int height = 0;
        int stride = 0;
        int64_t tMs = 0;  // clock value when it was taken
    };

    bool request(const QString& fileName, bool freeName);
    // The encoder thread: waits for the first frame's size, opens the file, reports the
    // outcome, then encodes the samples until the recording stops.
    void encoderLoop(uint64_t session);
    // The encoder thread's opening step; true when the recording runs.
    bool openRecording(uint64_t session, const Callbacks& callbacks);
    // The encoder thread's last step: trailer, file kept or removed, state, report.
    void finishRecording(uint64_t session, bool failed);
    // Writes one sample at its time; false when a write failed.
    bool encodeSample(const Sample& sample);
    // Copies a sample into the writer's picture, scaled to the recording's size if need be.
    void loadPicture(const Sample& sample);
    // Writes the writer's current picture as frame `pts`.
    bool writeFrameAt(int64_t pts);
    // Number of the frame whose interval [n/24 s, (n+1)/24 s) after the open holds tMs.
    int64_t frameAt(int64_t tMs) const;

    Clock m_nowMs;
    Callbacks m_callbacks;

    // Guards the state, the names, the times, the session number, m_encoder and (while no
    // encoder thread runs) the writer.
    mutable std::mutex m_stateLock;
    RecordState m_state = RecordState::Idle;
    QString m_strRecordFile;
    // Set for a time-stamped name in the save folder: m_strRecordFile is then only the name
    // wished for, and the open takes the next free one.
    bool m_freeName = false;
    QString m_strRecordStart;
    int64_t m_requestMs = 0;  // the Record command's tick
    uint64_t m_session = 0;   // one number per request
    std::thread m_encoder;
    std::condition_variable m_wakeOpen;  // the first frame's size is known, or stop
    int m_frameWidth = 0;                // the first frame's size (0: none yet)
    int m_frameHeight = 0;
    int m_error = 0;  // writeError()
    bool m_stdout = false;
    // A second descriptor of the regular file being written, to notice its removal
    // (FileLost); none for a stream.
    UniqueFd m_watch;

    // Set at the open under the state lock, before any sample can reach the encoder.
    int m_width = 0;
    int m_height = 0;
    int64_t m_openMs = 0;

    // The recording's target. The pointer changes only in request() (GUI thread, no encoder
    // running); the object is the encoder thread's, but for cancel(), which Stop() may call.
    std::unique_ptr<RecorderOutput> m_output;
    // Owned by the encoder thread while it runs; by the state lock's holder otherwise.
    MpegWriter m_writer;
    std::vector<uint8_t> m_scaled;  // a differently sized sample scaled to the recording's size
    BilinearScaler24 m_scaler;
    int64_t m_lastPts = -1;   // frame number of the last written frame
    bool m_lagNoted = false;  // the encoder's falling behind has been logged

    // The hand-off. Guards everything below.
    mutable std::mutex m_slotLock;
    std::condition_variable m_wakeEncoder;  // a sample is ready, or stop
    std::condition_variable m_encoderIdle;  // the encoder has nothing to do
    std::array<Sample, kSlots> m_slots;
    std::deque<int> m_free;    // slot numbers the sampler may fill
    std::deque<int> m_ready;   // filled slots, oldest first
    bool m_accepting = false;  // the encoder takes samples
    bool m_stopRequested = false;
    int64_t m_stopMs = 0;
    bool m_encoderBusy = false;
    bool m_encoderDone = true;  // the encoder thread has nothing left to do and ends
    int m_dropped = 0;

    // Frames written into the file (encoder thread), read by any thread.
    std::atomic<int> m_written{0};
};

// "hh:mm:ss" of a duration in milliseconds; the hours are not wrapped (100 hours print as
// "100:00:00"). Negative durations count as 0.
QString ElapsedText(int64_t elapsedMs);
// "YYYY-MM-DD hh:mm:ss" of a local date and time.
QString StartText(const QDateTime& localTime);
// The status text of a running recording: startLabel + ":" + start + "  " + lengthLabel + ":"
// + elapsed.
QString RecordingStatus(const QString& startLabel, const QString& start, const QString& lengthLabel,
                        const QString& elapsed);
