#include "app/CommandLine.h"

#include <QRegularExpression>
#include <QtGlobal>
#include <cmath>

namespace {
constexpr char kFactorySwitch[] = "-FACTORYMODE=1";

// Options that take a value, given as "--name value" or "--name=value".
bool TakesValue(const QString& name) {
    static const QStringList kWithValue = {QStringLiteral("--record"),   QStringLiteral("--count"),
                                           QStringLiteral("--interval"), QStringLiteral("--camera"),
                                           QStringLiteral("--warmup"),   QStringLiteral("--format"),
                                           QStringLiteral("--size")};
    return kWithValue.contains(name);
}

bool ParseCount(const QString& text, int minimum, int* value) {
    bool ok = false;
    const int n = text.toInt(&ok);
    if (!ok || n < minimum) {
        return false;
    }
    *value = n;
    return true;
}

// Seconds as a plain decimal number, at least `minimum`, at most a day.
bool ParseSeconds(const QString& text, double minimum, bool allowMinimum, double* value) {
    bool ok = false;
    const double s = text.toDouble(&ok);
    if (!ok || !std::isfinite(s) || s < minimum || (!allowMinimum && s == minimum) || s > 86400) {
        return false;
    }
    *value = s;
    return true;
}

bool ParseSize(const QString& text, QSize* size) {
    static const QRegularExpression kSize(QStringLiteral("^(\\d{1,5})[xX](\\d{1,5})$"));
    const QRegularExpressionMatch match = kSize.match(text);
    if (!match.hasMatch()) {
        return false;
    }
    const int w = match.captured(1).toInt();
    const int h = match.captured(2).toInt();
    if (w <= 0 || h <= 0) {
        return false;
    }
    *size = QSize(w, h);
    return true;
}

// An optional FILE after --snapshot or --record SECONDS: the next argument unless it is an
// option (or the factory switch).
bool IsFileArgument(const QStringList& args, qsizetype i) {
    return i < args.size() && !args[i].isEmpty() && !args[i].startsWith(u'-');
}

// What a recording can be written as. A name without an extension (a device, a FIFO,
// /dev/stdout) is written as MPEG too.
bool IsRecordingName(const QString& file) {
    const QString name = file.mid(file.lastIndexOf(u'/') + 1);
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot <= 0) {
        return true;  // no extension, or a hidden name such as ".clip"
    }
    const QString extension = name.mid(dot + 1);
    return extension.compare(QLatin1String("mpeg"), Qt::CaseInsensitive) == 0 ||
           extension.compare(QLatin1String("mpg"), Qt::CaseInsensitive) == 0;
}

}  // namespace

bool CommandLine::factoryMode() const {
    return rest == QLatin1String(kFactorySwitch);
}

CommandLine ParseCommandLine(const QStringList& args) {
    CommandLine result;
    CaptureRequest& capture = result.capture;
    QStringList rest;
    QString error;
    int modes = 0;
    bool streamOptions = false;  // options that need a capture mode
    bool seriesOptions = false;
    auto fail = [&error](const QString& message) {
        if (error.isEmpty()) {
            error = message;
        }
    };
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (arg == QLatin1String("-h")) {
            result.showHelp = true;
            continue;
        }
        if (!arg.startsWith(QLatin1String("--"))) {
            // Kept as given, empty arguments included, so that anything beyond the bare factory
            // switch (a trailing blank, a second argument) leaves factory mode off.
            rest.append(arg);
            continue;
        }
        QString name = arg;
        QString value;
        bool hasValue = false;
        const qsizetype equals = arg.indexOf(u'=');
        if (equals > 0) {
            name = arg.left(equals);
            value = arg.mid(equals + 1);
            hasValue = true;
        }
        if (TakesValue(name) && !hasValue) {
            if (i + 1 >= args.size()) {
                fail(QStringLiteral("%1 needs a value").arg(name));
                continue;
            }
            value = args[++i];
            hasValue = true;
        } else if (!TakesValue(name) && hasValue) {
            name = arg;  // "--help=x" is no option of ours
        }

        if (name == QLatin1String("--help")) {
            result.showHelp = true;
        } else if (name == QLatin1String("--version")) {
            result.showVersion = true;
        } else if (name == QLatin1String("--virtual-camera")) {
            result.virtualCamera = true;
        } else if (name == QLatin1String("--list-cameras")) {
            capture.mode = CaptureMode::ListCameras;
            ++modes;
        } else if (name == QLatin1String("--verbose")) {
            capture.verbose = true;
        } else if (name == QLatin1String("--snapshot")) {
            capture.mode = CaptureMode::Snapshot;
            ++modes;
            if (IsFileArgument(args, i + 1)) {
                capture.file = args[++i];
            }
        } else if (name == QLatin1String("--record")) {
            capture.mode = CaptureMode::Record;
            ++modes;
            if (!ParseSeconds(value, 0, false, &capture.recordSeconds)) {
                fail(QStringLiteral("--record needs a number of seconds above 0, not '%1'")
                         .arg(value));
            }
            if (IsFileArgument(args, i + 1)) {
                capture.file = args[++i];
                if (!IsRecordingName(capture.file)) {
                    fail(QStringLiteral("--record writes MPEG-1 video: FILE must end in .mpeg or "
                                        ".mpg (or have no extension), not '%1'")
                             .arg(capture.file));
                }
            }
        } else if (name == QLatin1String("--count")) {
            seriesOptions = true;
            if (!ParseCount(value, 1, &capture.count)) {
                fail(QStringLiteral("--count needs a whole number of at least 1, not '%1'")
                         .arg(value));
            }
        } else if (name == QLatin1String("--interval")) {
            seriesOptions = true;
            if (!ParseSeconds(value, 0, true, &capture.intervalSeconds)) {
                fail(QStringLiteral("--interval needs a number of seconds, not '%1'").arg(value));
            }
        } else if (name == QLatin1String("--warmup")) {
            streamOptions = true;
            if (!ParseCount(value, 1, &capture.warmupFrames)) {
                fail(QStringLiteral("--warmup needs a whole number of frames of at least 1, "
                                    "not '%1'")
                         .arg(value));
            }
        } else if (name == QLatin1String("--camera")) {
            streamOptions = true;
            capture.camera = value;
            if (value.isEmpty()) {
                fail(QStringLiteral("--camera needs a device node or VID:PID[:SERIAL]"));
            }
        } else if (name == QLatin1String("--format")) {
            streamOptions = true;
            capture.format = value.toUpper();
            static const QRegularExpression kFourcc(QStringLiteral("^[0-9A-Z ]{1,4}$"));
            if (!kFourcc.match(capture.format).hasMatch()) {
                fail(QStringLiteral("--format needs a pixel format name such as MJPG or YUYV, "
                                    "not '%1'")
                         .arg(value));
            }
        } else if (name == QLatin1String("--size")) {
            streamOptions = true;
            if (!ParseSize(value, &capture.size)) {
                fail(QStringLiteral("--size needs WIDTHxHEIGHT such as 1920x1080, not '%1'")
                         .arg(value));
            }
        } else if (name == QLatin1String("--no-overlay")) {
            streamOptions = true;
            capture.overlay = false;
        } else if (result.unknownOption.isEmpty()) {
            result.unknownOption = arg;
        }
    }
    if (modes > 1) {
        fail(QStringLiteral("--list-cameras, --snapshot and --record cannot be combined"));
    }
    const bool capturing =
        capture.mode == CaptureMode::Snapshot || capture.mode == CaptureMode::Record;
    if (streamOptions && !capturing) {
        fail(
            QStringLiteral("--camera, --format, --size, --warmup and --no-overlay need "
                           "--snapshot or --record"));
    }
    if (seriesOptions && capture.mode != CaptureMode::Snapshot) {
        fail(QStringLiteral("--count and --interval need --snapshot"));
    }
    if (capture.verbose && capture.mode != CaptureMode::ListCameras) {
        fail(QStringLiteral("--verbose needs --list-cameras"));
    }
    // Without the window, nothing but the factory switch may stand beside the options: a
    // second FILE would otherwise be ignored without a word.
    if (capture.mode != CaptureMode::Window) {
        for (const QString& arg : rest) {
            if (arg == QLatin1String(kFactorySwitch)) {
                continue;
            }
            if (!capture.file.isEmpty() && !arg.startsWith(u'-')) {
                fail(QStringLiteral("only one FILE can be given: '%1' and '%2'")
                         .arg(capture.file, arg));
            } else {
                fail(QStringLiteral("unexpected argument '%1'").arg(arg));
            }
        }
    }
    result.usageError = error;
    result.rest = rest.join(u' ');
    if (qgetenv("TAVREL_VIRTUAL_CAMERA") == "1") {
        result.virtualCamera = true;
    }
    return result;
}

QString UsageText() {
    return QStringLiteral(
        "Usage: tavrel [options] [-FACTORYMODE=1]\n"
        "       tavrel --list-cameras [--verbose]\n"
        "       tavrel --snapshot [FILE] [--count N] [--interval SECONDS] [capture options]\n"
        "       tavrel --record SECONDS [FILE] [capture options]\n"
        "\n"
        "Viewer and controller for USB microscope cameras.\n"
        "\n"
        "Options:\n"
        "  -h, --help        show this text and exit\n"
        "  --version         show the program version and exit\n"
        "  --virtual-camera  offer the built-in virtual camera (also TAVREL_VIRTUAL_CAMERA=1)\n"
        "  -FACTORYMODE=1    factory mode: camera properties, pan and zoom, parameters in\n"
        "                    flash; must be the only argument besides the options above\n"
        "\n"
        "Without a window:\n"
        "  --list-cameras    one line per camera: device, USB ids, serial, name;\n"
        "                    with --verbose also its formats and sizes\n"
        "  --snapshot [FILE] write the picture as the window shows it as a JPEG (quality 90)\n"
        "                    to FILE, or under a time-stamped name in the save folder\n"
        "  --count N         take N snapshots (FILE gets -1, -2, ... before its extension)\n"
        "  --interval S      S seconds between the snapshots of a series\n"
        "  --record S [FILE] record S seconds of MPEG-1 video (24 fps) to FILE (.mpeg or\n"
        "                    .mpg, a device, a FIFO or /dev/stdout); Ctrl+C or SIGTERM\n"
        "                    ends it early with a complete file\n"
        "Capture options:\n"
        "  --camera NODE|VID:PID[:SERIAL]  the camera (default: the one the window opens)\n"
        "  --format FOURCC   stream format, such as MJPG or YUYV\n"
        "  --size WxH        stream size, such as 1920x1080\n"
        "  --warmup N        frames to let the camera settle first (default 5)\n"
        "  --no-overlay      leave the edge mask and crosshair out\n"
        "File names are printed on standard output (not when FILE is standard output),\n"
        "messages on standard error.\n"
        "Exit status: 0 done, 1 no camera, no picture for 10 s, or stopped before the\n"
        "first picture, 2 usage error, 3 the file could not be created or written.\n");
}
