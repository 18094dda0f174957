#pragma once

#include <QString>
#include <array>
#include <cstdint>

#include "contracts/CameraController.h"
#include "platform/FileWrite.h"

// The contents of one camera's 8192-byte flash memory, held in memory; a new or erased image
// reads 0xFF everywhere. Ranges are bounds-checked: a read outside the flash fails, a write
// outside it is ignored as a whole (nothing is written partly). load()/save() keep the image
// in a file of exactly 8192 bytes.
class FlashImage {
public:
    // What reading the file found.
    enum class FileState {
        Missing,     // no file yet: the first save creates it
        Loaded,      // a regular file of exactly kSize bytes
        WrongSize,   // a regular file of another size: its first bytes count
        Unreadable,  // no permission, a read error, or not a regular file (a symlink, a FIFO,
                     // a device, a folder): never read past the look, and never written
    };
    struct Loading {
        FileState state = FileState::Missing;
        FileResult result;  // why a file is unreadable
        qint64 size = 0;    // bytes of a file of the wrong size
    };

public:
    static constexpr uint32_t kSize = CameraController::kFlashSize;

    FlashImage() { erase(); }

    // Every byte to 0xFF.
    void erase() { m_bytes.fill(0xFF); }

    // Copies length bytes at address into out. False (out untouched) when the range leaves
    // the flash or out is null with a non-zero length.
    bool read(uint32_t address, uint32_t length, uint8_t* out) const;
    // Copies length bytes from in to address. False (nothing written) when the range leaves
    // the flash or in is null with a non-zero length.
    bool write(uint32_t address, uint32_t length, const uint8_t* in);

    // Reads the image from path over `blank` (what the flash holds where the file says
    // nothing: erased for a real camera). A missing or unreadable file gives `blank`; of a file
    // of another size than kSize only its first kSize bytes count, and a short file's missing
    // tail is `blank`'s. Never blocks (a FIFO is not opened) and logs nothing.
    Loading load(const QString& path, const FlashImage& blank);
    Loading load(const QString& path) { return load(path, FlashImage()); }
    // Writes the image to path atomically (temporary file in the same folder, then rename);
    // the folder is created when missing. Only a regular file or a missing one is written: a
    // symlink, device or FIFO at path is refused, so nothing outside the folder is ever
    // written. On failure the older file stays as it was.
    FileResult save(const QString& path) const;

    const std::array<uint8_t, kSize>& bytes() const { return m_bytes; }
    bool operator==(const FlashImage&) const = default;

private:
    static bool inRange(uint32_t address, uint32_t length) {
        return address <= kSize && length <= kSize - address;
    }

    std::array<uint8_t, kSize> m_bytes;
};
