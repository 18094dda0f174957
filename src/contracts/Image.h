#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>
#include <vector>

class QImage;

// A device-independent bitmap as the frame path, the overlay, the snapshot and the recorder
// use it: 24 bits per pixel (blue, green, red) or 8 bits per pixel (grey), rows bottom-up
// (row 0 is the bottom row of the picture), each row padded to a multiple of 4 bytes.
//
// The image owns its pixels; copies are deep and independent, a moved-from image is empty.
// An image is not shared between threads unguarded: callers copy it under their frame lock and
// work on the private copy. Operations that can fail return false and leave an image that is
// either unchanged or empty, never half built.
class Image {
public:
    Image() = default;  // empty and invalid
    Image(const Image& other) { Copy(other); }
    Image(Image&& other) noexcept;
    Image& operator=(const Image& other);
    Image& operator=(Image&& other) noexcept;
    ~Image() = default;

    // A new w x h image of bpp (24 or 8) bits per pixel, every byte 0. False (and the image
    // left empty) for other depths, sizes below 1 or pictures too large to hold.
    bool Create(int width, int height, int bpp);

    // Frees the pixels; the image becomes empty and invalid.
    void Destroy();

    // Deep copy of src (an empty src empties this image).
    void Copy(const Image& src);

    // Rebuilds the image from the caller's rows: height rows of srcStride bytes each, every
    // row holding width pixels of bpp bits. The bytes are copied. flip = false keeps the row
    // order (the caller's first row becomes row 0, the bottom row); flip = true reverses it.
    // The pixel storage is reused when the size is unchanged, so per-frame calls do not
    // allocate.
    bool CreateFromArray(const uint8_t* bytes, int width, int height, int bpp, int srcStride,
                         bool flip);

    // Makes the image width x height x bpp with the rows in `pixels` (bottom-up, GetEffWidth()
    // bytes apart for that size) by exchanging storage instead of copying: `pixels` receives
    // the image's previous storage (empty for an empty image). False, nothing exchanged, for an
    // invalid size or when pixels.size() is not exactly the size's storage.
    bool SwapPixels(std::vector<uint8_t>& pixels, int width, int height, int bpp);

    // True once pixel data exist.
    bool IsValid() const { return !m_bits.empty(); }
    // The "device-independent bitmap exists" test of the callers: same as IsValid().
    bool HasPixels() const { return IsValid(); }

    int GetWidth() const { return m_width; }
    int GetHeight() const { return m_height; }
    int GetBpp() const { return m_bpp; }

    // Row stride in bytes: the row's pixel bytes rounded up to a multiple of 4.
    int GetEffWidth() const { return effWidth(m_width, m_bpp); }

    // Pointer to the start of row `row` (0 = bottom row); rows follow each other
    // GetEffWidth() bytes apart. Null when the image is empty or the row does not exist.
    uint8_t* GetBits(int row = 0);
    const uint8_t* GetBits(int row = 0) const;

    // Total size of the pixel storage in bytes (GetEffWidth() x GetHeight()).
    size_t GetSize() const { return m_bits.size(); }

    // Sets every pixel byte (padding included) to value.
    void Clear(uint8_t value);

    // Converts the image in place to 8 bits per pixel, one grey byte per pixel:
    // grey = (77 R + 150 G + 29 B) >> 8 (ITU-R BT.601 luma in integer arithmetic; the weights
    // sum to 256, so white stays 255). An 8-bit image is left as it is. False when empty.
    bool GrayScale();

    // The image as the bytes of a JPEG file (quality 1..100; 4:2:0 chroma for colour, a grey
    // JPEG for 8-bit images). False (jpegBytes empty) for an empty image or an encoder failure.
    bool EncodeJpeg(int quality, std::vector<uint8_t>& jpegBytes) const;

    // Writes the image as a JPEG file (quality 1..100; 4:2:0 chroma for colour, a grey JPEG
    // for 8-bit images). The file is replaced atomically: on any failure (missing folder,
    // short write, full disk) the result is false and no partial file exists under path; an
    // older file of that name stays as it was. A symlink at path is replaced by the file, its
    // target never written; a folder, device or FIFO is refused.
    bool SaveJpeg(const QString& path, int quality) const;

    // Reads a JPEG file into a 24-bit image. False (image unchanged) when the file cannot be
    // read or decoded.
    bool LoadJpeg(const QString& path);

    // A deep copy as a top-down QImage for painting: Format_BGR888 for 24-bit images,
    // Format_Grayscale8 for 8-bit ones; a null QImage when empty.
    QImage ToQImage() const;

    // Rebuilds the image as 24 bits per pixel from a QImage of any format (rows turned
    // bottom-up). False (image emptied) for a null QImage.
    bool FromQImage(const QImage& image);

    static int effWidth(int width, int bpp) { return ((width * bpp / 8) + 3) & ~3; }

private:
    // Sizes the storage for width x height x bpp without clearing it.
    bool allocate(int width, int height, int bpp);

    int m_width = 0;
    int m_height = 0;
    int m_bpp = 0;
    std::vector<uint8_t> m_bits;
};
