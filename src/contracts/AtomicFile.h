#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>

// Replaces the file at path with exactly size bytes, or leaves it as it was: the bytes go to a
// temporary file in the same folder, are flushed to disk and renamed over the final name. Any
// failure (missing folder, short write, full disk) returns false, removes the temporary file
// and never leaves a partial file under the final name. The folder is not created.
bool writeFileAtomically(const QString& path, const uint8_t* data, size_t size);
