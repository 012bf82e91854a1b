// Pictures of the program's own controls, beside the page pictures.
#pragma once

#include <QString>

// Saves FOLDER/bdaddr.png: the Bluetooth address control enabled, disabled and
// read-only, at a narrow and a wide width.
bool SaveControlPictures(const QString& folder);
