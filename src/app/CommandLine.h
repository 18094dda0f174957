#pragma once

#include <QString>
#include <QStringList>

#include "cli/CaptureRequest.h"

// The program's command line. Options beginning with "--", and "-h", are ours and are taken out
// first, together with their values; what remains, joined by single blanks, is compared exactly
// with the factory switch.
struct CommandLine {
    bool showHelp = false;  // --help or -h
    bool showVersion = false;
    bool virtualCamera = false;  // --virtual-camera (or TAVREL_VIRTUAL_CAMERA=1, see below)
    QString unknownOption;       // the first "--" option we do not know, if any
    // Why the options cannot be used (a value missing or out of range, options that do not go
    // together); empty when they can. English, like the usage text it is printed with.
    QString usageError;
    QString rest;  // everything else, joined with single blanks
    // A capture without the window (--list-cameras, --snapshot, --record) and its options.
    CaptureRequest capture;

    // True when rest is exactly "-FACTORYMODE=1" (case-sensitive, nothing around it).
    bool factoryMode() const;
};

// args excludes the program name. The environment variable TAVREL_VIRTUAL_CAMERA=1 also turns
// virtualCamera on.
CommandLine ParseCommandLine(const QStringList& args);

// The usage text printed for --help and after an unknown option.
QString UsageText();
