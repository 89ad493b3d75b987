// The folder where the user keeps pictures: the default folder for saved
// images.
//
// Any thread.
#pragma once

#include <QString>

// The XDG pictures folder (XDG_PICTURES_DIR of user-dirs.dirs, else
// ~/Pictures) when it exists, else the home folder. Absolute, without a
// trailing separator.
QString PicturesFolder();
