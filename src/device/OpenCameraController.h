#pragma once

#include <functional>

#include "contracts/CameraController.h"

// The camera controller the program talks to: it hands every call to the controller that
// answers for the camera of the moment (the virtual camera's own, or the file-backed one of the
// real cameras), so that callers keep one object while cameras are opened, switched and unplugged.
//
// The outermost ALC_Initialize asks `choose` which controller answers and keeps it until the
// outermost ALC_UnInitialize; nested pairs and the calls inside go to that controller. A call
// outside any pair is a pair of its own. GUI thread only; the chosen controllers are borrowed.
class OpenCameraController final : public CameraController {
public:
    // Returns the controller that answers now; called once per outermost pair.
    using Chooser = std::function<CameraController&()>;

    explicit OpenCameraController(Chooser choose);
    OpenCameraController(const OpenCameraController&) = delete;
    OpenCameraController& operator=(const OpenCameraController&) = delete;

    void ALC_Initialize() override;
    void ALC_UnInitialize() override;
    bool ALC_GetPIDVID(uint16_t* vid, uint16_t* pid) override;
    void ALC_SetFlashSize(uint32_t size) override;
    int ALC_ReadFlash(uint32_t address, uint32_t length, uint8_t* buffer) override;
    void ALC_WriteFlash(uint32_t address, uint32_t length, const uint8_t* buffer) override;
    // As the controller of the last pair reports it.
    bool flashKept() const override;
    // What the controller of the last pair has to tell (a flash file set aside or unreadable).
    FlashNotice takeFlashNotice() override;

    // Number of open Initialize/UnInitialize pairs.
    int depth() const { return m_depth; }

private:
    // Runs call on the controller of the open pair, or of a pair opened for this call alone.
    template <typename Call>
    auto inPair(Call call);

    Chooser m_choose;
    CameraController* m_target = nullptr;      // chosen by the outermost Initialize
    CameraController* m_lastTarget = nullptr;  // the one of the last pair, for flashKept()
    int m_depth = 0;
};
