#pragma once

#include <QString>
#include <QStringList>

// The program's command line. Options beginning with "--", and "-h", are ours and are taken out
// first; what remains, joined by single blanks, is compared exactly with the factory switch.
struct CommandLine {
    bool showHelp = false;  // --help or -h
    bool showVersion = false;
    bool virtualCamera = false;  // --virtual-camera (or TAVREL_VIRTUAL_CAMERA=1, see below)
    QString unknownOption;       // the first "--" option we do not know, if any
    QString rest;                // everything else, joined with single blanks

    // True when rest is exactly "-FACTORYMODE=1" (case-sensitive, nothing around it).
    bool factoryMode() const;
};

// args excludes the program name. The environment variable TAVREL_VIRTUAL_CAMERA=1 also turns
// virtualCamera on.
CommandLine ParseCommandLine(const QStringList& args);

// The usage text printed for --help and after an unknown option.
QString UsageText();
