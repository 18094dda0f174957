#pragma once

#include <QString>
#include <cstdint>

// A 16-bit USB vendor or product id as the program writes it everywhere (device tables, camera
// values, flash file names): four upper-case hexadecimal digits, "0C45".
QString HexId(uint16_t value);
