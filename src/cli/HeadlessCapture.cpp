#include "cli/HeadlessCapture.h"

#include <QDateTime>
#include <QEventLoop>
#include <QFileInfo>
#include <QTextStream>
#include <QTimer>
#include <map>

#include "capture/CameraSystem.h"
#include "capture/CaptureController.h"
#include "contracts/CameraController.h"
#include "device/CameraDiscovery.h"
#include "display/DisplayWorker.h"
#include "output/RecordingController.h"
#include "output/SaveFolder.h"
#include "output/Snapshot.h"
#include "platform/FileWrite.h"
#include "session/ProblemTexts.h"
#include "settings/AppSettings.h"

namespace {

QString FourccText(uint32_t fourcc) {
    QString text;
    for (int shift = 0; shift < 32; shift += 8) {
        const char c = char((fourcc >> shift) & 0xFF);
        text += QLatin1Char(c >= 0x20 && c < 0x7F ? c : '?');
    }
    return text.trimmed();
}

QString StreamText(const CameraFormat& format) {
    return QStringLiteral("%1 %2x%3")
        .arg(FourccText(format.pixelFormat))
        .arg(format.width)
        .arg(format.height);
}

bool IsUsbId(const QString& text) {
    bool ok = false;
    text.toUInt(&ok, 16);
    return ok && text.size() == 4;
}

// --camera: a device node (or a link to one, such as /dev/v4l/by-id/…), or VID:PID[:SERIAL].
bool MatchesCamera(const CameraId& camera, const QString& choice) {
    if (choice == camera.devNode) {
        return true;
    }
    const QFileInfo link(choice);
    if (link.exists() && link.canonicalFilePath() == camera.devNode) {
        return true;
    }
    const QStringList parts = choice.split(u':');
    if ((parts.size() != 2 && parts.size() != 3) || !IsUsbId(parts[0]) || !IsUsbId(parts[1])) {
        return false;
    }
    return camera.onUsb() && parts[0].compare(camera.usbVid, Qt::CaseInsensitive) == 0 &&
           parts[1].compare(camera.usbPid, Qt::CaseInsensitive) == 0 &&
           (parts.size() == 2 || parts[2] == camera.usbSerial);
}

}  // namespace

HeadlessCapture::HeadlessCapture(const AppSettings& settings, CaptureRequest request,
                                 QTextStream& out, QTextStream& err, QObject* parent)
    : QObject(parent),
      m_settings(settings),
      m_request(std::move(request)),
      m_out(out),
      m_err(err),
      m_session(settings, m_devices),
      m_life(m_session, m_devices) {
    m_session.StartDisplay(nullptr);  // composed for the files, shown nowhere
    m_saveFolder = ReadSaveFolder(settings.m_strSettingFile, settings.m_strPicturesFolder).folder;

    // Every camera start reads the camera's parameter memory, as in the window; the request's
    // stream and overlay choices then go over it.
    m_session.afterParametersLoaded = [this](Camera& source) {
        if (!m_request.overlay) {
            Overlay& overlay = m_session.overlay();
            OverlaySettings marks = overlay.settings();
            marks.m_bMaskEnable = 0;
            marks.m_bCrossEnable = 0;
            overlay.setSettings(marks);
        }
        ChooseStream(source);
    };
    connect(&m_session.camera(), &CaptureController::cameraLost, this,
            &HeadlessCapture::OnCameraLost);
    connect(&m_life, &CameraLifecycle::flashNotice, this,
            [this](const QString& key, const QString& file) {
                Message(m_settings.m_texts.text(QStringLiteral("MainWnd"), key).arg(file));
            });
    connect(&m_session.recording(), &RecordingController::recordingChanged, this,
            &HeadlessCapture::OnRecordingChanged);

    m_poll = new QTimer(this);
    m_poll->setInterval(10);
    connect(m_poll, &QTimer::timeout, this, &HeadlessCapture::OnPoll);
    m_deadline = new QTimer(this);
    m_deadline->setSingleShot(true);
    m_deadline->setInterval(kFrameDeadlineMs);
    connect(m_deadline, &QTimer::timeout, this, &HeadlessCapture::OnDeadline);
    m_next = new QTimer(this);
    m_next->setSingleShot(true);
    m_next->setTimerType(Qt::PreciseTimer);
}

HeadlessCapture::~HeadlessCapture() {
    m_session.Close();  // while this object's handlers can still take the last signals
}

int HeadlessCapture::Run() {
    if (m_request.mode == CaptureMode::ListCameras) {
        return ListCameras();
    }
    if (!OpenCamera() || m_finished) {
        m_session.Close();
        return m_status;
    }
    m_poll->start();
    m_deadline->start();
    QEventLoop loop;
    m_loop = &loop;
    const int status = m_finished ? m_status : loop.exec();
    m_loop = nullptr;
    m_session.Close();
    return status;
}

void HeadlessCapture::Stop() {
    if (m_finished) {
        return;
    }
    if (m_request.mode == CaptureMode::Record && m_session.recording().recording()) {
        EndRecording();
    } else if (m_shots > 0) {
        Finish(kDone);
    } else {
        Message(m_settings.m_texts.text("CommandLine", "STOPPEDEARLY"));
        Finish(kNoPicture);
    }
}

int HeadlessCapture::ListCameras() {
    m_life.FindCameras();
    const std::vector<CameraId>& found = m_life.found();
    if (found.empty()) {
        Message(m_settings.m_texts.text("CommandLine", "NOCAMERA"));
        return kNoPicture;
    }
    auto orDash = [](const QString& text) { return text.isEmpty() ? QStringLiteral("-") : text; };
    for (const CameraId& camera : found) {
        const QString ids =
            camera.onUsb() ? camera.usbVid + u':' + camera.usbPid : QStringLiteral("-");
        m_out << camera.devNode << '\t' << ids << '\t' << orDash(camera.usbSerial) << '\t'
              << orDash(camera.cardName.trimmed()) << '\n';
        if (!m_request.verbose) {
            continue;
        }
        std::unique_ptr<Camera> source = m_session.cameraSystem().create(camera);
        if (!source || !source->open()) {
            m_out.flush();
            Message(
                m_settings.m_texts.text("CommandLine", "CANNOTOPEN")
                    .arg(QStringLiteral("%1 (%2)").arg(camera.cardName.trimmed(), camera.devNode)));
            continue;
        }
        // One line per pixel format, its sizes in the camera's order.
        std::vector<std::pair<uint32_t, QStringList>> lines;
        for (const CameraFormat& format : source->formats()) {
            auto line = std::find_if(lines.begin(), lines.end(), [&format](const auto& l) {
                return l.first == format.pixelFormat;
            });
            if (line == lines.end()) {
                lines.push_back({format.pixelFormat, {}});
                line = std::prev(lines.end());
            }
            const QString size = QStringLiteral("%1x%2").arg(format.width).arg(format.height);
            if (!line->second.contains(size)) {
                line->second.append(size);
            }
        }
        source->close();
        for (const auto& [fourcc, sizes] : lines) {
            m_out << '\t' << FourccText(fourcc) << ' ' << sizes.join(u' ') << '\n';
        }
    }
    m_out.flush();
    return kDone;
}

bool HeadlessCapture::OpenCamera() {
    // As the window: the session finds the cameras and opens the chosen one, looking at the
    // system's cameras once for both.
    const auto scan = m_session.discovery().holdScan();
    const int count = m_life.FindCameras();
    CameraId chosen;
    if (m_request.camera.isEmpty()) {
        if (count > 0) {
            chosen = m_life.cameraToOpen();
        }
    } else {
        for (const CameraId& camera : m_life.found()) {
            if (MatchesCamera(camera, m_request.camera)) {
                chosen = camera;
                break;
            }
        }
        if (!chosen.isValid()) {
            Message(m_settings.m_texts.text("CommandLine", "NOMATCH").arg(m_request.camera));
            Finish(kNoPicture);
            return false;
        }
    }
    if (!chosen.isValid()) {
        Message(m_settings.m_texts.text("CommandLine", "NOCAMERA"));
        Finish(kNoPicture);
        return false;
    }
    m_life.Open(chosen);
    if (m_streamMissing) {
        QString wanted = m_request.format;
        if (m_request.size.isValid()) {
            wanted +=
                (wanted.isEmpty() ? QString() : QStringLiteral(" ")) +
                QStringLiteral("%1x%2").arg(m_request.size.width()).arg(m_request.size.height());
        }
        Message(m_settings.m_texts.text("CommandLine", "NOSTREAM")
                    .arg(CameraText(), wanted, m_offered.join(QStringLiteral(", "))));
        Finish(kUsage);
        return false;
    }
    if (!m_session.camera().hasSource() || m_session.camera().problem() != PictureProblem::None) {
        Message(ProblemText());
        Finish(kNoPicture);
        return false;
    }
    return true;
}

void HeadlessCapture::ChooseStream(Camera& source) {
    if (m_request.format.isEmpty() && !m_request.size.isValid()) {
        return;  // the camera's stored choice
    }
    StreamFormats& formats = m_session.camera().streamFormats();
    StreamFormats probe;
    probe.setCapabilities(source.formats());
    probe.m_bMjpgSelected = formats.m_bMjpgSelected;
    probe.m_nResolutionIndex = formats.m_nResolutionIndex;
    const std::optional<CameraFormat> stored = probe.selectedFormat();
    const QSize size = m_request.size.isValid() ? m_request.size
                       : stored                 ? QSize(stored->width, stored->height)
                                                : QSize();

    auto fits = [this](const CameraFormat& format, const QSize& wanted) {
        return (m_request.format.isEmpty() || FourccText(format.pixelFormat) == m_request.format) &&
               (!wanted.isValid() || QSize(format.width, format.height) == wanted);
    };
    // The stored kind of list first, so that a size alone keeps the stored compression.
    const bool order[2] = {formats.m_bMjpgSelected, !formats.m_bMjpgSelected};
    // The size asked for (or the stored size); with a format alone, any size of that format.
    const QSize tries[2] = {size, m_request.size.isValid() ? size : QSize()};
    for (const QSize& wanted : tries) {
        for (bool mjpg : order) {
            for (const ResolutionEntry& entry : probe.list(mjpg)) {
                if (fits(entry.format, wanted)) {
                    formats.m_bMjpgSelected = mjpg;
                    formats.m_nResolutionIndex = entry.index;
                    return;
                }
            }
        }
    }
    m_streamMissing = true;
    for (const CameraFormat& format : source.formats()) {
        m_offered.append(StreamText(format));
    }
}

void HeadlessCapture::OnPoll() {
    if (m_finished || m_settled) {
        return;
    }
    // The deadline is for the wait for a picture, not for the warm-up: every new picture
    // gives the camera its time again, so a long warm-up of a camera that keeps sending ends
    // well, and one that stops sending still ends.
    const int composed = m_session.display().composedCount();
    if (composed > m_composedSeen) {
        m_composedSeen = composed;
        m_deadline->start();
    }
    if (composed < m_request.warmupFrames) {
        return;
    }
    m_settled = true;
    m_poll->stop();
    m_deadline->stop();
    if (m_request.mode == CaptureMode::Snapshot) {
        m_seriesClock.start();
        TakeSnapshot();
    } else {
        StartRecording();
    }
}

void HeadlessCapture::OnDeadline() {
    if (m_finished || m_settled) {
        return;
    }
    Message(ProblemText());
    Finish(kNoPicture);
}

QString HeadlessCapture::SeriesFileName(int index) const {
    if (m_request.count <= 1) {
        return m_request.file;
    }
    // shot.jpg → shot-1.jpg, shot-2.jpg, …; the extension is what follows the last dot of the
    // file's own name.
    const QString& file = m_request.file;
    const qsizetype slash = file.lastIndexOf(u'/');
    const qsizetype dot = file.lastIndexOf(u'.');
    const qsizetype cut = dot > slash + 1 ? dot : file.size();
    return file.left(cut) + u'-' + QString::number(index + 1) + file.mid(cut);
}

void HeadlessCapture::TakeSnapshot() {
    const SnapshotResult result =
        m_request.file.isEmpty()
            ? ::TakeSnapshot(m_saveFolder, QDateTime::currentDateTime(), m_session.frames())
            : WriteSnapshot(SeriesFileName(m_shots), m_session.frames());
    if (!result.written) {
        Message(m_settings.m_texts.text("CommandLine", "WRITEFAILED").arg(result.fileName));
        Finish(kWriteFailed);
        return;
    }
    PrintFileName(result.fileName);
    ++m_shots;
    if (m_shots >= m_request.count) {
        Finish(kDone);
        return;
    }
    // Shot n is due n intervals after the first, however long the writes took.
    const qint64 due = qint64(m_shots * m_request.intervalSeconds * 1000.0);
    m_next->disconnect();
    connect(m_next, &QTimer::timeout, this, &HeadlessCapture::TakeSnapshot);
    m_next->start(int(std::max<qint64>(0, due - m_seriesClock.elapsed())));
}

void HeadlessCapture::StartRecording() {
    // Known before the recording replaces anything: the name is no longer printed where the
    // recording itself goes.
    m_fileIsStandardOutput = IsStandardOutput(m_request.file);
    const bool requested = m_request.file.isEmpty()
                               ? (m_session.recording().ToggleRecording(m_saveFolder), true)
                               : m_session.recording().RecordTo(m_request.file);
    if (!requested) {
        Finish(kWriteFailed);
    }
}

void HeadlessCapture::OnRecordingChanged(bool recording) {
    if (m_finished || m_ending) {
        return;
    }
    if (!recording) {
        // The file could not be opened ("Recording could not be started: …"), or a frame could
        // not be written (a full disk, the reader of a pipe gone).
        Message(FailureText());
        Finish(kWriteFailed);
        return;
    }
    // Reported at the request and again once the file is open; the length counts from the
    // open, where the file's first frame stands.
    if (m_recordTimerStarted || m_session.recording().recorder().state() != RecordState::Running) {
        return;
    }
    m_recordTimerStarted = true;
    m_next->disconnect();
    connect(m_next, &QTimer::timeout, this, &HeadlessCapture::EndRecording);
    m_next->start(int(m_request.recordSeconds * 1000.0));
}

void HeadlessCapture::EndRecording() {
    if (m_finished) {
        return;
    }
    m_ending = true;
    m_next->stop();
    RecordingController& recording = m_session.recording();
    const bool opened = recording.recorder().state() == RecordState::Running;
    if (opened) {
        // The picture of the last moment, so that even a recording shorter than the frame
        // timer's period holds a frame.
        recording.SampleNow();
    }
    recording.Finish();
    if (opened && recording.recorder().writeError() != 0) {
        // The end could not be written (a full disk, a reader that took nothing more).
        Message(FailureText());
        Finish(kWriteFailed);
        return;
    }
    // Stopped before the file was opened (a signal during the warm-up or the open): there is
    // none, and nothing was touched.
    if (!opened || recording.recorder().writtenFrames() == 0) {
        Message(m_settings.m_texts.text("CommandLine", "STOPPEDEARLY"));
        Finish(kNoPicture);
        return;
    }
    PrintFileName(recording.recorder().fileName());
    Finish(kDone);
}

QString HeadlessCapture::FailureText() {
    RecordingController& recording = m_session.recording();
    // A recording that never ran failed at its open, and that text gives the reason; a failed
    // write names the file.
    if (!m_recordTimerStarted && !recording.failureText().isEmpty()) {
        return recording.failureText();
    }
    return m_settings.m_texts.text("CommandLine", "WRITEFAILED")
        .arg(recording.recorder().fileName());
}

void HeadlessCapture::PrintFileName(const QString& name) {
    // Where the file is standard output itself, a name printed there would land inside it.
    if (m_fileIsStandardOutput || IsStandardOutput(name)) {
        return;
    }
    m_out << name << '\n';
    m_out.flush();
}

void HeadlessCapture::OnCameraLost() {
    if (m_finished) {
        return;
    }
    // A recording keeps what it has, complete with its trailer.
    if (m_session.recording().recorder().state() == RecordState::Running) {
        m_ending = true;
        m_session.recording().Finish();
        if (m_session.recording().recorder().writtenFrames() > 0) {
            PrintFileName(m_session.recording().recorder().fileName());
        }
    }
    Message(m_settings.m_texts.text("CommandLine", "REMOVED").arg(CameraText()));
    Finish(kNoPicture);
}

QString HeadlessCapture::CameraText() const {
    return ::CameraText(m_session.camera().camera());
}

QString HeadlessCapture::ProblemText() const {
    return PictureProblemText(m_settings.m_texts, TextPlace::CommandLine,
                              m_session.camera().problem(), m_session.camera().hasSource(),
                              m_session.camera().camera());
}

void HeadlessCapture::Message(const QString& text) {
    m_err << "tavrel: " << text << '\n';
    m_err.flush();
}

void HeadlessCapture::Finish(int status) {
    if (m_finished) {
        return;
    }
    m_finished = true;
    m_status = status;
    m_poll->stop();
    m_deadline->stop();
    m_next->stop();
    if (m_loop != nullptr) {
        m_loop->exit(status);
    }
}
