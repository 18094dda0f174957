#pragma once

#include <QString>

#include "app/CommandLine.h"
#include "device/DeviceTable.h"
#include "settings/AppSettings.h"

// Where the application keeps its files. Tests point these at temporary folders.
struct AppLocations {
    // $XDG_CONFIG_HOME (…/.config); the per-user folder is <root>/Orvane/. Empty: there is no
    // per-user folder, so the program runs with its defaults and writes no settings.
    QString configRoot;
    QString picturesFolder;  // the XDG pictures folder, without trailing '/'
    QString moduleFolder;    // folder of the program file, without trailing '/'
    QString dataRoot;        // $XDG_DATA_HOME (…/.local/share); flash files under <root>/Orvane/
    // The program's installed data (<prefix>/share/tavrel, found from the program file as
    // ../share/tavrel), without trailing '/'; empty when the program runs from its build
    // folder, which then uses the language files built into the program.
    QString shippedDataFolder;

    // The locations of the running user, from QStandardPaths and the program file; without
    // HOME, from the password database (FromEnvironment).
    static AppLocations FromSystem();
    // The locations for this process's environment. accountHome is the user's home folder from
    // the password database, used when HOME is unset (a service, "env -i"): the XDG variables
    // that are set and absolute win, the rest lie in accountHome, and without an accountHome
    // they stay empty (never folders at the root of the file system).
    static AppLocations FromEnvironment(const QString& accountHome);
};

// The application object: the settings the windows read and the device table the support check
// fills. Exactly one exists while the program runs; CTavrelApp::current() returns it (null when
// there is none). Nothing below start-up reaches it: the windows and components get what they
// need handed in.
class CTavrelApp : public AppSettings, public DeviceTable {
public:
    CTavrelApp();
    ~CTavrelApp();
    CTavrelApp(const CTavrelApp&) = delete;
    CTavrelApp& operator=(const CTavrelApp&) = delete;

    static CTavrelApp* current();

    // Start-up steps that need no window: module folder, per-user folder (created when missing,
    // together with the configuration root if a fresh account lacks it), Setting.ini path, the
    // validated language (written back at every start of the window, never by the command
    // line's --list-cameras, --snapshot or --record), the per-user and shipped language
    // folders, the language file in force, and the factory switch. Nothing is created beside
    // the program file. Failures to create folders or write the settings file are not errors.
    // An empty configRoot leaves the settings file and the language folder empty: defaults
    // only, nothing written.
    void InitSettings(const AppLocations& locations, const CommandLine& commandLine);
};
