#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "capture/Camera.h"
#include "contracts/CameraIdentity.h"
#include "device/CameraPreference.h"

class CameraController;
class CameraSystem;
class FileFlashController;
class OpenCameraController;

// Which cameras are present, which one the program opens, and which camera the camera-controller
// contract answers for; one list decides all three.
//  - enumerate(): every V4L2 capture node that can stream, by device number (found through
//    udev; USB cameras, capture cards, loopback devices alike), then the virtual camera when it
//    is enabled and plugged in.
//  - preference(): which of them is opened (CameraPreference), and the user's choice.
//  - controller(): answers for the open camera (setOpenCamera), and before one is open for the
//    camera that would be opened. While the open camera is unplugged it finds no camera, so a
//    controller that still answers after a removal means the open camera is still there. The
//    virtual camera's own controller answers for the virtual camera, a file-backed one for the
//    others (their ids and identity name their flash file). The camera is looked up again at
//    each outermost ALC_Initialize, so the controller follows cameras coming and going.
//
// GUI thread only. The camera system is borrowed and must outlive this object.
class CameraDiscovery {
public:
    // Lists the V4L2 capture cameras, in device-number order.
    using CaptureNodeScan = std::function<std::vector<CameraId>()>;

    // This machine's cameras through udev; flash files under flashDataRoot (empty: the user's
    // data folder); the user's choice kept in settingFile (Setting.ini; empty: none kept).
    explicit CameraDiscovery(CameraSystem& cameras, QString settingFile = QString(),
                             QString flashDataRoot = QString());
    // The V4L2 cameras scan lists (tests hand in their own); flash files under flashDataRoot
    // (empty: the user's data folder).
    CameraDiscovery(CameraSystem& cameras, CaptureNodeScan scan, QString flashDataRoot,
                    QString settingFile);
    ~CameraDiscovery();
    CameraDiscovery(const CameraDiscovery&) = delete;
    CameraDiscovery& operator=(const CameraDiscovery&) = delete;

    std::vector<CameraId> enumerate() const;

    // While a hold lives, every enumerate() (and so every controller lookup) reuses the one
    // scan of the capture nodes made when the outermost hold began, so that handling one device
    // event opens each video node once; the virtual camera is still looked at live. Without a
    // hold each enumerate() scans anew.
    class ScanHold {
    public:
        explicit ScanHold(CameraDiscovery& discovery);
        ~ScanHold();
        ScanHold(const ScanHold&) = delete;
        ScanHold& operator=(const ScanHold&) = delete;

    private:
        CameraDiscovery& m_discovery;
    };
    [[nodiscard]] ScanHold holdScan() { return ScanHold(*this); }
    // How many times the capture nodes have been scanned (for tests and diagnostics).
    int scanCount() const { return m_scans; }

    CameraPreference& preference() { return m_preference; }
    const CameraPreference& preference() const { return m_preference; }

    // The camera the program has open; an invalid value when none is open.
    void setOpenCamera(const CameraId& camera) { m_openCamera = camera; }
    const CameraId& openCamera() const { return m_openCamera; }

    // The camera the controller answers for now: the open camera while it is present (none while
    // it is not), without an open camera the one preference() picks; nullopt for none.
    std::optional<CameraId> answeringCamera() const;

    // The same object for the life of this one.
    CameraController& controller();

private:
    CameraController& chooseController();

    CameraSystem& m_cameras;
    CaptureNodeScan m_scan;
    std::optional<std::vector<CameraId>> m_heldScan;  // while a hold lives
    int m_holds = 0;
    mutable int m_scans = 0;
    CameraPreference m_preference;
    CameraId m_openCamera;
    // The camera chosen at the controller's outermost ALC_Initialize; the file-backed controller's
    // finder reports it, so that both see the same camera in one pair.
    std::optional<CameraId> m_answering;
    std::unique_ptr<FileFlashController> m_fileController;
    std::unique_ptr<OpenCameraController> m_controller;
};
