#pragma once

#include <QString>
#include <span>

#include "capture/Camera.h"
#include "capture/CaptureController.h"

class Texts;

// The one table from the states and failure keys that the controllers and the session report
// to the texts the user reads, shared by the window and the command line. Components report a
// PictureProblem or a key; only this table knows which text stands for it where.

// Where a text is shown: the preview's hint ("MainWnd" section) or a command-line message
// ("CommandLine" section).
enum class TextPlace { Window, CommandLine };

// One row: a picture problem and its text in each place; a null key shows no text there.
struct ProblemTextRow {
    PictureProblem problem;
    const char* windowKey;       // "MainWnd"; %1 names the camera where the text has one
    const char* commandLineKey;  // "CommandLine"; %1 names the camera
};

// Every row, in the order the window's texts are looked up.
std::span<const ProblemTextRow> ProblemTextRows();

// Why there is no picture, in the language in force: the preview's hint (empty when a picture
// comes) or the command line's message. With no camera open, no problem means no camera at all.
QString PictureProblemText(const Texts& texts, TextPlace place, PictureProblem problem,
                           bool cameraOpen, const CameraId& camera);

// A camera as the texts name it: "card name (device node)".
QString CameraText(const CameraId& camera);

// Who reported a failure key: the camera search (support check) or the open camera (capture
// controller). Both have a "NOSUPPORT", with defaults of their own.
enum class FailureFrom { Search, Camera };

// The text of a failure key: the USB device list's two failures ("DEVICELIST", "DEVICEID") are
// fixed in the program, every other key is looked up in the "WndMessage" section.
QString FailureText(const Texts& texts, const QString& key, FailureFrom from);
// Whether a failure key is one the user is shown at once (in a message box): the USB device
// list's. Other failure keys are looked up, so that they appear in the language file, but the
// picture's hint says what went wrong.
bool FailureIsShown(const QString& key);
