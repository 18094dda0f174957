#pragma once

#include <QIcon>
#include <QString>

// The program's pictures, drawn from the SVG files compiled into the resources.
// Returns a null icon for an unknown number.
QIcon IconById(int iconId);
QString IconResourcePath(int iconId);
